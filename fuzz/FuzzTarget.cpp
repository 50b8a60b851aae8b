// The libFuzzer driver of one check; the build names the check in KELVANE_FUZZ_CHECK.
// A failure aborts so that libFuzzer saves the input. Tags listed (comma separated) in
// the environment variable KELVANE_FUZZ_KNOWN are findings already reported: they are
// printed once and the search goes on past them.

#include "fuzz/FuzzChecks.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool IsKnown(const std::string &failure)
{
    const char *known = std::getenv("KELVANE_FUZZ_KNOWN");
    const std::size_t colon = failure.find(':');
    if (known == nullptr || colon == std::string::npos)
        return false;
    const std::string list = std::string(",") + known + ",";
    return list.find("," + failure.substr(0, colon) + ",") != std::string::npos;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string failure = kelvane::fuzz::KELVANE_FUZZ_CHECK(data, size);
    if (failure.empty())
        return 0;
    if (IsKnown(failure)) {
        static bool shown = false;
        if (!shown)
            std::fprintf(stderr, "known finding, going on: %s\n", failure.c_str());
        shown = true;
        return 0;
    }
    std::fprintf(stderr, "CHECK FAILED: %s\n", failure.c_str());
    std::abort();
}
