#pragma once

// The settings file's reader and writer in pieces that can be driven directly: the text
// rules on bytes in memory, the exact bytes of a save, and load and save under any path.
// LoadSettings and SaveSettings are these applied to kSettingsFileName.

#include "settings/JobSettings.h"

#include <string>
#include <string_view>

namespace kelvane {

// Applies the whole content of a settings file to the record: every one of the eight
// fields is set, a key the text lacks counting as the empty value (string empty, switch
// on). CR LF and a lone LF end a line, a lone CR stays in it, 0x1A ends the text, a NUL
// ends its line's text; the last line counts even without a line end. Any bytes are
// accepted; time and memory are linear in the size.
void ApplySettingsText(std::string_view fileBytes, JobSettings &settings);

// The exact bytes a save writes: eight lines "KEY value" ended by CR LF, keys in
// ascending byte order, switches as "1" or "0".
std::string FormatSettings(const JobSettings &settings);

// Reads the file at path into the record; on Windows its values are taken from the system's
// ANSI code page into UTF-8 (where that code page is UTF-8, and elsewhere, the bytes stand
// as they are). False, with the record untouched, when the path is not a regular file that
// can be opened and read.
bool LoadSettingsFile(const std::string &path, JobSettings &settings);

// Makes FormatSettings(settings) the content of the file at path, as placement::SaveFile
// does: atomically through a temporary file in the same folder, which keeps an existing
// file's permissions; a link is followed and its target written; a file that may not be
// written is left alone; in a folder where no temporary can be made, a file that may be
// written is written in place. False on any failure, with no temporary left behind and
// the reason, for the user, in why. A record that the file cannot hold (see
// UnstorableField; on Windows also a value with characters outside the system's ANSI code
// page, in which the file is written) is refused, the field named: nothing is written.
bool SaveSettingsFile(const std::string &path, const JobSettings &settings,
                      std::string *why = nullptr);

// The field of the record whose value the file cannot hold (a line break in a mask or a
// folder), named for the user; null when every value can be saved.
const char *UnstorableField(const JobSettings &settings);

} // namespace kelvane
