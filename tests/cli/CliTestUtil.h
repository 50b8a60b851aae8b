#pragma once

#include "settings/JobSettings.h"
#include "tests/support/TestSupport.h"

#include <string>

namespace kelvane::test {

// A settings file as the window saves it, written by hand here so that the tests do not
// lean on the settings writer: eight "KEY value" lines with CR LF, keys in byte order.
inline std::string IniText(const JobSettings &s)
{
    auto line = [](const char *key, const std::string &value) {
        return std::string(key) + " " + value + "\r\n";
    };
    auto sw = [](std::int32_t v) { return std::string(v ? "1" : "0"); };
    return line("CREATE_SUB_FOLDER", sw(s.createSubFolder)) + line("FILE_MASK", s.fileMask)
        + line("KEEP_INDIVIDUAL", sw(s.keepIndividual))
        + line("SKIP_CONFLICTS", sw(s.skipConflicts)) + line("SOURCE_FOLDER", s.sourceFolder)
        + line("STORE_PATH_IN_ZIP", sw(s.storePathInZip)) + line("TARGET_FOLDER", s.targetFolder)
        + line("USE_TIMESTAMPS", sw(s.useTimestamps));
}

// Settings for a job from src to dst in the folder: every file, bare names in the
// archives, no sub folder, no stamps, conflicts packed.
inline JobSettings PlainJob(const TempDir &dir, bool keepIndividual)
{
    JobSettings s;
    s.fileMask = "*.*";
    s.sourceFolder = dir / "src";
    s.targetFolder = dir / "dst";
    s.createSubFolder = 0;
    s.keepIndividual = keepIndividual ? 1 : 0;
    s.useTimestamps = 0;
    s.skipConflicts = 0;
    s.storePathInZip = 0;
    return s;
}

// Counts occurrences of needle in text.
inline int CountOf(const std::string &text, const std::string &needle)
{
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}

} // namespace kelvane::test
