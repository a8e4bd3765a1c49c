// report_error and the bounded setters of the error record: prints the message
// of the pending code and decides whether the run goes on. Called by the run
// driver after every step and by routines that print their own message (4000).
#include "model/core/errors.h"

#include <cstdio>
#include <cstring>
#include <utility>

#include "model/core/globals.h"

namespace {

void bounded_copy(char *field, std::size_t field_size, std::string_view text) {
    const std::size_t n = text.size() < field_size - 1 ? text.size() : field_size - 1;
    if (n > 0) std::memcpy(field, text.data(), n);
    field[n] = '\0';
}

void print_message(int code) {
    switch (code) {
    case 3:
        std::printf("Error: The specified project file was not found.\n");
        break;
    case 4:
        std::printf("Error: Unable to open %s file.\n  (File: %s)\n", error_record.text1, error_record.text2);
        break;
    case 5:
        std::printf("Error: KORVA not compiled with ZARN, but ZARN file format specified\n");
        break;
    case 6:
        std::printf("Error: You have specified both spatially-varied and uniform Manning roughness\n");
        std::printf("using both the ROUGHNESS and MANNING_N project file cards.  Only one of\n");
        std::printf("these may be specified.  Select only one option.\n");
        break;
    case 7:
        std::printf("Error: You have specified both the Penman-Monteith and Deardorff\n");
        std::printf("evapo-transpiration calculation methods.  Only one may be \n");
        std::printf("specified for long-term simulations.  Select only one method.\n");
        break;
    case 8:
        std::printf("Error: You have specified two of either the Surface Airways, SAMSON, or QAR\n");
        std::printf("hydromet. file input type.  Only one file type may be specified for GINT-\n");
        std::printf("term simulations.  Select only one method.  Check your project file.\n");
        break;
    case 9:
        std::printf("Error: You have specified neither the Penman-Monteith or Deardorff\n");
        std::printf("evapo-transpiration calculation methods.  One method must be \n");
        std::printf("specified for long-term simulations.  Select only one method.\n");
        break;
    case 10:
        std::printf("Error: You have specified both a rain gage file, and uniform rainfall\n");
        std::printf("options.  These options are mutually exclusive.  Please select\n");
        std::printf("only one option.\n");
        break;
    case 11:
        std::printf("Error: You have an error in your input due to one of the following:\n\n");
        std::printf(" - You have not specified a precipitation card in your project file.\n");
        std::printf("   One of either PRECIP_UNIF or PRECIP_FILE must be specified.\n");
        std::printf("   The PRECIP_FILE card must be followed by the name of the precipitation\n");
        std::printf("   input data file.  If PRECIP_UNIF is specified, then the RAIN_DURATION\n");
        std::printf("   and RAIN_INTENSITY cards must also be given, followed by the proper values\n");
        std::printf(" - You have specified spatially-uniform rainfall with either a zero\n");
        std::printf("   rate or duration.  Please check that your rain rate in mm/h or\n");
        std::printf("   rain duration in minutes are both non-zero.\n");
        break;
    case 20:
        std::printf("Error: For long-term simulations, you must specify the redistribution form\n");
        std::printf("of the Green and Ampt infiltration equation.  Redistribution requires\n");
        std::printf("values of pore distribution index and residual saturation in addition\n");
        std::printf("to the 4 standard Green and Ampt parameters (hydraulic conductivity,\n");
        std::printf("capillary head, porosity, and initial soil moisture content).\n\n");
        std::printf("Change the infiltration option to Green & Ampt with redistribution\n");
        std::printf("and specify the 6 required parameters.\n");
        break;
    case 21:
        std::printf("Error: Albedo values not specified for long term simulation. Check project file.\n");
        break;
    case 22:
        std::printf("Error: Vegetation height values not specified for Penman-Monteith long term simulation.\n Check project file.\n");
        break;
    case 23:
        std::printf("Error: Transmission coeff. values not specified for Penman-Monteith long term simulation.\n Check project file.\n");
        break;
    case 24:
        std::printf("Error: tomatal resistance values not specified for Penman-Monteith long term simulation.\n Check project file.\n");
        break;
    case 25:
        std::printf("Error: Wilting point values not specified for Penman-Monteith long term simulation.\n Check project file.\n");
        break;
    case 26:
        std::printf("Error: You have specified both Green and Ampt and multi-layered\n");
        std::printf("soil infiltration.  Please select only one in the \n");
        std::printf("project file.\n");
        break;
    case 27:
        std::printf("Error: You have specified both redistribution and multi-layered\n");
        std::printf("soil infiltration.  Please select only one in the \n");
        std::printf("project file. \n");
        break;
    case 28:
        std::printf("Error: You have specified both Green and Ampt and Richards\n");
        std::printf("soil infiltration.  Please select only one in the \n");
        std::printf("project file. \n");
        break;
    case 29:
        std::printf("Error: You have specified both Green and Ampt and Richards\n");
        std::printf("soil infiltration.  Please select only one in the \n");
        std::printf("project file. \n");
        break;
    case 30:
        std::printf("Error: You have specified both redistribution and Richards\n");
        std::printf("soil infiltration.  Please select only one in the \n");
        std::printf("project file. \n");
        break;
    case 31:
        std::printf("Error: You have specified both Layered Soil and Richards\n");
        std::printf("soil infiltration.  Please select only one in the \n");
        std::printf("project file. \n");
        break;
    case 32:
        std::printf("Error: Groundwater cell vertical grid size not specified in project file.\n");
        std::printf("If you are simulating the influence of the water table on Richards\n");
        std::printf("equation, you must put the AQUIFER_DELTA_Z card in the project file.\n");
        break;
    case 33:
        std::printf("Error: You have chosen both Green and Ampt and Redististribution\n");
        std::printf("Choose one or the other and try again\n");
        break;
    case 34:
        std::printf("Error: Both the drain and backwater channel initialization methods have been\nselected.  Only one method may be specified. \n");
        break;
    case 35:
        std::printf("Error: Preissmann implicit channel routing is not supported by KORVA.\nSelect explicit channel routing method. \n");
        break;
    case 37:
        std::printf("Error: Both the explicit and mesh channel routing methods have been\nselected.  Only one method may be specified.  Program terminated\n");
        break;
    case 38:
        std::printf("You have specified both spatially-varied and uniform porosity for\n");
        std::printf("groundwater soil using both the gw_unif_porosity and gw_porosity_map\n");
        std::printf("project file cards. Only one of these may be specified.\n");
        std::printf("Select only one option.\n");
        break;
    case 39:
        std::printf("Warning: You have specified neither spatially-varied, uniform, or mapping table porosity for\n");
        std::printf("groundwater soil without using both the gw_unif_porosity and\n");
        std::printf("gw_porosity_map project file cards. Groundwater porosities will be the.\n");
        std::printf("same as those in the last layer of your soil input table.\n");
        break;
    case 40:
        std::printf("You have specified both spatially-varied and uniform hydraulic\n");
        std::printf("conductivity for groundwater soil using both the gw_unif_hycond and\n");
        std::printf("gw_hycond_map project file cards. Only one of these may be specified.\n");
        std::printf("Select only one option.\n");
        break;
    case 41:
        std::printf("Warning: You have specified neither spatially-varied, uniform, or mapping table hydraulic \n");
        std::printf("conductivity for groundwater soil without using both the gw_unif_hycond\n");
        std::printf("and gw_hycond_map project file cards. Groundwater hydraulic conductivies \n");
        std::printf("will be taken from the soil input table.\n");
        break;
    case 42:
        std::printf("Error: You have specified both groundwater routing and Sacramento soil moisture\n");
        std::printf("accounting.  These two methods are mutually-exclusive.  Use one or the other.\n");
        break;
    case 43:
        std::printf("Error: You have specified that KORVA is being run within HXT, but you did\n");
        std::printf("not specify the model(s) that are being co-run.  The present options are:\n");
        std::printf("PLUX.  If you want to run with PLUX for instance, you must place the PLUX\n");
        std::printf("project file card in the project file. \n");
        break;
    case 44:
        std::printf("Error: KORVA is running within HXT in event mode.  The HXT_EVENT_NUM card\n");
        std::printf("was placed in the KORVA project file without an argument.  The\n");
        std::printf("HXT_EVENT_NUM card must be followed by a GINT int argument that specifies\n");
        std::printf("the event number to be simulated.  If 'HXT_EVENT_NUM 0' is specified,\n");
        std::printf("then KORVA writes out all available precip. events into the file named\n");
        std::printf("HXT_PRECIP.SUM, and terminates.  If the HXT_EVENT_NUM argument is greater than\n");
        std::printf("0, then that particular event is simulated.  Check the project file. \n");
        break;
    case 45:
        std::printf("Error: Groundwater simulations in KORVA within the HXT environment\n");
        std::printf("are not yet supported. \n");
        break;
    case 46:
        std::printf("Error: You have specified that KORVA is being run with PLUX, but you did\n");
        std::printf("not specify that KORVA is being run within the HXT environment.\n");
        std::printf("KORVA only runs with PLUX in the HXT environment.  You must place the\n");
        std::printf("HXT project file card in the project file, and pay close attention to\n");
        std::printf("start-up conditions. (e.g. HXT_EVENT_NUM card). \n");
        break;
    case 47:
        std::printf("Error: Unable to open ZARN data source %s, %s.\n", error_record.text1, error_record.text2);
        break;
    case 48:
        std::printf("Error: Can't open theta location output file: %s\n", error_record.text2);
        std::printf("You specify the name of the output file which will contain the soil moisture\n");
        std::printf("ordinates at the points specified in the file %s\n", error_record.text1);
        std::printf("This is done by using the OUT_THETA_LOCATION card in the project file.\n");
        break;
    case 49:
        std::printf("Error: Can't open concentration location output file: %s\n", error_record.text1);
        std::printf("You specify the name of the output file which will contain the concentration\n");
        std::printf("ordinates at the points specified in the file %s\n", error_record.text2);
        std::printf("This is done by using the OUT_CON_LOCATION card in the project file.\n");
        break;
    case 50:
        std::printf("Error: Can't open depth location output file: %s\n", error_record.text1);
        std::printf("You specify the name of the output file which will contain the depth\n");
        std::printf("ordinates at the points specified in the file %s\n", error_record.text2);
        std::printf("This is done by using the OUT_DEP_LOCATION card in the project file.\n");
        break;
    case 51:
        std::printf("Error: Can't open hydrograph location output file: %s\n", error_record.text1);
        std::printf("You specify the name of the output file which will contain the hydrograph\n");
        std::printf("ordinates at the points specified in the file %s\n", error_record.text2);
        std::printf("This is done by using the OUT_HYD_LOCATION card in the project file.\n");
        break;
    case 52:
        std::printf("Error: Time step is 0 seconds.\n");
        break;
    case 55:
        std::printf("Warning: Write hydrograph time step not specified, defaulting to 1 hour.\n");
        break;
    case 56:
        std::printf("Error: Outlet slope not specified.\n");
        break;
    case 57:
        std::printf("Error: Latitude and longitude of basin centroid required for long-term simulations.\n");
        std::printf("Specify these in the project file using keywords 'latitude' and 'longitude'\n");
        break;
    case 58:
        std::printf("Error: GMT time offset required for long-term simulations.\n");
        std::printf("Specify the offset in the project file using keyword 'GMT'\n");
        break;
    case 59:
        std::printf("Error: Can't open output file: %s\n", error_record.text2);
        break;
    case 64:
        std::printf("Unable to open Mapping Table file: %s\n", error_record.text2);
        break;
    case 65:
        std::printf("Unable to open index file %s\n", error_record.text2);
        break;
    case 66:
        std::printf("Problem reading mapping table file -- no entries found in table\n");
        break;
    case 67:
        std::printf("There is a problem with the wetlands index map.  It contains\n");
        std::printf("%d ID's, while the mapping table file contains %d ID's.\n", error_record.int1, error_record.int2);
        std::printf("The index map and mapping table file must have the same number\n");
        std::printf("of ID's. \n");
        break;
    case 68:
        std::printf("The number of wetland ids specified in the master table file \n");
        std::printf("is over 300!  This is highly unusual.  I'm bombing... in a   \n");
        std::printf("dazed and confused state.  So many wetlands!\n");
        break;
    case 69:
        std::printf("Error reading the contaminant transport tables in the mapping table file.\n");
        if (error_record.text2[0] != '\0') std::printf("  (mapping table file %s)\n", error_record.text2);
        break;
    case 71:
        std::printf("Index ID exceeds table limit, file: %s [row %d:col %d]\n", error_record.text2, error_record.int1, error_record.int2);
        break;
    case 72:
        std::printf("Incorrect number of rows and columns in map: %s\n", error_record.text2);
        break;
    case 73:
        std::printf("Incorrect number of rows in map: %s\n", error_record.text2);
        break;
    case 74:
        std::printf("Incorrect number of columns in map: %s\n", error_record.text2);
        break;
    case 76:
        std::printf("Error: unable to open the aquatic environment file %s.\n", error_record.text2);
        break;
    case 77:
        std::printf("Error: The header for the aquatic environment file is invalid or does not match \n the current version. \n The aquatic environment file specified is: %s\n The header should be : %s", error_record.text2, error_record.text1);
        break;
    case 78:
        std::printf("Error: An index [%d] in the aquatic environment table is greater than the\nnumber of IDs specified [%d]\n", error_record.int1, error_record.int2);
        if (error_record.text2[0] != '\0') std::printf("  (file %s)\n", error_record.text2);
        break;
    case 79:
        std::printf("Error: The NUTRIENTS card in the project file must be specified before the %s card\n", error_record.text1);
        break;
    case 80:
        std::printf("Error: Unable to open the nutrient file %s\n", error_record.text2);
        break;
    case 81:
        std::printf("Error: Unable to open the overland Aquatic Environment map.\n");
        break;
    case 84:
        std::printf("Error: The OV_BOUNDARY card has been specified in the project file but the \n       OVERLAND_BOUNDARY table was not found...\n");
        break;
    case 85:
        std::printf("Error: Incorrect usage of the RATING_CURVE card. It should be STRUCTTYPE RATING_CURVE \"elev series name\"\nThe elevation series is missing\n");
        break;
    case 86:
        std::printf("Error: The elevation series for a RATING_CURVE card is not found. Make sure that the elevation series\n file is in the project file before the channel input file and that the elevation series is defined.");
        break;
    case 87:
        std::printf("Error: Incorrect usage of the SCHEDULED_RELEASE card. It should be STRUCTTYPE SCHEDULED_RELEASE \"time series name\"\nThe time series is missing\n");
        break;
    case 88:
        std::printf("Error: The time series for a SCHEDULED_RELEASE card is not found. Make sure that the time series\n file is in the project file before the channel input file and that the time series is defined.");
        break;
    case 89:
        std::printf("Error: Incorrect usage of the RULE_CURVE card. It should be STRUCTTYPE RULE_CURVE \"elev series name\"\nThe elevation series is missing\n");
        break;
    case 90:
        std::printf("Error: The elevation series for a RULE_CURVE card is not found. Make sure that the elevation series\n file is in the project file before the channel input file and that the elevation series is defined.");
        break;
    case 91:
        std::printf("Error: The number of sediments specified in the SEDIMENTS table is %d while the number of sediments \nspecified in the SED_EROS_PROPS table is %d. The values must match.\n", error_record.int1, error_record.int2);
        break;
    case 92:
        std::printf("Error: Sediment transport specified but sediments table missing in the .cmt file.\n");
        if (error_record.text2[0] != '\0')
            std::printf("  (mapping table file %s: SOIL_EROSION needs its SEDIMENTS table: a NUM_SED line, a "
                        "column-header line and one row per sediment class)\n",
                        error_record.text2);
        else
            std::printf("  (no MAPPING_TABLE card names a mapping table file, which SOIL_EROSION needs for its "
                        "SEDIMENTS table)\n");
        break;
    case 93:
        std::printf("Error: Unable to read the soil erosion properties table from mapping table file\n");
        break;
    case 95:
        std::printf("Warning: There are no segments in the Q7 segment map.\n");
        break;
    case 96:
        std::printf("Warning: The KORVA to Q7 internal segment flux option is turned on\nBut there are no segments in the Q7 segment map or in the link-node to segment file.\n");
        break;
    case 97:
        std::printf("Error: In the Q7 internal stream flux to segment file, some link/node pairs \nrefer to a segment of 0 or a segment that is not in the segment map file.\n");
        break;
    case 98:
        std::printf("Error: Unable to open the Q7 internal flux output file [%s].\n", error_record.text2);
        break;
    case 99:
        std::printf("Too many super-junctions (>1000!) in superlink.  Your network is too large.\n");
        break;
    case 100:
        std::printf("Too many nodes (>50!) in one link in superlink.  Your network is too large.\n");
        break;
    case 101:
        std::printf("Too many superlinks (>1000!) in superlink.  Your network is too large.\n");
        break;
    case 102:
        std::printf("Error in creating radar mapping to grid.\n");
        break;
    case 103:
        std::printf("Error: unable to read value for CALIB_COMP_DATA. Please provide one of DAILY, EVENT. \n");
        break;
    case 104:
        std::printf("Error: unable to read value for CALIB_OBJ_FUNC. Please provide one of RMSE, HMLE. \n");
        break;
    case 115:
        std::printf("Unable to open stream map file %s\n", error_record.text2);
        break;
    case 116:
        std::printf("Stream map file does not use correct header (file: %s)\n", error_record.text2);
        break;
    case 117:
        std::printf("NLINKS or MAXNODES card in stream map file does not match channel input file (file: %s)\n", error_record.text2);
        break;
    case 118:
        std::printf("Error reading data from stream map file. Check to make sure that the correct number of \ndata points exist for each link. (file: %s)\n", error_record.text2);
        break;
    case 119:
        std::printf("Error: Nutrient constituent to use mapping table for input value but no mapping table exists (Grid): %s\n", error_record.text1);
        break;
    case 120:
        std::printf("Error: Nutrient constituent to use mapping table for input value but no mapping table exists (Stream): %s\n", error_record.text1);
        break;
    case 130:
        std::printf("Error: unable to open the nutrient summery file.\n");
        break;
    default:
        break;  // codes without a message print only the line feed
    }
}

}  // namespace

