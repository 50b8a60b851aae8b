#pragma once

// Watches the calls of io/Io.h while it lives, in the order they were made, and may fail
// chosen ones. A call on a descriptor is recorded with the path of the file (or folder)
// behind it, so that a test can tell which file was synced before which rename.

#include "io/IoTesting.h"

#include <cstddef>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace kelvane::test {

struct TracedIo
{
    io::Call call;
    std::string path; // the call's path, or the file behind its descriptor
    std::string target; // the second path of a rename or link
    int flags;
};

// The file behind a descriptor of io/Io.h: on POSIX its path now (with " (deleted)" once
// removed), on Windows the path it was opened with. Empty when there is none.
std::string PathBehind(int fd);

class IoTrace : public io::FaultHook
{
public:
    // Returns the errno to fail a call with, or 0 to let it go ahead.
    using Decide = std::function<int(const io::CallInfo &)>;

    explicit IoTrace(Decide decide = nullptr);
    ~IoTrace() override;
    IoTrace(const IoTrace &) = delete;
    IoTrace &operator=(const IoTrace &) = delete;

    int Before(const io::CallInfo &info) override;
    std::vector<TracedIo> Calls() const;

    // The position in Calls() of the first call of this kind on path (and, when target is
    // given, to target) at or after from; npos when there is none.
    std::size_t Find(io::Call call, const std::string &path, const std::string &target = {},
                     std::size_t from = 0) const;
    // The position of the first rename (or link, where the file system cannot rename
    // without replacing) that gave a file the name target.
    std::size_t FindPlacement(const std::string &target) const;

private:
    Decide decide_;
    mutable std::mutex mutex_;
    std::vector<TracedIo> calls_;
};

} // namespace kelvane::test
