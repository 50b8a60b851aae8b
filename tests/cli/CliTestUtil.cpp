#include "tests/cli/CliTestUtil.h"

namespace kelvane::test {

bool NoTempLeftovers(const std::string &dir)
{
    for (const std::string &name : ListDir(dir)) {
        if (name.find(".kelvane-tmp-") != std::string::npos)
            return false;
        const std::string path = dir + "/" + name;
        if (IsDirectory(path) && !NoTempLeftovers(path))
            return false;
    }
    return true;
}

} // namespace kelvane::test
