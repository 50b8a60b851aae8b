#include "tests/faults/FaultRun.h"

#include "engine/ArchiveRun.h"
#include "folders/FileSystem.h"
#include "io/Io.h"
#include "tamsorel/tamsorel.h"
#include "tests/support/IoTrace.h"
#include "tests/support/RunInvariants.h"
#include "tests/support/ZipReaders.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <map>

namespace kelvane::test {

namespace {

std::string Text(const std::string &name, int lines)
{
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += "line " + std::to_string(i) + " of " + name + ", compressible\n";
    return text;
}

// A valid archive with one entry that no source file has, for the earlier archives in
// the target. Made once, before any hook is installed.
const std::string &EarlierArchive()
{
    static const std::string bytes = [] {
        TempDir dir;
        WriteFile(dir / "earlier.txt", "an earlier run's file");
        ArchiveHandle handle = ArchiveOpen((dir / "earlier.zip").c_str(), 0);
        ArchiveAddFile(handle, (dir / "earlier.txt").c_str(), nullptr, 0, "earlier.txt");
        ArchiveClose(&handle);
        return ReadFile(dir / "earlier.zip");
    }();
    return bytes;
}

} // namespace

std::vector<Scenario> Scenarios()
{
    std::vector<Scenario> scenarios;

    Scenario single;
    single.name = "Single";
    single.subFolder = true;
    single.sources = {{"a.txt", Text("a.txt", 400)},
                      {"b.bin", RandomBytes(30000, 1)},
                      {"c.txt", ""},
                      {"d.zip", RandomBytes(5000, 2)},
                      {"e.txt", "short"}};
    scenarios.push_back(single);

    Scenario perName;
    perName.name = "PerName";
    perName.perName = true;
    perName.sources = {{"a.txt", Text("a.txt", 300)},
                       {"a.doc", Text("a.doc", 10)},
                       {"b.bin", RandomBytes(30000, 3)},
                       {"c.txt", ""},
                       {"d.txt", "short"}};
    perName.earlier = {{"keep.txt", "not the run's"}};
    scenarios.push_back(perName);

    Scenario conflicts;
    conflicts.name = "PerNameConflicts";
    conflicts.perName = true;
    conflicts.sources = {{"a.txt", Text("a.txt", 200)},    {"old.txt", Text("old.txt", 50)},
                         {"old.doc", "old document"},      {"z1.zip", RandomBytes(6000, 4)},
                         {"z2.zip", RandomBytes(3000, 5)}, {"b.bin", RandomBytes(20000, 6)}};
    conflicts.earlier = {{"old.zip", EarlierArchive()},
                         {"z2.zip", "an earlier copy"},
                         {"conflict.zip", EarlierArchive()},
                         {"keep.txt", "not the run's"}};
    scenarios.push_back(conflicts);
    Scenario withoutLinks = conflicts;
    withoutLinks.name = "PerNameConflictsWithoutLinks";
    withoutLinks.withoutLinks = true;
    scenarios.push_back(withoutLinks);

    Scenario replacing;
    replacing.name = "SingleConflicts";
    replacing.sources = {{"a.txt", Text("a.txt", 200)},
                         {"b.bin", RandomBytes(20000, 7)},
                         {"z1.zip", RandomBytes(4000, 8)},
                         {"z2.zip", RandomBytes(3000, 9)}};
    replacing.earlier = {{"src.zip", EarlierArchive()},
                         {"z2.zip", "an earlier copy"},
                         {"conflict.zip", EarlierArchive()}};
    scenarios.push_back(replacing);

    Scenario skipping;
    skipping.name = "PerNameSkipConflicts";
    skipping.perName = true;
    skipping.skipConflicts = true;
    skipping.storePath = true;
    skipping.sources = {{"a.txt", Text("a.txt", 200)},
                        {"old.txt", Text("old.txt", 50)},
                        {"z1.zip", RandomBytes(4000, 10)},
                        {"z2.zip", RandomBytes(3000, 11)}};
    skipping.earlier = {{"old.zip", EarlierArchive()}, {"z2.zip", "an earlier copy"}};
    skipping.conflicting = {"old.txt", "z2.zip"};
    scenarios.push_back(skipping);

    // More than a batch of data: the back end's threads compress and write while the
    // next files are being read, so failed writes surface in a later add or the close.
    Scenario batches;
    batches.name = "SingleBatches";
    batches.sources = {{"a.bin", RandomBytes(700000, 12)},
                       {"b.txt", Text("b.txt", 20000)},
                       {"c.bin", RandomBytes(700000, 13)},
                       {"d.txt", "short"},
                       {"e.bin", RandomBytes(400000, 14)}};
    scenarios.push_back(batches);
    return scenarios;
}

void PrintTo(const Scenario &scenario, std::ostream *out)
{
    *out << scenario.name;
}

std::string Describe(const TracedCall &call)
{
    return std::string(io::CallName(call.call)) + (call.path.empty() ? "" : " " + call.path);
}

TracedCall SweepHook::Traced(const io::CallInfo &info)
{
    TracedCall traced {info.call, info.path ? info.path : "", io::ChangesStorage(info)};
    if (info.fd >= 0 && (traced.path.empty() || info.call == io::Call::Read))
        traced.path = PathBehind(info.fd);
    const int number = TemporaryNumber(traced.path);
    if (number > 0) {
        const bool upper = traced.path.find(".KELVANE-TMP-") != std::string::npos;
        traced.path = "temporary " + std::to_string(number) + (upper ? " in upper case" : "");
    }
    if (info.target)
        TemporaryNumber(info.target);
    return traced;
}

int SweepHook::TemporaryNumber(const std::string &path)
{
    // By name: the run names a file relative to its folder, a descriptor shows it whole
    // (and marked when it has been removed).
    std::string name = path.substr(path.find_last_of(paths::kNativeSeparators) + 1);
    const std::string removed = " (deleted)";
    if (name.size() > removed.size()
        && name.compare(name.size() - removed.size(), removed.size(), removed) == 0)
        name.resize(name.size() - removed.size());
    // The probe of whether the folder folds case looks a temporary up in upper case.
    std::transform(name.begin(), name.end(), name.begin(), [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    });
    if (!IsTempName(name))
        return 0;
    std::lock_guard<std::mutex> lock(mutex_);
    return temporaries_.emplace(name, static_cast<int>(temporaries_.size()) + 1).first->second;
}

bool SameCall(const TracedCall &a, const TracedCall &b)
{
    // Each run has folders of its own: the file's name is what identifies it.
    const auto baseName = [](const std::string &path) {
        return path.substr(path.find_last_of(paths::kNativeSeparators) + 1);
    };
    return a.call == b.call && baseName(a.path) == baseName(b.path);
}

long Occurrence(const std::vector<TracedCall> &trace, std::size_t index)
{
    return std::count_if(trace.begin(), trace.begin() + static_cast<long>(index) + 1,
                         [&](const TracedCall &call) { return SameCall(call, trace[index]); });
}

int SweepHook::Before(const io::CallInfo &info)
{
    ++calls_;
    if (fired_.load())
        return AfterTheFault(info);
    if (!trace && (!at || info.call != at->call)) {
        // Temporaries are numbered as the run names them, whichever calls are traced: a
        // rename's new name too, before a descriptor shows it.
        if (info.path)
            TemporaryNumber(info.path);
        if (info.target)
            TemporaryNumber(info.target);
        return 0;
    }
    const TracedCall traced = Traced(info);
    if (trace) {
        std::lock_guard<std::mutex> lock(mutex_);
        trace_.push_back(traced);
    }
    if (!at || !SameCall(traced, *at) || ++matched_ != occurrence || fired_.exchange(true))
        return 0;
    if (action) {
        action();
        return 0;
    }
    if (info.call == io::Call::Unlink)
        removalFailed_ = true;
    return error;
}

int SweepHook::AfterTheFault(const io::CallInfo &info)
{
    if (!persistent || action || !io::ChangesStorage(info))
        return 0;
    if (info.call == io::Call::Unlink && spareRemoval)
        return 0;
    if (info.call == io::Call::Unlink)
        removalFailed_ = true;
    return error;
}

std::vector<TracedCall> SweepHook::Trace() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return trace_;
}

