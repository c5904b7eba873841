// Text of an INI-kind profile file, read and updated key by key the way the
// Windows profile-string service does: section and key names match without
// regard to ASCII letter case, the first matching section and key win, an
// updated key keeps its line, a missing key joins the end of its section, a
// missing section is appended, and every other line stays byte for byte.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace vinsk {

class TProfileText {
public:
    // Longest value text handed out; the service reads into a 2048-byte buffer.
    static constexpr std::size_t MaxValueLength = 2047;

    // Accepts any bytes; lines end with LF or CR LF.
    explicit TProfileText(std::string_view content);

    // The value with surrounding blanks and one pair of enclosing quotes
    // removed, cut to MaxValueLength; nullopt when the section or key is
    // missing.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;

    // The 0-based line of the key that Get reads; nullopt when it is missing.
    std::optional<std::size_t> LineOf(std::string_view section, std::string_view key) const;

    // Writes "key=value". New lines take the file's line end (CR LF for a
    // file that has none yet).
    void Set(std::string_view section, std::string_view key, std::string_view value);

    std::string Text() const;

private:
    struct TLine {
        std::string Body;
        std::string Eol; // "\n", "\r\n", or "" for a last line without one
    };

    static constexpr std::size_t NoLine = static_cast<std::size_t>(-1);

    std::size_t FindSection(std::string_view section) const;
    std::size_t SectionEnd(std::size_t header) const;
    std::size_t FindKey(std::size_t header, std::string_view key) const;

    std::vector<TLine> Lines;
    std::string NewLine = "\r\n";
};

} // namespace vinsk
