#include "tests/support/TestSupport.h"

#include <archive.h>
#include <archive_entry.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ftw.h>
#include <random>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>

namespace kelvane::test {

namespace {

int RemoveOne(const char *path, const struct stat *, int, struct FTW *)
{
    ::remove(path);
    return 0;
}

} // namespace

TempDir::TempDir()
{
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/kelvane-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!::mkdtemp(buf.data()))
        throw std::runtime_error("mkdtemp failed: " + std::string(std::strerror(errno)));
    path_ = buf.data();
}

TempDir::~TempDir()
{
    // Restore permissions a test may have taken away, so the folder can be removed.
    nftw(
        path_.c_str(),
        [](const char *p, const struct stat *st, int type, struct FTW *) {
            if (type == FTW_D || type == FTW_DNR)
                ::chmod(p, (st ? st->st_mode : 0) | S_IRWXU);
            return 0;
        },
        64, FTW_PHYS);
    nftw(path_.c_str(), RemoveOne, 64, FTW_DEPTH | FTW_PHYS);
}

std::string TempDir::operator/(const std::string &relative) const
{
    return path_ + "/" + relative;
}

ZipContents ReadZip(const std::string &path, bool withData)
{
    ZipContents result;
    archive *a = archive_read_new();
    archive_read_support_format_zip_seekable(a);
    if (archive_read_open_filename(a, path.c_str(), 1 << 16) != ARCHIVE_OK) {
        result.error = archive_error_string(a) ? archive_error_string(a) : "open failed";
        archive_read_free(a);
        return result;
    }
    archive_entry *entry = nullptr;
    int rc;
    bool failed = false;
    while ((rc = archive_read_next_header(a, &entry)) == ARCHIVE_OK) {
        ZipEntry e;
        e.name = archive_entry_pathname(entry) ? archive_entry_pathname(entry) : "";
        e.mtime = archive_entry_mtime(entry);
        char buf[1 << 16];
        la_ssize_t n;
        while ((n = archive_read_data(a, buf, sizeof buf)) > 0) {
            e.size += n;
            if (withData)
                e.data.append(buf, static_cast<std::size_t>(n));
        }
        if (n < 0) {
            failed = true;
            result.error = archive_error_string(a) ? archive_error_string(a) : "read failed";
            result.entries.push_back(std::move(e));
            break;
        }
        result.entries.push_back(std::move(e));
    }
    if (!failed && rc != ARCHIVE_EOF) {
        failed = true;
        result.error = archive_error_string(a) ? archive_error_string(a) : "header failed";
    }
    result.ok = !failed;
    archive_read_free(a);
    return result;
}

} // namespace kelvane::test
