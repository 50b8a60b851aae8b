#pragma once

// The invariants a run keeps whatever happens to it (a failing call, a kill, another run
// on the same folders), checked on what it leaves behind:
//   I1 every source file is as it was (or as the test itself changed it);
//   I2 every file at a final name in the output folder is a complete archive whose entries
//      are source files, each in the archive where it belongs, or a complete copy of a
//      source zip file;
//   I3 every earlier file of the output folder is unchanged, but for the single and the
//      conflict archive, which a run may replace;
//   I4 no temporary file is left (after a kill: only files with the temporary prefix);
//   I5 every source file is in an archive or a copy, or named in a message of the run,
//      and every conflict message names an archive in the output folder that holds the
//      files it counts.

#include "settings/JobSettings.h"

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace kelvane::test {

struct RunExpectations
{
    std::string source; // folder
    std::string output; // the folder the archives go to
    std::string tree; // the folder below which no temporary may stay
    // Each source file's contents: as first written, then as the test changed it; the
    // last one is what the file must hold now.
    std::map<std::string, std::vector<std::string>> sources;
    std::set<std::string> removed; // source files the test removed
    std::map<std::string, std::string> earlier; // the output folder's files before the run
    bool perName = false;
    std::string singleArchive; // its name, in single mode
    // With stored paths every entry is "<storedFolder>/<file name>", else the bare name.
    bool storePath = false;
    std::string storedFolder;
    // Files that meet an earlier file and are left out without a word (skipped conflicts).
    std::set<std::string> skipped;
    // Whether a file may stand in two outputs: when an earlier run (a killed one, or
    // another at the same time) placed it first, this run makes it a conflict.
    bool oncePerOutput = true;
    bool temporariesAllowed = false; // a killed run may leave them
    // A removal was made to fail: a temporary may stay when it is a leftover that the
    // next run's cleanup removes.
    bool removalFailed = false;
};

// What the runs said in their message boxes (or on standard error).
struct RunMessages
{
    std::set<std::string> notArchived; // the paths listed
    // (the archive named, the number of files it says it holds) of each conflict message
    std::vector<std::pair<std::string, std::size_t>> conflictArchives;
    bool wholeRunStopped = false; // a message that the run could not start or failed
    std::vector<std::string> broken; // messages that break I5 by their form
};
void ReadRunMessage(const std::string &caption, const std::string &text, RunMessages &into);
RunMessages ReadRunMessages(const std::vector<std::pair<std::string, std::string>> &messages);
// The batch program's standard error: "kelvane-batch: <caption>" lines, each followed by
// the message's text.
RunMessages ReadBatchMessages(const std::string &errors);

struct RunFindings
{
    std::vector<std::string> broken; // each broken invariant, as a line of text
    std::set<std::string> placed; // source files found in archives and copies
    // Every archive and copy at a final name (earlier files left as they were not
    // counted) -> the files it holds (1 for a copy).
    std::map<std::string, std::size_t> outputs;
    int temporaries = 0;
};

// I1 to I4 (a killed run is checked against these alone).
RunFindings CheckFolders(const RunExpectations &expected);
// I5 against the messages of every run on these folders, adding to findings.broken. With
// exactCounts a conflict archive holds exactly the files its message counts, else at least
// as many (a later run may have replaced it with one holding more).
void CheckAccounted(const RunExpectations &expected, const std::vector<RunMessages> &messages,
                    bool exactCounts, RunFindings &findings);

// The folders of a trial in which a job runs more than once on the same source and target
// (a killed run and the next, two runs at once): source "Clips" and target "out" in the
// trial's folder. The target holds an earlier old.zip and z2.zip, which make conflicts;
// every third trial an earlier conflict.zip, and in single mode another third an earlier
// Clips.zip, which a run may replace. Settings: every file, conflicts packed, no sub
// folder, no stamps, paths stored in odd trials.
struct SharedFolders
{
    std::string folder;
    std::string src;
    std::string out;
    bool perNameMode = false;
    std::map<std::string, std::string> sources; // name -> content
    std::map<std::string, std::string> before; // the target's files that must stay
    JobSettings settings;

    // Writes the sources and the earlier files for trial n, and the settings file into
    // the trial's folder.
    void Prepare(const std::string &trialFolder, int n, bool perName,
                 const std::map<std::string, std::string> &files);
    // I1 to I5 as they apply here: a file may stand in two outputs, as a run makes a
    // conflict of what another placed first.
    RunExpectations Expected(bool afterKill = false) const;
};

// "conflict.zip" or "conflict_<n>.zip"
bool IsConflictArchiveName(const std::string &name);

} // namespace kelvane::test
