// The dialog logic both windows run on, over a fake set of controls: the states of the start
// button, the end of the dialog during a run, the "..." buttons, the save, the folder
// browser's rules and the minimised icon's place. The toolkits' own tests only show that
// their controls are wired to it.

#include "ui/core/DialogLogic.h"
#include "settings/SettingsFile.h"
#include "tests/support/FakeWindow.h"
#include "tests/support/TestSupport.h"
#include "ui/core/FolderBrowser.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

using namespace kelvane;
using namespace kelvane::ui;

namespace {

// The controls as a record of what they were told; `shown` is what they show.
class FakeControls : public DialogControls
{
public:
    JobSettings shown;
    std::vector<std::string> ops;
    std::function<void()> worker; // the worker's body, run when the test says
    int threads = 0;
    bool threadFails = false;
    std::function<std::optional<std::string>()> browse;
    DialogLogic *logic = nullptr;

    void SettingsToControls() override { shown = logic->Settings(); }
    void ControlsToSettings() override { logic->Settings() = shown; }
    void SetStartCaption(const std::string &caption) override { ops.push_back(caption); }
    void PlayClip() override { ops.push_back("play"); }
    void CloseClip() override { ops.push_back("close clip"); }
    void ShowMessage(const std::string &text, const std::string &caption) override
    {
        ops.push_back(caption + "|" + text);
    }
    std::optional<std::string> BrowseForFolder(const std::string &initial,
                                               const std::string &prompt) override
    {
        ops.push_back(prompt + "|" + initial);
        return browse();
    }
    void CloseBrowsers() override { ops.push_back("close browsers"); }
    void EndDialog(int result) override { ops.push_back("end " + std::to_string(result)); }
    void PostWorkerEnded() override { ops.push_back("worker ended"); }
    std::thread StartThread(std::function<void()> body) override
    {
        if (threadFails)
            throw std::system_error(
                std::make_error_code(std::errc::resource_unavailable_try_again));
        ++threads;
        worker = std::move(body);
        return std::thread();
    }
};

class DialogLogicTest : public ::testing::Test
{
protected:
    DialogLogicTest()
    {
        controls.logic = &logic;
        window.settings.sourceFolder = dir / "none"; // the worker's run ends at once
    }
    // The worker runs its (empty) run and tells the dialog, which sees its end.
    void RunWorker()
    {
        controls.worker();
        logic.WorkerEnded();
    }
    std::vector<std::string> TakeOps() { return std::exchange(controls.ops, {}); }

    test::TempDir dir;
    test::ScopedCurrentDir cwd {dir.path()};
    FakeControls controls;
    test::FakeWindow window;
    DialogLogic logic {controls, window};
};

} // namespace

TEST_F(DialogLogicTest, StartReadsStopThenStoppingAndNeverStartsASecondWorker)
{
    JobSettings saved;
    saved.fileMask = "*.avi";
    test::WriteFile(dir / "kelvane.ini", FormatSettings(saved));
    logic.OnInitDialog();
    EXPECT_EQ(controls.shown.fileMask, "*.avi");

    controls.shown.sourceFolder = "typed";
    logic.OnStart();
    EXPECT_EQ(logic.Settings().sourceFolder, "typed") << "the start takes the controls";
    EXPECT_EQ(TakeOps(), (std::vector<std::string> {"STOP", "play"}));
    EXPECT_TRUE(logic.WorkerActive());
    logic.OnStart();
    logic.OnStart();
    EXPECT_EQ(TakeOps(), (std::vector<std::string> {"Stopping....", "Stopping...."}));
    EXPECT_TRUE(logic.StopRequested());
    RunWorker();
    EXPECT_EQ(TakeOps(), (std::vector<std::string> {"worker ended", "START"}));
    EXPECT_FALSE(logic.WorkerActive());
    EXPECT_EQ(controls.threads, 1);

    logic.OnStart();
    EXPECT_FALSE(logic.StopRequested()) << "a new run starts unstopped";
    EXPECT_EQ(controls.threads, 2);
    RunWorker();
}

TEST_F(DialogLogicTest, AWorkerThatCannotStartIsSaidAndTheDialogStaysIdle)
{
    controls.threadFails = true;
    logic.OnStart();
    const std::vector<std::string> ops = TakeOps();
    ASSERT_EQ(ops.size(), 3u);
    EXPECT_EQ(ops[0], "close clip");
    EXPECT_EQ(ops[1], "START");
    EXPECT_EQ(ops[2].rfind("Unable to start the run|The archive run could not be started.\n", 0),
              0u)
        << ops[2];
    EXPECT_FALSE(logic.WorkerActive());
    EXPECT_FALSE(logic.Running());
}

TEST_F(DialogLogicTest, TheDialogEndsOnlyOnceItsWorkerHasEnded)
{
    logic.OnStart();
    TakeOps();
    logic.RequestEnd(2);
    EXPECT_EQ(TakeOps(), (std::vector<std::string> {"Stopping...."}));
    RunWorker();
    EXPECT_EQ(TakeOps(),
              (std::vector<std::string> {"worker ended", "START", "end 2", "close browsers"}));

    logic.RequestEnd(1); // idle: at once
    EXPECT_EQ(TakeOps(), (std::vector<std::string> {"end 1", "close browsers"}));

    // A dialog going away stops its run, and the run's end no longer ends it.
    logic.OnStart();
    logic.RequestEnd(2);
    logic.AbandonRun();
    EXPECT_TRUE(logic.StopRequested());
    TakeOps();
    RunWorker();
    EXPECT_EQ(TakeOps(), (std::vector<std::string> {"worker ended", "START"}));
}

