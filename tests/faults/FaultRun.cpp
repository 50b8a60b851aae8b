#include "tests/faults/FaultRun.h"

#include "engine/ArchiveRun.h"
#include "platform/FileSystem.h"
#include "tamsorel/tamsorel.h"
#include "tests/support/ZipReaders.h"

#include <algorithm>
#include <climits>
#include <random>

#include <unistd.h>

namespace kelvane::test {

namespace {

constexpr char kTempPrefix[] = ".kelvane-tmp-";

std::string Text(const std::string &name, int lines)
{
    std::string text;
    for (int i = 0; i < lines; ++i)
        text += "line " + std::to_string(i) + " of " + name + ", compressible\n";
    return text;
}

std::string Random(unsigned seed, std::size_t size)
{
    std::mt19937 generator(seed);
    std::string bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>(generator() & 0xFF);
    return bytes;
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

// An archive with no entries is its end record alone, which libarchive refuses to read.
bool IsEmptyArchive(const std::string &bytes)
{
    return bytes.size() == 22 && bytes.compare(0, 4, "PK\x05\x06") == 0
        && std::all_of(bytes.begin() + 4, bytes.end(), [](char c) { return c == 0; });
}

bool StartsWith(const std::string &text, const std::string &prefix)
{
    return text.compare(0, prefix.size(), prefix) == 0;
}

std::string BaseName(const std::string &path)
{
    return path.substr(path.rfind('/') + 1);
}

// Every temporary file under folder, at any depth.
void FindTemporaries(const std::string &folder, std::vector<std::string> &found)
{
    for (const std::string &name : ListDir(folder)) {
        const std::string path = folder + "/" + name;
        if (StartsWith(name, kTempPrefix))
            found.push_back(path);
        if (IsDirectory(path))
            FindTemporaries(path, found);
    }
}

} // namespace

std::vector<Scenario> Scenarios()
{
    std::vector<Scenario> scenarios;

    Scenario single;
    single.name = "Single";
    single.subFolder = true;
    single.sources = {{"a.txt", Text("a.txt", 400)},
                      {"b.bin", Random(1, 30000)},
                      {"c.txt", ""},
                      {"d.zip", Random(2, 5000)},
                      {"e.txt", "short"}};
    scenarios.push_back(single);

    Scenario perName;
    perName.name = "PerName";
    perName.perName = true;
    perName.sources = {{"a.txt", Text("a.txt", 300)},
                       {"a.doc", Text("a.doc", 10)},
                       {"b.bin", Random(3, 30000)},
                       {"c.txt", ""},
                       {"d.txt", "short"}};
    perName.earlier = {{"keep.txt", "not the run's"}};
    scenarios.push_back(perName);

    Scenario conflicts;
    conflicts.name = "PerNameConflicts";
    conflicts.perName = true;
    conflicts.sources = {{"a.txt", Text("a.txt", 200)}, {"old.txt", Text("old.txt", 50)},
                         {"old.doc", "old document"},   {"z1.zip", Random(4, 6000)},
                         {"z2.zip", Random(5, 3000)},   {"b.bin", Random(6, 20000)}};
    conflicts.earlier = {{"old.zip", EarlierArchive()},
                         {"z2.zip", "an earlier copy"},
                         {"conflict.zip", EarlierArchive()},
                         {"keep.txt", "not the run's"}};
    scenarios.push_back(conflicts);

    Scenario replacing;
    replacing.name = "SingleConflicts";
    replacing.sources = {{"a.txt", Text("a.txt", 200)},
                         {"b.bin", Random(7, 20000)},
                         {"z1.zip", Random(8, 4000)},
                         {"z2.zip", Random(9, 3000)}};
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
                        {"z1.zip", Random(10, 4000)},
                        {"z2.zip", Random(11, 3000)}};
    skipping.earlier = {{"old.zip", EarlierArchive()}, {"z2.zip", "an earlier copy"}};
    skipping.conflicting = {"old.txt", "z2.zip"};
    scenarios.push_back(skipping);

