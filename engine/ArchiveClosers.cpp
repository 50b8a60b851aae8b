#include "engine/ArchiveClosers.h"

#include <system_error>

namespace kelvane {

ArchiveClosers::~ArchiveClosers()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
    }
    workReady_.notify_all();
    for (std::thread &thread : threads_)
        thread.join();
}

ArchiveClosers::Ticket ArchiveClosers::Start(ArchiveHandle handle)
{
    Job *job = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.emplace_back();
        job = &jobs_.back();
        job->handle = handle;
        ++waiting_;
        if (waiting_ > idle_ && threads_.size() < maxThreads_) {
            try {
                threads_.emplace_back([this] { Loop(); });
                ++idle_;
            } catch (const std::system_error &) {
                // The threads there are will do.
            }
        }
        if (threads_.empty()) {
            jobs_.pop_back();
            --waiting_;
            return nullptr;
        }
    }
    workReady_.notify_one();
    return job;
}

bool ArchiveClosers::Wait(Ticket ticket)
{
    std::unique_lock<std::mutex> lock(mutex_);
    jobDone_.wait(lock, [ticket] { return ticket->done; });
    const bool closed = ticket->closed;
    jobs_.remove_if([ticket](const Job &job) { return &job == ticket; });
    return closed;
}

ArchiveClosers::Job *ArchiveClosers::NextJob()
{
    for (Job &job : jobs_) {
        if (!job.started)
            return &job;
    }
    return nullptr;
}

void ArchiveClosers::Loop()
{
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        Job *job = nullptr;
        workReady_.wait(lock, [&] {
            job = NextJob();
            return job != nullptr || quit_;
        });
        if (!job)
            return;
        job->started = true;
        --waiting_;
        --idle_;
        ArchiveHandle handle = job->handle;
        job->handle = nullptr;
        lock.unlock();
        const bool closed = ArchiveClose(&handle);
        lock.lock();
        ++idle_;
        job->closed = closed;
        job->done = true;
        jobDone_.notify_all();
    }
}

} // namespace kelvane
