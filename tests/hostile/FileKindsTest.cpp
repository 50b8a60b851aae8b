// Things in the source folder that are not regular files: a run must neither hang on them
// nor put them into an archive. CTest gives these tests a time limit.

#include "tests/hostile/HostileRun.h"

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace kelvane::test {
namespace {

class SpecialFilesTest : public HostileRun
{
protected:
    void SetUp() override
    {
        HostileRun::SetUp();
        Source("a.txt");
        Source("b.zip"); // a real zip file of the user's: copied
        ASSERT_EQ(::mkfifo((src + "/fifo.txt").c_str(), 0644), 0);
        ASSERT_EQ(::mkfifo((src + "/pipe.zip").c_str(), 0644), 0);
        BindSocket(src + "/sock.txt");
        Link("/dev/zero", "zero.txt");
        Link("/dev/zero", "zero.zip");
        Link("loop2.txt", "loop1.txt");
        Link("loop1.txt", "loop2.txt");
        Link("self.txt", "self.txt");
        Link(tmp / "nowhere", "gone.txt");
        Link("a.txt", "link.txt"); // a link to a regular file counts as that file
        MakeDirs(src + "/folder.d");
        Link("folder.d", "dirlink.txt");
    }

    void TearDown() override
    {
        if (socket_ >= 0)
            ::close(socket_);
        HostileRun::TearDown();
    }

    void Link(const std::string &target, const std::string &name)
    {
        ASSERT_EQ(::symlink(target.c_str(), (src + "/" + name).c_str()), 0) << name;
    }

    void BindSocket(const std::string &path)
    {
        socket_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        ASSERT_GE(socket_, 0);
        sockaddr_un address {};
        address.sun_family = AF_UNIX;
        ASSERT_LT(path.size(), sizeof address.sun_path) << "temporary folder path too long";
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        ASSERT_EQ(::bind(socket_, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);
    }

private:
    int socket_ = -1;
};

TEST_F(SpecialFilesTest, SingleArchiveTakesOnlyRegularFiles)
{
    FakeWindow &w = Run();
    EXPECT_TRUE(w.Messages().empty()) << w.Messages().front().second;
    // a.txt, b.zip (copied), link.txt: three files counted and stepped.
    EXPECT_EQ(w.Upper(), 3);
    EXPECT_EQ(ListDir(out), (std::vector<std::string> {"b.zip", "src.zip"}));
    EXPECT_EQ(ReadFile(out + "/b.zip"), Content("b.zip"));
    ExpectReadersAgree(out + "/src.zip",
                       {{"a.txt", Content("a.txt")}, {"link.txt", Content("a.txt")}});
}

TEST_F(SpecialFilesTest, PerNameArchivesTakeOnlyRegularFiles)
{
    window.settings.keepIndividual = 1;
    window.settings.storePathInZip = 1;
    FakeWindow &w = Run();
    EXPECT_TRUE(w.Messages().empty()) << w.Messages().front().second;
    EXPECT_EQ(ListDir(out), (std::vector<std::string> {"a.zip", "b.zip", "link.zip"}));
    std::string stored = src + "/";
    stored.erase(0, stored.find_first_not_of('/'));
    ExpectReadersAgree(out + "/a.zip", {{stored + "a.txt", Content("a.txt")}});
    ExpectReadersAgree(out + "/link.zip", {{stored + "link.txt", Content("a.txt")}});
    // The special files are all still there, untouched.
    struct stat st;
    ASSERT_EQ(::lstat((src + "/fifo.txt").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(::lstat((src + "/zero.zip").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(SpecialFilesTest, TargetFolderHoldingSpecialFilesIsUsedAsItIs)
{
    // The per-name archive's name and the zip copy's name are taken by a FIFO and by a
    // link to a device: neither may be opened, written through or replaced.
    window.settings.keepIndividual = 1;
    MakeDirs(out);
    ASSERT_EQ(::mkfifo((out + "/a.zip").c_str(), 0644), 0);
    ASSERT_EQ(::symlink("/dev/null", (out + "/b.zip").c_str()), 0);
    FakeWindow &w = Run();
    EXPECT_EQ(w.MessageCaptions(), std::vector<std::string> {"File name conflicts!"});
    struct stat st;
    ASSERT_EQ(::lstat((out + "/a.zip").c_str(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    ASSERT_EQ(::lstat((out + "/b.zip").c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    // The zip copy's conflict is found while enumerating, before the per-name pass.
    ExpectReadersAgree(out + "/conflict.zip",
                       {{"b.zip", Content("b.zip")}, {"a.txt", Content("a.txt")}});
    ExpectReadersAgree(out + "/link.zip", {{"link.txt", Content("a.txt")}});
}

} // namespace
} // namespace kelvane::test
