// End-to-end tests of the varnock entry: the command line, the output file names
// built from the case name, and the dispatch on MODE.
#include <gtest/gtest.h>

#include <filesystem>

#include "support/run_program.h"
#include "varnock_case.h"

using testsupport::scratch_dir;
using varnock_e2e::contains;
using varnock_e2e::line_case;
using varnock_e2e::replaced;

TEST(VarnockCommandLine, NoArgumentPrintsTheFourLines) {
    scratch_dir d;
    auto r = d.run(VARNOCK_EXE);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out,
              "\nNo command line arguments.\n"
              "At the command prompt, please also enter the name\n"
              "of the input control file following the Program name.\n");
    EXPECT_TRUE(std::filesystem::is_empty(d.path()));
}

TEST(VarnockCommandLine, MissingControlFileIsNamedOnTheErrorStream) {
    scratch_dir d;
    auto r = d.run(VARNOCK_EXE, {"nothere"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.err, "Cannot open nothere.pst \n");
}

TEST(VarnockOutputNames, CaseNameIsTheLastComponentUpToItsFirstPoint) {
    scratch_dir d;
    const std::string control = line_case(d);
    d.write("a.b.pst", control);
    EXPECT_EQ(d.run(VARNOCK_EXE, {"./a.b.pst"}).exit_status, 0);
    for (const char *name : {"a.rec", "a.sen", "a.mtt", "a.par"}) EXPECT_TRUE(d.exists(name)) << name;
    EXPECT_FALSE(d.exists("a.rst"));
}

TEST(VarnockOutputNames, NameWithoutPointIsCompletedAndIsTheCase) {
    scratch_dir d;
    const std::string control = line_case(d);
    d.write("case1.pst", control);
    EXPECT_EQ(d.run(VARNOCK_EXE, {"case1"}).exit_status, 0);
    EXPECT_TRUE(d.exists("case1.rec"));
    EXPECT_TRUE(d.exists("case1.par"));
}

TEST(VarnockOutputNames, LongCaseNamesAreHeldWhole) {
    scratch_dir d;
    const std::string control = line_case(d);
    const std::string name(150, 'k');
    d.write(name + ".pst", control);
    EXPECT_EQ(d.run(VARNOCK_EXE, {name + ".pst"}).exit_status, 0);
    EXPECT_TRUE(d.exists(name + ".rec"));
}

TEST(VarnockOutputNames, ReadOnlyRunRecordIsReported) {
    scratch_dir d;
    const std::string control = line_case(d);
    std::filesystem::create_directory(d.path() / "line.rec");  // cannot be opened as a file
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(contains(r.out, "Cannot open output file line.rec for writing.")) << r.out;
}

TEST(VarnockModes, PredictionIsRefusedBeforeAnyOutputFile) {
    scratch_dir d;
    const std::string control = line_case(d);
    d.write("line.pst", replaced(control, "norestart estimation", "norestart prediction"));
    d.write("varnock.stp", "1\n");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out,
              "\nCurrently, the Varnock does not support prediction capabilities.\n"
              "Please change the MODE parameter in the control\n"
              "file to 'estimation' or 'regularization' and recommence execution of the Varnock.\n\n");
    EXPECT_FALSE(d.exists("varnock.stp"));
    EXPECT_FALSE(d.exists("line.rec"));
    EXPECT_FALSE(d.exists("model.in"));
}

TEST(VarnockModes, UnknownModeIsAnError) {
    scratch_dir d;
    const std::string control = line_case(d);
    d.write("line.pst", replaced(control, "norestart estimation", "norestart Estimation"));
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(contains(r.out, "Unknown MODE \"Estimation\"")) << r.out;
    EXPECT_FALSE(d.exists("line.rec"));
}

TEST(VarnockModes, RegularisationWithoutPriorInformationFails) {
    scratch_dir d;
    const std::string control = line_case(d);
    d.write("line.pst", replaced(control, "norestart estimation", "norestart regularization"));
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out,
              "\nAt least one piece of prior information must be specified to run in regularization mode.\n");
    // Refused before the result files are opened: none is made.
    for (const char *name : {"line.rec", "line.sen", "line.mtt", "line.par"}) {
        EXPECT_FALSE(d.exists(name)) << name;
    }
    EXPECT_FALSE(d.exists("model.in"));
}

TEST(VarnockModes, ScemuaDoesNothing) {
    scratch_dir d;
    const std::string control = line_case(d);
    d.write("line.pst", replaced(control, "norestart estimation", "norestart scemua"));
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(d.read("line.rec"), "");
    EXPECT_FALSE(d.exists("model.in"));
}

TEST(VarnockModes, RestartArgumentAppendsAndOtherArgumentsTruncate) {
    scratch_dir d;
    const std::string control = line_case(d);
    d.write("line.pst", replaced(control, "norestart estimation", "norestart scemua"));
    d.write("line.rec", "earlier record\n");
    d.write("line.sen", "earlier sensitivities\n");
    EXPECT_EQ(d.run(VARNOCK_EXE, {"line.pst", "/r"}).exit_status, 0);
    EXPECT_EQ(d.read("line.rec"), "earlier record\n");
    EXPECT_EQ(d.read("line.sen"), "earlier sensitivities\n");
    EXPECT_EQ(d.run(VARNOCK_EXE, {"line.pst", "/R"}).exit_status, 0);
    EXPECT_EQ(d.read("line.rec"), "");
    EXPECT_EQ(d.read("line.sen"), "");
}

TEST(VarnockModes, SingleRunCannotBeRestarted) {
    scratch_dir d;
    line_case(d);
    auto r = d.run(VARNOCK_EXE, {"line.pst", "/r"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(contains(r.out, "\n\nError opening the restart file.\n"
                                "Possibly previous run was not halted prematurely.\n\n"))
        << r.out;
    EXPECT_FALSE(d.exists("model.in"));
}
