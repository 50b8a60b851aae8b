#include "tests/support/ExfatMount.h"

#include "tests/support/ZipReaders.h"

#include <unistd.h>

namespace kelvane::test {

ExfatMount::ExfatMount() : mountPoint_(dir_ / "mnt")
{
    if (::geteuid() != 0)
        unavailable_ = "mounting an exFAT image needs root";
    else if (::access("/dev/fuse", R_OK | W_OK) != 0)
        unavailable_ = "no /dev/fuse";
    else if (::access("/dev/loop-control", R_OK | W_OK) != 0)
        unavailable_ = "no loop devices";
    else
        for (const char *tool : {"mkfs.exfat", "mount.exfat-fuse", "losetup"})
            if (!HaveTool(tool))
                unavailable_ = std::string(tool) + " is not installed (scripts/bootstrap)";
    if (!unavailable_.empty())
        return;

    const std::string image = dir_ / "exfat.img";
    MakeDirs(mountPoint_);
    // The FUSE daemon stays behind: its output goes to a file, not to the pipe read here.
    const std::string log = dir_ / "mount.log";
    if (!Step("truncate -s 64M " + ShellQuote(image)) || !Step("mkfs.exfat " + ShellQuote(image))
        || !Step("losetup -f --show " + ShellQuote(image), &loopDevice_))
        return;
    while (!loopDevice_.empty() && loopDevice_.back() == '\n')
        loopDevice_.pop_back();
    mounted_ = Step("mount.exfat-fuse " + ShellQuote(loopDevice_) + " " + ShellQuote(mountPoint_)
                    + " </dev/null >" + ShellQuote(log) + " 2>&1");
    if (!mounted_)
        error_ += ReadFile(log);
}

ExfatMount::~ExfatMount()
{
    if (mounted_) {
        const std::string point = ShellQuote(mountPoint_);
        Step("umount " + point + " || umount -l " + point);
    }
    // Detached at once, or (while the FUSE daemon still closes it) as soon as it is free.
    if (!loopDevice_.empty())
        Step("losetup -d " + ShellQuote(loopDevice_));
}

bool ExfatMount::Step(const std::string &command, std::string *output)
{
    std::string text;
    const int status = Shell(command, text);
    if (status == 0) {
        if (output)
            *output = text;
        return true;
    }
    if (error_.empty())
        error_ = command + " failed (" + std::to_string(status) + "): " + text;
    return false;
}

} // namespace kelvane::test
