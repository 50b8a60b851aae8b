// A run onto a real file system that fills up: a 4 MiB tmpfs as the target (we run as
// root in CI), or, where mounting is not allowed, a child process whose file size limit
// (RLIMIT_FSIZE, with SIGXFSZ ignored) stops its writes the same way. The archives do not
// all fit; afterwards I1 to I5 hold: the user was told which files are not archived,
// nothing incomplete is at a final name, and no temporary is left.

#include "tests/faults/FaultRun.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <random>

#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvane::test {
namespace {

constexpr std::size_t kDiskSize = std::size_t {4} << 20;
// A file size limit stops single files, not the sum: small enough to stop the larger
// per-name archives and let the smaller ones through.
constexpr std::size_t kFileSizeLimit = 600000;

// Files of 900 KB and 300 KB that do not compress, one of them a zip file to be copied:
// about 5.4 MB of output for a 4 MiB disk.
Scenario TooBig(bool perName)
{
    Scenario scenario;
    scenario.name = perName ? "PerName" : "Single";
    scenario.perName = perName;
    std::mt19937 generator(perName ? 11 : 12);
    int i = 0;
    for (const char *name :
         {"f1.bin", "f2.bin", "f3.bin", "f4.bin", "f5.bin", "f6.bin", "f7.bin", "g.zip"}) {
        std::string bytes(++i % 2 == 0 ? 300000 : 900000, '\0');
        for (char &c : bytes)
            c = static_cast<char>(generator() & 0xFF);
        scenario.sources[name] = bytes;
    }
    return scenario;
}

class Mount
{
public:
    explicit Mount(const std::string &at) : at_(at)
    {
        // KELVANE_FAULTS_NO_MOUNT: try the file size limit, as on a machine without root.
        if (std::getenv("KELVANE_FAULTS_NO_MOUNT"))
            return;
        const std::string options = "size=" + std::to_string(kDiskSize);
        mounted_ = ::mount("tmpfs", at.c_str(), "tmpfs", 0, options.c_str()) == 0;
    }
    ~Mount()
    {
        if (mounted_)
            ::umount2(at_.c_str(), MNT_DETACH);
    }
    Mount(const Mount &) = delete;
    Mount &operator=(const Mount &) = delete;
    bool Mounted() const { return mounted_; }

private:
    std::string at_;
    bool mounted_ = false;
};

std::string Lines(const std::vector<std::string> &broken)
{
    std::string text;
    for (const std::string &line : broken)
        text += "\n    " + line;
    return text;
}

// Runs in a child whose files cannot grow past the disk size; the child checks the
// invariants and sends back what it found: nothing when they hold, "skip: ..." when the
// limit could not be set.
std::string RunWithFileSizeLimit(FaultRun &run)
{
    int fds[2];
    if (::pipe(fds) != 0)
        return "skip: no pipe";
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(fds[0]);
        std::string report;
        const rlimit limit {kFileSizeLimit, kFileSizeLimit};
        if (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR || ::setrlimit(RLIMIT_FSIZE, &limit) != 0) {
            report = "skip: RLIMIT_FSIZE cannot be set";
        } else {
            run.Run(nullptr);
            const std::vector<std::string> broken = run.Check();
            report = Lines(broken);
            if (run.Window().Messages().empty())
                report += "\n    the run met no full disk";
            if (run.Outputs() == 0)
                report += "\n    nothing fitted";
        }
        const ssize_t written = ::write(fds[1], report.data(), report.size());
        ::_exit(written == static_cast<ssize_t>(report.size()) ? 0 : 1);
    }
    ::close(fds[1]);
    std::string report;
    char buffer[4096];
    ssize_t n;
    while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0)
        report.append(buffer, static_cast<std::size_t>(n));
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        report += "\n    the child run did not end normally";
    return report;
}

class FullDisk : public ::testing::TestWithParam<bool>
{ };

TEST_P(FullDisk, ArchivesThatDoNotFit)
{
    const Scenario scenario = TooBig(GetParam());
    FaultRun run(scenario);
    MakeDirs(run.Target());
    Mount disk(run.Target());
    if (!disk.Mounted()) {
        const std::string report = RunWithFileSizeLimit(run);
        if (report.rfind("skip: ", 0) == 0)
            GTEST_SKIP() << "neither a tmpfs mount nor " << report.substr(6);
        EXPECT_TRUE(report.empty()) << "with RLIMIT_FSIZE:" << report;
        return;
    }
    run.Run(nullptr);
    const std::vector<std::string> broken = run.Check(true);
    EXPECT_TRUE(broken.empty()) << Lines(broken);
    // The disk really filled: some files are reported, and some made it.
    bool reported = false;
    for (const auto &[caption, text] : run.Window().Messages())
        reported = reported || caption == "Some files were not archived";
    EXPECT_TRUE(reported);
    EXPECT_GT(run.Outputs(), 0);
}

INSTANTIATE_TEST_SUITE_P(Modes, FullDisk, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool> &info) {
                             return info.param ? "PerName" : "Single";
                         });

} // namespace
} // namespace kelvane::test
