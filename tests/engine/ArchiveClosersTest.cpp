// The closer threads of per-name runs: every archive handed over is closed exactly once,
// its outcome reaches the ticket it was handed with, and nothing is left unclosed.

#include "engine/ArchiveClosers.h"

#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace kelvane {
namespace {

using test::TempDir;

constexpr int kNeverReplace = 1;

// A one-entry archive at path whose entry holds the text, still open.
ArchiveHandle OpenWithEntry(const TempDir &dir, const std::string &path, const std::string &text)
{
    const std::string source = dir / ("src-" + std::to_string(std::hash<std::string> {}(path)));
    test::WriteFile(source, text);
    ArchiveHandle handle = ArchiveOpen(path.c_str(), kNeverReplace);
    EXPECT_NE(handle, nullptr);
    EXPECT_TRUE(ArchiveAddFile(handle, source.c_str(), nullptr, 0, "entry.txt"));
    return handle;
}

void ExpectArchiveHolds(const std::string &path, const std::string &text)
{
    const test::ZipContents zip = test::ReadZip(path);
    ASSERT_TRUE(zip.ok) << path << ": " << zip.error;
    ASSERT_EQ(zip.entries.size(), 1u) << path;
    EXPECT_EQ(zip.entries[0].data, text) << path;
}

TEST(ArchiveClosers, EveryOutcomeReachesItsTicketWhateverTheOrderOfTheCloses)
{
    TempDir dir;
    test::MakeDirs(dir / "out");
    // Every third name is taken already: that close must fail and leave the file as it was,
    // while the others around it succeed.
    std::vector<std::string> paths;
    for (int i = 0; i < 40; ++i) {
        paths.push_back(dir / ("out/a" + std::to_string(i) + ".zip"));
        if (i % 3 == 0)
            test::WriteFile(paths.back(), "older file " + std::to_string(i));
    }

    std::vector<ArchiveClosers::Ticket> tickets;
    {
        ArchiveClosers closers(3);
        for (std::size_t i = 0; i < paths.size(); ++i) {
            const ArchiveClosers::Ticket ticket
                = closers.Start(OpenWithEntry(dir, paths[i], "text " + std::to_string(i)));
            ASSERT_NE(ticket, nullptr);
            tickets.push_back(ticket);
        }
        // Taken in reverse: a later archive's outcome must not be mistaken for an earlier one's.
        for (std::size_t i = paths.size(); i-- > 0;)
            EXPECT_EQ(closers.Wait(tickets[i]), i % 3 != 0) << paths[i];
    }

    for (std::size_t i = 0; i < paths.size(); ++i) {
        if (i % 3 == 0)
            EXPECT_EQ(test::ReadFile(paths[i]), "older file " + std::to_string(i));
        else
            ExpectArchiveHolds(paths[i], "text " + std::to_string(i));
    }
    EXPECT_EQ(test::TempLeftovers(dir / "out"), std::vector<std::string> {});
}

TEST(ArchiveClosers, ArchivesNeverWaitedForAreClosedWhenTheClosersGo)
{
    // A run that stops part-way does not wait for the archives still closing; they must be
    // complete at their names all the same, not left as temporaries.
    TempDir dir;
    test::MakeDirs(dir / "out");
    std::vector<std::string> paths;
    {
        ArchiveClosers closers(2);
        for (int i = 0; i < 12; ++i) {
            paths.push_back(dir / ("out/b" + std::to_string(i) + ".zip"));
            ASSERT_NE(closers.Start(OpenWithEntry(dir, paths.back(), "b" + std::to_string(i))),
                      nullptr);
        }
    }
    for (std::size_t i = 0; i < paths.size(); ++i)
        ExpectArchiveHolds(paths[i], "b" + std::to_string(i));
    EXPECT_EQ(test::TempLeftovers(dir / "out"), std::vector<std::string> {});
}

} // namespace
} // namespace kelvane
