#include "fuzz/FuzzChecks.h"

#include "settings/JobSettings.h"
#include "settings/SettingsFile.h"

#include <algorithm>

namespace kelvane::fuzz {

namespace {

// A record whose every field differs from anything a read can give back unchanged, to
// show that a read sets all eight fields and keeps nothing of what was there.
JobSettings Scrambled()
{
    JobSettings s;
    s.fileMask = s.sourceFolder = s.targetFolder = "\n";
    s.createSubFolder = s.keepIndividual = s.useTimestamps = s.skipConflicts = s.storePathInZip = 7;
    return s;
}

std::string CompareRecords(const char *what, const JobSettings &a, const JobSettings &b)
{
    for (const auto &[field, member] : {std::pair("fileMask", &JobSettings::fileMask),
                                        {"sourceFolder", &JobSettings::sourceFolder},
                                        {"targetFolder", &JobSettings::targetFolder}}) {
        if (a.*member != b.*member)
            return std::string(what) + ": " + field + " " + Printable(a.*member) + " became "
                + Printable(b.*member);
    }
    for (const auto &[field, member] : {std::pair("createSubFolder", &JobSettings::createSubFolder),
                                        {"keepIndividual", &JobSettings::keepIndividual},
                                        {"useTimestamps", &JobSettings::useTimestamps},
                                        {"skipConflicts", &JobSettings::skipConflicts},
                                        {"storePathInZip", &JobSettings::storePathInZip}}) {
        if (a.*member != b.*member)
            return std::string(what) + ": " + field + " " + std::to_string(a.*member) + " became "
                + std::to_string(b.*member);
    }
    return {};
}

// What the read rules let into a string field: a piece of one line, so no line end, no
// NUL and no 0x1A, and nothing longer than the input.
std::string CheckValue(const char *field, const std::string &value, std::size_t inputSize)
{
    if (value.size() > inputSize)
        return std::string("bound: ") + field + " is longer than the whole input";
    if (value.find_first_of(std::string_view("\n\0\x1a", 3)) != std::string::npos)
        return std::string("value: ") + field
            + " holds a line end, NUL or 0x1A: " + Printable(value);
    if (!value.empty() && value.front() == ' ')
        return std::string("value: ") + field + " starts with a space: " + Printable(value);
    return {};
}

} // namespace

std::string CheckSettingsText(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);

    JobSettings loaded;
    ApplySettingsText(input, loaded);

    JobSettings overScrambled = Scrambled();
    ApplySettingsText(input, overScrambled);
    if (std::string failure = CompareRecords("complete", loaded, overScrambled); !failure.empty())
        return failure;

    for (const auto &[field, value] :
         {std::pair<const char *, const std::string &>("fileMask", loaded.fileMask),
          {"sourceFolder", loaded.sourceFolder},
          {"targetFolder", loaded.targetFolder}}) {
        if (std::string failure = CheckValue(field, value, size); !failure.empty())
            return failure;
    }
    for (std::int32_t value : {loaded.createSubFolder, loaded.keepIndividual, loaded.useTimestamps,
                               loaded.skipConflicts, loaded.storePathInZip}) {
        if (value != 0 && value != 1)
            return "switch: a switch read as " + std::to_string(value);
    }

    // Whatever a read gives, a save keeps: values never start with a space and never hold
    // a line end, so the identity holds for every input, with no exception to make.
    const std::string saved = FormatSettings(loaded);
    if (std::count(saved.begin(), saved.end(), '\n') != 8)
        return "format: the save is not eight lines: " + Printable(saved);
    JobSettings reloaded;
    ApplySettingsText(saved, reloaded);
    if (std::string failure = CompareRecords("roundtrip", loaded, reloaded); !failure.empty())
        return failure;
    if (FormatSettings(reloaded) != saved)
        return "roundtrip: a second save differs from the first";
    return {};
}

} // namespace kelvane::fuzz
