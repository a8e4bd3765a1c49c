// End-to-end tests of varnock runs that fail part way: a GML estimation whose
// model output cannot be read, or a control file that is refused, ends with
// status 1 after its message and leaves the error stream clean and the result
// files of an earlier run as they were (full and read-only disks included).
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_program.h"
#include "varnock_case.h"

using testsupport::scratch_dir;
using varnock_e2e::contains;
using varnock_e2e::line_case;
using varnock_e2e::replaced;

namespace {

// The line case with ten iterations allowed, so the GML driver sets up its
// working arrays before the first model run.
std::string iterating_case(const scratch_dir &d) {
    return replaced(line_case(d), "none 0 0.01", "none 10 0.01");
}

}  // namespace

TEST(VarnockFailedEstimation, UnreadableOutputEndsWithStatusOneAndNothingOnTheErrorStream) {
    scratch_dir d;
    d.write("line.pst", iterating_case(d));
    // The third output line holds 11 characters, so columns 40 to 55 are missing.
    d.write("model.ins", "pif $\nl1 [y1]4:15\nl1 [y2]4:15\nl1 [y3]40:55\n");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1) << r.out;
    EXPECT_TRUE(contains(r.out, "(observation y3): the line has fewer than 40 columns.")) << r.out;
    EXPECT_EQ(r.err, "");
}

TEST(VarnockFailedEstimation, FailedModelCommandInAJacobianRunEndsWithStatusOne) {
    scratch_dir d;
    d.write("line.pst", iterating_case(d));
    // The first run succeeds; the second (the first Jacobian run) writes nothing.
    d.write("model.sh",
            "n=$(cat count 2>/dev/null || echo 0); n=$((n+1)); echo $n > count\n"
            "if [ $n -ge 2 ]; then exit 3; fi\n"
            "awk '/^a/ {a=$3} /^b/ {b=$3} END {for (x = 1; x <= 3; x++) printf \"y%d %.6f\\n\", x, "
            "a + b * x}' model.in > model.out\n");
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1) << r.out;
    EXPECT_TRUE(contains(r.out, "Calculating Jacobian matrix")) << r.out;
    EXPECT_TRUE(contains(r.out, "ended with exit status 3: the model run failed")) << r.out;
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(d.read("count"), "2\n");
}

TEST(VarnockRefusedControlFile, ParameterValueOutsideItsBoundsIsRefusedBeforeAnyRun) {
    scratch_dir d;
    d.write("line.pst", replaced(line_case(d), "a none relative 1.0 -10.0 10.0",
                                 "a none relative 20.0 -10.0 10.0"));
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1) << r.out;
    EXPECT_TRUE(contains(r.out, "Error in control file line.pst, section \"parameter data\": the value "
                                "of parameter \"a\" lies outside its bounds."))
        << r.out;
    EXPECT_FALSE(d.exists("model.in"));
    EXPECT_FALSE(d.exists("line.rec"));
}

// An observation outside every observation group would enter the Jacobian but
// not phi: without y3 the line through y1 and y2 (a = 2, b = 1.5) is exact, yet
// the upgrades would chase y3 while phi ignored it.
TEST(VarnockRefusedControlFile, ObservationOutsideEveryGroupIsRefusedBeforeAnIteration) {
    scratch_dir d;
    d.write("line.pst", replaced(iterating_case(d), "y3 7.5 0.5 obsgrp", "y3 7.5 0.5 obsgrq"));
    auto r = d.run(VARNOCK_EXE, {"line.pst"});
    EXPECT_EQ(r.exit_status, 1) << r.out;
    EXPECT_TRUE(contains(r.out, "Observation \"y3\" names the group \"obsgrq\", which is not an observation group."))
        << r.out;
    EXPECT_FALSE(d.exists("model.in"));
}

namespace {

// The iterating line case with one prior equation `prior` (label pi1).
std::string case_with_prior(const scratch_dir &d, const std::string &prior) {
    std::string control = replaced(iterating_case(d), "2 3 1 0 1", "2 3 1 1 2");
    control = replaced(control, "obsgrp\n* observation data", "obsgrp\nregul\n* observation data");
    return control + prior + "\n";  // the case ends with the prior information header
}

}  // namespace

