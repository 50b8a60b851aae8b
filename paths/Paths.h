#pragma once

// Folder settings, paths and UTF-8, as every layer handles them: pure functions over
// strings, no system call. Paths are UTF-8 (on POSIX: the bytes the file system holds).

#include <cstddef>
#include <string>
#include <string_view>

namespace kelvane::paths {

// ---- Folder settings and paths ----

#ifdef _WIN32
inline constexpr char kNativeSeparator = '\\';
#else
inline constexpr char kNativeSeparator = '/';
#endif

// The characters that end a folder level in a path in native form: "/", and on Windows
// "\\" too.
#ifdef _WIN32
inline constexpr char kNativeSeparators[] = "/\\";
#else
inline constexpr char kNativeSeparators[] = "/";
#endif

// True for the characters that separate levels in a folder setting: "/" and "\".
bool IsSeparator(char c);

// A folder setting in native form: every separator becomes kNativeSeparator.
std::string NativeFolder(std::string_view folder);

// folder as a path of its own: an empty folder is the root, as JoinPath takes it.
std::string FolderOrRoot(std::string_view folder);

// folder, exactly one native separator, name. Separators at the end of folder are dropped
// first, so that a folder of "/" alone stays the root; an empty folder gives the root.
std::string JoinPath(std::string_view folder, std::string_view name);

// The folder that holds path, as a path that names it: "." for a bare name, the root
// itself for a name directly in it ("/a" gives "/"), else everything before the last
// separator ("a/b/c" gives "a/b"). The path is in native form: on POSIX only "/" ends a
// level, so "out/a\b.zip" is the file "a\b.zip" in "out".
std::string FolderOf(std::string_view path);

// The last level of path (in native form): everything after its last separator.
std::string_view BaseNameOf(std::string_view path);

// ---- UTF-8 ----

// The length of the well-formed UTF-8 sequence that starts at text[at] (1 for ASCII), or
// 0 when none does there: a stray continuation byte, an overlong form, a surrogate, a
// value past U+10FFFF, or a sequence cut short by the end of text.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t at);

// True when every character of text is well-formed UTF-8.
bool IsValidUtf8(std::string_view text);

} // namespace kelvane::paths
