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

/* Starts a new archive at path. Mode 0 writes to a temporary file beside it; the archive
 * appears at its name only when ArchiveClose succeeds. Returns null on failure. */
TAMSOREL_API ArchiveHandle ArchiveOpen(const char *path, int mode);

/* Adds the file read from diskPath. time null: the file's modification time is stored.
 * option is reserved (0). entryName null: the stored name is derived from diskPath.
 * Returns false, leaving the archive valid without this entry, when the file cannot be
 * read; a null handle does nothing and returns false. */
TAMSOREL_API bool ArchiveAddFile(ArchiveHandle handle, const char *diskPath, const struct tm *time,
                                 unsigned int option, const char *entryName);

/* Finishes the archive and puts it at its name. Always sets *handle to null. Returns
 * false when the archive could not be completed; an older file at the name is then left
 * untouched. */
TAMSOREL_API bool ArchiveClose(ArchiveHandle *handle);

#ifdef __cplusplus
}
#endif

#endif
