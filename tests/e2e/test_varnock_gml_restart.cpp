// End-to-end tests of stopping a GML estimation through the stop file and
// resuming it with "/r" from the restart file, and of the restart file's
// failure paths and the second program argument.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "test_varnock_gml_support.h"

using namespace gml_e2e;
using testsupport::scratch_dir;

namespace {

// Counts the model runs; at the run number held in "stop_at" (once) the model
// asks varnock to stop by writing 1 into the stop file.
const char *stopping_prologue =
    "n=$(cat calls.txt 2>/dev/null || echo 0); n=$((n+1)); echo $n > calls.txt\n"
    "if [ -f stop_at ] && [ \"$n\" -eq \"$(cat stop_at)\" ]; then echo 1 > varnock.stp; rm stop_at; fi\n";

void write_rat42(const scratch_dir &d) {
    settings s;
    s.restart = "restart";
    s.max_iterations = 60;
    write_case(d, s,
               {{"b1", "none", 100.0, -1000.0, 1000.0},
                {"b2", "none", 1.0, -100.0, 100.0},
                {"b3", "none", 0.1, -100.0, 100.0}},
               {},
               {{"o1", 8.93}, {"o2", 10.80}, {"o3", 18.59}, {"o4", 22.33}, {"o5", 39.35},
                {"o6", 56.11}, {"o7", 61.73}, {"o8", 64.62}, {"o9", 67.08}},
               "n = split(\"9 14 21 28 42 57 63 70 79\", x, \" \"); "
               "for (i = 1; i <= n; i++) printf \"%.15g\\n\", v[\"b1\"] / (1 + exp(v[\"b2\"] - v[\"b3\"] * x[i]))",
               stopping_prologue);
}

std::string total_calls_line(const std::string &record) {
    const std::size_t at = record.rfind("Total Model Calls:\t");
    return at == std::string::npos ? std::string() : record.substr(at, record.find('\n', at) - at);
}

}  // namespace

TEST(VarnockGmlRestart, StoppedRunResumedWithSlashRMatchesAnUninterruptedRun) {
    scratch_dir whole;
    write_rat42(whole);
    auto full = whole.run(VARNOCK_EXE, {"case.pst"});
    ASSERT_EQ(full.exit_status, 0) << full.out;
    EXPECT_FALSE(whole.exists("case.rst"));

    scratch_dir parts;
    write_rat42(parts);
    parts.write("stop_at", "30\n");
    auto stopped = parts.run(VARNOCK_EXE, {"case.pst"});
    EXPECT_EQ(stopped.exit_status, 0) << stopped.out;
    EXPECT_EQ(parts.read("calls.txt"), "30\n");
    ASSERT_TRUE(parts.exists("case.rst"));
    EXPECT_FALSE(contains(parts.read("case.rec"), "OPTIMISATION RESULTS"));

    auto resumed = parts.run(VARNOCK_EXE, {"case.pst", "/r"});
    ASSERT_EQ(resumed.exit_status, 0) << resumed.out;
    EXPECT_FALSE(parts.exists("case.rst"));
    const std::string record = parts.read("case.rec");
    EXPECT_TRUE(contains(record, "\n\n                             .....RESTART.....\n\n"));
    // The record was appended to: the header of the first part is still there.
    EXPECT_EQ(count_of(record, "OPTIMIZATION RECORD"), 1);
    EXPECT_TRUE(contains(record, "OPTIMISATION RESULTS"));

    // The resumed calibration ends exactly where the uninterrupted one did.
    EXPECT_EQ(parts.read("model.in"), whole.read("model.in"));
    EXPECT_EQ(parts.read("case.par"), whole.read("case.par"));
    EXPECT_EQ(total_calls_line(record), total_calls_line(whole.read("case.rec")));
    const std::string results_whole = whole.read("case.rec").substr(whole.read("case.rec").find("OPTIMISATION RESULTS"));
    EXPECT_EQ(record.substr(record.find("OPTIMISATION RESULTS")), results_whole);
}

TEST(VarnockGmlRestart, SlashRWithoutRestartFileFailsWithItsMessage) {
    scratch_dir d;
    write_rat42(d);
    auto r = d.run(VARNOCK_EXE, {"case.pst", "/r"});
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_TRUE(contains(r.out, "\n\nError opening the restart file.\n"
                                "Possibly previous run was not halted prematurely.\n\n"))
        << r.out;
    EXPECT_FALSE(d.exists("calls.txt"));
}

