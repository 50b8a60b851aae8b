#pragma once

// Whole runs over a temporary source folder "src" and target folder "out", driven through
// the recording window, for inputs no ordinary user folder holds.

#include "engine/ArchiveRun.h"
#include "tests/engine/FakeWindow.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipReaders.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kelvane::test {

using Entries = std::vector<std::pair<std::string, std::string>>;

class HostileRun : public ::testing::Test
{
protected:
    TempDir tmp;
    std::string src = tmp / "src";
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

    // Beside the archives a test checks by name: every archive in the target (up to 20).
    void TearDown() override { ExpectFolderReadsAlike(out); }

    // The first run goes through `window`; each later one through a fresh window with the
    // same settings, so that every run's messages can be looked at apart.
    FakeWindow &Run()
    {
        FakeWindow *w = &window;
        if (ran_) {
            later_.push_back(std::make_unique<FakeWindow>());
            w = later_.back().get();
            w->settings = window.settings;
        }
        ran_ = true;
        EXPECT_EQ(ArchiveRun(*w), 0);
        return *w;
    }

    // A source file whose content is its own name.
    void Source(const std::string &name) { WriteFile(src + "/" + name, Content(name)); }
    static std::string Content(const std::string &name) { return "data of " + name; }

    static Entries Expected(const std::vector<std::string> &names)
    {
        Entries entries;
        for (const std::string &name : names)
            entries.emplace_back(name, Content(name));
        return entries;
    }

private:
    bool ran_ = false;
    std::vector<std::unique_ptr<FakeWindow>> later_;
};

} // namespace kelvane::test
