#pragma once

// Inside io/ only: the system calls themselves, one back end per platform
// (PosixBackEnd.cpp, Win32BackEnd.cpp). Each does what its namesake in io/Io.h promises and
// nothing more; the front (Io.cpp) asks the test hook first, on every platform.

#include "io/Io.h"

#include <cerrno>

namespace kelvane::io {

// Sets errno and returns result: the failure of a call, injected or real.
template<typename Result>
Result Fail(int error, Result result)
{
    errno = error;
    return result;
}

namespace backend {

// Each call with the type of its namesake in io/Io.h, so that the two cannot drift apart.
// (A function declared through decltype takes no default arguments: the front passes all.)
decltype(io::Open) Open;
decltype(io::OpenAt) OpenAt;
decltype(io::Read) Read;
decltype(io::Write) Write;
decltype(io::PWrite) PWrite;
decltype(io::PRead) PRead;
decltype(io::ClearNonBlock) ClearNonBlock;
decltype(io::CopyFileRange) CopyFileRange;
decltype(io::Ftruncate) Ftruncate;
decltype(io::Fsync) Fsync;
decltype(io::Close) Close;

decltype(io::Rename) Rename;
decltype(io::RenameNoReplace) RenameNoReplace;
decltype(io::Link) Link;
decltype(io::Unlink) Unlink;
decltype(io::UnlinkAt) UnlinkAt;
decltype(io::Mkdir) Mkdir;

decltype(io::Stat) Stat;
decltype(io::Lstat) Lstat;
decltype(io::Fstat) Fstat;
decltype(io::FstatAt) FstatAt;
decltype(io::Flock) Flock;

#ifdef _WIN32
decltype(io::Attributes) Attributes;
decltype(io::SetAttributes) SetAttributes;
decltype(io::CopyTimes) CopyTimes;
#else
decltype(io::ReadLink) ReadLink;
decltype(io::DupCloexec) DupCloexec;
decltype(io::FlockWithin) FlockWithin;
decltype(io::Fchmod) Fchmod;
decltype(io::Futimens) Futimens;
decltype(io::FaccessAt) FaccessAt;
decltype(io::Fchown) Fchown;

decltype(io::OpenDir) OpenDir;
decltype(io::FdOpenDir) FdOpenDir;
decltype(io::ReadDir) ReadDir;
decltype(io::CloseDir) CloseDir;
#endif

} // namespace backend
} // namespace kelvane::io
