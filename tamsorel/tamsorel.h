#ifndef TAMSOREL_H
#define TAMSOREL_H

/* The archive back end: writes zip archives. A C interface, so that the library can be
 * replaced without rebuilding its callers. */

#include <stdbool.h>
#include <time.h>

#if defined(_WIN32)
#define TAMSOREL_API __declspec(dllexport)
#else
#define TAMSOREL_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TamsorelArchive *ArchiveHandle;

/* Starts a new archive at path. The archive is written to a temporary file beside it
 * (".kelvane-tmp-" and a random suffix, in the same folder) and appears at its name only
 * when ArchiveClose succeeds. The folder must exist already.
 * mode 0: ArchiveClose replaces a file already at path.
 * mode 1: never replace: ArchiveClose fails, leaving the file at path as it was.
 * Other modes are refused. Returns null on failure (folder missing or not writable, bad
 * mode, null or empty path). */
TAMSOREL_API ArchiveHandle ArchiveOpen(const char *path, int mode);

/* Adds the regular file read from diskPath, read to its end before the call returns, in a
 * bounded amount of memory (zip64 as sizes and offsets require). Its data is deflated, or stored
 * when deflate would hardly shrink it (an empty file, media). Compressing and writing may go on
 * in the background after the call has returned, in the order of the adds. time null: the file's
 * modification time is stored; otherwise the given local time (normalised as mktime does).
 * option is reserved (0) and ignored. entryName null: the stored name is derived from diskPath.
 * Either way "/" and "\" both separate levels; a leading drive ("C:"), the root and every empty,
 * "." and ".." level are dropped, and the rest is joined with "/", so no stored name is absolute
 * or climbs out. When nothing is left, the bare name of diskPath is stored; when that is empty
 * too, the add fails. Names that are valid UTF-8 with non-ASCII characters are flagged as UTF-8;
 * others are stored as their bytes. Returns false, leaving the archive valid without this entry,
 * when the file cannot be read (missing, not a regular file, read error part-way). A write error
 * (disk full) makes the archive unusable: the close fails, and so does every add after the
 * error has been met (the add whose data met it may have returned true already). A null handle
 * does nothing and returns false. */
TAMSOREL_API bool ArchiveAddFile(ArchiveHandle handle, const char *diskPath, const struct tm *time,
                                 unsigned int option, const char *entryName);

/* Waits for the entries still being compressed and written (by threads of the archive's own,
 * which end here), finishes the archive (central directory, end records, flushed and synced
 * to disk) and puts it at its name. The folder is not synced: a caller that places many
 * archives syncs it once when done, so that the new names survive a power loss too (until
 * then a crash can lose the name, never leave an incomplete archive at it). Always sets *handle to
 * null and frees the archive. Returns false when the archive could not be completed or placed; the
 * temporary file is then removed and an older file at the name is left untouched. A null handle (or
 * a null pointer to one) does nothing and returns false. */
TAMSOREL_API bool ArchiveClose(ArchiveHandle *handle);

#ifdef __cplusplus
}
#endif

#endif