FaultRun::FaultRun(const Scenario &scenario)
    : scenario_(scenario)
    , src_(tmp_ / "src")
    , target_(tmp_ / "out")
    , output_(scenario.subFolder ? tmp_ / "out/src" : tmp_ / "out")
{
    MakeDirs(src_);
    for (const auto &[name, content] : scenario.sources) {
        WriteFile(SourcePath(name), content);
        versions_[name].push_back(content);
    }
    if (!scenario.earlier.empty())
        MakeDirs(output_);
    for (const auto &[name, content] : scenario.earlier)
        WriteFile(output_ + "/" + name, content);

    // Relative folders: the run then builds its target levels from the test's own folder,
    // and never searches the shared temporary folder, whose size changes the call count.
    JobSettings &s = window_.settings;
    s.fileMask = "*.*";
    s.sourceFolder = "src";
    s.targetFolder = "out";
    s.createSubFolder = scenario.subFolder ? 1 : 0;
    s.keepIndividual = scenario.perName ? 1 : 0;
    s.useTimestamps = 0;
    s.skipConflicts = scenario.skipConflicts ? 1 : 0;
    s.storePathInZip = scenario.storePath ? 1 : 0;
}

void FaultRun::AddVersion(const std::string &name, const std::string &content)
{
    versions_[name].push_back(content);
}