    // More than a batch of data: the back end's threads compress and write while the
    // next files are being read, so failed writes surface in a later add or the close.
    Scenario batches;
    batches.name = "SingleBatches";
    batches.sources = {{"a.bin", Random(12, 700000)},
                       {"b.txt", Text("b.txt", 20000)},
                       {"c.bin", Random(13, 700000)},
                       {"d.txt", "short"},
                       {"e.bin", Random(14, 400000)}};
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

namespace {

TracedCall Traced(const io::CallInfo &info)
{
    TracedCall traced {info.call, info.path ? info.path : "", io::ChangesStorage(info)};
    if (info.call == io::Call::Read && info.fd >= 0) {
        char buffer[PATH_MAX];
        const std::string link = "/proc/self/fd/" + std::to_string(info.fd);
        const ssize_t length = ::readlink(link.c_str(), buffer, sizeof buffer);
        if (length > 0)
            traced.path.assign(buffer, static_cast<std::size_t>(length));
    }
    return traced;
}

} // namespace

bool SameCall(const TracedCall &a, const TracedCall &b)
{
    // Each run has folders of its own: the file's name is what identifies it.
    const auto baseName = [](const std::string &path) { return path.substr(path.rfind('/') + 1); };
    return a.call == b.call && baseName(a.path) == baseName(b.path);
}

int SweepHook::Before(const io::CallInfo &info)
{
    const long n = ++calls_;
    if (trace) {
        TracedCall traced = Traced(info);
        std::lock_guard<std::mutex> lock(mutex_);
        trace_.push_back(std::move(traced));
    }
    if (action && actionAt) {
        if (fired_.load() || !SameCall(Traced(info), *actionAt) || ++matched_ != occurrence)
            return 0;
        fired_ = true;
        action();
        return 0;
    }
    if (target == 0 || n < target)
        return 0;
    if (n == target) {
        fired_ = true;
        if (action) {
            action();
            return 0;
        }
        if (info.call == io::Call::Unlink)
            removalFailed_ = true;
        return error;
    }
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

void FaultRun::Run(io::FaultHook *hook)
{
    ScopedCurrentDir here(tmp_.path());
    if (hook) {
        ScopedHook installed(*hook);
        ArchiveRun(window_);
    } else {
        ArchiveRun(window_);
    }
}

std::vector<std::string> FaultRun::Check(bool externalReaders, bool removalFailed) const
{
    std::vector<std::string> broken;
    const auto isVersion = [&](const std::string &name, const std::string &data) {
        const auto found = versions_.find(name);
        return found != versions_.end()
            && std::find(found->second.begin(), found->second.end(), data) != found->second.end();
    };

    // I1
    for (const auto &[name, contents] : versions_) {
        if (removed_.count(name))
            continue;
        if (!FileExists(SourcePath(name)))
            broken.push_back("I1: source " + name + " is gone");
        else if (ReadFile(SourcePath(name)) != contents.back())
            broken.push_back("I1: source " + name + " changed");
    }

    // I4
    std::vector<std::string> temporaries;
    FindTemporaries(tmp_.path(), temporaries);
    for (const std::string &path : temporaries) {
        // A temporary that could not be removed must at least be a leftover that the next
        // run in its folder removes: not held by a writer any more.
        if (removalFailed)
            platform::RemoveLeftoverTemps(path.substr(0, path.rfind('/')));
        if (FileExists(path))
            broken.push_back("I4: temporary left: " + path);
    }

    // I2 and I3: what the output folder holds.
    std::set<std::string> placed; // source names found in outputs
    std::map<std::string, std::size_t> entriesOf; // output name -> entries
    const auto checkArchive = [&](const std::string &name) {
        const std::string path = output_ + "/" + name;
        const std::string bytes = ReadFile(path);
        if (IsEmptyArchive(bytes)) {
            entriesOf[name] = 0;
            return;
        }
        const ZipContents zip = ReadZip(path);
        if (!zip.ok) {
            broken.push_back("I2: " + name + " is not a valid archive: " + zip.error);
            return;
        }
        entriesOf[name] = zip.entries.size();
        std::vector<std::pair<std::string, std::string>> entries;
        for (const ZipEntry &entry : zip.entries) {
            entries.emplace_back(entry.name, entry.data);
            const std::string base = scenario_.storePath ? BaseName(entry.name) : entry.name;
            if (scenario_.storePath && entry.name != "src/" + base)
                broken.push_back("I2: " + name + " holds " + entry.name + ", not under src/");
            if (!isVersion(base, entry.data)) {
                broken.push_back("I2: " + name + " holds " + entry.name
                                 + " that is no version of a source file");
                continue;
            }
            if (!placed.insert(base).second)
                broken.push_back("I2: " + base + " is in two outputs");
        }
        if (externalReaders) {
            const std::string seven = SevenZipTest(path);
            if (!seven.empty())
                broken.push_back("I2: 7zz refuses " + name + ": " + seven);
            const std::string unzip = UnzipTest(path);
            if (!unzip.empty())
                broken.push_back("I2: unzip refuses " + name + ": " + unzip);
            const PythonView python = PythonRead(path);
            if (!python.error.empty() || python.entries != entries)
                broken.push_back("I2: Python reads " + name + " otherwise: " + python.error);
        }
    };
    const std::vector<std::string> present
        = IsDirectory(output_) ? ListDir(output_) : std::vector<std::string>();
    std::set<std::string> replaceable {"conflict.zip"};
    if (!scenario_.perName)
        replaceable.insert("src.zip");
    for (const std::string &name : present) {
        if (StartsWith(name, kTempPrefix))
            continue; // counted under I4
        const auto earlier = scenario_.earlier.find(name);
        if (earlier != scenario_.earlier.end()) {
            if (ReadFile(output_ + "/" + name) == earlier->second)
                continue;
            if (replaceable.count(name))
                checkArchive(name);
            else
                broken.push_back("I3: earlier file " + name + " changed");
        } else if (scenario_.sources.count(name)) {
            // A copy of a source zip file.
            if (!isVersion(name, ReadFile(output_ + "/" + name)))
                broken.push_back("I2: copy " + name + " differs from its source");
            else if (!placed.insert(name).second)
                broken.push_back("I2: " + name + " is in two outputs");
            entriesOf[name] = 1;
        } else if (name.size() > 4 && name.substr(name.size() - 4) == ".zip"
                   && !IsDirectory(output_ + "/" + name)) {
            checkArchive(name);
        } else {
            broken.push_back("I2: unexpected entry " + name + " in the output folder");
        }
    }
    for (const auto &[name, content] : scenario_.earlier) {
        if (std::find(present.begin(), present.end(), name) == present.end())
            broken.push_back("I3: earlier file " + name + " is gone");
    }
    outputs_ = static_cast<int>(entriesOf.size());

    // I5: what the window was told.
    std::set<std::string> reported;
    bool toldAll = false;
    for (const auto &[caption, text] : window_.Messages()) {
        if (caption == kNotArchivedCaption) {
            std::size_t start = text.find('\n');
            const long count = std::strtol(text.c_str(), nullptr, 10);
            long listed = 0;
            while (start != std::string::npos && start + 1 < text.size()) {
                const std::size_t end = text.find('\n', start + 1);
                const std::string line = text.substr(start + 1, end - start - 1);
                if (line == "...")
                    broken.push_back("I5: the report left files out");
                else
                    reported.insert(BaseName(line));
                ++listed;
                start = end;
            }
            if (count != listed)
                broken.push_back("I5: the report counts " + std::to_string(count) + " but lists "
                                 + std::to_string(listed));
        } else if (caption == kConflictCaption) {
            const std::string head = "files were copied to\n";
            const std::size_t at = text.find(head);
            const std::size_t end = text.find("\n\n", at);
            if (at == std::string::npos || end == std::string::npos) {
                broken.push_back("I5: conflict message without its archive: " + text);
                continue;
            }
            const std::size_t digits = text.rfind(' ', at - 2);
            const long count = std::strtol(text.c_str() + digits + 1, nullptr, 10);
            const std::string name
                = BaseName(text.substr(at + head.size(), end - at - head.size()));
            const auto entries = entriesOf.find(name);
            if (entries == entriesOf.end())
                broken.push_back("I5: the conflict message names " + name
                                 + ", which holds no files of this run");
            else if (static_cast<long>(entries->second) != count)
                broken.push_back("I5: the conflict message counts " + std::to_string(count)
                                 + " files, " + name + " holds " + std::to_string(entries->second));
        } else if (caption == kNoSubfolderCaption || caption == kUnreadableSourceCaption
                   || caption == "Archive run failed") {
            toldAll = true;
        } else {
            broken.push_back("I5: unexpected message " + caption + "|" + text);
        }
    }
    for (const auto &[name, content] : scenario_.sources) {
        const bool skipped = scenario_.skipConflicts && scenario_.conflicting.count(name);
        if (!placed.count(name) && !reported.count(name) && !toldAll && !skipped)
            broken.push_back("I5: " + name + " is in no output and was not reported");
    }
    if (window_.Caption() != "START" || const_cast<FakeWindow &>(window_).Running().load())
        broken.push_back("the window was not put back after the run");
    return broken;
}

} // namespace kelvane::test
