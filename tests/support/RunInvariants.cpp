#include "tests/support/RunInvariants.h"

#include "engine/RunMessages.h"
#include "engine/RunNames.h"
#include "folders/FileSystem.h"
#include "placement/Placement.h"
#include "tests/support/TestSupport.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>

namespace kelvane::test {

namespace {

// path with "/" between levels, as the tests write them (Windows' runs join with "\\").
std::string Slashed(std::string path)
{
#ifdef _WIN32
    std::replace(path.begin(), path.end(), '\\', '/');
#endif
    return path;
}

std::string BaseName(const std::string &path)
{
    return path.substr(Slashed(path).rfind('/') + 1);
}

bool EndsWith(const std::string &text, const std::string &tail)
{
    return text.size() >= tail.size()
        && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// Whether path names a file in folder; a run given relative folders names files by the
// relative path.
bool InFolder(const std::string &path, const std::string &folder)
{
    const std::string slashed = Slashed(path);
    const std::string parent = slashed.substr(0, slashed.rfind('/'));
    return parent == Slashed(folder) || EndsWith(Slashed(folder), "/" + parent);
}

// An archive with no entries is its end record alone, which libarchive refuses to read.
bool IsEmptyArchive(const std::string &bytes)
{
    return bytes.size() == 22 && bytes.compare(0, 4, "PK\x05\x06") == 0
        && std::all_of(bytes.begin() + 4, bytes.end(), [](char c) { return c == 0; });
}

class FolderCheck
{
public:
    explicit FolderCheck(const RunExpectations &expected) : e_(expected) { }

    RunFindings Run()
    {
        CheckSources();
        CheckTemporaries();
        CheckOutputs();
        return std::move(f_);
    }

private:
    const RunExpectations &e_;
    RunFindings f_;

    void Broken(const std::string &line) { f_.broken.push_back(line); }

    bool IsVersion(const std::string &name, const std::string &data) const
    {
        const auto found = e_.sources.find(name);
        return found != e_.sources.end()
            && std::find(found->second.begin(), found->second.end(), data) != found->second.end();
    }

    bool Replaceable(const std::string &name) const
    {
        return name == "conflict.zip" || (!e_.perName && name == e_.singleArchive);
    }

    // I1
    void CheckSources()
    {
        for (const auto &[name, contents] : e_.sources) {
            const std::string path = e_.source + "/" + name;
            if (e_.removed.count(name))
                continue;
            if (!FileExists(path))
                Broken("I1: source " + name + " is gone");
            else if (ReadFile(path) != contents.back())
                Broken("I1: source " + name + " changed");
        }
        for (const std::string &name : ListDir(e_.source)) {
            if (!e_.sources.count(name))
                Broken("I1: stray file in the source: " + name);
        }
    }

    // I4, over the whole tree the runs worked in
    void CheckTemporaries()
    {
        for (const std::string &path : TempLeftovers(e_.tree)) {
            ++f_.temporaries;
            if (e_.temporariesAllowed)
                continue;
            if (e_.removalFailed)
                placement::RemoveLeftoverTemps(paths::FolderOf(path));
            if (FileExists(path))
                Broken("I4: temporary left: " + path);
        }
    }

    void Place(const std::string &file, const std::string &output)
    {
        if (!f_.placed.insert(file).second && e_.oncePerOutput)
            Broken("I2: " + file + " is in two outputs, the second " + output);
    }

    // I2 for an archive
    void CheckArchive(const std::string &name)
    {
        const std::string path = e_.output + "/" + name;
        if (IsEmptyArchive(ReadFile(path))) {
            f_.outputs[name] = 0;
            return;
        }
        const ZipContents zip = ReadZip(path);
        if (!zip.ok) {
            Broken("I2: " + name + " is not a valid archive: " + zip.error);
            return;
        }
        f_.outputs[name] = zip.entries.size();
        std::set<std::string> seen;
        for (const ZipEntry &entry : zip.entries) {
            const std::string file = BaseName(entry.name);
            const std::string stored = e_.storePath ? e_.storedFolder + "/" + file : file;
            if (entry.name != stored)
                Broken("I2: " + name + " holds " + entry.name + ", not " + stored);
            if (!IsVersion(file, entry.data)) {
                Broken("I2: " + name + " holds " + entry.name + " that is no version of a source");
                continue;
            }
            if (!seen.insert(file).second)
                Broken("I2: " + name + " holds " + file + " twice");
            if (!IsConflictArchiveName(name)) {
                const NameParts parts = SplitFileName(file);
                const std::string home = e_.perName ? parts.baseName + ".zip" : e_.singleArchive;
                if (IsZipExtension(parts.extension) || name != home)
                    Broken("I2: " + name + " holds " + file + ", whose place is elsewhere");
            }
            Place(file, name);
        }
    }

    // I2 and I3
    void CheckOutputs()
    {
        const std::vector<std::string> present
            = IsDirectory(e_.output) ? ListDir(e_.output) : std::vector<std::string>();
        for (const std::string &name : present) {
            const std::string path = e_.output + "/" + name;
            if (IsTempName(name))
                continue; // I4
            const auto earlier = e_.earlier.find(name);
            if (earlier != e_.earlier.end()) {
                if (ReadFile(path) == earlier->second)
                    continue;
                if (Replaceable(name))
                    CheckArchive(name);
                else
                    Broken("I3: earlier file " + name + " changed");
            } else if (e_.sources.count(name) && !Replaceable(name)) {
                if (!IsVersion(name, ReadFile(path)))
                    Broken("I2: copy " + name + " differs from its source");
                else
                    Place(name, name);
                f_.outputs[name] = 1;
            } else if (EndsWith(name, ".zip") && !IsDirectory(path)) {
                CheckArchive(name);
            } else {
                Broken("I2: unexpected entry " + name + " in the output folder");
            }
        }
        for (const auto &earlier : e_.earlier) {
            if (std::find(present.begin(), present.end(), earlier.first) == present.end())
                Broken("I3: earlier file " + earlier.first + " is gone");
        }
    }
};

} // namespace

bool IsConflictArchiveName(const std::string &name)
{
    const std::string head = "conflict";
    const std::string tail = ".zip";
    if (name.size() < head.size() + tail.size() || name.rfind(head, 0) != 0
        || !EndsWith(name, tail))
        return false;
    const std::string middle = name.substr(head.size(), name.size() - head.size() - tail.size());
    return middle.empty()
        || (middle.size() > 1 && middle[0] == '_'
            && middle.find_first_not_of("0123456789", 1) == std::string::npos);
}

void ReadRunMessage(const std::string &caption, const std::string &text, RunMessages &into)
{
    if (caption == kNotArchivedCaption) {
        // "<n> files could not be archived:", then a path a line
        std::istringstream lines(text);
        std::string line;
        std::getline(lines, line);
        const long count = std::strtol(line.c_str(), nullptr, 10);
        long listed = 0;
        while (std::getline(lines, line)) {
            if (line.empty())
                continue;
            if (line == "...")
                into.broken.push_back("I5: the report left files out");
            else
                into.notArchived.insert(line);
            ++listed;
        }
        if (count != listed)
            into.broken.push_back("I5: the report counts " + std::to_string(count) + " but lists "
                                  + std::to_string(listed));
    } else if (caption == kConflictCaption) {
        // "..., <n> files were copied to\n<path>\n\n..."
        const std::string marker = " files were copied to\n";
        const std::size_t at = text.find(marker);
        const std::size_t pathStart = at == std::string::npos ? at : at + marker.size();
        const std::size_t pathEnd = text.find('\n', pathStart);
        if (at == std::string::npos || pathEnd == std::string::npos) {
            into.broken.push_back("I5: conflict message without its archive: " + text);
            return;
        }
        const std::size_t countStart = text.rfind(' ', at - 1) + 1;
        into.conflictArchives.emplace_back(text.substr(pathStart, pathEnd - pathStart),
                                           std::stoul(text.substr(countStart, at - countStart)));
    } else if (caption == kNoSubfolderCaption || caption == kUnreadableSourceCaption
               || caption == "Archive run failed") {
        into.wholeRunStopped = true;
    } else {
        into.broken.push_back("I5: unexpected message " + caption + "|" + text);
    }
}

RunMessages ReadRunMessages(const std::vector<std::pair<std::string, std::string>> &messages)
{
    RunMessages read;
    for (const auto &[caption, text] : messages)
        ReadRunMessage(caption, text, read);
    return read;
}

RunMessages ReadBatchMessages(const std::string &errors)
{
    const std::string prefix = "kelvane-batch: ";
    RunMessages read;
    std::istringstream lines(errors);
    std::string line;
    std::string caption;
    std::string text;
    bool inMessage = false;
    const auto finish = [&] {
        if (inMessage)
            ReadRunMessage(caption, text, read);
    };
    while (std::getline(lines, line)) {
        if (line.rfind(prefix, 0) == 0) {
            finish();
            caption = line.substr(prefix.size());
            text.clear();
            inMessage = true;
        } else if (inMessage) {
            text += line + "\n";
        } else {
            read.broken.push_back("unexpected output: " + line);
        }
    }
    finish();
    return read;
}

void SharedFolders::Prepare(const std::string &trialFolder, int n, bool perName,
                            const std::map<std::string, std::string> &files)
{
    folder = trialFolder;
    src = folder + "/Clips";
    out = folder + "/out";
    perNameMode = perName;
    sources = files;
    MakeDirs(src);
    MakeDirs(out);
    for (const auto &[name, content] : sources)
        WriteFile(src + "/" + name, content);
    before = {{"old.zip", "earlier old.zip"}, {"z2.zip", "earlier z2.zip"}};
    if (n % 3 == 0)
        before["conflict.zip"] = "earlier conflict.zip";
    if (!perNameMode && n % 3 == 1)
        before["Clips.zip"] = "earlier Clips.zip";
    for (const auto &[name, content] : before)
        WriteFile(out + "/" + name, content);

    settings = JobSettings {};
    settings.fileMask = "*.*";
    settings.sourceFolder = src;
    settings.targetFolder = out;
    settings.createSubFolder = 0;
    settings.keepIndividual = perNameMode ? 1 : 0;
    settings.useTimestamps = 0;
    settings.skipConflicts = 0;
    settings.storePathInZip = n % 2;
    ScopedCurrentDir here(folder);
    SaveSettings(settings);
}

RunExpectations SharedFolders::Expected(bool afterKill) const
{
    RunExpectations expected;
    expected.source = src;
    expected.output = out;
    expected.tree = folder;
    for (const auto &[name, content] : sources)
        expected.sources[name] = {content};
    expected.earlier = before;
    expected.perName = perNameMode;
    expected.singleArchive = "Clips.zip";
    expected.storePath = settings.storePathInZip != 0;
    expected.storedFolder = src.substr(1);
    expected.oncePerOutput = false;
    expected.temporariesAllowed = afterKill;
    return expected;
}

RunFindings CheckFolders(const RunExpectations &expected)
{
    return FolderCheck(expected).Run();
}

void CheckAccounted(const RunExpectations &expected, const std::vector<RunMessages> &messages,
                    bool exactCounts, RunFindings &findings)
{
    std::set<std::string> reported;
    bool wholeRunStopped = false;
    for (const RunMessages &run : messages) {
        findings.broken.insert(findings.broken.end(), run.broken.begin(), run.broken.end());
        wholeRunStopped = wholeRunStopped || run.wholeRunStopped;
        for (const std::string &path : run.notArchived) {
            if (!InFolder(path, expected.source))
                findings.broken.push_back("I5: reported outside the source: " + path);
            reported.insert(BaseName(path));
        }
        for (const auto &[path, count] : run.conflictArchives) {
            const std::string name = BaseName(path);
            const auto held = findings.outputs.find(name);
            if (!InFolder(path, expected.output) || !IsConflictArchiveName(name)
                || held == findings.outputs.end())
                findings.broken.push_back("I5: the conflict message names " + path
                                          + ", which holds no files of this run");
            else if (exactCounts ? held->second != count : held->second < count)
                findings.broken.push_back("I5: the conflict message counts " + std::to_string(count)
                                          + " files, " + name + " holds "
                                          + std::to_string(held->second));
        }
    }
    for (const auto &source : expected.sources) {
        const std::string &name = source.first;
        if (!findings.placed.count(name) && !reported.count(name) && !wholeRunStopped
            && !expected.skipped.count(name))
            findings.broken.push_back("I5: " + name + " is in no output and was not reported");
    }
}

} // namespace kelvane::test
