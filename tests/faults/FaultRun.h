#pragma once

// Whole runs with the I/O seam's hook installed: a scenario is a source folder and a
// target holding some earlier files; each run starts from fresh folders, and afterwards
// the invariants of tests/support/RunInvariants.h are checked, with exact counts in the
// conflict message.

#include "io/IoTesting.h"
#include "tests/support/FakeWindow.h"
#include "tests/support/TestSupport.h"

#include <atomic>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kelvane::test {

struct Scenario
{
    std::string name;
    bool perName = false;
    bool subFolder = false;
    bool skipConflicts = false;
    bool storePath = false;
    // name -> content, in the source folder "src"
    std::map<std::string, std::string> sources;
    // name -> content, in the output folder before the run
    std::map<std::string, std::string> earlier;
    // Source files that meet an earlier file of their name: with skipConflicts they are
    // left out without a word.
    std::set<std::string> conflicting;
    // The target can neither rename without replacing nor link (exFAT through FUSE).
    bool withoutLinks = false;
};

// The runs the sweep covers: one archive with a zip copy; per-name archives; per-name
// archives meeting earlier archives and copies (conflicts, a conflict archive replaced),
// also on a target without links;
// one archive replacing an earlier one, with a conflicting copy; per-name archives with
// conflicts skipped and paths stored.
std::vector<Scenario> Scenarios();
// For test names and failure messages: the scenario's name.
void PrintTo(const Scenario &scenario, std::ostream *out);

// One call as a clean run made it, for naming fault points.
struct TracedCall
{
    io::Call call;
    // The file's path (for a call on a descriptor, the file behind it); a temporary, whose
    // name is random, as "temporary <n>" in the order the run first touched them.
    std::string path;
    bool changesStorage;
};
std::string Describe(const TracedCall &call);
// The same call on the same file (by name), in another run.
bool SameCall(const TracedCall &a, const TracedCall &b);
// How many calls of the trace up to and including index are the same call as that one.
long Occurrence(const std::vector<TracedCall> &trace, std::size_t index);

// Counts every call. Given a point (a call, and which time this call on this file comes),
// it fails that call with error and, when persistent, every later call that changes what
// is stored; or runs action just before it. Archives close on threads of their own, so the
// call with a given number is not always the same call: a point is named by what it is.
class SweepHook : public io::FaultHook
{
public:
    bool trace = false; // keep a TracedCall of every call
    std::optional<TracedCall> at; // none: fail nothing
    long occurrence = 1;
    int error = 0;
    bool persistent = false;
    // A full disk still lets files be removed; a broken one may not.
    bool spareRemoval = false;
    std::function<void()> action; // instead of a failure, when set

    int Before(const io::CallInfo &info) override;

    long Calls() const { return calls_.load(); }
    bool Fired() const { return fired_.load(); }
    // Whether a removal was among the calls made to fail.
    bool RemovalFailed() const { return removalFailed_.load(); }
    std::vector<TracedCall> Trace() const;

private:
    TracedCall Traced(const io::CallInfo &info);
    // A temporary's number, given when the run first names it; 0 for other files.
    int TemporaryNumber(const std::string &path);
    int AfterTheFault(const io::CallInfo &info);

    std::atomic<long> calls_ {0};
    std::atomic<bool> fired_ {false};
    std::atomic<long> matched_ {0};
    std::atomic<bool> removalFailed_ {false};
    mutable std::mutex mutex_;
    std::vector<TracedCall> trace_;
    std::map<std::string, int> temporaries_; // name -> its number
};

class ScopedHook
{
public:
    explicit ScopedHook(io::FaultHook &hook) { io::SetFaultHook(&hook); }
    ~ScopedHook() { io::SetFaultHook(nullptr); }
    ScopedHook(const ScopedHook &) = delete;
    ScopedHook &operator=(const ScopedHook &) = delete;
};

// One run of a scenario in a fresh folder.
class FaultRun
{
public:
    explicit FaultRun(const Scenario &scenario);

    const std::string &Source() const { return src_; }
    const std::string &Output() const { return output_; }
    const std::string &Target() const { return target_; }
    std::string SourcePath(const std::string &name) const { return src_ + "/" + name; }

    // The contents a source file may be found with besides its first one, after the test
    // changed it (cut short, grown). A removed file is marked with Removed().
    void AddVersion(const std::string &name, const std::string &content);
    void Removed(const std::string &name) { removed_.insert(name); }

    // Runs with hook installed (none when null).
    void Run(io::FaultHook *hook);
    const FakeWindow &Window() const { return window_; }

    // The broken invariants, each as a line of text; empty when all hold. With
    // externalReaders, every archive is also read by 7-Zip, unzip and Python. When a
    // removal failed, a temporary may stay if it is a leftover that a cleanup removes.
    std::vector<std::string> Check(bool externalReaders = false, bool removalFailed = false) const;

    // How many archives and copies the last Check found at final names (earlier files that
    // stayed as they were not counted).
    int Outputs() const { return outputs_; }

private:
    const Scenario &scenario_;
    TempDir tmp_;
    std::string src_;
    std::string target_;
    std::string output_;
    std::map<std::string, std::vector<std::string>> versions_;
    std::set<std::string> removed_;
    FakeWindow window_;
    mutable int outputs_ = 0;
};

} // namespace kelvane::test
