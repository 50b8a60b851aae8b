#pragma once

// A fixture for whole runs: a source folder ("Clips" unless named) and a target folder
// "out" in a fresh temporary folder, and a fake window whose settings point at them.

#include "engine/ArchiveRun.h"
#include "engine/RunMessages.h"
#include "tests/support/FakeWindow.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipReaders.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

namespace kelvane::test {

class RunFixture : public ::testing::Test
{
protected:
    explicit RunFixture(const std::string &sourceName = "Clips") : src(tmp / sourceName) { }

    TempDir tmp;
    std::string src;
    std::string out = tmp / "out";
    FakeWindow window;

    void SetUp() override
    {
        MakeDirs(src);
        JobSettings &s = window.settings;
        s.fileMask = "*.*";
        s.sourceFolder = src;
        s.targetFolder = out;
        s.createSubFolder = 0;
        s.keepIndividual = 0;
        s.useTimestamps = 0;
        s.skipConflicts = 0;
        s.storePathInZip = 0;
    }

    // Every archive the test left in the target goes through the independent readers;
    // tests compare libarchive's view with the expected entries, the readers must agree
    // with it. Up to 20 archives, spread over the sorted names.
    void TearDown() override { ExpectFolderReadsAlike(out); }

    // A source file whose content is its own name, so that contents can be told apart.
    void Source(const std::string &name) { WriteFile(src + "/" + name, "data of " + name); }
    void Sources(std::initializer_list<std::string> names)
    {
        for (const std::string &name : names)
            Source(name);
    }
    static std::string Content(const std::string &name) { return "data of " + name; }
    // A file already in the target folder (made with the folder).
    void InTarget(const std::string &name, const std::string &content)
    {
        MakeDirs(out);
        WriteFile(out + "/" + name, content);
    }

    void Run() { ArchiveRun(window); }

    // The source folder as the back end stores it before entry names when paths are kept:
    // without its root (on Windows also without the drive), with "/" between levels.
    std::string StoredSource() const
    {
#ifdef _WIN32
        std::string stored = src.substr(3);
        std::replace(stored.begin(), stored.end(), '\\', '/');
        return stored;
#else
        return src.substr(1);
#endif
    }

    // The bar's position when the run ended, noted by the hook of AtStep.
    int positionAtEnd = -1;

    // Calls action when the bar steps for the n-th time (just before that file's turn),
    // and notes the bar's position at the end of the run.
    void AtStep(int n, std::function<void()> action = {})
    {
        window.OnOperation(
            [this, n, action = std::move(action), steps = 0](const std::string &op) mutable {
                if (op == "StepIt" && ++steps == n)
                    action();
                if (op == "StopAnimation")
                    positionAtEnd = window.Position();
            });
    }

    // (name, data) of every entry, in archive order; fails the test when unreadable.
    static std::vector<std::pair<std::string, std::string>> Entries(const std::string &zip)
    {
        const ZipContents contents = ReadZip(zip);
        EXPECT_TRUE(contents.ok) << zip << ": " << contents.error;
        std::vector<std::pair<std::string, std::string>> result;
        for (const ZipEntry &e : contents.entries)
            result.emplace_back(e.name, e.data);
        return result;
    }

    // The entries a zip should hold when it got the named source files, in this order.
    static std::vector<std::pair<std::string, std::string>>
    Expected(const std::vector<std::string> &names)
    {
        std::vector<std::pair<std::string, std::string>> result;
        for (const std::string &name : names)
            result.emplace_back(name, Content(name));
        return result;
    }

    // Every operation of a run on the window: the settings read and the stamp made, the
    // given ones, then the reset that ends every run.
    std::vector<std::string> RunOps(std::vector<std::string> ops) const
    {
        ops.insert(ops.begin(), {"Settings", "Stamp " + window.Stamp()});
        ops.insert(
            ops.end(),
            {"StopAnimation", "CloseAnimation", "RepaintAnimation", "SetPos 0", "Caption START"});
        return ops;
    }

    // The progress operations expected: the given ones, then the reset's "SetPos 0".
    static std::vector<std::string> Progress(std::vector<std::string> ops)
    {
        ops.push_back("SetPos 0");
        return ops;
    }

    static std::vector<std::string> Steps(int n, std::vector<std::string> before = {})
    {
        for (int i = 0; i < n; ++i)
            before.push_back("StepIt");
        return before;
    }
};

} // namespace kelvane::test
