// Paths and UTF-8: pure functions over strings, no system call.

#include "paths/Paths.h"

#include <algorithm>

namespace kelvane::paths {

namespace {

// Paths in native form end a level only at a native separator: on POSIX a "\" is an
// ordinary character of a file name ("a\b.avi"), on Windows both end a level.
bool EndsLevel(char c)
{
    return c != '\0' && std::string_view(kNativeSeparators).find(c) != std::string_view::npos;
}

} // namespace

bool IsSeparator(char c)
{
    return c == '/' || c == '\\';
}

std::string NativeFolder(std::string_view folder)
{
    std::string native(folder);
    std::replace_if(native.begin(), native.end(), IsSeparator, kNativeSeparator);
    return native;
}

std::string FolderOrRoot(std::string_view folder)
{
    return folder.empty() ? std::string(1, kNativeSeparator) : std::string(folder);
}

std::string JoinPath(std::string_view folder, std::string_view name)
{
    std::size_t end = folder.size();
    while (end > 0 && IsSeparator(folder[end - 1]))
        --end;
    std::string path(folder.substr(0, end));
    path += kNativeSeparator;
    path += name;
    return path;
}

std::string FolderOf(std::string_view path)
{
    std::size_t slash = path.size();
    while (slash > 0 && !EndsLevel(path[slash - 1]))
        --slash;
    if (slash == 0)
        return ".";
    std::size_t end = slash - 1;
    while (end > 0 && EndsLevel(path[end - 1]))
        --end; // "a//b" is in "a"
    return end == 0 ? std::string(path.substr(0, 1)) : std::string(path.substr(0, end));
}

std::string_view BaseNameOf(std::string_view path)
{
    std::size_t start = path.size();
    while (start > 0 && !EndsLevel(path[start - 1]))
        --start;
    return path.substr(start);
}

std::size_t Utf8SequenceLength(std::string_view text, std::size_t at)
{
    const auto lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range the second byte may take
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // no overlong forms
        else if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90; // no overlong forms
        else if (lead == 0xF4)
            high = 0x8F; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (text.size() - at < length)
        return 0;
    const auto second = static_cast<unsigned char>(text[at + 1]);
    if (second < low || second > high)
        return 0;
    for (std::size_t k = 2; k < length; ++k) {
        const auto next = static_cast<unsigned char>(text[at + k]);
        if (next < 0x80 || next > 0xBF)
            return 0;
    }
    return length;
}

bool IsValidUtf8(std::string_view text)
{
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t length = Utf8SequenceLength(text, at);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

} // namespace kelvane::paths
