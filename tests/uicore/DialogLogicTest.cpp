// The dialog logic both windows run on, over a fake set of controls; the toolkits' own
// tests only show that their controls are wired to it.

#include "ui/core/DialogLogic.h"
#include "resources/Resources.h"
#include "settings/SettingsFile.h"
#include "tests/support/FakeWindow.h"
#include "tests/support/IoTrace.h"
#include "tests/support/TestSupport.h"
#include "ui/core/FolderBrowser.h"
#include "ui/core/SettingsExchange.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <system_error>

using namespace kelvane;
using namespace kelvane::ui;
using Ops = std::vector<std::string>;

namespace {

// What the controls were told, in order; `shown` is what they show.
class FakeControls : public DialogControls
{
public:
    JobSettings shown;
    Ops ops;
    std::function<void()> worker; // run when the test says
    int threads = 0;
    bool threadFails = false;
    std::optional<std::string> chosen; // the browser's answer
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
        shown.targetFolder = "typed meanwhile";
        return chosen;
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
        window.settings.sourceFolder = dir / "none";
    }
    // The worker's run (of a missing folder) ends, and the dialog's thread sees it.
    Ops RunWorker()
    {
        controls.worker();
        logic.WorkerEnded();
        return Take();
    }
    Ops Take() { return std::exchange(controls.ops, {}); }

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
    logic.OnStart();
    logic.OnStart();
    EXPECT_EQ(Take(), (Ops {"STOP", "play", "Stopping....", "Stopping...."}));
    EXPECT_TRUE(logic.StopRequested());
    EXPECT_EQ(RunWorker(), (Ops {"worker ended", "START"}));
    EXPECT_FALSE(logic.WorkerActive());
    logic.OnStart();
    EXPECT_FALSE(logic.StopRequested()) << "a new run starts unstopped";
    EXPECT_EQ(controls.threads, 2);
    RunWorker();

    controls.threadFails = true;
    logic.OnStart();
    const Ops ops = Take();
    ASSERT_EQ(ops.size(), 3u);
    EXPECT_EQ(ops[0] + "," + ops[1], "close clip,START");
    EXPECT_EQ(ops[2].rfind("Unable to start the run|The archive run could not be started.\n", 0),
              0u);
    EXPECT_FALSE(logic.WorkerActive());
}

TEST_F(DialogLogicTest, TheDialogEndsOnlyOnceItsWorkerHasEnded)
{
    logic.OnStart();
    logic.RequestEnd(2);
    EXPECT_EQ(Take(), (Ops {"STOP", "play", "Stopping...."}));
    EXPECT_EQ(RunWorker(), (Ops {"worker ended", "START", "end 2", "close browsers"}));
    logic.RequestEnd(1); // idle: at once
    EXPECT_EQ(Take(), (Ops {"end 1", "close browsers"}));
    // A dialog going away stops its run, whose end no longer ends the dialog.
    logic.OnStart();
    logic.RequestEnd(2);
    logic.AbandonRun();
    EXPECT_TRUE(logic.StopRequested());
    Take();
    EXPECT_EQ(RunWorker(), (Ops {"worker ended", "START"}));
}

TEST_F(DialogLogicTest, ABrowseFillsOnlyItsFieldAndASaveThatFailsSaysTheFileAndWhy)
{
    controls.shown.sourceFolder = "typed";
    controls.chosen = "chosen";
    logic.OnBrowse(kBrowseSource);
    controls.chosen.reset(); // cancelled
    logic.OnBrowse(kBrowseTarget);
    EXPECT_EQ(Take(), (Ops {"Select Source Folder|typed", "Select Target Folder|typed meanwhile"}));
    EXPECT_EQ(controls.shown.sourceFolder, "chosen");
    EXPECT_EQ(controls.shown.targetFolder, "typed meanwhile");

    logic.OnSaveSettings();
    const std::string saved = test::ReadFile(dir / "kelvane.ini");
    EXPECT_EQ(saved, FormatSettings(controls.shown));
    controls.shown.targetFolder = "out\nSKIP_CONFLICTS 1"; // would cut the value in the file
    logic.OnSaveSettings();
    controls.shown.targetFolder = "out";
    {
        test::IoTrace fullDisk(
            [](const io::CallInfo &c) { return io::ChangesStorage(c) ? ENOSPC : 0; });
        logic.OnSaveSettings();
    }
    const std::string file = (std::filesystem::u8path(dir.path()) / "kelvane.ini").u8string();
    const Ops ops = Take();
    ASSERT_GE(ops.size(), 1u);
    EXPECT_EQ(ops[0].rfind("Unable to save settings|" + file + "\n", 0), 0u) << ops[0];
    EXPECT_NE(ops[0].find("target folder"), std::string::npos) << ops[0];
    ASSERT_EQ(ops.size(), 2u);
    EXPECT_NE(ops[1].find(std::strerror(ENOSPC)), std::string::npos) << ops[1];
    EXPECT_EQ(test::ReadFile(dir / "kelvane.ini"), saved);
}

