// Tests of the entry's file names: the case name is the last path component of
// the control file name up to its first point.
#include <gtest/gtest.h>

#include <string>

#include "calibrator/engine/calibration_main.h"
#include "engine_fixture.h"

namespace {

file_names names_for(const std::string &argument, calib_status &status) {
    const int old = set_reading_pause_ms(0);
    std::string arg = argument;
    char program[] = "varnock";
    char *argv[] = {program, arg.data(), nullptr};
    file_names names;
    testing::internal::CaptureStdout();
    status = FilesNamesForWrite(argv, names);
    testing::internal::GetCapturedStdout();
    set_reading_pause_ms(old);
    return names;
}

}  // namespace

TEST(OutputNames, SixNamesFromTheCase) {
    calib_status s = 1;
    const file_names n = names_for("case1.pst", s);
    EXPECT_EQ(s, 0);
    EXPECT_EQ(n.case_name, "case1");
    EXPECT_EQ(n.record_name, "case1.rec");
    EXPECT_EQ(n.sensitivity_name, "case1.sen");
    EXPECT_EQ(n.matrix_name, "case1.mtt");
    EXPECT_EQ(n.parameter_value_name, "case1.par");
    EXPECT_EQ(n.restart_name, "case1.rst");
}

TEST(OutputNames, CaseNameRules) {
    calib_status s = 1;
    EXPECT_EQ(names_for("case1", s).case_name, "case1");
    EXPECT_EQ(names_for("a.b.pst", s).case_name, "a");
    EXPECT_EQ(names_for("./c.pst", s).record_name, "c.rec");
    EXPECT_EQ(names_for("../runs.2024/model.v2.pst", s).case_name, "model");
    const std::string long_name(300, 'x');
    EXPECT_EQ(names_for(long_name + ".pst", s).record_name, long_name + ".rec");
    EXPECT_EQ(s, 0);
}

TEST(OutputNames, EmptyCaseNameIsRefused) {
    calib_status s = 0;
    names_for("runs/.pst", s);
    EXPECT_EQ(s, 1);
}
