// The record of one calibration problem as read from the control file: control
// settings, parameter and observation groups, parameters, observations, prior
// information, the model command and the template and instruction file pairs.
// Filled by read_control_file at start-up and read by every stage of varnock.
#pragma once
#include <array>
#include <cstdio>
#include <string>
#include <vector>

// Every step of the calibration program returns one of these: 0 success, 1 failure.
using calib_status = short;

// Which parameter values a model run writes and which model value of each
// observation its outputs fill: 0 base run (`value`, model_value[0]), 1 first
// perturbed or trial run (`perturbed_value_1`, model_value[1]), 2 second
// perturbed run (`perturbed_value_2`, model_value[2]).
enum value_kind_code { base_values = 0, first_perturbed = 1, second_perturbed = 2 };

struct parameter_group_data {
    std::string group_name;
    std::string increment_type;        // not used
    double increment = 0.0;            // not used
    double increment_lower_bound = 0.0;  // not used
    std::string derivative_form;       // "always_2", "always_3" or "switch"
    double increment_multiplier = 0.0;  // not used
    std::string derivative_method;     // "outside_pts", "parabolic" or "best_fit"
};

struct parameter_data {
    std::string name;
    std::string transform;     // "none", "log", "fixed" or "tied"
    std::string change_limit;  // not used
    double value = 0.0;        // base-10 logarithm for "log" parameters
    double previous_value = 0.0;
    double perturbed_value_1 = 0.0;
    double perturbed_value_2 = 0.0;
    double lower_bound = 0.0;  // logarithms for "log" parameters
    double upper_bound = 0.0;
    std::string group;
    double scale = 0.0;   // not used
    double offset = 0.0;  // not used
    int derivative_command = 0;  // not used
    std::string tie_line_name;   // first word of the tie line, never compared
    std::string parent_name;     // parameter that a tied parameter follows
    int parent_index = 0;        // set by set_tie_ratios
    double tie_ratio = 1.0;      // tied value over the parent's native value
    int at_upper_bound = 0;
    int at_lower_bound = 0;
    int frozen = 0;
    int frozen_for_upgrade = 0;
    double composite_sensitivity = 0.0;
};

struct observation_group_data {
    std::string group_name;
    double group_phi = 0.0;  // the group's share of the objective function
};

struct observation_data {
    std::string name;
    double measured = 0.0;
    // How the measured value is written: its decimals, after the point of its
    // mantissa, and whether it has an exponent; the residuals of the record
    // take the same form. -1: not read from a file (printed with 15 digits).
    int measured_decimals = -1;
    bool measured_exponent = false;
    std::array<double, 3> model_value{};  // indexed by value kind
    double weight = 0.0;
    std::string group;
};

struct template_file_data {
    std::string template_name;
    std::string input_name;
    std::vector<int> space_parameters;   // 1-based: parameter number of space k
    int space_count = 0;
    std::vector<long> marker_positions;  // file position just after each marker
};

struct instruction_file_data {
    std::string instruction_name;
    std::string output_name;
};

// Prior information lines hold at most this many terms.
constexpr int max_prior_terms = 10;

struct prior_information_data {
    std::string label;                 // shorter than 24 characters
    std::vector<double> factors;       // 1-based, term_count entries
    std::array<std::string, max_prior_terms + 1> term_parameters;  // 1-based names
    int term_count = 0;
    double prior_value = 0.0;
    double weight = 0.0;
    std::string group;
};

