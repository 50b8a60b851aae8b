#include "folders/FileSystem.h"
#include "folders/FolderSearch.h"

#include "io/Io.h"
#include "io/Win32.h"

namespace kelvane::folders {

// The one-level search with Windows' own wildcards ("*.*" also takes names without a dot,
// letter case is the file system's), in the order the search reports them. Links count as
// what they lead to; one that leads nowhere is left out.
FolderSearch SearchFolderChecked(std::string_view folder, std::string_view mask)
{
    FolderSearch search;
    // A mask names files of this folder only: no level, no drive, no stream.
    if (mask.empty() || mask.find_first_of("\\/:") != std::string_view::npos)
        return search;
    const std::string pattern = paths::JoinPath(folder, mask);
    WIN32_FIND_DATAW found;
    const HANDLE find = FindFirstFileExW(io::WidePath(pattern).c_str(), FindExInfoBasic, &found,
                                         FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH);
    if (find == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        // Nothing matches, or no such folder: nothing to archive, not a failure.
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND
            && error != ERROR_NO_MORE_FILES && error != ERROR_DIRECTORY)
            search.error = io::ErrnoFromWin32(error);
        return search;
    }
    do {
        DirEntry entry {io::Utf8(found.cFileName), false};
        const DWORD attributes = found.dwFileAttributes;
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) && entry.name != "."
            && entry.name != "..") {
            // A link: what it leads to, if anything (io::Stat follows it).
            struct stat target;
            if (io::Stat(paths::JoinPath(folder, entry.name).c_str(), &target) != 0)
                continue;
            entry.isDirectory = S_ISDIR(target.st_mode);
        } else {
            entry.isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        }
        search.entries.push_back(std::move(entry));
    } while (FindNextFileW(find, &found));
    const DWORD error = GetLastError();
    if (error != ERROR_NO_MORE_FILES)
        search.error = io::ErrnoFromWin32(error);
    FindClose(find);
    // Not sorted: the files are taken in the order the system's search reports them. The
    // snapshot is kept for the whole run: not the room it grew into (up to twice its size).
    search.entries.shrink_to_fit();
    return search;
}

} // namespace kelvane::folders
