#include "fuzz/FuzzChecks.h"

namespace kelvane::fuzz {

std::string Printable(std::string_view bytes)
{
    constexpr std::size_t kShown = 300;
    static const char digits[] = "0123456789abcdef";
    std::string text = "\"";
    for (std::size_t i = 0; i < bytes.size() && i < kShown; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c >= 0x20 && c < 0x7f && c != '\\' && c != '"') {
            text += static_cast<char>(c);
        } else {
            text += "\\x";
            text += digits[c >> 4];
            text += digits[c & 0x0f];
        }
    }
    text += '"';
    if (bytes.size() > kShown)
        text += "... (" + std::to_string(bytes.size()) + " bytes)";
    return text;
}

} // namespace kelvane::fuzz
