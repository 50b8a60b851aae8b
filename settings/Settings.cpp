#include "settings/JobSettings.h"
#include "settings/SettingsFile.h"

#include "io/Io.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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

#ifndef _WIN32
// Follows symbolic links at path until it names something that is not a link (or
// nothing yet). False when a link cannot be read or the chain does not end.
bool ResolveLinks(std::string &path)
{
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st;
        if (io::Lstat(path.c_str(), &st) != 0)
            return errno == ENOENT; // a new file will be made there
        if (!S_ISLNK(st.st_mode))
            return true;

        std::string target(st.st_size > 0 ? static_cast<std::size_t>(st.st_size) + 1 : 256, '\0');
        for (;;) {
            const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
            if (n < 0)
                return false;
            if (static_cast<std::size_t>(n) < target.size()) {
                target.resize(static_cast<std::size_t>(n));
                break;
            }
            target.resize(target.size() * 2); // the link grew since lstat
        }
        if (target.empty())
            return false;
        if (target[0] == '/') {
            path = target;
        } else {
            const std::size_t slash = path.rfind('/');
            path = slash == std::string::npos ? target : path.substr(0, slash + 1) + target;
        }
    }
    return false;
}
#endif

bool WriteAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = io::Write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

// A run removes temporary files that nobody holds locked, the leftovers of killed runs;
// the settings file's temporary is locked from its creation until it has its name. False
// when the file was taken by such a cleanup before the lock.
bool HoldTemp(int fd, const std::string &tempPath)
{
    if (io::Flock(fd, LOCK_EX | LOCK_NB) != 0)
        return errno != EWOULDBLOCK; // a file system without locks: written unguarded
    struct stat held;
    struct stat named;
    return io::Fstat(fd, &held) == 0 && io::Lstat(tempPath.c_str(), &named) == 0
        && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

// Creates a new, empty file next to target under a name no one else uses, locked; the
// process's umask applies as to any new file. -1 on failure.
int CreateTempBeside(const std::string &target, std::string &tempPath)
{
    const std::size_t slash = target.find_last_of(io::kPathSeparators);
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    static std::atomic<unsigned> counter {0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        const auto ticks = static_cast<unsigned long long>(
            std::chrono::steady_clock::now().time_since_epoch().count());
        tempPath = folder + kSettingsTempPrefix + std::to_string(::getpid()) + "-"
            + std::to_string(++counter) + "-" + std::to_string(ticks % 1000000007ULL);
        const int fd = io::Open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 && HoldTemp(fd, tempPath))
            return fd;
        if (fd >= 0) {
            io::Close(fd); // taken by a cleanup before the lock: make another
            continue;
        }
        if (errno != EEXIST)
            return -1;
    }
    return -1;
}

// Makes a completed rename durable; a failure here loses nothing that is already written.
void SyncFolderOf(const std::string &path)
{
    const std::size_t slash = path.find_last_of(io::kPathSeparators);
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
    const int fd = io::Open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        io::Fsync(fd);
        io::Close(fd);
    }
}

} // namespace

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
    // Non-blocking so that a FIFO under the name cannot stall the open; it is refused below.
    const int fd = io::Open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return false;
    struct stat st;
    if (io::Fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        io::Close(fd);
        return false;
    }

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
    return true;
}

bool SaveSettingsFile(const std::string &path, const JobSettings &settings)
{
    // Writing through a link is what saving over it would do; the link itself stays.
    std::string target = path;
#ifndef _WIN32
    if (!ResolveLinks(target))
        return false;
#endif

    struct stat old;
    const bool existed = io::Stat(target.c_str(), &old) == 0;
    if (existed) {
        // Only a regular file is replaced, and only one the user may write: a settings
        // file made read-only stays as it is.
#ifdef _WIN32
        const bool writable = (old.st_mode & S_IWUSR) != 0; // not marked read-only
#else
        const bool writable = ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) == 0;
#endif
        if (!S_ISREG(old.st_mode) || !writable)
            return false;
    }

    std::string tempPath;
    int fd = CreateTempBeside(target, tempPath);
    if (fd < 0)
        return false;

    bool ok = true;
#ifndef _WIN32 // a new file there has the folder's permissions, as the old one had
    if (existed) {
        if (old.st_uid != ::geteuid() || old.st_gid != ::getegid()) {
            // Keeps the owner where the process may (as root); otherwise the saver owns it.
            [[maybe_unused]] const int ignored = ::fchown(fd, old.st_uid, old.st_gid);
        }
        ok = ::fchmod(fd, old.st_mode & 07777) == 0;
    }
#endif
    ok = ok && WriteAll(fd, FormatSettings(settings)) && io::Fsync(fd) == 0;
    // fd keeps the lock until the file has its name or is gone; the data is synced.
    ok = ok && io::Rename(tempPath.c_str(), target.c_str()) == 0;
    if (!ok)
        io::Unlink(tempPath.c_str());
    io::Close(fd);
    if (!ok)
        return false;
    SyncFolderOf(target);
    return true;
}

void LoadSettings(JobSettings &settings)
{
    LoadSettingsFile(kSettingsFileName, settings);
}

void SaveSettings(const JobSettings &settings)
{
    SaveSettingsFile(kSettingsFileName, settings);
}

} // namespace kelvane