TEST(VarnockRefusedControlFile, PriorInformationNeedsAKnownGroupAndKnownParameters) {
    {
        scratch_dir d;
        d.write("line.pst", case_with_prior(d, "pi1 1.0 * a = 1.5 1.0 regul"));
        auto r = d.run(VARNOCK_EXE, {"line.pst"});
        // The prior row [1 0] with weight 1 joins the normal equations:
        // [3.25 3.75; 3.75 7.25] [a b]' = [11.875 19.125]', so a = 14.375 / 9.5
        // and b = 17.625 / 9.5.
        ASSERT_EQ(r.exit_status, 0) << r.out;
        double a = 0.0, b = 0.0;
        ASSERT_EQ(std::sscanf(d.read("line.par").c_str(), "%lf %lf", &a, &b), 2);
        EXPECT_NEAR(a, 14.375 / 9.5, 1e-4);
        EXPECT_NEAR(b, 17.625 / 9.5, 1e-4);
    }
    {
        scratch_dir d;
        d.write("line.pst", case_with_prior(d, "pi1 1.0 * a = 1.5 1.0 regulx"));
        auto r = d.run(VARNOCK_EXE, {"line.pst"});
        EXPECT_EQ(r.exit_status, 1) << r.out;
        EXPECT_TRUE(contains(r.out, "Prior information \"pi1\" names the group \"regulx\", which is not an "
                                    "observation group."))
            << r.out;
        EXPECT_FALSE(d.exists("model.in"));
    }
    {
        scratch_dir d;
        d.write("line.pst", case_with_prior(d, "pi1 1.0 * a + 2.0 * log(c) = 1.5 1.0 regul"));
        auto r = d.run(VARNOCK_EXE, {"line.pst"});
        EXPECT_EQ(r.exit_status, 1) << r.out;
        EXPECT_TRUE(contains(r.out, "Prior information \"pi1\" names \"c\", which is not a parameter.")) << r.out;
        EXPECT_FALSE(d.exists("model.in"));
    }
}

namespace {

// A tmpfs of `kib` KiB mounted on `dir` while the object lives; mounted() is
// false where the test may not mount one.
struct small_disk {
    std::string dir;
    bool ok = false;
    small_disk(const std::string &where, int kib) : dir(where) {
        std::filesystem::create_directories(dir);
        const std::string command = "mount -t tmpfs -o size=" + std::to_string(kib) + "k tmpfs '" + dir + "' 2>/dev/null";
        ok = std::system(command.c_str()) == 0;
    }
    ~small_disk() {
        if (ok) (void)std::system(("umount '" + dir + "' 2>/dev/null").c_str());
    }
    bool remount_read_only() const {
        return std::system(("mount -o remount,ro '" + dir + "' 2>/dev/null").c_str()) == 0;
    }
};

}  // namespace

TEST(VarnockFailedRunKeepsEarlierResults, EveryFailureLeavesTheResultFilesAsTheyWere) {
    // A good estimation writes its results; then each way of failing runs
    // again in the same folder and must end with status 1, a message naming
    // what failed, and the earlier record, sensitivity, matrix and parameter
    // value files unchanged, with no temporary file left behind.
    struct row {
        const char *what;
        const char *message;
        int disk;  // 0: plain folder, 1: full small disk, 2: read-only small disk
    };
    const row rows[] = {
        {"model fails on its first run", "the model run failed", 0},
        {"observation 1e308", "the measured value of observation 2 (line 21) is 1e+308", 0},
        {"weight 1e308", "the weight of observation 2 (line 21) is 1e+308", 0},
        {"full disk", "Cannot write output file line.rec (", 1},
        {"read-only folder", "Cannot open output file line.rec for writing.\n(", 2},
    };
    const char *results[] = {"line.rec", "line.sen", "line.mtt", "line.par"};
    for (const row &t : rows) {
        scratch_dir d;
        const std::string folder = (d.path() / "disk").string();
        small_disk disk(folder, 64);
        if (t.disk != 0 && !disk.ok) {
            std::printf("skipped \"%s\": no tmpfs can be mounted here\n", t.what);
            continue;
        }
        std::filesystem::create_directories(folder);
        std::string control = replaced(line_case(d), "none 0 0.01", "none 10 0.01");
        for (const char *f : {"model.tpl", "model.ins", "model.sh"}) d.write(std::string("disk/") + f, d.read(f));
        d.write("disk/line.pst", control);
        const std::string run = std::string("cd disk && '") + VARNOCK_EXE + "' line.pst < /dev/null";
        ASSERT_EQ(d.run("/bin/sh", {"-c", run}).exit_status, 0) << t.what;
        std::vector<std::string> before;
        for (const char *f : results) before.push_back(d.read(std::string("disk/") + f));
        ASSERT_FALSE(before[0].empty());
        if (t.what == std::string("model fails on its first run")) d.write("disk/model.sh", "exit 3\n");
        if (t.what == std::string("observation 1e308")) d.write("disk/line.pst", replaced(control, "y2 5.0 1.0", "y2 1e308 1.0"));
        if (t.what == std::string("weight 1e308")) d.write("disk/line.pst", replaced(control, "y2 5.0 1.0", "y2 5.0 1e308"));
        if (t.disk == 1) {
            // Fill the disk: the model's files keep their pages, new result files find none.
            (void)std::system(("dd if=/dev/zero of='" + folder + "/filler' bs=1k count=128 2>/dev/null").c_str());
        }
        if (t.disk == 2) {
            ASSERT_TRUE(disk.remount_read_only());
        }
        auto r = d.run("/bin/sh", {"-c", run});
        EXPECT_EQ(r.exit_status, 1) << t.what << r.out;
        EXPECT_TRUE(contains(r.out, t.message)) << t.what << "\n" << r.out;
        for (std::size_t i = 0; i < before.size(); ++i) {
            EXPECT_EQ(d.read(std::string("disk/") + results[i]), before[i]) << t.what << " " << results[i];
            EXPECT_FALSE(d.exists(std::string("disk/") + results[i] + ".new")) << t.what << " " << results[i];
        }
    }
}
