// What a run writes must satisfy independent zip tools, not only our own reader.

#include "tests/support/RunFixture.h"

#include <cstdlib>

namespace kelvane::test {
namespace {

class ToolCheckTest : public RunFixture
{
protected:
    static int Shell(const std::string &command) { return std::system(command.c_str()); }
};

TEST_F(ToolCheckTest, UnzipAndPythonAcceptTheArchives)
{
    if (Shell("command -v unzip >/dev/null && command -v python3 >/dev/null") != 0)
        GTEST_SKIP() << "unzip or python3 not installed";

    window.settings.keepIndividual = 1;
    window.settings.storePathInZip = 1;
    window.settings.createSubFolder = 1;
    MakeDirs(out + "/Clips");
    WriteFile(out + "/Clips/c.zip", "earlier");
    WriteFile(src + "/a.txt", std::string(100000, 'a'));
    WriteFile(src + "/a.doc", "short");
    WriteFile(src + "/b", "");
    WriteFile(src + "/c.bin", std::string("\0\1\2\3binary", 10));
    Run();
    ASSERT_EQ(window.MessageCaptions(), std::vector<std::string> {"File name conflicts!"});

    const std::string folder = out + "/Clips";
    for (const char *zip : {"a.zip", "b.zip", "conflict.zip"})
        EXPECT_EQ(Shell("unzip -tq '" + folder + "/" + zip + "' >/dev/null"), 0) << zip;

    // Python checks every CRC and compares each entry with the file it came from.
    const std::string script = tmp / "check.py";
    WriteFile(script, R"(import sys, zipfile
src = sys.argv[1]
expect = {'a.zip': ['a.doc', 'a.txt'], 'b.zip': ['b'], 'conflict.zip': ['c.bin']}
for zip_name, files in expect.items():
    with zipfile.ZipFile(sys.argv[2] + '/' + zip_name) as z:
        assert z.testzip() is None, zip_name
        names = z.namelist()
        assert names == [src.lstrip('/') + '/' + f for f in files], names
        for name, f in zip(names, files):
            assert z.read(name) == open(src + '/' + f, 'rb').read(), name
)");
    EXPECT_EQ(Shell("python3 '" + script + "' '" + src + "' '" + folder + "'"), 0);
}

} // namespace
} // namespace kelvane::test
