#include "fuzz/FuzzChecks.h"

#include "folders/FileSystem.h"

#include <string>
#include <vector>

namespace kelvane::fuzz {

namespace {

// Bytes that "?" or one step of "*" takes at name[i]: a well-formed UTF-8 sequence
// (shortest form, no surrogate, at most U+10FFFF), else one byte. Decoded in full and
// judged by the code point, a different route from the matcher's byte ranges.
std::size_t CharBytes(std::string_view name, std::size_t i)
{
    const auto lead = static_cast<unsigned char>(name[i]);
    std::size_t length;
    std::uint32_t cp;
    if ((lead & 0xE0) == 0xC0) {
        length = 2;
        cp = lead & 0x1Fu;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3;
        cp = lead & 0x0Fu;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4;
        cp = lead & 0x07u;
    } else {
        return 1;
    }
    if (name.size() - i < length)
        return 1;
    for (std::size_t k = 1; k < length; ++k) {
        const auto next = static_cast<unsigned char>(name[i + k]);
        if ((next & 0xC0) != 0x80)
            return 1;
        cp = (cp << 6) | (next & 0x3Fu);
    }
    static const std::uint32_t shortest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < shortest[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 1;
    return length;
}

// matches[m][n]: mask[m..] matches name[n..]. "*" takes nothing or one more character,
// "?" one character, every other byte itself.
bool ReferenceWildcards(std::string_view mask, std::string_view name)
{
    const std::size_t rows = mask.size() + 1, cols = name.size() + 1;
    std::vector<char> matches(rows * cols, 0);
    const auto at = [&](std::size_t m, std::size_t n) -> char & { return matches[m * cols + n]; };
    for (std::size_t m = rows; m-- > 0;) {
        for (std::size_t n = cols; n-- > 0;) {
            const bool nameLeft = n < name.size();
            if (m == mask.size())
                at(m, n) = !nameLeft;
            else if (mask[m] == '*')
                at(m, n) = at(m + 1, n) || (nameLeft && at(m, n + CharBytes(name, n)));
            else if (mask[m] == '?')
                at(m, n) = nameLeft && at(m + 1, n + CharBytes(name, n));
            else
                at(m, n) = nameLeft && mask[m] == name[n] && at(m + 1, n + 1);
        }
    }
    return at(0, 0) != 0;
}

} // namespace

bool ReferenceMatchMask(std::string_view mask, std::string_view name)
{
    if (mask.empty())
        return false;
    // A final ".*" also takes a name without any dot: read here as a name with an empty
    // extension ("README" as "README."), which "X.*" takes exactly when X takes the name.
    const bool anyExtension = mask.size() >= 2 && mask.substr(mask.size() - 2) == ".*";
    if (anyExtension && name.find('.') == std::string_view::npos)
        return ReferenceWildcards(mask, std::string(name) + ".");
    return ReferenceWildcards(mask, name);
}

std::string CheckMaskMatch(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    const std::size_t nul = input.find('\0');
    const std::string_view mask = input.substr(0, nul);
    const std::string_view name
        = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
    // The reference's table grows with the product of the lengths; the fuzzer's inputs
    // stay far below this.
    if ((mask.size() + 1) * (name.size() + 1) > (std::size_t {64} << 20))
        return {};

    const bool actual = folders::MatchMask(mask, name);
    const bool expected = ReferenceMatchMask(mask, name);
    if (actual != expected) {
        // Masks that are not UTF-8 themselves get a tag of their own, so that a fuzzer
        // told to go on past them still looks for disagreements on typed masks.
        bool wellFormed = true;
        for (std::size_t i = 0; i < mask.size(); i += CharBytes(mask, i))
            wellFormed = wellFormed
                && (static_cast<unsigned char>(mask[i]) < 0x80 || CharBytes(mask, i) > 1);
        return std::string(wellFormed ? "reference" : "reference-broken-mask") + ": MatchMask("
            + Printable(mask) + ", " + Printable(name) + ") gave " + (actual ? "true" : "false");
    }
    return {};
}

} // namespace kelvane::fuzz
