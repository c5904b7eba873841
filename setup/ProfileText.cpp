#include "setup/ProfileText.h"

namespace vinsk {

namespace {

bool IsBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

char LowerAscii(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

// "[name]" after optional blanks; text after the bracket is ignored.
bool SectionHeader(std::string_view line, std::string_view& name)
{
    line = Trim(line);
    if (line.empty() || line.front() != '[')
        return false;
    const auto close = line.find(']');
    if (close == std::string_view::npos)
        return false;
    name = Trim(line.substr(1, close - 1));
    return true;
}

// "name=value"; a line without '=' or with an empty name holds no key.
bool KeyLine(std::string_view line, std::string_view& name, std::string_view& value)
{
    std::string_view header;
    if (SectionHeader(line, header))
        return false;
    const auto eq = line.find('=');
    if (eq == std::string_view::npos)
        return false;
    name = Trim(line.substr(0, eq));
    value = line.substr(eq + 1);
    return !name.empty();
}

} // namespace

TProfileText::TProfileText(std::string_view content)
{
    std::size_t pos = 0;
    while (pos < content.size()) {
        const auto nl = content.find('\n', pos);
        TLine line;
        if (nl == std::string_view::npos) {
            line.Body.assign(content.substr(pos));
            pos = content.size();
        } else {
            line.Body.assign(content.substr(pos, nl - pos));
            line.Eol = "\n";
            pos = nl + 1;
            if (!line.Body.empty() && line.Body.back() == '\r') {
                line.Body.pop_back();
                line.Eol = "\r\n";
            }
        }
        Lines.push_back(std::move(line));
    }
    for (const auto& line : Lines) {
        if (!line.Eol.empty()) {
            NewLine = line.Eol;
            break;
        }
    }
}

std::size_t TProfileText::FindSection(std::string_view section) const
{
    for (std::size_t i = 0; i < Lines.size(); ++i) {
        std::string_view name;
        if (SectionHeader(Lines[i].Body, name) && SameName(name, section))
            return i;
    }
    return NoLine;
}

std::size_t TProfileText::SectionEnd(std::size_t header) const
{
    std::size_t i = header + 1;
    std::string_view name;
    while (i < Lines.size() && !SectionHeader(Lines[i].Body, name))
        ++i;
    return i;
}

std::size_t TProfileText::FindKey(std::size_t header, std::string_view key) const
{
    const std::size_t end = SectionEnd(header);
    for (std::size_t i = header + 1; i < end; ++i) {
        std::string_view name, value;
        if (KeyLine(Lines[i].Body, name, value) && SameName(name, key))
            return i;
    }
    return NoLine;
}

std::optional<std::size_t> TProfileText::LineOf(std::string_view section, std::string_view key) const
{
    const std::size_t header = FindSection(section);
    if (header == NoLine)
        return std::nullopt;
    const std::size_t at = FindKey(header, key);
    if (at == NoLine)
        return std::nullopt;
    return at;
}

std::optional<std::string> TProfileText::Get(std::string_view section, std::string_view key) const
{
    const auto at = LineOf(section, key);
    if (!at)
        return std::nullopt;
    std::string_view name, value;
    KeyLine(Lines[*at].Body, name, value);
    value = Trim(value);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return std::string(value.substr(0, MaxValueLength));
}

void TProfileText::Set(std::string_view section, std::string_view key, std::string_view value)
{
    const std::size_t header = FindSection(section);
    if (header == NoLine) {
        if (!Lines.empty()) {
            if (Lines.back().Eol.empty())
                Lines.back().Eol = NewLine;
            // A blank line keeps the appended section apart from the one before.
            if (!Trim(Lines.back().Body).empty())
                Lines.push_back({"", NewLine});
        }
        Lines.push_back({"[" + std::string(section) + "]", NewLine});
        Lines.push_back({std::string(key) + "=" + std::string(value), NewLine});
        return;
    }
    const std::size_t at = FindKey(header, key);
    if (at != NoLine) {
        // The file's own spelling of the key stays.
        std::string_view name, old;
        KeyLine(Lines[at].Body, name, old);
        Lines[at].Body = std::string(name) + "=" + std::string(value);
        return;
    }
    // After the section's last non-blank line, so blank separators stay below.
    std::size_t pos = SectionEnd(header);
    while (pos > header + 1 && Trim(Lines[pos - 1].Body).empty())
        --pos;
    if (Lines[pos - 1].Eol.empty())
        Lines[pos - 1].Eol = NewLine;
    Lines.insert(Lines.begin() + static_cast<std::ptrdiff_t>(pos),
                 TLine{std::string(key) + "=" + std::string(value), NewLine});
}

std::string TProfileText::Text() const
{
    std::size_t size = 0;
    for (const auto& line : Lines)
        size += line.Body.size() + line.Eol.size();
    std::string out;
    out.reserve(size);
    for (const auto& line : Lines) {
        out += line.Body;
        out += line.Eol;
    }
    return out;
}

} // namespace vinsk
