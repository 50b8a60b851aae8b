#include "cli/StopSignals.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <initializer_list>
#include <string>
#include <unistd.h>

namespace kelvane::batch {
namespace {

class StopSignals : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_EQ(::pipe2(fds_, O_NONBLOCK | O_CLOEXEC), 0);
        SetStopNoticeFd(fds_[1], false);
        SetStopTarget(&flag_);
        ASSERT_TRUE(InstallStopSignals());
    }
    void TearDown() override
    {
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
            std::signal(sig, SIG_DFL);
        SetStopTarget(nullptr);
        SetStopNoticeFd(STDERR_FILENO, false);
        ::close(fds_[0]);
        ::close(fds_[1]);
    }
    std::string Notices()
    {
        std::string text;
        char buffer[256];
        ssize_t n;
        while ((n = ::read(fds_[0], buffer, sizeof buffer)) > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        return text;
    }

    int fds_[2] = {-1, -1};
    std::atomic<bool> flag_ {false};
};

TEST_F(StopSignals, EveryStopSignalRequestsAStopAndNoneEndsTheProcess)
{
    // raise() delivers to this thread before it returns, so the handler has run.
    ASSERT_EQ(std::raise(SIGINT), 0);
    EXPECT_TRUE(flag_.load());
    EXPECT_EQ(Notices(), "kelvane-batch: stopping, please wait\n");

    // The second Ctrl+C, and the signals of service managers and closed terminals.
    ASSERT_EQ(std::raise(SIGINT), 0);
    ASSERT_EQ(std::raise(SIGTERM), 0);
    ASSERT_EQ(std::raise(SIGHUP), 0);
    EXPECT_EQ(Notices(),
              "kelvane-batch: stopping, please wait\n"
              "kelvane-batch: stopping, please wait\n"
              "kelvane-batch: stopping, please wait\n");
    EXPECT_TRUE(flag_.load());
}

TEST_F(StopSignals, NoticeStartsOnAFreshLineWhenABarMayHoldTheLine)
{
    SetStopNoticeFd(fds_[1], true);
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_EQ(Notices(), "\nkelvane-batch: stopping, please wait\n");
}

TEST_F(StopSignals, ClosedOutputDoesNotKillAndErrnoSurvives)
{
    // The notice cannot be written and SIGPIPE is ignored: the stop still counts.
    ::close(fds_[0]);
    fds_[0] = ::open("/dev/null", O_RDONLY);
    errno = 1234;
    ASSERT_EQ(std::raise(SIGINT), 0);
    EXPECT_EQ(errno, 1234);
    EXPECT_TRUE(flag_.load());
}

TEST(StopSignalsInstall, SignalIgnoredFromTheStartStaysIgnored)
{
    // As under nohup: a hangup must not stop the run.
    std::signal(SIGHUP, SIG_IGN);
    const int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    SetStopNoticeFd(devNull, false);
    std::atomic<bool> flag {false};
    SetStopTarget(&flag);
    ASSERT_TRUE(InstallStopSignals());
    ASSERT_EQ(std::raise(SIGHUP), 0);
    EXPECT_FALSE(flag.load());
    ASSERT_EQ(std::raise(SIGTERM), 0);
    EXPECT_TRUE(flag.load());
    SetStopTarget(nullptr);
    SetStopNoticeFd(STDERR_FILENO, false);
    ::close(devNull);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        std::signal(sig, SIG_DFL);
}

TEST_F(StopSignals, WithoutARunOnlyTheNoticeIsWritten)
{
    SetStopTarget(nullptr);
    ASSERT_EQ(std::raise(SIGINT), 0);
    EXPECT_FALSE(flag_.load());
    EXPECT_EQ(Notices(), "kelvane-batch: stopping, please wait\n");
}

} // namespace
} // namespace kelvane::batch
