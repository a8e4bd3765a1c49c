// Tests of template files: the header and marker, the mapping of parameter
// spaces to parameters, the refusals of the scan, and the written input files.
#include <gtest/gtest.h>

#include <string>

#include "calibrator/engine/start_up_services.h"
#include "calibrator/engine/template_files.h"
#include "engine_fixture.h"

using engine_test::in_scratch_dir;

namespace {

class Templates : public in_scratch_dir {
protected:
    void SetUp() override {
        in_scratch_dir::SetUp();
        cd.parameters.assign(1, parameter_data{});
        cd.templates.assign(1, template_file_data{});
    }
    void TearDown() override {
        close_template_files(cd, table);
        in_scratch_dir::TearDown();
    }

    void add_parameter(const std::string &name, double value, const std::string &transform = "none") {
        parameter_data p;
        p.name = name;
        p.value = value;
        p.transform = transform;
        cd.parameters.push_back(p);
        cd.parameter_count = static_cast<int>(cd.parameters.size()) - 1;
    }

    // Writes `text` as template 1 (input file "model.in"), opens and scans it.
    calib_status scan(const std::string &text) {
        write("model.tpl", text);
        template_file_data t;
        t.template_name = "model.tpl";
        t.input_name = "model.in";
        cd.templates.push_back(t);
        cd.template_count = 1;
        if (open_template_files(cd, table) != 0) return 1;
        testing::internal::CaptureStdout();
        const calib_status s = scan_template_files(cd, table);
        printed = testing::internal::GetCapturedStdout();
        return s;
    }

    calib_status write_input(int kind) {
        file_names names;
        testing::internal::CaptureStdout();
        const calib_status s = write_model_input_file(cd, names, 1, kind, table);
        printed = testing::internal::GetCapturedStdout();
        return s;
    }

    control_data cd;
    template_file_table table;
    std::string printed;
};

}  // namespace

TEST_F(Templates, MarkerIsTheFifthHeaderCharacter) {
    add_parameter("k1", 2.5);
    ASSERT_EQ(scan("jtf $\nvalue $k1  $ end\n"), 0) << printed;
    EXPECT_EQ(cd.templates[1].space_count, 1);
    EXPECT_EQ(cd.templates[1].space_parameters[1], 1);
    // Positions are just past each marker, counted from the start of the file.
    ASSERT_EQ(cd.templates[1].marker_positions.size(), 2u);
    EXPECT_EQ(cd.templates[1].marker_positions[0], 13);
    EXPECT_EQ(cd.templates[1].marker_positions[1], 18);
    ASSERT_EQ(write_input(0), 0) << printed;
    EXPECT_EQ(read("model.in"), "value 2.5000000E+00 end\n\n");
}

TEST_F(Templates, NamesMatchInUpperOrLowerCaseOnly) {
    add_parameter("RCH1", 1.0);
    ASSERT_EQ(scan("ptf #\n#  RCH1   #\n"), 0) << printed;
    EXPECT_EQ(cd.templates[1].space_parameters[1], 1);
}

TEST_F(Templates, LowerCaseParameterMatchesUpperCaseSpace) {
    add_parameter("rch1", 1.0);
    ASSERT_EQ(scan("ptf #\n# RCH1 #\n"), 0) << printed;
    EXPECT_EQ(cd.templates[1].space_parameters[1], 1);
}

TEST_F(Templates, MixedCaseParameterNeverMatches) {
    add_parameter("Rch1", 1.0);
    EXPECT_EQ(scan("ptf #\n# RCH1 #\n"), 1);
    EXPECT_NE(printed.find("model.tpl is not a valid template file."), std::string::npos) << printed;
    EXPECT_NE(printed.find("names \"RCH1\", which is not a parameter"), std::string::npos) << printed;
}

TEST_F(Templates, LogParameterIsWrittenNatively) {
    add_parameter("k", 2.0, "log");
    ASSERT_EQ(scan("ptf #\n#k      #\n"), 0) << printed;
    ASSERT_EQ(write_input(0), 0);
    EXPECT_EQ(read("model.in"), "1.0000000E+02\n\n");
}

TEST_F(Templates, HeaderIsDroppedAndOneLineBreakAdded) {
    add_parameter("a", -0.125);
    ASSERT_EQ(scan("ptf #\nline one #a#\nline two\n"), 0) << printed;
    ASSERT_EQ(write_input(0), 0);
    EXPECT_EQ(read("model.in"), "line one -1.2500000E-01\nline two\n\n");
}

