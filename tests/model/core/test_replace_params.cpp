// Replacement parameters: list and value files, format checks, and substitution
// of bracketed tags into input lines.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "model/core/globals.h"
#include "model/core/replace_params.h"
#include "tests/model/framework_test_support.h"

namespace {

using frameworktest::capture_stdout;

class ReplaceParams : public frameworktest::globals_reset {};

replace_param make_param(const std::string &tag, const std::string &format, double dv, int iv) {
    replace_param p;
    p.tag = tag;
    p.tag_length = static_cast<int>(tag.size());
    p.format = format;
    replace_format parsed;
    EXPECT_EQ(parse_replace_format(format, parsed), 0) << format;
    p.type = parsed.type;
    p.double_value = dv;
    p.int_value = iv;
    return p;
}

TEST_F(ReplaceParams, SubstitutesEveryTag) {
    replace_param_list.push_back(make_param("[KS1]", "%4.2lf", 0.5, 0));
    replace_param_list.push_back(make_param("[N]", "%d", 0.0, 3));
    std::string line = "[KS1] 7 [N]";
    EXPECT_EQ(capture_stdout([&] { replace_in_line(line); }), "");
    EXPECT_EQ(line, "0.50 7 3");

    std::string repeated = "CONDUCTIVITY [KS1],[KS1]\t[N][N]";
    replace_in_line(repeated);
    EXPECT_EQ(repeated, "CONDUCTIVITY 0.50,0.50\t33");
}

TEST_F(ReplaceParams, ValueTextMatchesTheFormat) {
    struct row {
        std::string format;
        double dv;
        int iv;
        std::string text;
    };
    // Expected texts as the C library prints them for the same formats.
    const std::vector<row> rows = {
        {"%4.2lf", 0.5, 0, "0.50"},     {"%8.3f", -3.14159, 0, "  -3.142"},
        {"%-6d", 0.0, 42, "42    "},    {"%+05d", 0.0, 7, "+0007"},
        {"x=%.1lf%%", 12.26, 0, "x=12.3%"}, {"%%%ld", 0.0, -12, "%-12"},
        {"%.0f", 2.5e6, 0, "2500000"},  {"% d", 0.0, 5, " 5"},
        {"%#.0f", 3.0, 0, "3."},        {"%lf", 1.0 / 3.0, 0, "0.333333"},
    };
    for (const auto &r : rows) {
        const replace_param p = make_param("[P]", r.format, r.dv, r.iv);
        EXPECT_EQ(format_replace_value(p), r.text) << r.format;
    }
}

TEST_F(ReplaceParams, FormatsMustHoldOneNumericConversion) {
    const std::vector<std::string> accepted = {"%4.2lf", "%d", "%12d", "%-8.3f", "v%+06.1lf!",
                                               "%%%d", "%.f", "%ld"};
    for (const auto &f : accepted) {
        replace_format parsed;
        EXPECT_EQ(parse_replace_format(f, parsed), 0) << f;
    }
    const std::vector<std::string> refused = {
        "",      "abc",    "%s",   "%4.2lf %d", "%n",  "%*d",    "%.*f", "%x",     "%lld",
        "%Lf",   "%4.2e",  "%",    "%d%",       "%#d", "%100d",  "%.100f", "[%d]", "%hd",
        "%4.2lf%s", "%c",
    };
    for (const auto &f : refused) {
        replace_format parsed;
        EXPECT_EQ(parse_replace_format(f, parsed), -1) << f;
    }
    replace_format parsed;
    ASSERT_EQ(parse_replace_format("a%%b%08.3lfc", parsed), 0);
    EXPECT_EQ(parsed.prefix, "a%b");
    EXPECT_EQ(parsed.conversion, "%08.3f");
    EXPECT_EQ(parsed.suffix, "c");
    EXPECT_EQ(parsed.type, 1);
    // The conversion, not letters of the literal text, decides the type.
    ASSERT_EQ(parse_replace_format("%d feet", parsed), 0);
    EXPECT_EQ(parsed.type, 0);
    ASSERT_EQ(parse_replace_format("%.2f d", parsed), 0);
    EXPECT_EQ(parsed.type, 1);
}

TEST_F(ReplaceParams, FirstEntryWhoseWholeTagMatchesWins) {
    replace_param_list.push_back(make_param("[K]", "%d", 0.0, 1));
    replace_param_list.push_back(make_param("[KS]", "%d", 0.0, 2));
    replace_param_list.push_back(make_param("[KS]", "%d", 0.0, 3));
    std::string line = "[KS] [K]";
    replace_in_line(line);
    EXPECT_EQ(line, "2 1");
}

TEST_F(ReplaceParams, UnmatchedTagIsReportedAndLeft) {
    replace_param_list.push_back(make_param("[A]", "%d", 0.0, 1));
    std::string line = "[B] [A]";
    EXPECT_EQ(capture_stdout([&] { replace_in_line(line); }),
              "Error: unable to match replace pair: [B] [A]\n");
    EXPECT_EQ(line, "[B] 1");
}

TEST_F(ReplaceParams, ListLineParsing) {
    replace_param p;
    ASSERT_EQ(parse_replace_param_line("[KS1] \"%4.2lf\"", p), 0);
    EXPECT_EQ(p.tag, "[KS1]");
    EXPECT_EQ(p.tag_length, 5);
    EXPECT_EQ(p.format, "%4.2lf");
    EXPECT_EQ(p.type, 1);
    ASSERT_EQ(parse_replace_param_line("  [N]\t%d", p), 0);
    EXPECT_EQ(p.tag, "[N]");
    EXPECT_EQ(p.type, 0);

    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(parse_replace_param_line("KS1 \"%4.2lf\"", p), -1); }),
              "Error: Improperly formatted line in the replacement parameter file\n"
              "line:KS1 \"%4.2lf\"\n");
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(parse_replace_param_line("[A] \"%s\"", p), -1); }),
              "Error: Improperly formatted line in the replacement parameter file\nline:[A] \"%s\"\n"
              "---> The format must be a C-style format in quotes, such as \"%4.2lf\"\n");
    EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(parse_replace_param_line("x] [y", p), -1); }),
              "Error: Improperly formatted line in the replacement parameter file\nline:x] [y\n");
}

