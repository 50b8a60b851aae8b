#pragma once

// The POSIX names that io/Io.h's callers use and Windows' C runtime does not have. The
// open flags below the C runtime's own are understood by the Win32 implementation of
// io/Io.h (Win32BackEnd.cpp); the others mean nothing there.

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>

#define O_CLOEXEC 0 // handles are not inherited unless asked for
#define O_NOCTTY 0
#define O_NONBLOCK 0 // opening never waits on Windows
#define O_DIRECTORY 0x00200000
#define O_NOFOLLOW 0x00400000
#define O_DIRECT 0x00800000 // around the system's cache: aligned offsets, sizes and buffers
#ifndef O_ACCMODE
#define O_ACCMODE (O_RDONLY | O_WRONLY | O_RDWR)
#endif

#define LOCK_SH 1
#define LOCK_EX 2
#define LOCK_NB 4
#define LOCK_UN 8

#define AT_FDCWD (-100)
#define AT_SYMLINK_NOFOLLOW 0x100