namespace {

// Edits whose text holds only ASCII, as a toolkit's text may not hold every byte string.
struct AsciiControls : SettingsExchange::Controls
{
    std::map<int, std::string> texts;
    std::map<int, bool> checks;

    static std::string Held(std::string text)
    {
        for (char &c : text)
            c = static_cast<unsigned char>(c) > 0x7F ? '?' : c;
        return text;
    }
    void SetText(int id, const std::string &text) override { texts[id] = Held(text); }
    bool ShowsText(int id, const std::string &shown) override { return texts[id] == Held(shown); }
    std::string Text(int id) override { return texts[id]; }
    void SetChecked(int id, bool checked) override { checks[id] = checked; }
    bool Checked(int id) override { return checks[id]; }
};

} // namespace

TEST(SettingsExchangeTest, EachFieldHasItsControlAndAnUntouchedEditGivesBackItsBytes)
{
    const JobSettings shown {"*.\xff", "/src/\xfe", "/out", 0, 1, 0, 1, 0};
    AsciiControls controls;
    SettingsExchange exchange;
    exchange.ToControls(shown, controls);
    EXPECT_EQ(controls.texts,
              (std::map<int, std::string> {{res::IDC_FILE_MASK, "*.?"},
                                           {res::IDC_SOURCE_FOLDER, "/src/?"},
                                           {res::IDC_TARGET_FOLDER, "/out"}}));
    EXPECT_EQ(controls.checks,
              (std::map<int, bool> {{res::IDC_CREATE_SUB_FOLDER, false},
                                    {res::IDC_KEEP_INDIVIDUAL, true},
                                    {res::IDC_USE_TIMESTAMPS, false},
                                    {res::IDC_SKIP_CONFLICTS, true},
                                    {res::IDC_STORE_PATH_IN_ZIP, false}}));
    controls.texts[res::IDC_TARGET_FOLDER] = "/typed";
    controls.checks[res::IDC_USE_TIMESTAMPS] = true;
    JobSettings taken;
    exchange.FromControls(taken, controls);
    JobSettings want = shown;
    want.targetFolder = "/typed";
    want.useTimestamps = 1;
    EXPECT_EQ(FormatSettings(taken), FormatSettings(want));
}

TEST(MinimisedIconPosTest, CentresWithHalvesTruncatedTowardZero)
{
    EXPECT_EQ(MinimisedIconPos(36, 36, 32, 32), (IconPlace {2, 2}));
    EXPECT_EQ(MinimisedIconPos(0, 0, 32, 32), (IconPlace {-15, -15})); // not -16
    EXPECT_EQ(MinimisedIconPos(-1, 33, 32, 32), (IconPlace {-16, 1}));
    EXPECT_EQ(MinimisedIconPos(160, 40, 16, 16), (IconPlace {72, 12}));
}

namespace {

// A browse dialog that plays `script`, recording the requests it gets; an item is its path.
struct FakeShell
{
    using Owner = int;
    using Root = std::string;
    using Item = std::string;
    using Window = Ops *;
    using String = std::string;
    using Callback = std::function<void(Window, int, const Item &)>;

    static inline std::function<std::optional<String>(Ops &, const Callback &)> script;
    static String ResourceString(int id) { return id == 7 ? "from resources" : ""; }
    static std::optional<String> Run(Owner, const Root &, const String &title, unsigned,
                                     const Callback &callback)
    {
        Ops log {"title " + title};
        return script(log, callback);
    }
    static void Select(Window log, const String &path) { log->push_back("select " + path); }
    static void ShowStatus(Window log, const String &text) { log->push_back("status " + text); }
    static String PathOf(Window, const Item &item) { return item; }
};

} // namespace

TEST(FolderBrowserTest, SettersActWhileIdleRequestsWhileShowingAndTheStatusFollows)
{
    CFolderBrowser<FakeShell> browser(0, 0);
    EXPECT_FALSE(browser.SetTitle(99)); // no such string
    EXPECT_TRUE(browser.SetTitle(7));
    browser.SetFlags(5);
    browser.SetInitialFolder("/missing");
    browser.SetStatusText("idle: ignored");
    Ops log;
    FakeShell::script = [&](Ops &requests, const FakeShell::Callback &notify) {
        notify(&requests, kBrowseInitialized, "");
        browser.SetTitle("changed while showing");
        browser.SetFlags(0);
        notify(&requests, kBrowseSelChanged, "");
        notify(&requests, kBrowseSelChanged, "/a/b");
        log = requests;
        return std::optional<std::string>("/a/b");
    };
    ASSERT_TRUE(browser.Browse());
    EXPECT_EQ(browser.GetFolderPath(), "/a/b");
    EXPECT_EQ(log,
              (Ops {"title from resources", "select /missing", "status /missing", "status ",
                    "status /a/b"}));
    EXPECT_EQ(browser.Title(), "from resources");
    EXPECT_EQ(browser.Flags(), 5u);
    EXPECT_FALSE(browser.Showing());
    for (const auto &answer : {std::optional<std::string>(""), {}}) {
        FakeShell::script = [&](Ops &, const FakeShell::Callback &) { return answer; };
        EXPECT_FALSE(browser.Browse()) << "chosen without a path, or cancelled";
    }
}
