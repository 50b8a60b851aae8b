#pragma once

// Permission tests as a user that permissions bind: the suite often runs as root (CI),
// which may write anything. There, the body runs in a child process that has given up
// root for the user "nobody"; otherwise it runs in this process.

#include <functional>
#include <string>

namespace kelvane::test {

// Runs body as an unprivileged user and returns what it returned (0 to 255), or -1 when
// no such user could be had. The body of a child must not use gtest assertions: it
// reports through its result, and the caller checks the files afterwards.
int AsUnprivilegedUser(const std::function<int()> &body);

// Makes path belong to the user AsUnprivilegedUser runs as (nothing to do when that is
// this process's own user). False when it could not.
bool GiveToUnprivilegedUser(const std::string &path);

} // namespace kelvane::test
