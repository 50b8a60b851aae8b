#pragma once

#include "engine/RunWindow.h"
#include "settings/JobSettings.h"

#include <cstddef>
#include <ctime>
#include <string>
#include <vector>

namespace kelvane {

// What one run did, filled in by the run as it goes; a front end reads it once the run
// has ended. Paths are in native form.
struct RunReport
{
    long long filesCounted = 0; // matching files found when the run began
    // Files that had reached their end when the run ended (placed, packed, skipped or
    // reported): the progress bar's position at that moment.
    long long filesDone = 0;
    bool stopped = false; // a stop request ended the run before its end

    std::vector<std::string> archivesPlaced; // in the order they got their names
    std::vector<std::string> copiesPlaced; // zip files copied as they are
    // Set before the run by a caller that checks the outputs afterwards: then, beside each
    // placed archive, the names of the source files added to it in the order of their
    // adds, and beside each copy its source's name, all in sourceFolder. Without it nothing
    // is kept per file.
    bool keepSources = false;
    std::string sourceFolder;
    std::vector<std::vector<std::string>> archiveSources;
    std::vector<std::string> copySources;
    // Source files that met a taken name, in the order they were found. Unless conflicts
    // are skipped they go to the conflict archive.
    std::vector<std::string> conflicts;
    // The conflict archive the user was told about, and how many files it holds; empty and
    // 0 when none was told (no conflicts, skipped, stopped, or it could not be made).
    std::string conflictArchive;
    std::size_t conflictsArchived = 0;
    // Source files that reached no output, each once, in the order they were found.
    std::vector<std::string> notArchived;

    std::vector<std::string> foldersNotMade; // target levels or the sub folder
    std::string unreadableSource; // the source folder, when it could not be read
    std::string unreadableReason; // and the system's reason
    std::string failure; // what ended the run early (an exception), empty otherwise

    // Whether the run told the user anything beyond its progress.
    bool HasReports() const
    {
        return !foldersNotMade.empty() || !unreadableSource.empty() || !conflictArchive.empty()
            || !notArchived.empty() || !failure.empty();
    }
};

// The worker procedure of one run, filling report as it goes.
void ArchiveRun(RunWindow &window, RunReport &report);
// The same, for a window that needs no report.
void ArchiveRun(RunWindow &window);

// Counts the files that the search of folder (native form) with mask reports: not "."
// and "..", not folders, not temporaries (names beginning with platform::kTempPrefix,
// which another run may still be writing). Sets the progress range to 0..count (clamped
// to INT_MAX) with step 1. Returns the count at full width; 0 after telling the user when
// the folder exists but cannot be read to its end.
long long CountMatchingFiles(RunWindow &window, const std::string &folder, const std::string &mask,
                             RunReport &report);
// The same, for a caller that wants the count only.
long long CountMatchingFiles(RunWindow &window, const std::string &folder, const std::string &mask);

// The run proper, with the settings and the stamp the run fixed at its start.
void ProcessFiles(RunWindow &window, const JobSettings &settings, const std::string &runStamp,
                  RunReport &report);

// Puts the window back into its idle state after any run.
void ResetAfterRun(RunWindow &window);

// Creates every missing level of the target path; shows its own message on failure.
// Both "/" and "\" separate levels; leading separators are kept ("/" for an absolute
// path, "//" for a network path), and levels are made only below TargetRootLength.
// Returns the level that could neither be made nor found, empty when every level is there.
std::string CreateTargetPath(RunWindow &window, const std::string &targetPath);

// How many bytes at the start of a target path name a place that is never made nor
// searched, below which levels are made. On Windows: a drive ("E:" of "E:\Archive"), the
// share of a network path ("\\server\share", "\\?\UNC\server\share") and the volume of a
// "\\?\" or "\\.\" path ("\\?\C:"); 0 for every other path. On POSIX always 0:
// "//server/share" is a path like any other there.
std::size_t TargetRootLength(const std::string &targetPath);

// "_%Y%m%d_%H%M%S" in local time, now or at the given time.
std::string MakeRunStamp();
std::string MakeRunStamp(std::time_t when);

// --- Values a run derives from its settings; exposed for the tests and the batch tool.

// Message captions and texts the run shows.
inline constexpr const char *kNoSubfolderCaption = "Unable to create subfolder";
inline constexpr const char *kConflictCaption = "File name conflicts!";
inline constexpr const char *kNotArchivedCaption = "Some files were not archived";
// A source folder that exists but could not be read to its end: the run writes nothing,
// and says so (text: the folder, a line feed, the system's reason).
inline constexpr const char *kUnreadableSourceCaption = "Unable to read source folder";
// The run ended on an exception (out of memory, most likely).
inline constexpr const char *kRunFailedCaption = "Archive run failed";
// At most this many paths are listed in the "not archived" message.
inline constexpr std::size_t kNotArchivedListed = 10;

// The longest base name used for a per-name archive, in bytes: with ".zip" appended the
// archive's name still fits the 255 bytes a file name may have.
inline constexpr std::size_t kMaxBaseNameBytes = 251;

// Paths fixed once at the start of a run, in native form.
struct RunPaths
{
    std::string sourceFolder; // the folder searched
    std::string fileMask; // the mask of the search
    std::string sourceName; // SourceNameOf the source folder setting (may be empty)
    std::string outputFolder; // where everything is written
    std::string singleArchive; // the archive of single-archive mode
    std::string conflictArchive; // the archive of the conflicts
};

RunPaths DeriveRunPaths(const JobSettings &settings, const std::string &runStamp);

// The last non-empty level of a folder setting: "Clips" of "D:\Clips" and of "D:\Clips\".
// Both "/" and "\" separate levels. Empty when the setting holds nothing but separators.
// On Windows a drive root names its letter: "E" of "E:\".
std::string SourceNameOf(const std::string &folderSetting);

// A bare file name split at its last ".": the extension keeps the "."; the base name is
// cut to kMaxBaseNameBytes without splitting a UTF-8 character.
struct NameParts
{
    std::string baseName;
    std::string extension;
};
NameParts SplitFileName(const std::string &name);

// Cuts text to at most maxBytes, backing off so that no UTF-8 sequence is left broken.
std::string CutAtCharBoundary(const std::string &text, std::size_t maxBytes);

// Zip files are copied, not archived: the extension is exactly ".zip" or ".ZIP".
bool IsZipExtension(const std::string &extension);

// Order of the per-name archive map: unsigned byte comparison.
bool ArchivePathLess(const std::string &a, const std::string &b);

// The text of the conflict message for count files in the given conflict archive.
std::string ConflictMessageText(std::size_t count, const std::string &conflictArchive);

// The text of the "not archived" message: the count, then the first `listed` paths, one a
// line, and "..." when there are more.
std::string NotArchivedMessageText(const std::vector<std::string> &paths,
                                   std::size_t listed = kNotArchivedListed);

} // namespace kelvane
