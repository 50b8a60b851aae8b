#include "tests/support/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

namespace kelvane::test {

namespace {

void ReadAvailable(int &fd, std::string &into)
{
    char buffer[4096];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n > 0) {
        into.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
        ::close(fd);
        fd = -1;
    }
}

} // namespace

ChildProcess::ChildProcess(const std::string &program, const std::vector<std::string> &args,
                           const std::string &cwd, int errPipeSize, bool errOnTerminal, int gate)
{
    int outPipe[2];
    int errPipe[2];
    if (::pipe2(outPipe, O_CLOEXEC) != 0)
        throw std::runtime_error("pipe failed");
    if (errOnTerminal) {
        // errPipe[0] is the terminal's master side, errPipe[1] its slave side.
        errPipe[0] = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (errPipe[0] < 0 || ::grantpt(errPipe[0]) != 0 || ::unlockpt(errPipe[0]) != 0)
            throw std::runtime_error("no pseudo terminal");
        errPipe[1] = ::open(::ptsname(errPipe[0]), O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (errPipe[1] < 0)
            throw std::runtime_error("no pseudo terminal");
    } else if (::pipe2(errPipe, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    if (errPipeSize > 0 && !errOnTerminal)
        ::fcntl(errPipe[1], F_SETPIPE_SZ, errPipeSize);

    std::vector<std::string> argvStrings;
    argvStrings.push_back(program);
    argvStrings.insert(argvStrings.end(), args.begin(), args.end());
    std::vector<char *> argv;
    for (std::string &s : argvStrings)
        argv.push_back(s.data());
    argv.push_back(nullptr);

    pid_ = ::fork();
    if (pid_ < 0)
        throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        // Only async-signal-safe calls between fork and exec.
        const int devNull = ::open("/dev/null", O_RDONLY);
        if (devNull < 0 || ::dup2(devNull, 0) < 0 || ::dup2(outPipe[1], 1) < 0
            || ::dup2(errPipe[1], 2) < 0 || ::chdir(cwd.c_str()) != 0)
            ::_exit(127);
        // A test runner may ignore or block signals; the child starts from the defaults.
        sigset_t none;
        sigemptyset(&none);
        ::sigprocmask(SIG_SETMASK, &none, nullptr);
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
            ::signal(sig, SIG_DFL);
        char byte;
        while (gate >= 0 && ::read(gate, &byte, 1) < 0 && errno == EINTR) { }
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(outPipe[1]);
    ::close(errPipe[1]);
    outFd_ = outPipe[0];
    errFd_ = errPipe[0];
}

ChildProcess::~ChildProcess()
{
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    if (outFd_ >= 0)
        ::close(outFd_);
    if (errFd_ >= 0)
        ::close(errFd_);
}

int ChildProcess::ErrPipeSize() const
{
    return errFd_ >= 0 ? ::fcntl(errFd_, F_GETPIPE_SZ) : -1;
}

bool ChildProcess::ReadErrLine(std::string &line)
{
    // Byte by byte: whatever follows the line stays in the pipe, so the child cannot run
    // ahead by more than the pipe holds.
    line.clear();
    while (errFd_ >= 0) {
        char c;
        const ssize_t n = ::read(errFd_, &c, 1);
        if (n == 1) {
            errSoFar_ += c;
            line += c;
            if (c == '\n')
                return true;
        } else if (n == 0 || errno != EINTR) {
            ::close(errFd_);
            errFd_ = -1;
        }
    }
    return false;
}

void ChildProcess::Signal(int sig)
{
    if (pid_ > 0)
        ::kill(pid_, sig);
}

ChildResult ChildProcess::Finish()
{
    ChildResult result;
    result.err = errSoFar_;
    while (outFd_ >= 0 || errFd_ >= 0) {
        pollfd fds[2];
        nfds_t count = 0;
        if (outFd_ >= 0)
            fds[count++] = {outFd_, POLLIN, 0};
        if (errFd_ >= 0)
            fds[count++] = {errFd_, POLLIN, 0};
        if (::poll(fds, count, -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        for (nfds_t i = 0; i < count; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
                continue;
            if (fds[i].fd == outFd_)
                ReadAvailable(outFd_, result.out);
            else
                ReadAvailable(errFd_, result.err);
        }
    }
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) { }
    pid_ = -1;
    if (WIFEXITED(status)) {
        result.exited = true;
        result.status = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.signal = WTERMSIG(status);
    }
    return result;
}

ChildResult RunChild(const std::string &program, const std::vector<std::string> &args,
                     const std::string &cwd)
{
    ChildProcess child(program, args, cwd);
    return child.Finish();
}

} // namespace kelvane::test
