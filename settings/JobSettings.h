#pragma once

#include <cstdint>
#include <string>

namespace kelvane {

// The eight settings of one archiving job, with their defaults.
struct JobSettings
{
    std::string fileMask = "*.*";
    std::string sourceFolder = "D:\\Orvel\\AVIs";
    std::string targetFolder = "D:\\Orvel\\AVIs\\Archive";
    std::int32_t createSubFolder = 1;
    std::int32_t keepIndividual = 1;
    std::int32_t useTimestamps = 0;
    std::int32_t skipConflicts = 0;
    std::int32_t storePathInZip = 1;
};

// The settings file's name; it is always addressed relative to the current directory.
inline constexpr const char *kSettingsFileName = "kelvane.ini";

// Reads "kelvane.ini" in the current directory into the record. A file that cannot be
// opened changes nothing. Never reports anything.
void LoadSettings(JobSettings &settings);

// Writes "kelvane.ini" in the current directory; an existing file is replaced only once
// the new one is complete. False on failure, with the reason, for the user, in why.
bool SaveSettings(const JobSettings &settings, std::string *why = nullptr);

} // namespace kelvane
