#include "cli/ConsoleWin32.h"

#include "io/Win32.h"

#include <algorithm>

namespace kelvane::batch {

namespace {

// The length of text without a UTF-8 sequence cut off at its end.
std::size_t WholeCharacters(const std::string &text)
{
    std::size_t start = text.size();
    for (int back = 0; back < 4 && start > 0; ++back) {
        const unsigned char byte = static_cast<unsigned char>(text[--start]);
        if ((byte & 0xC0) != 0x80) { // a lead byte or ASCII: how long is its sequence?
            const std::size_t length = byte < 0x80 ? 1
                : (byte & 0xE0) == 0xC0            ? 2
                : (byte & 0xF0) == 0xE0            ? 3
                : (byte & 0xF8) == 0xF0            ? 4
                                                   : 1;
            return text.size() - start < length ? start : text.size();
        }
    }
    return text.size(); // no lead byte near the end: not UTF-8 there, nothing to wait for
}

} // namespace

ConsoleOutput::ConsoleOutput(DWORD std, std::FILE *file) : handle_(GetStdHandle(std)), file_(file)
{
    DWORD mode = 0;
    console_
        = handle_ != INVALID_HANDLE_VALUE && handle_ != nullptr && GetConsoleMode(handle_, &mode);
}

ConsoleOutput::int_type ConsoleOutput::overflow(int_type c)
{
    if (!traits_type::eq_int_type(c, traits_type::eof()))
        pending_ += traits_type::to_char_type(c);
    return traits_type::not_eof(c);
}

std::streamsize ConsoleOutput::xsputn(const char *text, std::streamsize size)
{
    pending_.append(text, static_cast<std::size_t>(size));
    return size;
}

int ConsoleOutput::sync()
{
    if (!console_) {
        const bool written
            = std::fwrite(pending_.data(), 1, pending_.size(), file_) == pending_.size();
        pending_.clear();
        return written && std::fflush(file_) == 0 ? 0 : -1;
    }
    const std::size_t whole = WholeCharacters(pending_);
    const std::wstring wide = io::Wide(std::string_view(pending_).substr(0, whole));
    pending_.erase(0, whole);
    for (std::size_t done = 0; done < wide.size();) {
        DWORD written = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(wide.size() - done, 8192));
        if (!WriteConsoleW(handle_, wide.data() + done, chunk, &written, nullptr) || written == 0)
            return -1;
        done += written;
    }
    return 0;
}

} // namespace kelvane::batch
