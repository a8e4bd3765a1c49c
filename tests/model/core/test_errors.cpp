// The error reporter: messages byte for byte, the warnings that leave the run
// going, the fatal flag and the reset of the code, and the bounded text copies.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "model/core/errors.h"
#include "model/core/globals.h"
#include "tests/model/framework_test_support.h"

namespace {

using frameworktest::capture_stdout;

class ErrorReporter : public frameworktest::globals_reset {};

std::string report(int code) {
    error_record.code = code;
    return capture_stdout([] { report_error(); });
}

TEST_F(ErrorReporter, NoCodePrintsNothingAndLeavesFatal) {
    for (int code : {0, -1, -4000}) {
        error_record.fatal = 1;
        EXPECT_EQ(report(code), "");
        EXPECT_EQ(error_record.fatal, 1);
        EXPECT_EQ(error_record.code, 0);
        error_record.fatal = 0;
        EXPECT_EQ(report(code), "");
        EXPECT_EQ(error_record.fatal, 0);
    }
}

TEST_F(ErrorReporter, PrintedErrorAddsOnlyALineFeed) {
    EXPECT_EQ(report(4000), "\n");
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(error_record.code, 0);
}

TEST_F(ErrorReporter, UnassignedAndOutOfTableCodesAreFatalBlankLines) {
    for (int code : {1, 2, 12, 19, 36, 53, 54, 60, 63, 70, 75, 82, 83, 94, 105, 114, 121, 129, 131, 500}) {
        error_record.fatal = 0;
        EXPECT_EQ(report(code), "\n") << code;
        EXPECT_EQ(error_record.fatal, 1) << code;
        EXPECT_EQ(error_record.code, 0) << code;
    }
}

TEST_F(ErrorReporter, ExactlyFiveWarningsClearTheFatalFlag) {
    int warnings = 0;
    for (int code = 1; code <= 130; ++code) {
        error_record.fatal = 1;
        report(code);
        if (error_record.fatal == 0) {
            ++warnings;
            EXPECT_TRUE(is_warning_code(code)) << code;
        }
        EXPECT_EQ(error_record.code, 0);
    }
    EXPECT_EQ(warnings, 5);
    for (int code : {39, 41, 55, 95, 96}) EXPECT_TRUE(is_warning_code(code));
}

TEST_F(ErrorReporter, WarningPrintsAndTheRunGoesOn) {
    error_record.fatal = 1;
    EXPECT_EQ(report(55), "\nWarning: Write hydrograph time step not specified, defaulting to 1 hour.\n");
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(error_record.code, 0);
}

TEST_F(ErrorReporter, UnableToOpenNamesKindAndFile) {
    set_error_text1("elevation");
    set_error_text2("dem.asc");
    EXPECT_EQ(report(4), "\nError: Unable to open elevation file.\n  (File: dem.asc)\n");
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(ErrorReporter, ProjectFileMissing) {
    EXPECT_EQ(report(3), "\nError: The specified project file was not found.\n");
}

TEST_F(ErrorReporter, MultiLineMessageByteExact) {
    EXPECT_EQ(report(11),
              "\nError: You have an error in your input due to one of the following:\n\n"
              " - You have not specified a precipitation card in your project file.\n"
              "   One of either PRECIP_UNIF or PRECIP_FILE must be specified.\n"
              "   The PRECIP_FILE card must be followed by the name of the precipitation\n"
              "   input data file.  If PRECIP_UNIF is specified, then the RAIN_DURATION\n"
              "   and RAIN_INTENSITY cards must also be given, followed by the proper values\n"
              " - You have specified spatially-uniform rainfall with either a zero\n"
              "   rate or duration.  Please check that your rain rate in mm/h or\n"
              "   rain duration in minutes are both non-zero.\n");
    // The message keeps its spelling as the model has always printed it.
    EXPECT_EQ(report(24),
              "\nError: tomatal resistance values not specified for Penman-Monteith long term "
              "simulation.\n Check project file.\n");
    EXPECT_EQ(report(130), "\nError: unable to open the nutrient summery file.\n");
}

TEST_F(ErrorReporter, InfiltrationConflictsShareTheirEndings) {
    const std::string m28 = report(28);
    const std::string m29 = report(29);
    EXPECT_EQ(m28, m29);
    EXPECT_EQ(m28, "\nError: You have specified both Green and Ampt and Richards\n"
                   "soil infiltration.  Please select only one in the \nproject file. \n");
    const std::string tail = "soil infiltration.  Please select only one in the \nproject file. \n";
    for (int code = 27; code <= 31; ++code) {
        const std::string m = report(code);
        ASSERT_GE(m.size(), tail.size());
        EXPECT_EQ(m.substr(m.size() - tail.size()), tail) << code;
    }
    const std::string m26 = report(26);
    EXPECT_EQ(m26.substr(m26.size() - 15), "\nproject file.\n");
    EXPECT_NE(m26.substr(m26.size() - 15), "project file. \n");
}

TEST_F(ErrorReporter, FieldOrderOfTwoNameMessages) {
    set_error_text1("AQUATIC_ENV_V2");
    set_error_text2("aq.env");
    EXPECT_EQ(report(77),
              "\nError: The header for the aquatic environment file is invalid or does not match \n"
              " the current version. \n The aquatic environment file specified is: aq.env\n"
              " The header should be : AQUATIC_ENV_V2");

    // Theta: the second text is the output file, the first the file of points.
    set_error_text1("points.txt");
    set_error_text2("theta.out");
    const std::string m48 = report(48);
    EXPECT_EQ(m48.find("\nError: Can't open theta location output file: theta.out\n"), 0u);
    EXPECT_NE(m48.find("ordinates at the points specified in the file points.txt\n"),
              std::string::npos);

    // Concentration, depth and hydrograph: the first text is the output file.
    set_error_text1("conc.out");
    set_error_text2("points.txt");
    const std::string m49 = report(49);
    EXPECT_EQ(m49,
              "\nError: Can't open concentration location output file: conc.out\n"
              "You specify the name of the output file which will contain the concentration\n"
              "ordinates at the points specified in the file points.txt\n"
              "This is done by using the OUT_CON_LOCATION card in the project file.\n");
}

TEST_F(ErrorReporter, IntegerMessages) {
    error_record.int1 = 12;
    error_record.int2 = 9;
    EXPECT_EQ(report(67),
              "\nThere is a problem with the wetlands index map.  It contains\n"
              "12 ID's, while the mapping table file contains 9 ID's.\n"
              "The index map and mapping table file must have the same number\n"
              "of ID's. \n");
    set_error_text2("soils.idx");
    error_record.int1 = 4;
    error_record.int2 = 17;
    EXPECT_EQ(report(71), "\nIndex ID exceeds table limit, file: soils.idx [row 4:col 17]\n");
}

TEST_F(ErrorReporter, TextsWithFormatCharactersArePrintedAsText) {
    set_error_text2("100%s_%d.map");
    EXPECT_EQ(report(72), "\nIncorrect number of rows and columns in map: 100%s_%d.map\n");
}

TEST_F(ErrorReporter, TextFieldsAreBoundedCopies) {
    const std::string long_name(300, 'x');
    set_error_text1(long_name);
    set_error_text2(long_name);
    EXPECT_EQ(std::strlen(error_record.text1), 59u);
    EXPECT_EQ(std::strlen(error_record.text2), 131u);
    set_error_text1("short");
    EXPECT_STREQ(error_record.text1, "short");
}

TEST_F(ErrorReporter, RaiseAndClear) {
    raise_error(59, "", "out.dat");
    EXPECT_EQ(error_record.code, 59);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(capture_stdout([] { report_error(); }), "\nError: Can't open output file: out.dat\n");
    EXPECT_EQ(error_record.code, 0);
    EXPECT_EQ(error_record.fatal, 1);
    // The texts stay until overwritten.
    EXPECT_STREQ(error_record.text2, "out.dat");
    clear_error_state();
    EXPECT_EQ(error_record.fatal, 0);

    EXPECT_EQ(capture_stdout([] { raise_printed_error(); }), "\n");
    EXPECT_EQ(error_record.code, 0);
    EXPECT_EQ(error_record.fatal, 1);
}

}  // namespace