class ReplaceFiles : public ReplaceParams {
protected:
    frameworktest::in_scratch_dir dir_;
};

TEST_F(ReplaceFiles, ReadsTheListFile) {
    dir_.dir().write("params.lst", "3\n[KS1] \"%4.2lf\"\nbad line\n[N] \"%d\"\n");
    std::string out;
    out = capture_stdout([] { EXPECT_EQ(read_replace_params("params.lst"), 0); });
    EXPECT_EQ(out, "Error: Improperly formatted line in the replacement parameter file\nline:bad line\n"
                   "  (line 3 of the replacement parameter list file params.lst)\n");
    ASSERT_EQ(replace_param_list.size(), 2u);
    EXPECT_EQ(replace_param_list[0].tag, "[KS1]");
    EXPECT_EQ(replace_param_list[1].tag, "[N]");
    // A second list file adds to the end of the list.
    dir_.dir().write("more.lst", "1\n[M] \"%d\"\n");
    EXPECT_EQ(read_replace_params("\"more.lst\""), 0);
    ASSERT_EQ(replace_param_list.size(), 3u);
    EXPECT_EQ(replace_param_list[2].tag, "[M]");
}

TEST_F(ReplaceFiles, ListFileFailuresNameTheFile) {
    const std::string no_count =
        "Error: unable to read the number of parameters in the parameter list file\n"
        "Line 1 of the replacement parameter list file %s must hold a count from 0 to 2147483647.\n";
    struct row {
        const char *file, *text;  // text null: the file is missing
        std::string out;
    };
    const row rows[] = {
        {"missing.lst", nullptr,
         "Error: unable to open the replace parameter file.\n"
         "The replacement parameter list file is missing.lst.\n"},
        {"nocount.lst", "[A] \"%d\"\n", ""},
        {"huge.lst", "2147483648\n[A] \"%d\"\n", ""},
        {"negative.lst", "-1\n", ""},
        {"short.lst", "3\n[A] \"%d\"\n[B] \"%d\"\n",
         "Error: unexpected end of parameter list file after 2 parameters. Expecting 3\n"
         "The replacement parameter list file is short.lst.\n"},
        {"empty.lst", "2\n",
         "Error: unexpected end of parameter list file after 0 parameters. Expecting 2\n"
         "The replacement parameter list file is empty.lst.\n"},
    };
    for (const row &r : rows) {
        if (r.text) dir_.dir().write(r.file, r.text);
        std::string expected = r.out;
        if (expected.empty()) {
            expected.resize(no_count.size() + 32);
            expected.resize(static_cast<std::size_t>(
                std::snprintf(expected.data(), expected.size(), no_count.c_str(), r.file)));
        }
        EXPECT_EQ(capture_stdout([&] { EXPECT_EQ(read_replace_params(r.file), -1); }), expected)
            << r.file;
    }
}