TEST_F(DialogLogicTest, ABrowseFillsOnlyItsFieldAndKeepsWhatWasTypedMeanwhile)
{
    controls.shown.sourceFolder = "typed source";
    controls.browse = [&] {
        controls.shown.targetFolder = "typed meanwhile";
        return std::optional<std::string>("chosen");
    };
    logic.OnBrowse(kBrowseSource);
    EXPECT_EQ(TakeOps(), (std::vector<std::string> {"Select Source Folder|typed source"}));
    EXPECT_EQ(controls.shown.sourceFolder, "chosen");
    EXPECT_EQ(controls.shown.targetFolder, "typed meanwhile");

    controls.browse = [] { return std::nullopt; }; // cancelled
    logic.OnBrowse(kBrowseTarget);
    EXPECT_EQ(TakeOps(), (std::vector<std::string> {"Select Target Folder|typed meanwhile"}));
    EXPECT_EQ(controls.shown.targetFolder, "typed meanwhile");
    EXPECT_EQ(controls.shown.sourceFolder, "chosen");
}

TEST_F(DialogLogicTest, SaveWritesTheControlsAndAFailedSaveSaysTheFileAndWhy)
{
    controls.shown.fileMask = "*.mov";
    logic.OnSaveSettings();
    EXPECT_EQ(test::ReadFile(dir / "kelvane.ini"), FormatSettings(controls.shown));
    EXPECT_TRUE(TakeOps().empty());

    // A line break would cut the value in the file.
    controls.shown.targetFolder = "out\nSKIP_CONFLICTS 1";
    logic.OnSaveSettings();
    const std::string file = (std::filesystem::u8path(dir.path()) / "kelvane.ini").u8string();
    const std::vector<std::string> ops = TakeOps();
    ASSERT_EQ(ops.size(), 1u);
    EXPECT_EQ(ops[0].rfind("Unable to save settings|" + file + "\n", 0), 0u) << ops[0];
    EXPECT_NE(ops[0].find("target folder"), std::string::npos) << ops[0];
    JobSettings kept;
    ASSERT_TRUE(LoadSettingsFile(dir / "kelvane.ini", kept));
    EXPECT_EQ(kept.fileMask, "*.mov");
}

TEST(MinimisedIconPosTest, CentresWithHalvesTruncatedTowardZero)
{
    EXPECT_EQ(MinimisedIconPos(36, 36, 32, 32), (IconPlace {2, 2}));
    EXPECT_EQ(MinimisedIconPos(0, 0, 32, 32), (IconPlace {-15, -15})); // not -16
    EXPECT_EQ(MinimisedIconPos(-1, 33, 32, 32), (IconPlace {-16, 1}));
    EXPECT_EQ(MinimisedIconPos(160, 40, 16, 16), (IconPlace {72, 12}));
}

namespace {

// A browse dialog that plays a script: its requests are recorded in `log`.
struct FakeShell
{
    struct Dialog
    {
        std::vector<std::string> log;
    };
    using Owner = int;
    using Root = std::string;
    using Item = std::string; // a path, or "" for an item without one
    using Window = Dialog *;
    using String = std::string;
    using Callback = std::function<void(Window, int, const Item &)>;

    static inline std::function<std::optional<String>(Dialog &, const Callback &)> script;
    static String ResourceString(int id) { return id == 7 ? "from resources" : ""; }
    static std::optional<String> Run(Owner, const Root &, const String &title, unsigned,
                                     const Callback &callback)
    {
        Dialog dialog {{"title " + title}};
        return script(dialog, callback);
    }
    static void Select(Window w, const String &path) { w->log.push_back("select " + path); }
    static void ShowStatus(Window w, const String &text) { w->log.push_back("status " + text); }
    static String PathOf(Window, const Item &item) { return item; }
};

} // namespace

TEST(FolderBrowserTest, SettersActWhileIdleRequestsWhileShowingAndTheStatusFollows)
{
    CFolderBrowser<FakeShell> browser(0, 0);
    EXPECT_FALSE(browser.SetTitle(0));
    EXPECT_FALSE(browser.SetTitle(99)); // no such string
    EXPECT_TRUE(browser.SetTitle(7));
    browser.SetFlags(5);
    browser.SetInitialFolder("/missing");
    browser.SetStatusText("idle: ignored");
    std::vector<std::string> log;
    FakeShell::script = [&](FakeShell::Dialog &d, const FakeShell::Callback &notify) {
        notify(&d, kBrowseInitialized, "");
        EXPECT_TRUE(browser.Showing());
        browser.SetTitle("changed while showing");
        browser.SetFlags(0);
        notify(&d, kBrowseSelChanged, "");
        notify(&d, kBrowseSelChanged, "/a/b");
        log = d.log;
        return std::optional<std::string>("/a/b");
    };
    ASSERT_TRUE(browser.Browse());
    EXPECT_FALSE(browser.Showing());
    EXPECT_EQ(browser.GetFolderPath(), "/a/b");
    EXPECT_EQ(browser.Title(), "from resources");
    EXPECT_EQ(browser.Flags(), 5u);
    EXPECT_EQ(log,
              (std::vector<std::string> {"title from resources", "select /missing",
                                         "status /missing", "status ", "status /a/b"}));

    FakeShell::script = [](FakeShell::Dialog &, const FakeShell::Callback &) {
        return std::optional<std::string>(""); // chosen, but no file-system folder
    };
    EXPECT_FALSE(browser.Browse());
    FakeShell::script = [](FakeShell::Dialog &, const FakeShell::Callback &) {
        return std::optional<std::string>(); // cancelled
    };
    EXPECT_FALSE(browser.Browse());
}
