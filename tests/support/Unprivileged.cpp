#include "tests/support/Unprivileged.h"

#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvane::test {

namespace {

const passwd *Nobody()
{
    return ::geteuid() == 0 ? ::getpwnam("nobody") : nullptr;
}

} // namespace

int AsUnprivilegedUser(const std::function<int()> &body)
{
    if (::geteuid() != 0)
        return body();
    const passwd *nobody = Nobody();
    if (nobody == nullptr)
        return -1;
    const uid_t uid = nobody->pw_uid;
    const gid_t gid = nobody->pw_gid;
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        // Groups first: once the user is given up, they can no longer be.
        if (::setgroups(0, nullptr) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0)
            ::_exit(255);
        ::_exit(body() & 0xFF);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) == 255)
        return -1;
    return WEXITSTATUS(status);
}

bool GiveToUnprivilegedUser(const std::string &path)
{
    if (::geteuid() != 0)
        return true;
    const passwd *nobody = Nobody();
    return nobody != nullptr && ::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid) == 0;
}

} // namespace kelvane::test
