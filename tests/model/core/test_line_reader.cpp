// Line reader and tokenizer: tokens and quotes, numbers, the second word of a
// card line, and whole lines of any length from a file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "model/core/globals.h"
#include "model/core/line_reader.h"
#include "tests/model/framework_test_support.h"

namespace {

class LineReader : public frameworktest::globals_reset {};

std::vector<std::string> all_tokens(std::string line) {
    std::vector<std::string> tokens;
    std::string t;
    while (next_token(t, line)) tokens.push_back(t);
    EXPECT_TRUE(t.empty());
    return tokens;
}

// A temporary file holding `text`, rewound for reading.
struct temp_file {
    explicit temp_file(const std::string &text) : f(std::tmpfile()) {
        std::fwrite(text.data(), 1, text.size(), f);
        std::rewind(f);
    }
    ~temp_file() { std::fclose(f); }
    std::FILE *f;
};

TEST_F(LineReader, TokensSplitOnDelimitersAndGroupInQuotes) {
    struct row {
        std::string line;
        std::vector<std::string> tokens;
    };
    const std::vector<row> rows = {
        {"a,b\t\"c d\"  e", {"a", "b", "c d", "e"}},
        {"  WATERSHED_MASK   mask.asc\n", {"WATERSHED_MASK", "mask.asc"}},
        {"\"a,b\tc\" d", {"a,b\tc", "d"}},
        {"x\"y z", {"x\"y", "z"}},
        {"\"unterminated quote", {"unterminated quote"}},
        {"1,,2,, ,3", {"1", "2", "3"}},
        {" , ,\t", {}},
        {"", {}},
    };
    for (const auto &r : rows) EXPECT_EQ(all_tokens(r.line), r.tokens) << r.line;
}

TEST_F(LineReader, NextTokenRemovesTheTokenAndFollowingDelimiters) {
    std::string line = "alpha ,  beta gamma";
    std::string t;
    ASSERT_EQ(next_token(t, line), 1);
    EXPECT_EQ(t, "alpha");
    EXPECT_EQ(line, "beta gamma");
    std::string none_line = " ,, ";
    t = "stale";
    EXPECT_EQ(next_token(t, none_line), 0);
    EXPECT_TRUE(t.empty());
}

TEST_F(LineReader, EmptyQuotedTokenGivesNothingAndKeepsBlanks) {
    std::string line = "\"\"";
    std::string t;
    EXPECT_EQ(next_token(t, line), 0);
    EXPECT_TRUE(t.empty());
    EXPECT_EQ(line, "  ");
}

TEST_F(LineReader, NumbersFromTheFrontOfTheLine) {
    struct row {
        std::string line;
        int result;
        int value;
        std::string rest;
    };
    const std::vector<row> int_rows = {
        {"12abc 5", 1, 12, "5"},   {"abc 5", 1, 0, "5"},    {"  -7,8", 1, -7, "8"},
        {"+3", 1, 3, ""},          {"", 0, 0, ""},          {" ,\t", 0, 0, " ,\t"},
        {"\"4\" 2", 1, 0, "2"},    {"99999999999 1", 1, 2147483647, "1"},
    };
    for (const auto &r : int_rows) {
        std::string line = r.line;
        int v = 77;
        EXPECT_EQ(next_int(line, v), r.result) << r.line;
        EXPECT_EQ(v, r.value) << r.line;
        EXPECT_EQ(line, r.rest) << r.line;
    }
    struct drow {
        std::string line;
        int result;
        double value;
        std::string rest;
    };
    const std::vector<drow> double_rows = {
        {"3.5e2,x", 1, 350.0, "x"}, {"-0.25 1", 1, -0.25, "1"}, {"1e-5", 1, 1e-5, ""},
        {"abc 2", 1, 0.0, "2"},     {"7.5kg", 1, 7.5, ""},     {"   ", 0, 0.0, "   "},
        {"nan 2", 0, 0.0, "2"},     {"-inf,3", 0, 0.0, "3"},   {"1e999", 0, 0.0, ""},
    };
    for (const auto &r : double_rows) {
        std::string line = r.line;
        double v = 77.0;
        EXPECT_EQ(next_double(line, v), r.result) << r.line;
        EXPECT_DOUBLE_EQ(v, r.value) << r.line;
        EXPECT_EQ(line, r.rest) << r.line;
    }
}

TEST_F(LineReader, SecondWordOfACardLine) {
    const std::string card = "TIMESTEP  30.0 more text";
    EXPECT_EQ(card.substr(skip_first_word(card)), "30.0 more text");
    const std::string single = "QUIET";
    EXPECT_EQ(single[skip_first_word(single)], 'T');
    const std::string indented = "\t  CARD\tvalue";
    EXPECT_EQ(indented.substr(skip_first_word(indented)), "value");
    // The comma is not a delimiter here.
    const std::string comma = "A,B C";
    EXPECT_EQ(comma.substr(skip_first_word(comma)), "C");
}

TEST_F(LineReader, ShiftAndStripQuotes) {
    std::string s = "abcd";
    EXPECT_EQ(shift_string(s, 2), 0);
    EXPECT_EQ(s, "cd");
    EXPECT_EQ(shift_string(s, 5), 0);
    EXPECT_EQ(s, "");
    EXPECT_EQ(shift_string(s, 1), -1);

    const std::vector<std::pair<std::string, std::string>> quotes = {
        {"\"name.txt\"", "name.txt"}, {"name.txt\"", "name.txt"}, {"\"name.txt", "name.txt"},
        {"\"\"", ""},                 {"\"", ""},                 {"", ""},
        {"a\"b", "a\"b"},
    };
    for (const auto &[in, out] : quotes) {
        std::string t = in;
        strip_quotes(t);
        EXPECT_EQ(t, out) << in;
    }
}

TEST_F(LineReader, ReadsWholeLinesOfAnyLength) {
    // A map row longer than the described 20000-character buffer stays one line.
    std::string row;
    for (int i = 0; i < 9000; ++i) row += "1.5 ";
    temp_file file("header\n" + row + "\n\nlast line without feed");
    std::string line;
    ASSERT_EQ(read_line(line, file.f), 1);
    EXPECT_EQ(line, "header");
    ASSERT_EQ(read_line(line, file.f), 1);
    EXPECT_EQ(line.size(), row.size());
    EXPECT_EQ(line, row);
    ASSERT_EQ(read_line(line, file.f), 1);
    EXPECT_EQ(line, "");
    ASSERT_EQ(read_line(line, file.f), 1);
    EXPECT_EQ(line, "last line without feed");
    EXPECT_EQ(read_line(line, file.f), 0);
    EXPECT_EQ(read_line(line, nullptr), 0);
}

TEST_F(LineReader, CarriageReturnBeforeTheLineFeedIsRemoved) {
    temp_file file("KORVAPROJECT\r\nA\rB\r\n");
    std::string line;
    ASSERT_EQ(read_line(line, file.f), 1);
    EXPECT_EQ(line, "KORVAPROJECT");
    ASSERT_EQ(read_line(line, file.f), 1);
    EXPECT_EQ(line, "A\rB");
}

TEST_F(LineReader, SubstitutesTagsOnlyWhileSwitchedOn) {
    replace_param p;
    p.tag = "[KS]";
    p.tag_length = 4;
    p.format = "%4.2lf";
    p.type = 1;
    p.double_value = 1.25;
    replace_param_list.push_back(p);
    {
        temp_file file("KS [KS]\n");
        std::string line;
        ASSERT_EQ(read_line(line, file.f), 1);
        EXPECT_EQ(line, "KS [KS]");
    }
    replace_params_on = 1;
    {
        temp_file file("KS [KS]\n");
        std::string line;
        ASSERT_EQ(read_line(line, file.f), 1);
        EXPECT_EQ(line, "KS 1.25");
        std::rewind(file.f);
        ASSERT_EQ(read_raw_line(line, file.f), 1);
        EXPECT_EQ(line, "KS [KS]");
    }
}

}  // namespace
