// Tests of the project-file reader and the card table: hand-written project files
// with cards of every kind, the special cards, comments, unknown cards, case and
// defaults, and the codes that end the reading.
#include <gtest/gtest.h>

#include <dirent.h>

#include <string>
#include <utility>

#include "model/project/card_table.h"
#include "model/core/globals.h"
#include "model/project/project_file.h"
#include "model/core/series.h"
#include "support/run_program.h"

namespace {

// Number of open file descriptors of this process.
int open_descriptor_count() {
    DIR *dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    int count = 0;
    while (readdir(dir)) ++count;
    closedir(dir);
    return count;
}

class ProjectFile : public ::testing::Test {
protected:
    void SetUp() override { reset_process_globals(); }
    void TearDown() override { reset_process_globals(); }

    // Writes the project file and reads it; returns what the reader printed.
    std::string read(const std::string &text) {
        dir.write("test.prj", text);
        return read_existing("test.prj");
    }
    std::string read_existing(const std::string &name) {
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
        read_project_file(path(name), p, g, r);
        err = testing::internal::GetCapturedStderr();
        return testing::internal::GetCapturedStdout();
    }
    std::string path(const std::string &name) const { return (dir.path() / name).string(); }

    testsupport::scratch_dir dir;
    project_params p;
    grid_params g;
    rain_params r;
    std::string err;
};

TEST_F(ProjectFile, AcceptsBothHeaders) {
    read("KORVAPROJECT\nROWS 12\n");
    EXPECT_EQ(g.rows, 12);
    EXPECT_EQ(error_record.fatal, 0);
    read("TULM2DPROJECT\nROWS 7\n");
    EXPECT_EQ(g.rows, 7);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(ProjectFile, CarriageReturnsReadAsLineFeedsAndAWrongHeaderIsRefusedWithTheHint) {
    read("KORVAPROJECT\r\nROWS 12\r\n");
    EXPECT_EQ(g.rows, 12);
    EXPECT_EQ(error_record.fatal, 0);
    g.rows = 99;
    const int before = open_descriptor_count();
    const std::string out = read("KORVA PROJECT\r\nROWS 12\r\n");
    EXPECT_EQ(err,
              "File Does not Appear to be a Valid KORVA/TULM2D Project file\n"
              "Perhaps you Should Issue a 'dos2unix' Command if you are on a Unix machine?\n"
              "KORVA Terminating....\n");
    EXPECT_EQ(out, "\n");  // code 4000: the reporter adds only the line feed
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(error_record.code, 0);
    EXPECT_EQ(g.rows, 99);  // nothing read
    EXPECT_EQ(open_descriptor_count(), before);
}

TEST_F(ProjectFile, OtherFirstLinesAreRefused) {
    read("KORVAPROJECT extra\nROWS 12\n");
    EXPECT_EQ(error_record.fatal, 1);
    reset_process_globals();
    read("korvaproject\n");
    EXPECT_EQ(error_record.fatal, 1);
    reset_process_globals();
    read("");
    EXPECT_EQ(error_record.fatal, 1);
}

TEST_F(ProjectFile, MissingFileSetsTheFlagAndLeavesTheRecords) {
    g.rows = 42;
    p.m_river = 3.5;
    read_existing("no_such.prj");
    EXPECT_EQ(err, "Error opening project file named: " + path("no_such.prj") + "\n");
    EXPECT_EQ(g.project_file_missing, 1);
    EXPECT_EQ(g.rows, 42);
    EXPECT_DOUBLE_EQ(p.m_river, 3.5);
    EXPECT_EQ(error_record.code, 0);
}

TEST_F(ProjectFile, DefaultsAreSetAndEarlierValuesDoNotSurvive) {
    g.rows = 99;
    g.latitude = 5.0;
    p.long_term = 1;
    p.watershed_mask = {"old.mask", 1};
    r.interpolation = 0;
    read("KORVAPROJECT\n");
    EXPECT_EQ(g.rows, 0);
    EXPECT_EQ(p.long_term, 0);
    EXPECT_EQ(p.watershed_mask.name, "");
    EXPECT_EQ(p.watershed_mask.given, 0);
    // Card defaults of the reader.
    EXPECT_DOUBLE_EQ(p.k_river, 0.0);
    EXPECT_DOUBLE_EQ(p.m_river, 1.0);
    EXPECT_DOUBLE_EQ(p.m_lake, 10.0);
    EXPECT_DOUBLE_EQ(p.event_min_q, 0.1);
    EXPECT_DOUBLE_EQ(p.soil_moist_depth, 0.4);
    EXPECT_DOUBLE_EQ(p.top_layer_depth, 0.1);
    EXPECT_DOUBLE_EQ(p.richards_weight, 1.0);
    EXPECT_DOUBLE_EQ(p.richards_dtheta_max, 0.0025);
    EXPECT_EQ(p.richards_iter_max, 1);
    EXPECT_EQ(p.richards_k_option, 2);
    EXPECT_EQ(p.richards_upper_option, 1);
    EXPECT_DOUBLE_EQ(p.aquifer_delta_z, -999.9);
    EXPECT_DOUBLE_EQ(p.max_courant_number, 0.2);
    EXPECT_DOUBLE_EQ(p.gw_timestep, 1.0);
    EXPECT_DOUBLE_EQ(p.gw_lsor_con, 1e-05);
    EXPECT_DOUBLE_EQ(p.single_unsat_sat, 0.75);
    EXPECT_EQ(p.hxt_event_num, -1);
    EXPECT_EQ(p.x_freq, -1);
    EXPECT_EQ(p.xwin_width, 1000);
    EXPECT_EQ(p.xwin_height, 660);
    EXPECT_EQ(p.soil_erosion_value, 1);
    EXPECT_EQ(p.calib_comp_data, 2);
    EXPECT_EQ(p.calib_obj_func, 2);
    EXPECT_EQ(g.infiltration_scheme, infiltration_none);
    EXPECT_EQ(g.channel_scheme, channel_none);
    EXPECT_EQ(r.precip_kind, 0);
    // The records start as a new run state holds them.
    EXPECT_DOUBLE_EQ(g.latitude, 32.0);
    EXPECT_DOUBLE_EQ(g.longitude, -90.0);
    EXPECT_EQ(r.interpolation, 1);
}

TEST_F(ProjectFile, CardsOfEachKind) {
    read("KORVAPROJECT\n"
         "ROWS 25\n"
         "COLS 40\n"
         "GRIDSIZE 30.5\n"
         "TIMESTEP 10\n"
         "OUTSLOPE 0.0015\n"
         "HYD_FREQ 15\n"
         "MAP_TYPE 1\n"
         "RAIN_INTENSITY 25.4\n"
         "RAIN_DURATION 90\n"
         "WATERSHED_MASK basin.mask\n"
         "ELEVATION \"dem with blanks.asc\"\n"
         "SUMMARY run.sum\n"
         "LONG_TERM\n"
         "QUIET\n"
         "QOUT_CFS\n"
         "MANNING_N 0.035\n"
         "GMT -6\n"
         "INF_REDIST\n"
         "CHAN_EXPLIC\n"
         "RAIN_INV_DISTANCE\n");
    EXPECT_EQ(g.rows, 25);
    EXPECT_EQ(g.cols, 40);
    EXPECT_DOUBLE_EQ(g.gridsize, 30.5);
    EXPECT_DOUBLE_EQ(g.timestep, 10.0);
    EXPECT_DOUBLE_EQ(g.outslope, 0.0015);
    EXPECT_DOUBLE_EQ(g.hyd_freq, 15.0);
    EXPECT_EQ(g.map_type, 1);
    EXPECT_DOUBLE_EQ(r.rain_intensity, 25.4);
    EXPECT_EQ(r.rain_duration, 90);
    EXPECT_EQ(p.watershed_mask.name, "basin.mask");
    EXPECT_EQ(p.watershed_mask.given, 1);
    EXPECT_EQ(p.elevation.name, "dem with blanks.asc");
    EXPECT_EQ(p.summary.name, "run.sum");
    EXPECT_EQ(p.long_term, 1);
    EXPECT_EQ(g.quiet, 1);
    EXPECT_EQ(g.qout_cfs, 1);
    EXPECT_DOUBLE_EQ(p.manning_n, 0.035);
    EXPECT_EQ(p.manning_n_given, 1);
    EXPECT_DOUBLE_EQ(g.gmt, -6.0);
    EXPECT_EQ(g.gmt_given, 1);
    EXPECT_EQ(g.infiltration_scheme, infiltration_redistribution);
    EXPECT_EQ(g.channel_scheme, channel_explicit);
    EXPECT_EQ(r.interpolation, 0);
    EXPECT_EQ(p.outlet_hydro.given, 0);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(ProjectFile, LongFileNamesAreKeptWhole) {
    // Names far past any fixed field (and a card line far past 19999 characters)
    // are kept whole, never cut to a name that would open another file.
    const std::string deep = std::string(300, 'd') + "/" + std::string(200, 'm') + ".mask";
    const std::string huge = std::string(25000, 'e') + ".asc";
    read("KORVAPROJECT\nWATERSHED_MASK " + deep + "\nELEVATION \"" + huge + "\"\n"
         "SUMMARY run.sum\n");
    EXPECT_EQ(p.watershed_mask.name, deep);
    EXPECT_EQ(p.elevation.name, huge);
    EXPECT_EQ(p.summary.name, "run.sum");  // the next line is a line of its own
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(ProjectFile, CardWordsMatchInAnyCase) {
    read("KORVAPROJECT\nwatershed_mask a.mask\nWaterShed_Mask b.mask\n");
    EXPECT_EQ(p.watershed_mask.name, "b.mask");
    read("KORVAPROJECT\nWATERSHED_MASK C.Mask\n");
    EXPECT_EQ(p.watershed_mask.name, "C.Mask");  // the value keeps its case
}

TEST_F(ProjectFile, CardGivenTwiceKeepsTheLastValue) {
    read("KORVAPROJECT\nTIMESTEP 10\nTIMESTEP 20\n");
    EXPECT_DOUBLE_EQ(g.timestep, 20.0);
    read("KORVAPROJECT\nGREEN_AMPT\nINF_RICHARDS\nCHAN_DRAIN\nDIFFUSIVE_WAVE\n");
    EXPECT_EQ(g.infiltration_scheme, infiltration_richards);
    EXPECT_EQ(g.channel_scheme, channel_explicit);
}

TEST_F(ProjectFile, MissingNameLeavesItEmpty) {
    read("KORVAPROJECT\nSUMMARY\n");
    EXPECT_EQ(p.summary.name, "");
    EXPECT_EQ(p.summary.given, 1);
    EXPECT_EQ(error_record.fatal, 0);
}

TEST_F(ProjectFile, BrokenNumbersAreRefusedNamingCardAndValue) {
    struct bad_card {
        const char *line;
        const char *message;
    };
    const bad_card cases[] = {
        {"TOT_TIME", "Error: card TOT_TIME has no value"},
        {"ROWS", "Error: card ROWS has no value"},
        {"GRIDSIZE  \t", "Error: card GRIDSIZE has no value"},
        {"START_TIME 14", "Error: card START_TIME has no value"},
        {"ROWS 12345678901234567890", "Error: card ROWS: the value \"12345678901234567890\" is not an integer"},
        {"ROWS 2.5", "Error: card ROWS: the value \"2.5\" is not an integer"},
        {"ROWS 0", "Error: card ROWS: the value \"0\" lies outside its range (1 or more)"},
        {"COLS -3", "Error: card COLS: the value \"-3\" lies outside its range (1 or more)"},
        {"TOT_TIME 60abc", "Error: card TOT_TIME: the value \"60abc\" is not an integer"},
        {"START_DATE 12345678901234567890 7 12",
         "Error: card START_DATE: the value \"12345678901234567890\" is not an integer"},
        {"START_DATE NaN 7 12", "Error: card START_DATE: the value \"NaN\" is not an integer"},
        {"START_DATE 2021 13 1", "Error: card START_DATE: the value \"13\" lies outside its range (1 to 12)"},
        {"START_DATE 2021 2 29", "Error: card START_DATE: the value \"29\" lies outside its range (1 to 28)"},
        {"START_DATE 2100 2 29", "Error: card START_DATE: the value \"29\" lies outside its range (1 to 28)"},
        {"START_DATE 2021 4 31", "Error: card START_DATE: the value \"31\" lies outside its range (1 to 30)"},
        {"START_DATE 0 1 1", "Error: card START_DATE: the value \"0\" lies outside its range (1 to 9999)"},
        {"START_TIME 14 12345678901234567890",
         "Error: card START_TIME: the value \"12345678901234567890\" is not an integer"},
        {"START_TIME 24 0", "Error: card START_TIME: the value \"24\" lies outside its range (0 to 23)"},
        {"START_TIME 14 60", "Error: card START_TIME: the value \"60\" lies outside its range (0 to 59)"},
        {"END_TIME 2021 7 12 14", "Error: card END_TIME has no value"},
        {"END_TIME 2021 7 32 14 0", "Error: card END_TIME: the value \"32\" lies outside its range (1 to 31)"},
        {"OUTSLOPE NaN", "Error: card OUTSLOPE: the value \"NaN\" is not a finite number"},
        {"OUTSLOPE inf", "Error: card OUTSLOPE: the value \"inf\" is not a finite number"},
        {"OUTSLOPE 1.2e19", "Error: card OUTSLOPE: the value \"1.2e19\" lies outside its range (at most 10)"},
        {"HYD_FREQ inf", "Error: card HYD_FREQ: the value \"inf\" is not a finite number"},
        {"HYD_FREQ 1e999", "Error: card HYD_FREQ: the value \"1e999\" is not a finite number"},
        {"TIMESTEP 0",
         "Error: card TIMESTEP: the value \"0\" lies outside its range (more than 0, at most 86400)"},
        {"TIMESTEP 30s", "Error: card TIMESTEP: the value \"30s\" is not a finite number"},
        {"MANNING_N -0.03", "Error: card MANNING_N: the value \"-0.03\" lies outside its range (more than 0)"},
        {"LATITUDE 91", "Error: card LATITUDE: the value \"91\" lies outside its range (-90 to 90)"},
        {"ALPHA x", "Error: card ALPHA: the value \"x\" is not a finite number"},
        {"N_LINKS", "Error: card N_LINKS has no value"},
        {"UNITS one", "Error: card UNITS: the value \"one\" is not an integer"},
        {"FLUSH_BUFFER -1", "Error: card FLUSH_BUFFER: the value \"-1\" lies outside its range (0 or more)"},
        {"SOIL_EROSION 1e3", "Error: card SOIL_EROSION: the value \"1e3\" is not an integer"},
        {"REPLACE_LINE", "Error: card REPLACE_LINE has no value"},
    };
    for (const bad_card &c : cases) {
        g.cols = 0;
        const std::string out = read(std::string("KORVAPROJECT\n") + c.line + "\nCOLS 7\n");
        EXPECT_EQ(out, std::string(c.message) + "\n\n") << c.line;
        EXPECT_EQ(error_record.fatal, 1) << c.line;
        EXPECT_EQ(g.cols, 0) << c.line;  // the reading ended at the refused card
        reset_process_globals();
    }
}

TEST_F(ProjectFile, NumbersAtTheEdgesOfTheirRangesAreRead) {
    read("KORVAPROJECT\nSTART_DATE 2024 2 29\nSTART_TIME 23 59\nEND_TIME 2000 2 29 0 0\n"
         "ROWS 2147483647\nOUTSLOPE 10\nTOT_TIME 0\nLATITUDE -90\nHXT_EVENT_NUM\n");
    EXPECT_EQ(error_record.fatal, 0);
    EXPECT_EQ(g.start_day, 29);
    EXPECT_EQ(g.start_minute, 59);
    EXPECT_EQ(g.end_day, 29);
    EXPECT_EQ(g.rows, 2147483647);
    EXPECT_DOUBLE_EQ(g.outslope, 10.0);
    EXPECT_DOUBLE_EQ(g.latitude, -90.0);
    EXPECT_EQ(p.hxt_event_num, -1);
}

TEST_F(ProjectFile, CommentsAndEmptyLinesAreSkippedSilently) {
    const std::string out = read("KORVAPROJECT\n"
                                 "# a comment line\n"
                                 "#ROWS 99\n"
                                 "\n"
                                 "   \t \n"
                                 "  COLS 8\n"
                                 "ZEP\n"
                                 "metric\n");
    EXPECT_EQ(out, "");
    EXPECT_EQ(g.rows, 0);
    EXPECT_EQ(g.cols, 8);
}

TEST_F(ProjectFile, UnknownCardWarnsWithTheLowerCasedWord) {
    const std::string out = read("KORVAPROJECT\nNO_SUCH_CARD 5\nROWS 3\n");
    EXPECT_EQ(out, "Warning: unknown card found in the project file: no_such_card\n");
    EXPECT_EQ(g.rows, 3);
    EXPECT_EQ(error_record.fatal, 0);

    parallel_layout.process_rank = 1;
    EXPECT_EQ(read("KORVAPROJECT\nNO_SUCH_CARD 5\n"), "");
}

TEST_F(ProjectFile, SynonymsShareTheirField) {
    read("KORVAPROJECT\nEMBANKMENT dikes.map\nSACRAMENTO_PARS sac.txt\n"
         "READ_OV_HOSTART ov.hot\nGW_FLUX_BOUNDTABLE flux.tbl\nSTORM_SEWER pipes.txt\n");
    EXPECT_EQ(p.dike_map.name, "dikes.map");
    EXPECT_EQ(p.sacramento.name, "sac.txt");
    EXPECT_EQ(p.ov_init_depth.name, "ov.hot");
    EXPECT_EQ(p.gw_fluxboundtable.name, "flux.tbl");
    EXPECT_EQ(g.flux_boundary_given, 1);
    EXPECT_EQ(p.storm_sewer.name, "pipes.txt");
    EXPECT_EQ(p.storm_sewer.given, 1);
}

TEST_F(ProjectFile, SharedNameAndFlagCards) {
    read("KORVAPROJECT\nHMET_SAMSON met.dat\nINTERCEPTION\nPRECIP_FILE \"rain gauges.txt\"\n");
    EXPECT_EQ(p.hmet_file.name, "met.dat");
    EXPECT_EQ(p.hmet_samson, 1);
    EXPECT_EQ(p.hmet_surfaways, 0);
    EXPECT_EQ(p.hmet_qar, 0);
    EXPECT_EQ(p.interception, 1);
    EXPECT_EQ(p.interception_coeff.given, 1);
    EXPECT_EQ(p.storage_capacity.given, 1);
    EXPECT_EQ(p.interception_coeff.name, "");
    EXPECT_EQ(r.precip_kind, 1);
    EXPECT_EQ(r.precip_file.name, "rain gauges.txt");
    read("KORVAPROJECT\nPRECIP_FILE rain.txt\nPRECIP_UNIF\n");
    EXPECT_EQ(r.precip_kind, 0);
}

TEST_F(ProjectFile, DatesAndTimes) {
    read("KORVAPROJECT\nSTART_DATE 2004 3 5\nSTART_TIME 8 30\nEND_TIME 2004 3 6 12 45\n");
    EXPECT_EQ(g.start_year, 2004);
    EXPECT_EQ(g.start_month, 3);
    EXPECT_EQ(g.start_day, 5);
    EXPECT_EQ(g.start_hour, 8);
    EXPECT_EQ(g.start_minute, 30);
    EXPECT_EQ(g.end_year, 2004);
    EXPECT_EQ(g.end_month, 3);
    EXPECT_EQ(g.end_day, 6);
    EXPECT_EQ(g.end_hour, 12);
    EXPECT_EQ(g.end_minute, 45);
    EXPECT_EQ(g.end_time_given, 1);
}

TEST_F(ProjectFile, OvertypeWordsAndNumbers) {
    read("KORVAPROJECT\nOVERTYPE ade-pc\n");
    EXPECT_EQ(p.overland_scheme, 3);
    read("KORVAPROJECT\nOVERTYPE ADE-PC\n");
    EXPECT_EQ(p.overland_scheme, 3);
    read("KORVAPROJECT\nOVERTYPE 3\n");
    EXPECT_EQ(p.overland_scheme, 3);
    read("KORVAPROJECT\nOVERTYPE Explicit\n");
    EXPECT_EQ(p.overland_scheme, 1);
    read("KORVAPROJECT\nOVERTYPE ade\nOVERTYPE kinematic\n");
    EXPECT_EQ(p.overland_scheme, 2);  // an unknown word leaves the scheme as it was
    read("KORVAPROJECT\nOVERTYPE ade\nOVERTYPE 2x\n");
    EXPECT_EQ(p.overland_scheme, 2);  // not a whole number, not a known word
}

TEST_F(ProjectFile, RetenDepthWithNumberNameOrNothing) {
    std::string out = read("KORVAPROJECT\nRETEN_DEPTH 2.5\n");
    EXPECT_EQ(out,
              "Warning: Incorrect use of RETEN_DEPTH card\n  Usage: RETEN_DEPTH <filename>-or-\n"
              "RETENTION <value>  -or-\nRETEN_DEPTH \n  Using 2.500000 for the uniform "
              "retention depth\n\n");
    EXPECT_DOUBLE_EQ(p.retention, 2.5);
    EXPECT_EQ(p.retention_given, 1);
    EXPECT_EQ(p.reten_depth.given, 0);

    out = read("KORVAPROJECT\nRETEN_DEPTH reten.map\n");
    EXPECT_EQ(out, "");
    EXPECT_EQ(p.reten_depth.name, "reten.map");
    EXPECT_EQ(p.reten_depth.given, 1);
    EXPECT_EQ(p.retention_given, 0);

    read("KORVAPROJECT\nRETEN_DEPTH\n");
    EXPECT_EQ(p.reten_depth.given, 1);
    EXPECT_EQ(p.reten_depth.name, "");

    // A name that begins with digits is a file name, not a number.
    out = read("KORVAPROJECT\nRETEN_DEPTH 2004_reten.map\n");
    EXPECT_EQ(out, "");
    EXPECT_EQ(p.reten_depth.name, "2004_reten.map");
    EXPECT_EQ(p.retention_given, 0);
}

TEST_F(ProjectFile, MoistureAndAreaReductionSetTheirFlagEitherWay) {
    read("KORVAPROJECT\nMOISTURE\nAREA_REDUCTION ared.map\n");
    EXPECT_EQ(p.moisture.given, 1);
    EXPECT_EQ(p.moisture.name, "");
    EXPECT_EQ(p.area_reduction.given, 1);
    EXPECT_EQ(p.area_reduction.name, "ared.map");
}

TEST_F(ProjectFile, SoilErosionAndRichardsOptions) {
    read("KORVAPROJECT\nSOIL_EROSION\nRICHARDS_K_OPTION Arithmetic\nRICHARDS_C_OPTION brooks\n"
         "RICHARDS_UPPER_OPTION average\n");
    EXPECT_EQ(p.soil_erosion, 1);
    EXPECT_EQ(p.soil_erosion_value, 1);
    EXPECT_EQ(p.richards_k_option, 1);
    EXPECT_EQ(p.richards_c_option, 1);
    EXPECT_EQ(p.richards_upper_option, 3);

    read("KORVAPROJECT\nSOIL_EROSION 3\nRICHARDS_K_OPTION harmonic\nRICHARDS_C_OPTION HAVERCAMP\n"
         "RICHARDS_UPPER_OPTION other\n");
    EXPECT_EQ(p.soil_erosion_value, 3);
    EXPECT_EQ(p.richards_k_option, 2);  // unchanged default
    EXPECT_EQ(p.richards_c_option, 2);
    EXPECT_EQ(p.richards_upper_option, 0);

    read("KORVAPROJECT\nRICHARDS_UPPER_OPTION green\n");
    EXPECT_EQ(p.richards_upper_option, 2);
}

TEST_F(ProjectFile, HxtEventNumberAndFlushBuffer) {
    read("KORVAPROJECT\nHXT_EVENT_NUM\nFLUSH_BUFFER 200\n");
    EXPECT_EQ(p.hxt_event_num, -1);
    EXPECT_EQ(p.hxt_event_given, 1);
    EXPECT_EQ(p.flush_buffer, 1);
    EXPECT_EQ(p.flush_interval, 200);
    read("KORVAPROJECT\nHXT_EVENT_NUM 4\n");
    EXPECT_EQ(p.hxt_event_num, 4);
}

TEST_F(ProjectFile, CardsThatPrintTheirValue) {
    const std::string out = read("KORVAPROJECT\nUNITS 2\nALPHA 1.5\nCHANNEL_DELTAT 30\n"
                                 "N_LINKS 12\nQ_MIN 0.25\nLAKE something\nNUM_THREADS 4\n");
    EXPECT_EQ(out,
              "Units flag = 2\nAlpha = 1.500000\nChannel time step = 30\nNumber of links = 12\n"
              "Minimum channel flow = 0.250000\n");
    EXPECT_EQ(p.units_flag, 2);
}

TEST_F(ProjectFile, CalibrationChoices) {
    read("KORVAPROJECT\nCALIB_COMP_DATA DAILY_VALUES\nCALIB_OBJ_FUNC RMSE\n");
    EXPECT_EQ(p.calib_comp_data, 0);
    EXPECT_EQ(p.calib_obj_func, 0);
    read("KORVAPROJECT\nCALIB_COMP_DATA EVENT\nCALIB_OBJ_FUNC HMLE\n");
    EXPECT_EQ(p.calib_comp_data, 1);
    EXPECT_EQ(p.calib_obj_func, 1);
    EXPECT_EQ(error_record.code, 0);
}

TEST_F(ProjectFile, LowerCaseObjectiveIsRefusedAndEndsTheReading) {
    const int before = open_descriptor_count();
    read("KORVAPROJECT\nCALIB_OBJ_FUNC rmse\nROWS 5\n");
    EXPECT_EQ(error_record.code, 104);
    EXPECT_EQ(error_record.fatal, 1);
    EXPECT_EQ(p.calib_obj_func, 2);
    EXPECT_EQ(g.rows, 0);  // the line after the failing card is not read
    EXPECT_EQ(open_descriptor_count(), before);

    reset_process_globals();
    read("KORVAPROJECT\nCALIB_COMP_DATA event\nROWS 5\n");
    EXPECT_EQ(error_record.code, 103);
    EXPECT_EQ(p.calib_comp_data, 2);
    EXPECT_EQ(g.rows, 0);
}

TEST_F(ProjectFile, NutrientCardBeforeNutrientsIsRefused) {
    const int before = open_descriptor_count();
    read("KORVAPROJECT\nOV_INIT_NO3 0.25\nROWS 5\n");
    EXPECT_EQ(error_record.code, 79);
    EXPECT_STREQ(error_record.text1, "OV_INIT_XXX");
    EXPECT_EQ(g.rows, 0);
    EXPECT_EQ(open_descriptor_count(), before);

    const char *classes[][2] = {{"AQ_ENV a.txt", "AQ_ENV"},       {"NTR_SUM s.txt", "NTR_SUM"},
                                {"ST_INIT_DO 1", "ST_INIT_XXX"},  {"OUT_OV_NO2 o", "OUT_OV_XXX"},
                                {"OUT_ST_CBOD o", "OUT_ST_XXX"}, {"OUT_HYD_DO o", "OUT_HYD_XXX"},
                                {"OV_DISPERSION 2", "OV_INIT_XXX"}};
    for (const auto &c : classes) {
        reset_process_globals();
        read(std::string("KORVAPROJECT\n") + c[0] + "\n");
        EXPECT_EQ(error_record.code, 79) << c[0];
        EXPECT_STREQ(error_record.text1, c[1]);
    }
}

TEST_F(ProjectFile, NutrientInitialValuesAndOutputs) {
    read("KORVAPROJECT\nNUTRIENTS\n"
         "OV_INIT_NO3\n"
         "OV_INIT_NH4 0.25\n"
         "OV_INIT_ON init_on.map\n"
         "OV_INIT_OP 2004_op.map\n"
         "OV_DISPERSION 1e-3\n"
         "ST_INIT_DO 8.5\n"
         "OUT_HYD_PO4 outlet_po4\n"
         "OUT_OV_NO2 ov_no2\n"
         "OUT_ST_DO st_do\n"
         "AQ_ENV aquatic.txt\n"
         "NTR_SUM nutrients.sum\n");
    ASSERT_NE(p.nutrient_cards, nullptr);
    const nutrient_card_record &n = *p.nutrient_cards;
    EXPECT_EQ(p.nutrients, 1);
    EXPECT_EQ(n.overland_init[0].kind, 0);  // NO2 not given
    EXPECT_EQ(n.overland_init[1].kind, 2);  // mapping table
    EXPECT_EQ(n.overland_init[2].kind, 3);
    EXPECT_DOUBLE_EQ(n.overland_init[2].value, 0.25);
    EXPECT_EQ(n.overland_init[3].kind, 1);
    EXPECT_EQ(n.overland_init[3].file, "init_on.map");
    EXPECT_EQ(n.overland_init[4].kind, 1);  // digits first, still a file name
    EXPECT_EQ(n.overland_init[4].file, "2004_op.map");
    EXPECT_EQ(n.overland_init[12].kind, 3);
    EXPECT_DOUBLE_EQ(n.overland_init[12].value, 1e-3);
    EXPECT_EQ(n.stream_init[9].kind, 3);
    EXPECT_DOUBLE_EQ(n.stream_init[9].value, 8.5);
    EXPECT_EQ(n.hydrograph_output[6].on, 1);
    EXPECT_EQ(n.hydrograph_output[6].file, "outlet_po4");
    EXPECT_EQ(n.overland_output[0].file, "ov_no2");
    EXPECT_EQ(n.stream_output[9].file, "st_do");
    EXPECT_EQ(n.aq_env_file, "aquatic.txt");
    EXPECT_EQ(n.summary_file, "nutrients.sum");
    EXPECT_EQ(error_record.code, 0);
}

TEST_F(ProjectFile, SecondNutrientsCardStartsAFreshRecord) {
    // The first record is released (the leak checker of the sanitizer build sees it).
    read("KORVAPROJECT\nNUTRIENTS\nOV_INIT_NH4 0.25\nNUTRIENTS\nOV_INIT_NO2 1.5\n");
    ASSERT_NE(p.nutrient_cards, nullptr);
    EXPECT_EQ(p.nutrient_cards->overland_init[2].kind, 0);
    EXPECT_EQ(p.nutrient_cards->overland_init[0].kind, 3);
    read("KORVAPROJECT\n");
    EXPECT_EQ(p.nutrient_cards, nullptr);
    EXPECT_EQ(p.nutrients, 0);
}

TEST_F(ProjectFile, ReplacementValuesComeFromTheChosenLine) {
    dir.write("list.txt", "1\n[KS] \"%6.3lf\"\n");
    dir.write("vals.txt", "0.5\n0.75\n");
    read("KORVAPROJECT\nREPLACE_PARAMS " + path("list.txt") + "\nREPLACE_LINE 2\nREPLACE_VALS " +
         path("vals.txt") + "\nMANNING_N [KS]\n");
    EXPECT_DOUBLE_EQ(p.manning_n, 0.75);
    EXPECT_EQ(replace_params_on, 1);

    // Placed after REPLACE_VALS, REPLACE_LINE no longer decides: the first line is used.
    reset_process_globals();
    read("KORVAPROJECT\nREPLACE_PARAMS " + path("list.txt") + "\nREPLACE_VALS " +
         path("vals.txt") + "\nREPLACE_LINE 2\nMANNING_N [KS]\n");
    EXPECT_DOUBLE_EQ(p.manning_n, 0.5);
}

TEST_F(ProjectFile, SeriesFilesAreReadAtOnce) {
    dir.write("flows.ts",
              "KORVA_TS\nrelease_flow\nABSOLUTE\n2004 3 5 0 0 1.5\n2004 3 6 0 0 2.5\nEND_TS\n");
    dir.write("curves.es", "KORVA_ES\nrating\n0.0 0.0\n1.0 4.0\nEND_ES\n");
    read("KORVAPROJECT\nTIME_SERIES_FILE " + path("flows.ts") + "\nELEV_SERIES_FILE " +
         path("curves.es") + "\n");
    time_series *ts = find_time_series("release_flow");
    ASSERT_NE(ts, nullptr);
    EXPECT_EQ(ts->count, 2);
    elevation_series *es = find_elevation_series("rating");
    ASSERT_NE(es, nullptr);
    EXPECT_DOUBLE_EQ(elevation_series_value(es, 0.5), 2.0);
}

TEST(WholeTokenNumbers, OnlyAWholeTokenIsANumber) {
    double d = -1.0;
    EXPECT_TRUE(whole_token_double("0.25", d));
    EXPECT_DOUBLE_EQ(d, 0.25);
    EXPECT_TRUE(whole_token_double("-3e2", d));
    EXPECT_DOUBLE_EQ(d, -300.0);
    EXPECT_FALSE(whole_token_double("2004_no3.map", d));
    EXPECT_FALSE(whole_token_double("", d));
    EXPECT_FALSE(whole_token_double("1.5x", d));
    EXPECT_FALSE(whole_token_double("nan", d));
    EXPECT_DOUBLE_EQ(d, -300.0);  // unchanged by a refusal
    int i = -1;
    EXPECT_TRUE(whole_token_int("3", i));
    EXPECT_EQ(i, 3);
    EXPECT_FALSE(whole_token_int("3.0", i));
    EXPECT_FALSE(whole_token_int("99999999999", i));
    EXPECT_EQ(i, 3);
}

class CardLookup : public ::testing::Test {
protected:
    void SetUp() override { reset_process_globals(); }
    void TearDown() override { reset_process_globals(); }
};

TEST_F(CardLookup, TakesTheWordOffTheLine) {
    std::string line = "  \tRoWs 25 more";
    EXPECT_EQ(card_lookup(line), card_id::rows);
    EXPECT_EQ(line, " 25 more");
    line = "outlet_hydro\tout.otl";
    EXPECT_EQ(card_lookup(line), card_id::outlet_hydro);
    EXPECT_EQ(line, "\tout.otl");
    line = "QUIET";
    EXPECT_EQ(card_lookup(line), card_id::quiet);
    EXPECT_EQ(line, "");
}

TEST_F(CardLookup, IgnoredLinesAndWords) {
    std::string line;
    EXPECT_EQ(card_lookup(line), card_id::ignored);
    line = " \t \n";
    EXPECT_EQ(card_lookup(line), card_id::ignored);
    line = "#ROWS 3";
    EXPECT_EQ(card_lookup(line), card_id::ignored);
    line = "Zep 1";
    EXPECT_EQ(card_lookup(line), card_id::ignored);
    line = "METRIC";
    EXPECT_EQ(card_lookup(line), card_id::ignored);
    line = "Units 1";
    EXPECT_EQ(card_lookup(line), card_id::units);
    EXPECT_EQ(static_cast<int>(card_id::ignored), 154);
    EXPECT_EQ(static_cast<int>(card_id::units), 0);
}

TEST_F(CardLookup, WordEndsOnlyAtBlankTabOrLineFeed) {
    testing::internal::CaptureStdout();
    std::string line = "rows,5";
    EXPECT_EQ(card_lookup(line), card_id::ignored);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "Warning: unknown card found in the project file: rows,5\n");
}

TEST_F(CardLookup, FirstAndLastWordsOfEachCardList) {
    const std::pair<const char *, card_id> words[] = {
        {"include_channel_depth", card_id::include_channel_depth},
        {"q7_fluxes", card_id::q7_fluxes},
        {"interception", card_id::interception},
        {"rows", card_id::rows},
        {"zarn_compression", card_id::zarn_compression},
        {"gridsize", card_id::gridsize},
        {"st_time_step", card_id::st_time_step},
        {"watershed_mask", card_id::watershed_mask},
        {"optimize", card_id::optimize},
        {"gw_flux_boundtable", card_id::gw_fluxboundtable},
        {"storm_sewer", card_id::storm_sewer},
        {"ov_dispersion", card_id::ov_dispersion},
        {"out_hyd_do", card_id::out_hyd_do},
        {"lake", card_id::no_effect},
        {"num_threads", card_id::no_effect},
        {"out_el_cbod", card_id::no_effect},
        {"max_nodes", card_id::max_nodes},
    };
    for (const auto &[word, id] : words) {
        std::string line = std::string(word) + " x";
        EXPECT_EQ(card_lookup(line), id) << word;
    }
    EXPECT_EQ(str_equal("rows", "rows"), 1);
    EXPECT_EQ(str_equal("rows", "row"), 0);
}

}  // namespace
