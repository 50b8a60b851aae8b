#pragma once

// For tests only: a hook that sees every call of io/Io.h before it is made, on every
// platform, and may make it fail with a chosen errno instead, or change the world first
// (take a file away, cut it short) and let it go ahead.

#include <cstdint>

namespace kelvane::io {

enum class Call : std::uint8_t {
    Open,
    Read,
    Write,
    CopyFileRange,
    Ftruncate,
    Fsync,
    Close,
    Rename,
    Link,
    Unlink,
    Mkdir,
    Stat,
    Flock,
    OpenDir,
    ReadDir,
    CloseDir,
    ReadLink,
    Dup,
    Chmod,
    SetTimes,
    Access,
    Chown,
    SetFlags,
};

// What is about to be called: the path (the first one of a rename or link, the name of an
// *at call) where the call has one, else null; the descriptor where it has one, else -1.
struct CallInfo
{
    Call call;
    const char *path;
    int fd;
    int flags; // of an open; of a rename, kRenameNoReplace when it must not replace
    const char *target; // the second path of a rename or link, else null
};

inline constexpr int kRenameNoReplace = 1;

const char *CallName(Call call);

// True for the calls that change what is stored (writes, truncation, sync, creation,
// renames, links, removal, permissions, owner and times): a full or failing disk refuses these and
// lets reads pass.
bool ChangesStorage(const CallInfo &info);

// Returns 0 to let the call go ahead, or an errno value to fail it with. Called on
// whichever thread makes the call, so it must be thread-safe.
class FaultHook
{
public:
    virtual ~FaultHook() = default;
    virtual int Before(const CallInfo &info) = 0;
};

// Installs hook (null removes it); it must outlive its installation. Not for use while
// calls are being made on other threads.
void SetFaultHook(FaultHook *hook);

} // namespace kelvane::io
