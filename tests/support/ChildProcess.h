#pragma once

// Runs a program (the batch program, mostly) as a child process with its output read
// through pipes. POSIX only: it forks.

#include <string>
#include <sys/types.h>
#include <vector>

namespace kelvane::test {

struct ChildResult
{
    bool exited = false; // ended by exit, not by a signal
    int status = -1; // exit status when exited
    int signal = 0; // the signal that ended it otherwise
    std::string out;
    std::string err;
};

class ChildProcess
{
public:
    // Starts program with args in folder cwd; stdin is /dev/null. With a nonzero
    // errPipeSize the standard error pipe is shrunk to (about) that size. With
    // errOnTerminal standard error is a pseudo terminal instead of a pipe. With a gate, the
    // child reads one byte from it before it starts the program, so that several children
    // can be let go at once.
    ChildProcess(const std::string &program, const std::vector<std::string> &args,
                 const std::string &cwd, int errPipeSize = 0, bool errOnTerminal = false,
                 int gate = -1);
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // Reads standard error up to and including the next line end; false at its end.
    bool ReadErrLine(std::string &line);
    void Signal(int sig);
    // Reads both outputs to their ends and waits for the child.
    ChildResult Finish();
    // The capacity of the standard error pipe.
    int ErrPipeSize() const;

private:
    pid_t pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string errSoFar_;
};

// Starts, finishes and returns in one go.
ChildResult RunChild(const std::string &program, const std::vector<std::string> &args,
                     const std::string &cwd);

} // namespace kelvane::test