namespace {

// A target without links: what the sweep's hook lets through, renameat2 refuses with
// EINVAL and link with EPERM, as exFAT through FUSE does.
class WithoutLinks : public io::FaultHook
{
public:
    explicit WithoutLinks(io::FaultHook *inner) : inner_(inner) { }
    int Before(const io::CallInfo &info) override
    {
        if (const int error = inner_ ? inner_->Before(info) : 0)
            return error;
        if (info.call == io::Call::Rename && info.flags == io::kRenameNoReplace)
            return EINVAL;
        return info.call == io::Call::Link ? EPERM : 0;
    }

private:
    io::FaultHook *inner_;
};

} // namespace

void FaultRun::Run(io::FaultHook *hook)
{
    ScopedCurrentDir here(tmp_.path());
    WithoutLinks withoutLinks(hook);
    if (scenario_.withoutLinks)
        hook = &withoutLinks;
    if (hook) {
        ScopedHook installed(*hook);
        ArchiveRun(window_);
    } else {
        ArchiveRun(window_);
    }
}

std::vector<std::string> FaultRun::Check(bool externalReaders, bool removalFailed) const
{
    RunExpectations expected;
    expected.source = src_;
    expected.output = output_;
    expected.tree = tmp_.path();
    expected.sources = versions_;
    expected.removed = removed_;
    expected.earlier = scenario_.earlier;
    expected.perName = scenario_.perName;
    expected.singleArchive = "src.zip";
    expected.storePath = scenario_.storePath;
    expected.storedFolder = "src";
    if (scenario_.skipConflicts)
        expected.skipped = scenario_.conflicting;
    expected.removalFailed = removalFailed;
    RunFindings found = CheckFolders(expected);
    CheckAccounted(expected, {ReadRunMessages(window_.Messages())}, true, found);
    outputs_ = static_cast<int>(found.outputs.size());

    for (const auto &[name, files] : found.outputs) {
        if (!externalReaders || files == 0 || scenario_.sources.count(name))
            continue; // the copies of source zip files are not archives
        const std::string path = output_ + "/" + name;
        const std::string seven = SevenZipTest(path);
        if (!seven.empty())
            found.broken.push_back("I2: 7zz refuses " + name + ": " + seven);
        const std::string unzip = UnzipTest(path);
        if (!unzip.empty())
            found.broken.push_back("I2: unzip refuses " + name + ": " + unzip);
        std::vector<std::pair<std::string, std::string>> entries;
        for (const ZipEntry &entry : ReadZip(path).entries)
            entries.emplace_back(entry.name, entry.data);
        const PythonView python = PythonRead(path);
        if (!python.error.empty() || python.entries != entries)
            found.broken.push_back("I2: Python reads " + name + " otherwise: " + python.error);
    }
    if (window_.Caption() != "START" || const_cast<FakeWindow &>(window_).Running().load())
        found.broken.push_back("the window was not put back after the run");
    return found.broken;
}

} // namespace kelvane::test