struct control_data {
    std::string first_line;
    std::string control_header;
    std::string restart_switch;  // "restart" enables the restart file
    std::string mode;            // the MODE word
    int adjustable_count = 0;
    int fixed_count = 0;
    int tied_count = 0;
    int frozen_count = 0;
    int frozen_for_upgrade_count = 0;
    int parameter_count = 0;
    int observation_count = 0;
    int parameter_group_count = 0;
    int prior_count = 0;
    int observation_group_count = 0;
    int template_count = 0;
    int instruction_count = 0;
    std::string precision_word;      // not used
    std::string decimal_point_word;  // not used
    int command_count = 0;           // not used
    int jacobian_file_flag = 0;      // not used
    int message_file_flag = 0;       // not used
    double lambda = 0.0;             // initial, then running Marquardt lambda
    double lambda_factor = 0.0;
    double phi_ratio_sufficient = 0.0;
    double phi_reduction_lambda = 0.0;
    int lambda_limit = 0;
    double relative_change_max = 0.0;  // not used
    double factor_change_max = 0.0;    // not used
    double factor_base = 0.0;          // not used
    int control_int_a = 0;             // not used
    double phi_reduction_switch = 0.0;
    std::string control_word_a;  // not used
    int max_iterations = 0;      // 0: one model run only; -1: one Jacobian only
    double phi_reduction_stop = 0.0;
    int phi_stop_count = 0;
    int no_reduction_count = 0;
    double relative_change_stop = 0.0;
    int relative_change_count = 0;
    int covariance_flag = 0;   // not used
    int correlation_flag = 0;  // not used
    int eigen_flag = 0;        // not used
    int partial_jacobian = 0;
    int partial_jacobian_conditional = 0;
    double partial_jacobian_ratio = 0.0;
    int partial_jacobian_columns = 0;
    double control_double_a = 0.0;  // not used
    double phi_ratio = 0.0;         // working field of the GML drivers

    std::string svd_header;
    int svd_mode = 0;                  // not used
    int svd_max_singular = 0;          // not used
    double svd_eigen_threshold = 0.0;  // not used
    int svd_eigen_write = 0;           // not used

    // Tables are used from index 1; element 0 stays empty.
    std::string group_section_line;
    std::vector<parameter_group_data> parameter_groups;
    std::string parameter_section_line;
    std::vector<parameter_data> parameters;
    std::string observation_group_section_line;
    std::vector<observation_group_data> observation_groups;
    std::string observation_section_line;
    std::vector<observation_data> observations;
    std::string command_section_line;
    std::string model_command;  // the whole model command line, trimmed
    std::string input_output_section_line;
    std::vector<template_file_data> templates;
    std::vector<instruction_file_data> instruction_files;
    std::string prior_section_line;
    std::vector<prior_information_data> prior_information;
    std::string regularisation_section_line;
    double phi_measurement_limit = 0.0;     // not used
    double phi_measurement_accept = 0.0;    // not used
    double phi_measurement_fraction = 0.0;  // not used
    double weight_factor = 0.0;             // regularisation weight factor in use
    double weight_factor_initial = 0.0;
    double weight_factor_min = 0.0;        // not used
    double weight_factor_max = 0.0;        // not used
    double weight_factor_factor = 0.0;     // not used
    double weight_factor_tolerance = 0.0;  // not used
};

// The six names built from the case name by FilesNamesForWrite.
struct file_names {
    std::string case_name;
    std::string record_name;          // case + ".rec"
    std::string sensitivity_name;     // case + ".sen"
    std::string matrix_name;          // case + ".mtt"
    std::string parameter_value_name; // case + ".par"
    std::string restart_name;         // case + ".rst"
};

// The tables of open template and instruction files; entry k (1 to 25) is file k.
constexpr int max_template_files = 25;
constexpr int max_instruction_files = 25;

struct template_file_table {
    std::array<std::FILE *, max_template_files + 1> files{};
    std::string text;  // the template being written, a buffer kept from run to run
};

// One instruction of an instruction file, parsed once at start-up.
enum class instruction_step_kind {
    line_break,   // go to the start of the next output line
    search,       // marker text: find it and stand just after it
    line_advance, // l<n>
    whitespace,   // w
    skip_chars,   // t<n>
    fixed_read,   // [name]a:b
    free_read,    // !name!
};

struct instruction_step {
    instruction_step_kind kind = instruction_step_kind::line_break;
    std::string text;     // search text or observation name as written
    int count = 0;        // l and t counts
    int first_column = 0; // fixed reads
    int last_column = 0;
    int observation = 0;  // observation number of a read
    int target = -1;      // the read step this step leads to (for messages), -1 none
};

struct instruction_file_table {
    std::array<std::FILE *, max_instruction_files + 1> files{};
    // The instructions of file k, parsed by check_instruction_files (or by the
    // first read of a file that was not checked); parsed[k] says which are.
    std::array<std::vector<instruction_step>, max_instruction_files + 1> steps{};
    std::array<bool, max_instruction_files + 1> parsed{};
    std::string output_text;  // the model output being read, kept from run to run
    std::string field;        // the text of one value being converted
    // Set when the last failed read met a value that is not finite: the model
    // ran but its result is no number, which a lambda trial may survive.
    bool non_finite_value = false;
};
