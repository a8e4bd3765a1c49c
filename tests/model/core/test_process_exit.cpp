// Tests of the one exit path of the model: the status reaches the process, and a
// handler lets a test catch the exit.
#include <gtest/gtest.h>

#include "model/core/process_exit.h"

namespace {

struct caught_exit {
    int status;
};

[[noreturn]] void throw_status(int status) { throw caught_exit{status}; }

TEST(ProcessExit, StatusReachesTheProcess) {
    EXPECT_EXIT(
end_process(3),
        ::testing::ExitedWithCode(3), "");
    EXPECT_EXIT(end_process(0), ::testing::ExitedWithCode(0), "");
}

TEST(ProcessExit, HandlerCatchesTheExit) {
    set_process_exit_handler(throw_status);
    int status = -1;
    try {
        end_process(1);
    } catch (const caught_exit &e) {
        status = e.status;
    }
    set_process_exit_handler(nullptr);
    EXPECT_EQ(status, 1);
}

}  // namespace
