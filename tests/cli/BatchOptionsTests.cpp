#include "cli/Batch.h"
#include "cli/BatchOptions.h"

#include <gtest/gtest.h>

#include <sstream>

namespace kelvane::batch {
namespace {

using Action = BatchOptions::Action;

TEST(BatchOptions, NoArgumentsRunsWithTheCurrentDirectorysSettings)
{
    const BatchOptions o = ParseArguments({});
    EXPECT_EQ(o.action, Action::Run);
    EXPECT_FALSE(o.hasSettingsPath);
    EXPECT_FALSE(o.quiet);
    EXPECT_FALSE(o.verbose);
    EXPECT_FALSE(o.verify);
    EXPECT_TRUE(ParseArguments({"--verify", "-q"}).verify);
}

TEST(BatchOptions, SettingsFileInBothSpellings)
{
    BatchOptions o = ParseArguments({"--settings", "/etc/job.ini"});
    EXPECT_EQ(o.action, Action::Run);
    EXPECT_TRUE(o.hasSettingsPath);
    EXPECT_EQ(o.settingsPath, "/etc/job.ini");

    o = ParseArguments({"--settings=rel/job.ini", "-q"});
    EXPECT_EQ(o.action, Action::Run);
    EXPECT_EQ(o.settingsPath, "rel/job.ini");
    EXPECT_TRUE(o.quiet);

    // The word after --settings is the file even when it looks like an option.
    o = ParseArguments({"--settings", "-odd.ini"});
    EXPECT_EQ(o.action, Action::Run);
    EXPECT_EQ(o.settingsPath, "-odd.ini");
}

TEST(BatchOptions, UsageErrorsSayWhatIsWrong)
{
    struct Case
    {
        std::vector<std::string> args;
        std::string error;
    };
    const Case cases[] = {
        {{"--x"}, "unknown option '--x'"},
        {{"-z"}, "unknown option '-z'"},
        {{"--settings"}, "option '--settings' needs a FILE argument"},
        {{"--settings="}, "option '--settings' needs a FILE argument"},
        {{"--settings", "a", "--settings", "b"}, "option '--settings' given more than once"},
        {{"job.ini"}, "unexpected argument 'job.ini'"},
        {{"-"}, "unexpected argument '-'"},
        {{"--", "--help"}, "unexpected argument '--help'"},
        {{"-q", "-v"}, "options '--quiet' and '--verbose' exclude each other"},
        // An unknown option is not excused by --help before it.
        {{"--help", "--bogus"}, "unknown option '--bogus'"},
    };
    for (const Case &c : cases) {
        const BatchOptions o = ParseArguments(c.args);
        EXPECT_EQ(o.action, Action::UsageError) << c.args[0];
        EXPECT_EQ(o.error, c.error);
    }
}

TEST(BatchOptions, HelpAndVersionWinOverOtherOptions)
{
    EXPECT_EQ(ParseArguments({"--help"}).action, Action::Help);
    EXPECT_EQ(ParseArguments({"-h"}).action, Action::Help);
    EXPECT_EQ(ParseArguments({"--settings", "x", "--version"}).action, Action::Version);
    EXPECT_EQ(ParseArguments({"-V"}).action, Action::Version);
    EXPECT_EQ(ParseArguments({"--version", "--help"}).action, Action::Help);
    EXPECT_EQ(ParseArguments({"--"}).action, Action::Run);
}

TEST(BatchOptions, ProgressStyleFollowsOptionsAndTerminal)
{
    EXPECT_EQ(ChooseStyle(ParseArguments({}), true), ProgressStyle::Bar);
    EXPECT_EQ(ChooseStyle(ParseArguments({}), false), ProgressStyle::Summary);
    EXPECT_EQ(ChooseStyle(ParseArguments({"-v"}), true), ProgressStyle::PerFile);
    EXPECT_EQ(ChooseStyle(ParseArguments({"-v"}), false), ProgressStyle::PerFile);
    EXPECT_EQ(ChooseStyle(ParseArguments({"-q"}), true), ProgressStyle::None);
}

TEST(BatchMain, UsageErrorGoesToStandardErrorWithStatusTwo)
{
    std::ostringstream out, err;
    EXPECT_EQ(BatchMain({"--x"}, out, err, false, false), kExitUsage);
    EXPECT_EQ(out.str(), "");
    EXPECT_EQ(err.str(), "kelvane-batch: unknown option '--x'\nTry 'kelvane-batch --help'.\n");
}

TEST(BatchMain, HelpAndVersionGoToStandardOutput)
{
    std::ostringstream out, err;
    EXPECT_EQ(BatchMain({"--version"}, out, err, false, false), kExitClean);
    EXPECT_EQ(out.str(), "kelvane-batch " KELVANE_VERSION "\n");
    EXPECT_EQ(err.str(), "");

    out.str("");
    EXPECT_EQ(BatchMain({"--help"}, out, err, false, false), kExitClean);
    EXPECT_EQ(out.str().rfind("Usage: kelvane-batch [OPTION]...\n", 0), 0u);
    for (const char *word : {"--settings FILE", "--quiet", "--verbose", "130"})
        EXPECT_NE(out.str().find(word), std::string::npos) << word;
    EXPECT_EQ(err.str(), "");
}

} // namespace
} // namespace kelvane::batch