TEST(VarnockGmlRestart, DamagedRestartFileIsRefused) {
    scratch_dir d;
    write_rat42(d);
    d.write("stop_at", "12\n");
    ASSERT_EQ(d.run(VARNOCK_EXE, {"case.pst"}).exit_status, 0);
    const std::string good = d.read("case.rst");
    ASSERT_FALSE(good.empty());

    d.write("case.rst", good.substr(0, good.size() / 2));
    auto cut = d.run(VARNOCK_EXE, {"case.pst", "/r"});
    EXPECT_EQ(cut.exit_status, 1);
    EXPECT_TRUE(contains(cut.out, "The restart file case.rst cannot be used")) << cut.out;

    // An iteration number beyond the control file's limit is refused too. The
    // number follows the two Jacobians: 4 settings, then 2 x 9 rows.
    std::string text = good;
    std::size_t at = 0;
    for (int line = 0; line < 4 + 18; ++line) at = text.find('\n', at) + 1;
    const std::size_t end = text.find('\n', at);
    text.replace(at, end - at, "61");
    d.write("case.rst", text);
    auto beyond = d.run(VARNOCK_EXE, {"case.pst", "/r"});
    EXPECT_EQ(beyond.exit_status, 1);
    EXPECT_TRUE(contains(beyond.out, "holds iteration 61")) << beyond.out;
}

TEST(VarnockGmlRestart, OtherSecondArgumentMakesAnInitialRun) {
    scratch_dir d;
    write_rat42(d);
    d.write("case.rec", "old record\n");
    auto r = d.run(VARNOCK_EXE, {"case.pst", "/R"});
    ASSERT_EQ(r.exit_status, 0) << r.out;
    const std::string record = d.read("case.rec");
    EXPECT_FALSE(contains(record, "old record"));
    EXPECT_FALSE(contains(record, "RESTART"));
    EXPECT_TRUE(contains(record, "INITIAL CONDITIONS:"));
    EXPECT_NEAR(model_input_values(d)["b1"], 72.462237576, 1e-3);
}

// A refused restart changes no file: after a stopped run (its restart file
// replaced by each broken form) and after a finished one (no restart file
// left), "/r" ends with status 1 and its message, and the parameter value,
// matrix, record and sensitivity files keep every byte.
TEST(VarnockGmlRestart, RefusedRestartChangesNoResultFile) {
    scratch_dir d;
    write_rat42(d);
    d.write("stop_at", "12\n");
    ASSERT_EQ(d.run(VARNOCK_EXE, {"case.pst"}).exit_status, 0);
    const std::string good = d.read("case.rst"), half = good.substr(0, good.size() / 2);
    const std::size_t ratio = good.find('\n', good.find('\n') + 1) + 1;  // line 3: the partial Jacobian ratio
    const std::string nan_ratio = good.substr(0, ratio) + "nan" + good.substr(good.find('\n', ratio));
    const std::pair<const std::string *, const char *> cases[] = {
        {nullptr, "Error opening the restart file."},
        {&half, "The restart file case.rst cannot be used: an element of the best Jacobian"},
        {&nan_ratio, "case.rst cannot be used: the partial Jacobian ratio is missing or not a valid number"}};
    const char *kept[] = {"case.par", "case.mtt", "case.rec", "case.sen"};
    for (int finished = 0; finished <= 1; ++finished) {
        std::vector<std::string> before;
        for (const char *name : kept) before.push_back(d.read(name));
        EXPECT_FALSE(before[0].empty());
        for (const auto &[restart, message] : cases) {
            if (finished && restart != nullptr) continue;
            std::remove((d.path() / "case.rst").c_str());
            if (restart != nullptr) d.write("case.rst", *restart);
            const auto r = d.run(VARNOCK_EXE, {"case.pst", "/r"});
            EXPECT_TRUE(r.exit_status == 1 && contains(r.out, message)) << message << "\n" << r.out;
            for (std::size_t k = 0; k < before.size(); ++k) EXPECT_EQ(d.read(kept[k]), before[k]) << kept[k];
        }
        if (finished) break;
        d.write("case.rst", good);  // resumed to its end, which removes the restart file
        ASSERT_EQ(d.run(VARNOCK_EXE, {"case.pst", "/r"}).exit_status, 0);
    }
}
