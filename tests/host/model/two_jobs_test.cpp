// Two jobs at once: both run, the caller's exception stops the other one
// before the join, and the first exception reaches the caller.
#include "host/model/two_jobs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>

namespace {

using fd::host::RunTwoJobs;

TEST(TwoJobs, BothRunOnTwoThreads) {
    std::atomic<int> ran{0};
    std::thread::id mine, theirs;
    RunTwoJobs(
        [&] {
            mine = std::this_thread::get_id();
            ++ran;
        },
        [&] {
            theirs = std::this_thread::get_id();
            ++ran;
        });
    EXPECT_EQ(ran, 2);
    EXPECT_EQ(mine, std::this_thread::get_id());
    EXPECT_NE(theirs, mine);
}

TEST(TwoJobs, MyFailureStopsTheirsAndComesFirst) {
    std::atomic<bool> stop{false};
    bool theirsEnded = false;
    try {
        RunTwoJobs([] { throw std::runtime_error("mine"); },
                   [&] {
                       while (!stop) std::this_thread::yield();  // would never end unless told
                       theirsEnded = true;
                       throw std::runtime_error("theirs");
                   },
                   [&] { stop = true; });
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(std::string(e.what()), "mine");
    }
    EXPECT_TRUE(theirsEnded);
}

TEST(TwoJobs, TheirFailureReachesTheCallerAfterMineFinished) {
    bool mineFinished = false;
    EXPECT_THROW(RunTwoJobs([&] { mineFinished = true; }, [] { throw std::invalid_argument("theirs"); }),
                 std::invalid_argument);
    EXPECT_TRUE(mineFinished);
}

}  // namespace
