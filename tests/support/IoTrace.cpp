#include "tests/support/IoTrace.h"

#ifdef _WIN32
#include "io/Win32.h"
#else
#include <climits>

#include <unistd.h>
#endif

namespace kelvane::test {

std::string PathBehind(int fd)
{
#ifdef _WIN32
    return io::PathOf(fd);
#else
    char buffer[PATH_MAX];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
    return length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : std::string();
#endif
}

IoTrace::IoTrace(Decide decide) : decide_(std::move(decide))
{
    io::SetFaultHook(this);
}

IoTrace::~IoTrace()
{
    io::SetFaultHook(nullptr);
}

int IoTrace::Before(const io::CallInfo &info)
{
    TracedIo traced {info.call, info.path ? info.path : "", info.target ? info.target : "",
                     info.flags};
    if (!info.path && info.fd >= 0)
        traced.path = PathBehind(info.fd);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        calls_.push_back(std::move(traced));
    }
    return decide_ ? decide_(info) : 0;
}

std::vector<TracedIo> IoTrace::Calls() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}

std::size_t IoTrace::Find(io::Call call, const std::string &path, const std::string &target,
                          std::size_t from) const
{
    const std::vector<TracedIo> calls = Calls();
    for (std::size_t i = from; i < calls.size(); ++i)
        if (calls[i].call == call && calls[i].path == path
            && (target.empty() || calls[i].target == target))
            return i;
    return std::string::npos;
}

std::size_t IoTrace::FindPlacement(const std::string &target) const
{
    const std::vector<TracedIo> calls = Calls();
    for (std::size_t i = 0; i < calls.size(); ++i)
        if ((calls[i].call == io::Call::Rename || calls[i].call == io::Call::Link)
            && calls[i].target == target)
            return i;
    return std::string::npos;
}

} // namespace kelvane::test
