#pragma once

// Property checks over arbitrary bytes, shared by the libFuzzer drivers and the replay
// tests. Each check returns an empty string when every property holds, else a line that
// begins with a short tag ("roundtrip:", "reference:", ...) and says what broke, so that a
// driver can tell a known finding from a new one.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kelvane::fuzz {

// The settings reader: any bytes are read, every field comes from one line of the input,
// and saving what was read and reading it back gives the same eight fields.
std::string CheckSettingsText(const std::uint8_t *data, std::size_t size);

// The mask matcher against a table-driven reference. The input is the mask, a NUL, then
// the name (no NUL: the name is empty).
std::string CheckMaskMatch(const std::uint8_t *data, std::size_t size);

// The reference the mask check compares with: every (mask position, name position) pair
// decided once, from the end backwards.
bool ReferenceMatchMask(std::string_view mask, std::string_view name);

// The AVI clip reader: no crash, and a loaded clip is consistent (frame sizes, palette,
// key frames); a failed load leaves the clip empty; loading twice gives the same clip.
std::string CheckClip(const std::uint8_t *data, std::size_t size);

// The zip writer's stored names. The input is the disk path, a NUL, then the entry name
// (no NUL: no entry name, the disk path is used). The result is relative, without "\",
// empty, "." or ".." levels and without a leading drive, and names without such levels
// are stored as given with "\" turned into "/".
std::string CheckEntryName(const std::uint8_t *data, std::size_t size);

// Bytes as printable text for failure messages: non-printable bytes as \xNN, cut after
// a few hundred characters.
std::string Printable(std::string_view bytes);

} // namespace kelvane::fuzz
