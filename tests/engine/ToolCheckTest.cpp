// What a run writes must satisfy independent zip tools (7-Zip, unzip, Python's zipfile),
// not only our own reader: the names as stored and the data of each entry.

#include "tests/support/RunFixture.h"

namespace kelvane::test {
namespace {

using ToolCheckTest = RunFixture;

TEST_F(ToolCheckTest, UnzipAndPythonAcceptTheArchives)
{
    window.settings.keepIndividual = 1;
    window.settings.storePathInZip = 1;
    window.settings.createSubFolder = 1;
    MakeDirs(out + "/Clips");
    WriteFile(out + "/Clips/c.zip", "earlier");
    const std::string text(100000, 'a');
    const std::string binary("\0\1\2\3binary", 10);
    WriteFile(src + "/a.txt", text);
    WriteFile(src + "/a.doc", "short");
    WriteFile(src + "/b", "");
    WriteFile(src + "/c.bin", binary);
    Run();
    ASSERT_EQ(window.MessageCaptions(), std::vector<std::string> {"File name conflicts!"});

    const std::string folder = out + "/Clips/";
    const std::string stored = StoredSource() + "/";
    ExpectReadersAgree(folder + "a.zip", {{stored + "a.doc", "short"}, {stored + "a.txt", text}});
    ExpectReadersAgree(folder + "b.zip", {{stored + "b", ""}});
    ExpectReadersAgree(folder + "conflict.zip", {{stored + "c.bin", binary}});
}

} // namespace
} // namespace kelvane::test
