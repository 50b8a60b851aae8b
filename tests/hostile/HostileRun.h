#pragma once

// Whole runs over a temporary source folder "src" and target folder "out", driven through
// the recording window, for inputs no ordinary user folder holds.

#include "tests/support/RunFixture.h"

#include <memory>
#include <vector>

namespace kelvane::test {

class HostileRun : public RunFixture
{
protected:
    HostileRun() : RunFixture("src") { }

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
        ArchiveRun(*w);
        return *w;
    }

private:
    bool ran_ = false;
    std::vector<std::unique_ptr<FakeWindow>> later_;
};

} // namespace kelvane::test
