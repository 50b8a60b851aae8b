#ifndef KELVANE_ENGINE_ARCHIVECLOSERS_H
#define KELVANE_ENGINE_ARCHIVECLOSERS_H

#include "tamsorel/tamsorel.h"

#include <condition_variable>
#include <cstddef>
#include <list>
#include <mutex>
#include <thread>
#include <vector>

namespace kelvane {

// Closes archives on threads of their own. A close ends with the archive's sync to disk,
// which mostly waits; several at once reach the disk together, and the run meanwhile fills
// the next archive. Archives still handed over when the closers are destroyed are closed
// first.
class ArchiveClosers
{
    struct Job
    {
        ArchiveHandle handle = nullptr;
        bool started = false;
        bool done = false;
        bool closed = false;
    };

public:
    using Ticket = const Job *;

    explicit ArchiveClosers(std::size_t maxThreads) : maxThreads_(maxThreads) { }
    ArchiveClosers(const ArchiveClosers &) = delete;
    ArchiveClosers &operator=(const ArchiveClosers &) = delete;
    ~ArchiveClosers();

    // Starts closing the archive. Null when no thread could be started: the handle is
    // then still the caller's to close.
    Ticket Start(ArchiveHandle handle);

    // Waits for the close and returns ArchiveClose's result. The ticket is spent.
    bool Wait(Ticket ticket);

private:
    Job *NextJob();
    void Loop();

    const std::size_t maxThreads_;
    std::mutex mutex_;
    std::condition_variable workReady_; // for the closers
    std::condition_variable jobDone_; // for Wait
    std::list<Job> jobs_; // stable addresses: a ticket points into it
    std::vector<std::thread> threads_;
    std::size_t idle_ = 0; // threads not closing an archive
    std::size_t waiting_ = 0; // archives handed over and not yet started
    bool quit_ = false;
};

} // namespace kelvane

#endif