TEST_F(Templates, LineEndsPassThroughUnchanged) {
    add_parameter("a", 3.0);
    ASSERT_EQ(scan("ptf #\r\nx = #a #\r\n"), 0) << printed;
    ASSERT_EQ(write_input(0), 0);
    EXPECT_EQ(read("model.in"), "x = 3.0000000E+00\r\n\n");
}

TEST_F(Templates, SpaceWidthPlaysNoPart) {
    add_parameter("a", 123456.789);
    ASSERT_EQ(scan("ptf !\n!a!|!   a    !\n"), 0) << printed;
    ASSERT_EQ(write_input(0), 0);
    EXPECT_EQ(read("model.in"), "1.2345679E+05|1.2345679E+05\n\n");
}

TEST_F(Templates, FourMarkersGiveTwoSpacesNamingTheSameParameter) {
    add_parameter("a", 1.0);
    add_parameter("b", 2.0);
    ASSERT_EQ(scan("ptf #\n#b# #b#\n"), 0) << printed;
    EXPECT_EQ(cd.templates[1].space_count, 2);
    EXPECT_EQ(cd.templates[1].space_parameters[1], 2);
    EXPECT_EQ(cd.templates[1].space_parameters[2], 2);
}

TEST_F(Templates, ValueKindsSelectThePerturbedValues) {
    add_parameter("a", 1.0);
    cd.parameters[1].perturbed_value_1 = 1.01;
    cd.parameters[1].perturbed_value_2 = 0.99;
    ASSERT_EQ(scan("ptf #\n#a#\n"), 0) << printed;
    ASSERT_EQ(write_input(1), 0);
    EXPECT_EQ(read("model.in"), "1.0100000E+00\n\n");
    ASSERT_EQ(write_input(2), 0);
    EXPECT_EQ(read("model.in"), "9.9000000E-01\n\n");
    ASSERT_EQ(write_input(0), 0);
    EXPECT_EQ(read("model.in"), "1.0000000E+00\n\n");
}

TEST_F(Templates, ManyMarkersAreAccepted) {
    add_parameter("a", 1.0);
    std::string body;
    for (int k = 0; k < 6000; ++k) body += "#a#\n";  // 12000 markers
    ASSERT_EQ(scan("ptf #\n" + body), 0) << printed;
    EXPECT_EQ(cd.templates[1].space_count, 6000);
    ASSERT_EQ(write_input(0), 0);
    const std::string written = read("model.in");
    EXPECT_EQ(written.size(), 6000u * 14u + 1u);
}

TEST_F(Templates, InvalidHeaderIsRefused) {
    add_parameter("a", 1.0);
    EXPECT_EQ(scan("pft #\n#a#\n"), 1);
    EXPECT_EQ(printed, "\nmodel.tpl is not a valid template file.\n\n");
}

TEST_F(Templates, HeaderTooShortForTheMarkerIsRefused) {
    add_parameter("a", 1.0);
    EXPECT_EQ(scan("ptf\n#a#\n"), 1);
    EXPECT_NE(printed.find("too short"), std::string::npos) << printed;
}

TEST_F(Templates, BlankMarkerIsRefused) {
    add_parameter("a", 1.0);
    EXPECT_EQ(scan("ptf   \n a \n"), 1);
    EXPECT_NE(printed.find("is blank"), std::string::npos) << printed;
}

TEST_F(Templates, UnterminatedSpaceIsRefused) {
    add_parameter("a", 1.0);
    EXPECT_EQ(scan("ptf #\n#a# #a\n"), 1);
    EXPECT_NE(printed.find("no closing marker"), std::string::npos) << printed;
}

TEST_F(Templates, EmptySpaceIsRefused) {
    add_parameter("a", 1.0);
    EXPECT_EQ(scan("ptf #\n#   #\n"), 1);
    EXPECT_NE(printed.find("names \"\""), std::string::npos) << printed;
}

TEST_F(Templates, InputFileThatCannotBeCreatedIsAFailure) {
    add_parameter("a", 1.0);
    ASSERT_EQ(scan("ptf #\n#a#\n"), 0);
    cd.templates[1].input_name = "no_such_dir/model.in";
    EXPECT_EQ(write_input(0), 1);
    EXPECT_NE(printed.find("Cannot create model input file no_such_dir/model.in"), std::string::npos)
        << printed;
}
