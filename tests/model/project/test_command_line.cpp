// Tests of the command-line parser of korva: modes, prefix matching, batch counts,
// file names taken whole, and the usage text and banner.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "model/project/command_line.h"

namespace {

struct parsed {
    int result = 0;
    command_line cmd;
    std::string out;
};

parsed parse(const std::vector<std::string> &args) {
    std::vector<const char *> argv{"korva"};
    for (const std::string &a : args) argv.push_back(a.c_str());
    parsed p;
    p.cmd.mode = 99;
    p.cmd.path = "left over";
    testing::internal::CaptureStdout();
    p.result = parse_command_line(p.cmd, static_cast<int>(argv.size()), argv.data());
    p.out = testing::internal::GetCapturedStdout();
    return p;
}

std::string usage_text() {
    testing::internal::CaptureStdout();
    print_usage();
    return testing::internal::GetCapturedStdout();
}

TEST(CommandLine, NoArgumentPrintsTheUsage) {
    parsed p = parse({});
    EXPECT_EQ(p.result, -1);
    EXPECT_EQ(p.out, usage_text());
    EXPECT_EQ(p.cmd.mode, mode_none);
    EXPECT_EQ(p.cmd.path, "");
}

TEST(CommandLine, OneArgumentIsAlwaysTheProjectFile) {
    for (const char *arg : {"basin.prj", "-v", "-t", "-c", "100%d_%s.prj"}) {
        parsed p = parse({arg});
        EXPECT_EQ(p.result, 1) << arg;
        EXPECT_EQ(p.cmd.mode, mode_single_run) << arg;
        EXPECT_EQ(p.cmd.path, arg);
        EXPECT_EQ(p.out, "");
    }
}

TEST(CommandLine, LongFileNameIsTakenWhole) {
    const std::string name(3000, 'a');
    parsed p = parse({name});
    EXPECT_EQ(p.cmd.path, name);
    p = parse({"-c", name});
    EXPECT_EQ(p.cmd.path, name);
}

TEST(CommandLine, OptionsArePrefixes) {
    struct expected {
        const char *first;
        int mode;
        const char *path;
    };
    const expected cases[] = {
        {"-c", mode_sce, "file.in"},        {"-cfoo", mode_sce, "file.in"},
        {"-s", mode_sensitivity, "file.in"}, {"-sx", mode_sensitivity, "file.in"},
        {"-h", mode_help, "file.in"},       {"-m", mode_montecarlo, "file.in"},
        {"-v", mode_version, ""},           {"-vfoo", mode_version, ""},
        {"-b3", mode_batch, ""},
    };
    for (const expected &e : cases) {
        parsed p = parse({e.first, "file.in"});
        EXPECT_EQ(p.cmd.mode, e.mode) << e.first;
        EXPECT_EQ(p.cmd.path, e.path) << e.first;
        EXPECT_EQ(p.out, "") << e.first;
    }
}

TEST(CommandLine, BatchCountsFollowTheOptionLetters) {
    EXPECT_EQ(parse({"-m5", "mc.in"}).result, 5);
    EXPECT_EQ(parse({"-m", "mc.in"}).result, 1);
    EXPECT_EQ(parse({"-mx", "mc.in"}).result, 1);
    EXPECT_EQ(parse({"-m0", "mc.in"}).result, 0);
    EXPECT_EQ(parse({"-m-4", "mc.in"}).result, -4);
    EXPECT_EQ(parse({"-b3", "anything"}).result, 3);
    EXPECT_EQ(parse({"-c7", "sce.in"}).result, 1);  // only -b and -m carry a count
}

TEST(CommandLine, HelpWithAnOptionParses) {
    parsed p = parse({"-h", "-b"});
    EXPECT_EQ(p.result, 1);
    EXPECT_EQ(p.cmd.mode, mode_help);
    EXPECT_EQ(p.cmd.path, "-b");
}

TEST(CommandLine, UnknownOptionAndTestModesPrintTheUsage) {
    for (const char *first : {"-x", "-t", "-tv", "x", "--"}) {
        parsed p = parse({first, "second"});
        EXPECT_EQ(p.result, -1) << first;
        EXPECT_EQ(p.out, usage_text()) << first;
    }
}

TEST(CommandLine, ThirdArgumentIsIgnored) {
    parsed p = parse({"-c", "sce.in", "extra"});
    EXPECT_EQ(p.cmd.mode, mode_sce);
    EXPECT_EQ(p.cmd.path, "sce.in");
}

TEST(CommandLine, UsageTextLines) {
    const std::string text = usage_text();
    ASSERT_GT(text.size(), 2u);
    EXPECT_EQ(text.substr(0, 36), "\nUsage: korva [-option] [inputfile]\n");
    EXPECT_NE(text.find("\n      -tv = internal test mode -- runs function-level verification "
                        "tests (verbose output)\n"),
              std::string::npos);
    EXPECT_NE(text.find("\n      -h = help (input file is option for help, e.g. korva -h -b "
                        "will give help on batch mode\n"),
              std::string::npos);
    const std::string tail =
        "  where [num_batch] is the number of batch runs to make, sce_inputfile is the SCE "
        "input file, mc_intputfile is\n  the Monte Carlo input file, and sen_inputfile is the "
        "sensitivity input file.\n\n";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    int lines = 0;
    for (char c : text) lines += c == '\n';
    EXPECT_EQ(lines, 33);
}

TEST(CommandLine, BannerShowsTheVersion) {
    testing::internal::CaptureStdout();
    print_banner();
    const std::string text = testing::internal::GetCapturedStdout();
    EXPECT_EQ(text.substr(0, 36), "\nKORVA Alpha version Tarvel 5.00f\n \n");
    EXPECT_NE(text.find("       --- Not for public release ---   \n"), std::string::npos);
    EXPECT_NE(text.find("developed in cooperation with: \n \n"), std::string::npos);
    EXPECT_NE(text.find("For information contact:\n"), std::string::npos);
    const std::string tail = "\n \nIntended for use with ZEP Version 8.1 or higher\n \n";
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
}

}  // namespace
