#include "settings/JobSettings.h"
#include "settings/SettingsFile.h"

#include "io/Io.h"
#include "placement/Placement.h"

#include <cerrno>
#include <cstddef>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <utility>

#ifdef _WIN32
#include "io/Win32.h"
#endif

namespace kelvane {

namespace {

// The characters that cannot be part of a key.
constexpr std::string_view kWhiteSpace = " \t\n\v\f\r";

// The keys in the order a save writes them (ascending byte order), each with its field.
enum Slot {
    kCreateSubFolder,
    kFileMask,
    kKeepIndividual,
    kSkipConflicts,
    kSourceFolder,
    kStorePathInZip,
    kTargetFolder,
    kUseTimestamps,
    kSlotCount
};

constexpr std::string_view kKeys[kSlotCount] = {
    "CREATE_SUB_FOLDER", "FILE_MASK",         "KEEP_INDIVIDUAL", "SKIP_CONFLICTS",
    "SOURCE_FOLDER",     "STORE_PATH_IN_ZIP", "TARGET_FOLDER",   "USE_TIMESTAMPS",
};

std::int32_t SwitchFromValue(std::string_view value)
{
    return value == "0" ? 0 : 1;
}

const char *ValueFromSwitch(std::int32_t value)
{
    return value != 0 ? "1" : "0";
}

// One line without its line end: the key is the first run of non-white-space, the value
// starts right behind it, after any spaces.
void ApplyLine(std::string_view line, std::string_view (&values)[kSlotCount])
{
    // Whatever follows a NUL on its line is not part of the text.
    if (const std::size_t nul = line.find('\0'); nul != std::string_view::npos)
        line = line.substr(0, nul);

    const std::size_t keyStart = line.find_first_not_of(kWhiteSpace);
    if (keyStart == std::string_view::npos)
        return; // blank line: the empty key, which no field has
    std::size_t keyEnd = line.find_first_of(kWhiteSpace, keyStart);
    if (keyEnd == std::string_view::npos)
        keyEnd = line.size();
    const std::string_view key = line.substr(keyStart, keyEnd - keyStart);

    std::size_t valueStart = keyEnd;
    while (valueStart < line.size() && line[valueStart] == ' ')
        ++valueStart;

    for (int slot = 0; slot < kSlotCount; ++slot) {
        if (kKeys[slot] == key) {
            values[slot] = line.substr(valueStart); // a later line replaces an earlier one
            return;
        }
    }
}

// A failed save's reason, for the user; always false.
bool Failed(std::string *why, const std::string &reason)
{
    if (why != nullptr)
        *why = reason;
    return false;
}

// The file's text is in the system's ANSI code page on Windows, as it has always been there;
// inside, every string is UTF-8. Elsewhere, and where the code page is UTF-8, the bytes are
// taken as they stand.
#ifdef _WIN32
bool CodePageIsUtf8()
{
    return GetACP() == CP_UTF8;
}

// A value of the file, in the code page, as UTF-8.
std::string FromFileText(const std::string &bytes)
{
    if (bytes.empty() || CodePageIsUtf8())
        return bytes;
    const std::wstring wide = io::Wide(bytes, CP_ACP);
    return io::Utf8(wide);
}

// A value for the file, in the code page; false when the code page cannot hold one of its
// characters (no look-alike stands in for it: a folder so named would be another one).
bool ToFileText(const std::string &utf8, std::string &bytes)
{
    if (utf8.empty() || CodePageIsUtf8()) {
        bytes = utf8;
        return true;
    }
    const std::wstring wide = io::Wide(utf8);
    BOOL usedDefault = FALSE;
    const int size
        = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(),
                              static_cast<int>(wide.size()), nullptr, 0, nullptr, &usedDefault);
    if (size <= 0 || usedDefault)
        return false;
    bytes.assign(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide.data(), static_cast<int>(wide.size()),
                        bytes.data(), size, nullptr, &usedDefault);
    return !usedDefault;
}
#endif

} // namespace

const char *UnstorableField(const JobSettings &settings)
{
    // A line break would end the value's line, and the rest would be read as other keys.
    const auto holdsBreak
        = [](const std::string &value) { return value.find_first_of("\r\n") != std::string::npos; };
    if (holdsBreak(settings.fileMask))
        return "file name mask";
    if (holdsBreak(settings.sourceFolder))
        return "source folder";
    if (holdsBreak(settings.targetFolder))
        return "target folder";
    return nullptr;
}

