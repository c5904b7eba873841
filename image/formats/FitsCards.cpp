#include "image/formats/FitsCards.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <system_error>

namespace vinsk::formats::fits {

TFitsCard ReadCard(const char* card)
{
    TFitsCard c;
    c.Key = std::string_view(card, 8);
    while (!c.Key.empty() && c.Key.back() == ' ')
        c.Key.remove_suffix(1);
    c.Indicator = card[8] == '=';
    if (!c.Indicator)
        return c;
    const std::string_view field(card + 9, CardBytes - 9);
    const std::size_t start = field.find_first_not_of(' ');
    if (start == std::string_view::npos)
        return c;
    if (field[start] == '\'') {
        // The string runs to its closing quote; doubled quotes stand for one.
        std::size_t i = start + 1;
        for (; i < field.size(); ++i)
            if (field[i] == '\'') {
                if (i + 1 < field.size() && field[i + 1] == '\'')
                    ++i;
                else
                    break;
            }
        c.Kind = EValueKind::String;
        c.Closed = i < field.size();
        c.Token = field.substr(start, i + 1 - start);
    } else if (field[start] == '(') {
        const std::size_t close = field.find(')', start);
        c.Kind = EValueKind::Complex;
        c.Closed = close != std::string_view::npos;
        c.Token = field.substr(start, c.Closed ? close + 1 - start : std::string_view::npos);
    } else {
        const std::size_t slash = field.find('/', start);
        std::string_view v = field.substr(start, slash == std::string_view::npos ? slash : slash - start);
        while (!v.empty() && v.back() == ' ')
            v.remove_suffix(1);
        c.Kind = v.empty() ? EValueKind::None : EValueKind::Other; // a comment alone leaves the value undefined
        c.Token = v;
    }
    return c;
}

std::string TFitsCard::Text() const
{
    if (Kind != EValueKind::String)
        return std::string(TrimBlanks(Token));
    std::string_view inside = Token.substr(1, Token.size() - (Closed ? 2 : 1));
    std::string text;
    text.reserve(inside.size());
    for (std::size_t i = 0; i < inside.size(); ++i) {
        text += inside[i];
        if (inside[i] == '\'')
            ++i; // the second quote of a doubled one
    }
    return std::string(TrimBlanks(text));
}

std::string_view TrimBlanks(std::string_view v)
{
    const std::size_t a = v.find_first_not_of(' ');
    if (a == std::string_view::npos)
        return {};
    return v.substr(a, v.find_last_not_of(' ') + 1 - a);
}

std::string UpperKey(const char* card)
{
    std::string key(ReadCard(card).Key);
    for (char& ch : key)
        ch = static_cast<char>(ch >= 'a' && ch <= 'z' ? ch - 'a' + 'A' : ch);
    return key;
}

std::optional<double> NumberOf(std::string_view text)
{
    std::string t(text);
    for (char& c : t)
        if (c == 'D' || c == 'd')
            c = 'E'; // FITS allows D exponents
    const char* first = t.data();
    const char* last = t.data() + t.size();
    if (first != last && *first == '+')
        ++first;
    double v = 0;
    const auto [end, ec] = std::from_chars(first, last, v);
    if (first == last || ec != std::errc() || end != last)
        return std::nullopt;
    return v;
}

std::string THeader::Value(const std::string& key) const
{
    const auto it = FFirst.find(key);
    if (it == FFirst.end())
        return {};
    return ReadCard(it->second).Text();
}

std::optional<double> THeader::Number(const std::string& key) const
{
    const std::optional<double> n = NumberOf(Value(key));
    if (!n || !std::isfinite(*n))
        return std::nullopt;
    return n;
}

std::optional<long long> THeader::Integer(const std::string& key) const
{
    const std::optional<double> n = Number(key);
    if (!n || *n != std::trunc(*n) || std::fabs(*n) > 9.0e15)
        return std::nullopt;
    return static_cast<long long>(*n);
}

std::string THeader::Text(const std::string& key) const
{
    std::string s = Value(key);
    for (char& c : s)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return s;
}

bool ReadHeader(TBytes data, std::size_t at, THeader& header, std::size_t& dataStart)
{
    for (std::size_t block = at; block + BlockBytes <= data.size(); block += BlockBytes) {
        const char* b = reinterpret_cast<const char*>(data.data() + block);
        for (std::size_t c = 0; c < BlockBytes; c += CardBytes) {
            if (std::memcmp(b + c, "END     ", 8) == 0) {
                dataStart = block + BlockBytes;
                return true;
            }
            header.Add(b + c);
        }
    }
    return false;
}

} // namespace vinsk::formats::fits
