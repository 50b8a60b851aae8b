#pragma once

// Checks that need permission bits to apply. Root ignores them, and CI runs as root: there
// the check runs in a child process that has given up root for the user "nobody".

#include <functional>
#include <string>

namespace kelvane::test {

// Runs check as a user that permission bits apply to: in this process when it is not
// root; as root, in a forked child running as "nobody", with folder and everything in it
// handed to that user first (permission bits are kept). The child's failures are shown in
// its output and fail the calling test. Skips the test when there is no such user.
#ifdef _WIN32
// There a read-only file is an attribute that binds every user alike.
inline void RunUnprivileged(const std::string &, const std::function<void()> &check)
{
    check();
}
#else
void RunUnprivileged(const std::string &folder, const std::function<void()> &check);
#endif

} // namespace kelvane::test
