#pragma once

#include <cstddef>
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

} // namespace kelvane