bool is_warning_code(int code) {
    return code == 39 || code == 41 || code == 55 || code == 95 || code == 96;
}

void report_error() {
    const int code = error_record.code;
    if (code > 0) {
        std::printf("\n");
        error_record.fatal = 1;
        if (code <= 130) print_message(code);
        if (is_warning_code(code)) {
            error_record.fatal = 0;
            count_warning();
        }
    }
    error_record.code = 0;
}

void set_error_text1(std::string_view text) {
    bounded_copy(error_record.text1, sizeof error_record.text1, text);
}

void set_error_text2(std::string_view text) {
    bounded_copy(error_record.text2, sizeof error_record.text2, text);
}

void raise_error(int code, std::string_view text1, std::string_view text2) {
    if (!text1.empty()) set_error_text1(text1);
    if (!text2.empty()) set_error_text2(text2);
    error_record.code = code;
    error_record.fatal = 1;
}

void raise_printed_error() {
    error_record.code = printed_error_code;
    error_record.fatal = 1;
    report_error();
}

void clear_error_state() {
    error_record.code = 0;
    error_record.fatal = 0;
    warning_tally = warning_tally_type{};
}

void count_warning() { ++warning_tally.count; }

void count_warning(std::string note) {
    ++warning_tally.count;
    // A long list of the same kind helps nobody; the count still says how many.
    if (warning_tally.notes.size() < 20) warning_tally.notes.push_back(std::move(note));
}

void raise_open_error(std::string_view label, const std::string &name, const char *card) {
    // Without a name the file's place in the message says which card gives it.
    if (!name.empty())
        raise_error(4, label, name);
    else if (card)
        raise_error(4, label, std::string("none given; the card ") + card + " names it");
    else
        raise_error(4, label, "none given in the project file");
}
