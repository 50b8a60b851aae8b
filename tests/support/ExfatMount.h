#pragma once

// A real exFAT file system for tests, as an older desktop mounts a USB stick or a memory
// card: an image file on a loop device, mounted through FUSE (exfat-fuse). It has no hard
// links, cannot rename without replacing, and folds the letter case of names. Linux only,
// as root, with exfatprogs and exfat-fuse (scripts/bootstrap installs them).

#include "tests/support/TestSupport.h"

#include <string>

namespace kelvane::test {

class ExfatMount
{
public:
    ExfatMount();
    // Unmounts and detaches the loop device, whatever the test did.
    ~ExfatMount();

    // Why this machine cannot mount one (not root, no /dev/fuse, no loop devices, tools
    // missing): a reason to skip. Empty when it can.
    const std::string &Unavailable() const { return unavailable_; }
    // The step that failed and its output, where the machine could but did not.
    const std::string &Error() const { return error_; }
    // The mount point, an empty exFAT root.
    const std::string &Path() const { return mountPoint_; }

private:
    bool Step(const std::string &command, std::string *output = nullptr);

    TempDir dir_; // the image and the mount point; goes last (and makes a mount uncopyable)
    std::string mountPoint_;
    std::string loopDevice_;
    bool mounted_ = false;
    std::string unavailable_;
    std::string error_;
};

} // namespace kelvane::test