TEST_F(ReplaceFiles, ValueFileLineSelection) {
    replace_param_list.push_back(make_param("[A]", "%4.2lf", 0.0, 0));
    replace_param_list.push_back(make_param("[B]", "%d", 0.0, 0));
    dir_.dir().write("vals.txt", "1.0 1\n2.0 2\n3.0 3\n");

    replace_line_index = 2;  // REPLACE_LINE 3
    ASSERT_EQ(read_replace_vals("vals.txt"), 0);
    EXPECT_DOUBLE_EQ(replace_param_list[0].double_value, 3.0);
    EXPECT_EQ(replace_param_list[1].int_value, 3);
    EXPECT_EQ(replace_params_on, 1);

    replace_line_index = 0;
    ASSERT_EQ(read_replace_vals("vals.txt"), 0);
    EXPECT_DOUBLE_EQ(replace_param_list[0].double_value, 1.0);

    // Beyond the end of the file the last line that could be read is used.
    replace_line_index = 10;
    ASSERT_EQ(read_replace_vals("vals.txt"), 0);
    EXPECT_DOUBLE_EQ(replace_param_list[0].double_value, 3.0);
    EXPECT_EQ(replace_param_list[1].int_value, 3);
}

TEST_F(ReplaceFiles, ValueFileFailures) {
    replace_param_list.push_back(make_param("[A]", "%4.2lf", 0.0, 0));
    replace_param_list.push_back(make_param("[B]", "%d", 0.0, 0));
    EXPECT_EQ(capture_stdout([] { EXPECT_EQ(read_replace_vals("none.txt"), -1); }),
              "Error: unable to open the value file none.txt");

    dir_.dir().write("empty.txt", "");
    EXPECT_EQ(capture_stdout([] { EXPECT_EQ(read_replace_vals("empty.txt"), -1); }),
              "Error: no value line 1 in the value file empty.txt\n");

    dir_.dir().write("vals.txt", "1.0 1\n");
    replace_line_index = -1;  // REPLACE_LINE 0
    EXPECT_EQ(capture_stdout([] { EXPECT_EQ(read_replace_vals("vals.txt"), -1); }),
              "Error: no value line 0 in the value file vals.txt\n");
    replace_line_index = 0;

    dir_.dir().write("short.txt", "4.5\n");
    EXPECT_EQ(capture_stdout([] { EXPECT_EQ(read_replace_vals("short.txt"), -1); }),
              "Error: the value line of the value file short.txt holds 1 values, "
              "the replace parameter list 2\n");
    EXPECT_EQ(replace_params_on, 0);
}

TEST_F(ReplaceFiles, RefusedFormatLeavesTheLineUnchanged) {
    dir_.dir().write("params.lst", "2\n[A] \"%s\"\n[B] \"%d\"\n");
    capture_stdout([] { EXPECT_EQ(read_replace_params("params.lst"), 0); });
    ASSERT_EQ(replace_param_list.size(), 1u);
    dir_.dir().write("vals.txt", "8\n");
    ASSERT_EQ(read_replace_vals("vals.txt"), 0);
    std::string line = "[A] [B]";
    EXPECT_EQ(capture_stdout([&] { replace_in_line(line); }),
              "Error: unable to match replace pair: [A] [B]\n");
    EXPECT_EQ(line, "[A] 8");
}

TEST_F(ReplaceFiles, ValuesLineTakesOneValuePerEntry) {
    replace_param_list.push_back(make_param("[A]", "%.3f", 0.0, 0));
    replace_param_list.push_back(make_param("[B]", "%d", 0.0, 0));
    replace_param_list.push_back(make_param("[C]", "%.1f", 9.0, 0));
    EXPECT_EQ(read_replace_values_line("0.125, 17"), 2);
    EXPECT_DOUBLE_EQ(replace_param_list[0].double_value, 0.125);
    EXPECT_EQ(replace_param_list[1].int_value, 17);
    EXPECT_DOUBLE_EQ(replace_param_list[2].double_value, 0.0);
}

}  // namespace
