// open_run_file: quotes around names, empty names, and the run prefix that a
// calibration series puts on files opened for writing only.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "model/core/errors.h"
#include "model/core/file_opener.h"
#include "model/core/globals.h"
#include "tests/model/framework_test_support.h"

namespace {

class FileOpener : public frameworktest::globals_reset {
protected:
    frameworktest::in_scratch_dir dir_;
};

std::string first_line(std::FILE *f) {
    char buf[256] = {};
    if (std::fgets(buf, sizeof buf, f) == nullptr) return "";
    return buf;
}

TEST_F(FileOpener, QuotesAreRemovedInPlace) {
    dir_.dir().write("my map.asc", "quoted\n");
    std::string name = "\"my map.asc\"";
    std::FILE *f = open_run_file(name, "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(name, "my map.asc");
    EXPECT_EQ(first_line(f), "quoted\n");
    std::fclose(f);

    std::string closing_only = "my map.asc\"";
    f = open_run_file(closing_only, "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(closing_only, "my map.asc");
    std::fclose(f);
}

TEST_F(FileOpener, EmptyNamesOpenNothing) {
    for (const char *n : {"", "\"\"", "\""}) {
        std::string name = n;
        EXPECT_EQ(open_run_file(name, "w"), nullptr) << n;
    }
    std::string missing = "no_such_file.txt";
    EXPECT_EQ(open_run_file(missing, "r"), nullptr);
}

TEST_F(FileOpener, WithoutPrefixNamesAreOpenedAsGiven) {
    std::FILE *f = open_run_file(std::string("summary.txt"), "w");
    ASSERT_NE(f, nullptr);
    std::fputs("x\n", f);
    std::fclose(f);
    EXPECT_TRUE(dir_.dir().exists("summary.txt"));
    EXPECT_EQ(run_file_name("summary.txt", "w"), "summary.txt");
}

TEST_F(FileOpener, CalibrationSeriesPrefixesFilesOpenedForWriting) {
    file_prefix_on = 1;
    file_prefix_number = 0;
    dir_.dir().write("input.dat", "input\n");

    std::FILE *w = open_run_file(std::string("outlet.otl"), "w");
    ASSERT_NE(w, nullptr);
    std::fputs("flow\n", w);
    std::fclose(w);
    EXPECT_TRUE(dir_.dir().exists("0_outlet.otl"));
    EXPECT_FALSE(dir_.dir().exists("outlet.otl"));

    // Reading and appending never get the prefix.
    std::FILE *r = open_run_file(std::string("input.dat"), "r");
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(first_line(r), "input\n");
    std::fclose(r);
    std::FILE *a = open_run_file(std::string("log.txt"), "a");
    ASSERT_NE(a, nullptr);
    std::fclose(a);
    EXPECT_TRUE(dir_.dir().exists("log.txt"));

    file_prefix_number = 12;
    EXPECT_EQ(run_file_name("x.txt", "wb"), "12_x.txt");
    EXPECT_EQ(run_file_name("x.txt", "r+"), "x.txt");
    // A long name is never cut.
    const std::string long_name(200, 'n');
    EXPECT_EQ(run_file_name(long_name, "w"), "12_" + long_name);
}

// The output layer: a stream whose writes fail is reported once, by name, and
// the run becomes fatal; an input stream or a sound output closes quietly.
TEST_F(FileOpener, FailedWritesAreReportedOnceNamingTheFile) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    std::FILE *good = open_run_file(std::string("good.txt"), "w");
    std::FILE *full = open_output_file("/dev/full", "w");
    dir_.dir().write("input.dat", "input\n");
    std::FILE *in = open_run_file(std::string("input.dat"), "r");
    ASSERT_NE(good, nullptr);
    ASSERT_NE(full, nullptr);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(open_output_file_count(), 2);
    std::fputs("kept\n", good);
    EXPECT_TRUE(output_files_written());  // nothing has reached the device yet

    // More than a buffer's worth reaches the device and fails there.
    const std::string block(1 << 16, 'x');
    std::fputs(block.c_str(), full);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(output_files_written());
    EXPECT_FALSE(output_files_written());
    EXPECT_FALSE(close_run_file(full));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "Error: unable to write the output file /dev/full\n\n");
    EXPECT_EQ(full, nullptr);
    EXPECT_EQ(error_record.fatal, 1);

    EXPECT_TRUE(close_run_file(good));
    EXPECT_TRUE(close_run_file(in));
    EXPECT_TRUE(close_run_file(in));  // null: nothing to do
    EXPECT_EQ(open_output_file_count(), 0);
    EXPECT_EQ(dir_.dir().read("good.txt"), "kept\n");
}

// A result replaces the earlier one only at the normal end of its run; a failed
// run leaves it byte for byte and removes what it staged. A calibration's file
// outlives the runs of the calibration.
TEST_F(FileOpener, ResultsReplaceTheEarlierOnesOnlyAtTheNormalEnd) {
    stage_result_files(true);
    struct row {
        bool keep;
        const char *after;
    };
    for (const row r : {row{false, "earlier\n"}, row{true, "new\n"}}) {
        dir_.dir().write("run.otl", "earlier\n");
        std::FILE *f = open_run_file(std::string("run.otl"), "w");
        std::FILE *best = open_calibration_file("best.out");
        ASSERT_NE(f, nullptr);
        ASSERT_NE(best, nullptr);
        std::fputs("new\n", f);
        EXPECT_TRUE(close_run_file(f));
        EXPECT_EQ(dir_.dir().read("run.otl"), "earlier\n");
        EXPECT_EQ(output_file_path("run.otl"), "run.otl.part");
        EXPECT_TRUE(finish_output_files(output_scope::run, r.keep));
        EXPECT_EQ(dir_.dir().read("run.otl"), r.after);
        EXPECT_FALSE(dir_.dir().exists("run.otl.part"));
        EXPECT_TRUE(dir_.dir().exists("best.out.part"));  // not the run's
        EXPECT_TRUE(close_calibration_file(best, "best.out"));
        EXPECT_TRUE(finish_output_files(output_scope::calibration, false));
        EXPECT_FALSE(dir_.dir().exists("best.out"));
        EXPECT_FALSE(dir_.dir().exists("best.out.part"));
    }
}

TEST_F(FileOpener, WriteThatFailsOnlyAtTheCloseIsCaught) {
    if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
    std::FILE *full = open_output_file("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    std::fputs("a short summary\n", full);  // stays in the buffer until the close
    testing::internal::CaptureStdout();
    EXPECT_FALSE(close_run_file(full));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Error: unable to write the output file /dev/full\n\n");
    EXPECT_EQ(error_record.fatal, 1);
}

}  // namespace