void ApplySettingsText(std::string_view fileBytes, JobSettings &settings)
{
    if (const std::size_t eot = fileBytes.find('\x1a'); eot != std::string_view::npos)
        fileBytes = fileBytes.substr(0, eot);

    std::string_view values[kSlotCount] = {}; // a key the text lacks reads as empty
    std::size_t pos = 0;
    while (pos < fileBytes.size()) {
        const std::size_t lf = fileBytes.find('\n', pos);
        std::string_view line;
        if (lf == std::string_view::npos) {
            line = fileBytes.substr(pos); // the last line counts without a line end too
            pos = fileBytes.size();
        } else {
            line = fileBytes.substr(pos, lf - pos);
            if (!line.empty() && line.back() == '\r')
                line.remove_suffix(1);
            pos = lf + 1;
        }
        ApplyLine(line, values);
    }

    settings.fileMask = std::string(values[kFileMask]);
    settings.sourceFolder = std::string(values[kSourceFolder]);
    settings.targetFolder = std::string(values[kTargetFolder]);
    settings.createSubFolder = SwitchFromValue(values[kCreateSubFolder]);
    settings.keepIndividual = SwitchFromValue(values[kKeepIndividual]);
    settings.useTimestamps = SwitchFromValue(values[kUseTimestamps]);
    settings.skipConflicts = SwitchFromValue(values[kSkipConflicts]);
    settings.storePathInZip = SwitchFromValue(values[kStorePathInZip]);
}

std::string FormatSettings(const JobSettings &settings)
{
    std::string_view values[kSlotCount];
    values[kCreateSubFolder] = ValueFromSwitch(settings.createSubFolder);
    values[kFileMask] = settings.fileMask;
    values[kKeepIndividual] = ValueFromSwitch(settings.keepIndividual);
    values[kSkipConflicts] = ValueFromSwitch(settings.skipConflicts);
    values[kSourceFolder] = settings.sourceFolder;
    values[kStorePathInZip] = ValueFromSwitch(settings.storePathInZip);
    values[kTargetFolder] = settings.targetFolder;
    values[kUseTimestamps] = ValueFromSwitch(settings.useTimestamps);

    std::string out;
    for (int slot = 0; slot < kSlotCount; ++slot) {
        out += kKeys[slot];
        out += ' ';
        out += values[slot];
        out += "\r\n";
    }
    return out;
}

bool LoadSettingsFile(const std::string &path, JobSettings &settings)
{
    // A FIFO under the name cannot stall the open, and is refused.
    struct stat st;
    const int fd = io::OpenRegular(path.c_str(), O_RDONLY, &st);
    if (fd < 0)
        return false;

    std::string bytes;
    std::size_t used = 0;
    bytes.resize(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 4096);
    for (;;) {
        if (used == bytes.size())
            bytes.resize(bytes.size() * 2); // the file grew since fstat
        const ssize_t n = io::Read(fd, bytes.data() + used, bytes.size() - used);
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            io::Close(fd);
            return false; // a half-read file must not count as a short one
        }
        used += static_cast<std::size_t>(n);
    }
    io::Close(fd);
    bytes.resize(used);

    ApplySettingsText(bytes, settings);
#ifdef _WIN32
    // Value by value, after the lines are split: a stray lead byte at a line's end must not
    // take the line break with it.
    for (std::string *value : {&settings.fileMask, &settings.sourceFolder, &settings.targetFolder})
        *value = FromFileText(*value);
#endif
    return true;
}

bool SaveSettingsFile(const std::string &path, const JobSettings &settings, std::string *why)
{
    if (const char *field = UnstorableField(settings))
        return Failed(why,
                      std::string("The ") + field
                          + " contains a line break, which the settings file cannot hold.");
#ifdef _WIN32
    JobSettings stored = settings;
    const std::pair<const char *, std::string JobSettings::*> texts[] = {
        {"file name mask", &JobSettings::fileMask},
        {"source folder", &JobSettings::sourceFolder},
        {"target folder", &JobSettings::targetFolder},
    };
    for (const auto &[field, member] : texts)
        if (!ToFileText(settings.*member, stored.*member))
            return Failed(why,
                          std::string("The ") + field
                              + " contains characters outside the system's code page, which "
                                "the settings file cannot hold.");
#else
    const JobSettings &stored = settings;
#endif
    if (const std::error_code error = placement::SaveFile(path, FormatSettings(stored)))
        return Failed(why, error.message());
    return true;
}

void LoadSettings(JobSettings &settings)
{
    LoadSettingsFile(kSettingsFileName, settings);
}

bool SaveSettings(const JobSettings &settings, std::string *why)
{
    return SaveSettingsFile(kSettingsFileName, settings, why);
}

} // namespace kelvane
