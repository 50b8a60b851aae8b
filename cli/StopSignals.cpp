#include "cli/StopSignals.h"

#include <cerrno>
#include <csignal>
#include <initializer_list>
#include <unistd.h>

namespace kelvane::batch {

// A signal handler may only touch lock-free atomics.
static_assert(std::atomic<bool>::is_always_lock_free, "stop flag must be lock-free");
static_assert(std::atomic<std::atomic<bool> *>::is_always_lock_free,
              "stop target must be lock-free");
static_assert(std::atomic<int>::is_always_lock_free, "notice fd must be lock-free");

namespace {

std::atomic<std::atomic<bool> *> gStopTarget {nullptr};
std::atomic<int> gNoticeFd {STDERR_FILENO};
std::atomic<bool> gNoticeAfterBar {false};

constexpr char kNotice[] = "\nkelvane-batch: stopping, please wait\n";

} // namespace

void SetStopTarget(std::atomic<bool> *flag)
{
    gStopTarget.store(flag);
}

void SetStopNoticeFd(int fd, bool afterBar)
{
    gNoticeFd.store(fd);
    gNoticeAfterBar.store(afterBar);
}

extern "C" void HandleStopSignal(int)
{
    const int savedErrno = errno;
    if (std::atomic<bool> *flag = gStopTarget.load())
        flag->store(true);
    // Skip the leading line end unless a bar may be on the line.
    const char *notice = gNoticeAfterBar.load() ? kNotice : kNotice + 1;
    const std::size_t length = gNoticeAfterBar.load() ? sizeof kNotice - 1 : sizeof kNotice - 2;
    // A failed notice changes nothing: the stop request is what counts.
    if (write(gNoticeFd.load(), notice, length) < 0) { }
    errno = savedErrno;
}

#ifndef _WIN32 // Windows asks through a console control handler: StopSignalsWin32.cpp
bool InstallStopSignals()
{
    struct sigaction action = {};
    action.sa_handler = HandleStopSignal;
    sigemptyset(&action.sa_mask);
    // Block the other stop signals while one is handled: one notice at a time.
    sigaddset(&action.sa_mask, SIGINT);
    sigaddset(&action.sa_mask, SIGTERM);
    sigaddset(&action.sa_mask, SIGHUP);
    // File operations of the run must not fail with EINTR because somebody pressed Ctrl+C.
    action.sa_flags = SA_RESTART;
    bool ok = true;
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) {
        // A signal ignored from the start stays ignored: nohup, or a background job of a
        // script, means it.
        struct sigaction old = {};
        if (sigaction(sig, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        ok = sigaction(sig, &action, nullptr) == 0 && ok;
    }

    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    ok = sigaction(SIGPIPE, &ignore, nullptr) == 0 && ok;
    return ok;
}
#endif

} // namespace kelvane::batch
