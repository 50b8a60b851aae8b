#include "verify/StorageFile.h"

#include "io/Win32.h"

#include <cerrno>
#include <cstring>

namespace kelvane::verify {

namespace {

std::string LastError()
{
    return std::strerror(io::ErrnoFromWin32(GetLastError()));
}

} // namespace

StorageFile::~StorageFile()
{
    Close();
}

void StorageFile::Close()
{
    if (handle_)
        CloseHandle(static_cast<HANDLE>(handle_));
    handle_ = nullptr;
}

bool StorageFile::Open(const std::string &path, std::string &error)
{
    Close();
    // No buffering: every read comes from the device; offsets, sizes and buffers are
    // multiples of kBlockAlign, which any sector size divides.
    const std::wstring wide = io::WidePath(path);
    const HANDLE handle = CreateFileW(
        wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        error = LastError();
        return false;
    }
    handle_ = handle;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(handle, &size)) {
        error = LastError();
        Close();
        return false;
    }
    size_ = static_cast<std::uint64_t>(size.QuadPart);
    return true;
}

std::int64_t StorageFile::ReadBlock(std::uint64_t offset, unsigned char *buffer, std::string &error)
{
    std::size_t got = 0;
    while (got < kBlockSize && offset + got < size_) {
        OVERLAPPED at {};
        at.Offset = static_cast<DWORD>((offset + got) & 0xffffffffu);
        at.OffsetHigh = static_cast<DWORD>((offset + got) >> 32);
        DWORD n = 0;
        if (!ReadFile(static_cast<HANDLE>(handle_), buffer + got,
                      static_cast<DWORD>(kBlockSize - got), &n, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            error = LastError();
            return -1;
        }
        if (n == 0)
            break;
        // Only the last read may end short of a sector boundary (at the file's end).
        got += n;
        if (n % kBlockAlign != 0)
            break;
    }
    return static_cast<std::int64_t>(got);
}

} // namespace kelvane::verify
