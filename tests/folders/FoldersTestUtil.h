#pragma once

// Small helpers of the file-system tests: special files and permission checks.

#include "folders/FileSystem.h"
#include "tests/support/TestSupport.h"
#include "tests/support/Unprivileged.h"

#include <cstring>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#endif

namespace kelvane::test {

#ifndef _WIN32 // FIFOs, sockets, links and permission bits are POSIX matters
inline bool MakeFifo(const std::string &path)
{
    return mkfifo(path.c_str(), 0600) == 0;
}

// Binds a Unix socket at path (and closes it; the socket file stays).
inline bool MakeSocketFile(const std::string &path)
{
    sockaddr_un address {};
    if (path.size() >= sizeof address.sun_path)
        return false;
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0)
        return false;
    const bool ok = bind(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return ok;
}

inline bool MakeSymlink(const std::string &target, const std::string &link)
{
    return symlink(target.c_str(), link.c_str()) == 0;
}

#endif

} // namespace kelvane::test
