#pragma once

// A file read back from the storage rather than from the system's cache of it, so that a
// check sees what the disk or stick really holds.
// Linux: the file's written data is synced, then its cached pages are dropped
// (posix_fadvise POSIX_FADV_DONTNEED) before the first read; the pages read back are
// dropped again at the end. Windows: the file is opened with FILE_FLAG_NO_BUFFERING, so
// every read goes to the device (the system writes any data it still caches for the file
// first), with block-aligned offsets, sizes and buffers.

#include "verify/ZipCheck.h"

#include <cstdint>
#include <string>

namespace kelvane::verify {

class StorageFile : public BlockInput
{
public:
    StorageFile() = default;
    ~StorageFile() override;
    StorageFile(const StorageFile &) = delete;
    StorageFile &operator=(const StorageFile &) = delete;

    // Opens path for reading from the storage. False with error set (the system's reason)
    // when it cannot be opened, synced or sized.
    bool Open(const std::string &path, std::string &error);

    std::uint64_t Size() const override { return size_; }
    std::int64_t ReadBlock(std::uint64_t offset, unsigned char *buffer,
                           std::string &error) override;

private:
    // Per platform: once the file is open, makes its reads come from the storage rather
    // than the cache. False with error set.
    bool LeaveCache(std::string &error);
    void Close();

    std::uint64_t size_ = 0;
    int fd_ = -1; // of io/Io.h
};

} // namespace kelvane::verify
