#include "tests/support/Unprivileged.h"

#include <gtest/gtest.h>

#include <ftw.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvane::test {

namespace {

uid_t newOwner;
gid_t newGroup;

int HandOver(const char *path, const struct stat *, int, struct FTW *)
{
    return ::lchown(path, newOwner, newGroup) == 0 ? 0 : 1;
}

} // namespace

void RunUnprivileged(const std::string &folder, const std::function<void()> &check)
{
    if (::geteuid() != 0) {
        check();
        return;
    }
    const passwd *nobody = ::getpwnam("nobody");
    if (nobody == nullptr || nobody->pw_uid == 0)
        GTEST_SKIP() << "running as root, and there is no user to drop to";
    newOwner = nobody->pw_uid;
    newGroup = nobody->pw_gid;
    ASSERT_EQ(::nftw(folder.c_str(), HandOver, 64, FTW_PHYS), 0) << "cannot hand over " << folder;
    std::fflush(nullptr);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::setgroups(0, nullptr) != 0 || ::setgid(newGroup) != 0 || ::setuid(newOwner) != 0
            || ::geteuid() == 0)
            ::_exit(2);
        check();
        std::fflush(nullptr);
        ::_exit(::testing::Test::HasFailure() ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << (WIFEXITED(status) && WEXITSTATUS(status) == 2 ? "could not drop to nobody"
                                                          : "the check failed as nobody");
}

} // namespace kelvane::test
