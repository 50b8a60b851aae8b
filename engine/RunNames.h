#pragma once

// The names and paths a run derives from its settings and its source files.

#include "settings/JobSettings.h"

#include <cstddef>
#include <string>

namespace kelvane {

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

} // namespace kelvane
