#pragma once

#include "folders/FileSystem.h"

#include <string>
#include <string_view>
#include <vector>

namespace kelvane::folders {

// SearchFolder, telling a folder that could not be read from one that holds nothing.
struct FolderSearch
{
    std::vector<DirEntry> entries; // as SearchFolder gives them (all read before an error)
    // 0 when the folder was read to its end or does not exist (ENOENT, ENOTDIR: nothing to
    // archive, not a failure); else the errno of the open or the read that failed.
    int error = 0;
};

FolderSearch SearchFolderChecked(std::string_view folder, std::string_view mask);

} // namespace kelvane::folders
