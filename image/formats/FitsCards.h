// FITS header cards as cfitsio reads them. One tokenizer splits a card into
// its keyword and its value; the header checks and the reader's look-ups
// both take their values from it, so they cannot disagree about where a
// value ends.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

#include "image/formats/Decoders.h"

namespace vinsk::formats::fits {

// The size of a card and of a header block.
inline constexpr std::size_t CardBytes = 80;
inline constexpr std::size_t BlockBytes = 2880;

enum class EValueKind {
    None,    // no value: no "=" in column 9, or nothing but blanks after it
    String,  // a quoted string
    Complex, // a bracketed pair
    Other    // a logical, a number or anything else: up to the comment
};

// One card's parts, as views into the card.
struct TFitsCard {
    std::string_view Key;   // columns 1 to 8, trailing blanks removed, case as written
    bool Indicator = false; // "=" in column 9
    EValueKind Kind = EValueKind::None;
    // The value as written: a string with its quotes, a pair with its
    // brackets, otherwise up to the comment's slash with trailing blanks
    // removed. A string or pair without its closing character runs to the
    // card's end.
    std::string_view Token;
    bool Closed = true; // a string's closing quote or a pair's bracket was found

    // The value as a program takes it: a string's text without its quotes
    // (doubled quotes standing for one), blanks around it removed.
    std::string Text() const;
};

// `card` points at 80 bytes. cfitsio takes a value after "=" in column 9
// also when the blank after it is missing, and so does this.
TFitsCard ReadCard(const char* card);

// Blanks at either end removed.
std::string_view TrimBlanks(std::string_view v);

// The keyword in upper case: cfitsio finds keywords whatever their case.
std::string UpperKey(const char* card);

// A FITS number (D exponents too), whatever the process's locale.
std::optional<double> NumberOf(std::string_view text);

// One header's cards, with the first card of each keyword at hand, so that a
// look-up costs one step however long the header is. Values are read as
// cfitsio would find them: by name whatever its case, the first card of that
// name, a value only after "=" in column 9.
class THeader {
public:
    void Add(const char* card) { FFirst.try_emplace(UpperKey(card), card); }

    bool Has(const std::string& key) const { return FFirst.count(key) != 0; }

    // The value's text; "" when the card is missing or holds no value.
    std::string Value(const std::string& key) const;
    // A finite number.
    std::optional<double> Number(const std::string& key) const;
    // A whole number, as the structural keywords hold.
    std::optional<long long> Integer(const std::string& key) const;
    // Upper case.
    std::string Text(const std::string& key) const;

private:
    std::unordered_map<std::string, const char*> FFirst;
};

// Reads the header that starts at `at`: its cards into `header`, and where
// its data unit starts. False when the file ends before END.
bool ReadHeader(TBytes data, std::size_t at, THeader& header, std::size_t& dataStart);

} // namespace vinsk::formats::fits
