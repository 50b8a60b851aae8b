#pragma once

// The captions and texts of the messages a run shows its user.

#include <cstddef>
#include <string>
#include <vector>

namespace kelvane {

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

// The text of the conflict message for count files in the given conflict archive.
std::string ConflictMessageText(std::size_t count, const std::string &conflictArchive);

// The text of the "not archived" message: the count, then the first `listed` paths, one a
// line, and "..." when there are more.
std::string NotArchivedMessageText(const std::vector<std::string> &paths,
                                   std::size_t listed = kNotArchivedListed);

} // namespace kelvane
