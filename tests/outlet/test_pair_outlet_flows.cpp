// Pairing of hydrograph discharges with date words, on in-memory inputs.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>

#include "outlet/extract_outlet_flows.h"

namespace {

struct pairing {
    int status;
    std::string text;
    std::string message;
};

pairing run_pairing(const std::string &hyd, const std::string &dates) {
    std::istringstream h(hyd), d(dates);
    std::FILE *out = std::tmpfile();
    pairing p;
    p.status = pair_outlet_flows(h, d, out, p.message);
    std::rewind(out);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, out)) > 0) p.text.append(buf, n);
    std::fclose(out);
    return p;
}

TEST(PairOutletFlows, OneLinePerPairExactFormat) {
    auto p = run_pairing("0.0 12.5\n15.0 3.25\n30 0.000000001\n",
                         "1982-05-01 00:00\n1982-05-01 00:15\n1982-05-01 00:30\n");
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.text,
              "sim_flows   1982-05-01     00:00          12.50000000\n"
              "sim_flows   1982-05-01     00:15           3.25000000\n"
              "sim_flows   1982-05-01     00:30           0.00000000\n");
}

TEST(PairOutletFlows, TrailingLineBreakAddsNoRepeatedLine) {
    auto with_break = run_pairing("0 1\n1 2\n2 3\n", "d1 t1\nd2 t2\n\n  \n");
    auto without = run_pairing("0 1\n1 2\n2 3\n", "d1 t1\nd2 t2");
    EXPECT_EQ(with_break.status, 0);
    EXPECT_EQ(without.status, 0);
    EXPECT_EQ(with_break.text, without.text);
    EXPECT_EQ(with_break.text,
              "sim_flows   d1     t1           1.00000000\n"
              "sim_flows   d2     t2           2.00000000\n");
}

TEST(PairOutletFlows, LongerHydrographSurplusIgnored) {
    auto p = run_pairing("0 5\n1 6\n2 7\n3 8\n", "a b\n");
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.text, "sim_flows   a     b           5.00000000\n");
}

TEST(PairOutletFlows, DateWordsArePositionalHydrographLinesHoldTwoNumbers) {
    // Date words may be spread over lines; blank hydrograph lines are skipped.
    auto p = run_pairing("0 1\n\n  \t\n-1.5e2\t2.0\n", "a\tb c\nd");
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.text,
              "sim_flows   a     b           1.00000000\n"
              "sim_flows   c     d           2.00000000\n");
}

TEST(PairOutletFlows, HydrographLineWithoutExactlyTwoNumbersNamesTheLine) {
    struct bad_case {
        const char *hydrograph;
        const char *line;     // the line the message names
        const char *written;  // the lines written before the refusal
    };
    const bad_case cases[] = {
        {"0 1\n15\n30 3\n", "line 2: holds one value", "sim_flows   a     b           1.00000000\n"},
        {"0\n-1.5e2 1 2.0\n", "line 1: holds one value", ""},
        {"0 1 2\n", "line 1: holds more than two values", ""},
        {"0 1\n\n15 2 x\n", "line 3: holds more than two values",
         "sim_flows   a     b           1.00000000\n"},
        {"abc\n", "line 1: \"abc\" is not a number", ""},
    };
    for (const bad_case &c : cases) {
        auto p = run_pairing(c.hydrograph, "a b\nc d\ne f\n");
        EXPECT_EQ(p.status, 1) << c.hydrograph;
        EXPECT_EQ(p.text, c.written) << c.hydrograph;
        EXPECT_NE(p.message.find(std::string("kestrup_cal_1982.otl: ") + c.line), std::string::npos)
            << p.message;
    }
}

TEST(PairOutletFlows, ShortHydrographStopsWithMessageKeepingWrittenLines) {
    auto p = run_pairing("0 4\n", "a b\nc d\n");
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.text, "sim_flows   a     b           4.00000000\n");
    EXPECT_NE(p.message.find("kestrup_cal_1982.otl"), std::string::npos);
    EXPECT_NE(p.message.find("line 1"), std::string::npos);
}

TEST(PairOutletFlows, NonNumberNamesFileAndLine) {
    auto p = run_pairing("0 4\n15 4.5\nTIME FLOW\n", "a b\nc d\ne f\n");
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.text, "sim_flows   a     b           4.00000000\n"
                      "sim_flows   c     d           4.50000000\n");
    EXPECT_NE(p.message.find("kestrup_cal_1982.otl: line 3"), std::string::npos);
    EXPECT_NE(p.message.find("TIME"), std::string::npos);
}

TEST(PairOutletFlows, PartlyNumericAndNanTokensRefused) {
    for (const char *bad : {"1.5abc", "nan", "inf", "1e999"}) {
        auto p = run_pairing(std::string("0 ") + bad + "\n", "a b\n");
        EXPECT_EQ(p.status, 1) << bad;
        EXPECT_EQ(p.text, "") << bad;
    }
}

TEST(PairOutletFlows, OddDateWordIsAnError) {
    auto p = run_pairing("0 1\n1 2\n", "a b\nc\n");
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.text, "sim_flows   a     b           1.00000000\n");
    EXPECT_NE(p.message.find("dates_for_sim_outlet_hydrograph.txt: line 2"), std::string::npos);
}

TEST(PairOutletFlows, EmptyDatesIsAnError) {
    auto p = run_pairing("0 1\n", "\n \n");
    EXPECT_EQ(p.status, 1);
    EXPECT_EQ(p.text, "");
}

TEST(PairOutletFlows, LongWordsAreKeptWhole) {
    std::string date(300, 'x');
    auto p = run_pairing("0 1\n", date + " t\n");
    EXPECT_EQ(p.status, 0);
    EXPECT_EQ(p.text, "sim_flows   " + date + "     t           1.00000000\n");
}

}  // namespace
