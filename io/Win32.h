#pragma once

// Windows only: the conversions at the system call. Inside the program every path is UTF-8
// with "\" or "/" between levels; the wide-character calls get it as UTF-16, in the "\\?\"
// form when it is longer than the classic limit of MAX_PATH.

#include <string>
#include <string_view>

#include <windows.h>

namespace kelvane::io {

// text in codePage (UTF-8 unless told) as UTF-16, and back to UTF-8.
std::wstring Wide(std::string_view text, UINT codePage = CP_UTF8);
std::string Utf8(std::wstring_view wide);

// path for a wide-character call: "/" becomes "\"; a path too long for the classic calls
// is made absolute and given the "\\?\" prefix ("\\?\UNC\" for a UNC path). Drive letters
// and UNC shares are kept.
std::wstring WidePath(std::string_view path);

// The errno value closest to a Win32 error code.
int ErrnoFromWin32(DWORD error);

// The one byte io::Flock locks, far past any data. A lock taken on a HANDLE of its own (the
// cleanup's) must be on this byte to meet the writers' locks.
inline OVERLAPPED FlockByte()
{
    OVERLAPPED at {};
    at.Offset = 0xFFFFFFFEU;
    at.OffsetHigh = 0x7FFFFFFFU;
    return at;
}

// The handle behind a descriptor of io/Io.h; INVALID_HANDLE_VALUE when there is none.
HANDLE NativeHandle(int fd);
// The path a descriptor of io/Io.h was opened with (for a test's trace of the calls); empty
// when there is none.
std::string PathOf(int fd);

} // namespace kelvane::io
