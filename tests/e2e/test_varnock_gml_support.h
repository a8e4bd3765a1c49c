// Helpers of the end-to-end GML estimation tests: builds a control file, a
// template, an instruction file and an awk model for a list of parameters and
// observations, and reads numbers back from the files varnock writes.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "support/run_program.h"

namespace gml_e2e {

struct parameter {
    std::string name;
    std::string transform;  // "none", "log", "fixed" or "tied"
    double value;
    double lower;
    double upper;
};

struct observation {
    std::string name;
    double measured;
    double weight = 1.0;
};

struct settings {
    std::string restart = "norestart";
    double lambda = 10.0;
    double lambda_factor = 2.0;
    double phi_ratio_sufficient = 0.3;
    double phi_reduction_lambda = 0.01;
    int lambda_limit = 10;
    int max_iterations = 30;
    double phi_reduction_stop = 1e-10;
    int phi_stop_count = 4;
    int no_reduction_count = 4;
    double relative_change_stop = 1e-8;
    int relative_change_count = 3;
    int partial_jacobian = 0;
    int partial_jacobian_conditional = 0;
    double partial_jacobian_ratio = 0.5;
    int partial_jacobian_columns = 2;
    std::string derivative_form = "always_3";
    std::string derivative_method = "outside_pts";
};

inline std::string number(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.10g", v);
    return text;
}

// A control file "case.pst" of one parameter group, one observation group, the
// template model.tpl -> model.in and the instructions model.ins -> model.out.
inline std::string control_file(const settings &s, const std::vector<parameter> &pars,
                                const std::vector<std::pair<std::string, std::string>> &ties,
                                const std::vector<observation> &obs) {
    std::ostringstream c;
    c << "pcf\n* control data\n"
      << s.restart << " estimation\n"
      << pars.size() << " " << obs.size() << " 1 0 1\n"
      << "1 1 single point 1 0 0\n"
      << number(s.lambda) << " " << number(s.lambda_factor) << " " << number(s.phi_ratio_sufficient)
      << " " << number(s.phi_reduction_lambda) << " " << s.lambda_limit << "\n"
      << "3.0 3.0 0.001 0\n0.1\n"
      << "none " << s.max_iterations << " " << number(s.phi_reduction_stop) << " "
      << s.phi_stop_count << " " << s.no_reduction_count << " " << number(s.relative_change_stop)
      << " " << s.relative_change_count << "\n"
      << "1 1 1\n"
      << s.partial_jacobian << " " << s.partial_jacobian_conditional << " "
      << number(s.partial_jacobian_ratio) << " " << s.partial_jacobian_columns << " 0.0\n"
      << "* parameter groups\n"
      << "grp relative 0.01 0.0 " << s.derivative_form << " 2.0 " << s.derivative_method << "\n"
      << "* parameter data\n";
    for (const parameter &p : pars) {
        c << p.name << " " << p.transform << " relative " << number(p.value) << " " << number(p.lower)
          << " " << number(p.upper) << " grp 1.0 0.0 1\n";
    }
    for (const auto &t : ties) c << t.first << " " << t.second << "\n";
    c << "* observation groups\nobsgrp\n* observation data\n";
    for (const observation &o : obs) {
        c << o.name << " " << number(o.measured) << " " << number(o.weight) << " obsgrp\n";
    }
    c << "* model command line\nsh model.sh\n"
      << "* model input/output\nmodel.tpl model.in\nmodel.ins model.out\n"
      << "* prior information\n";
    return c.str();
}

// Template: one line "name value" per parameter.
inline std::string template_file(const std::vector<parameter> &pars) {
    std::string t = "ptf #\n";
    for (const parameter &p : pars) t += p.name + " #" + p.name + "        #\n";
    return t;
}

// Instructions: the model writes one value per line in observation order.
inline std::string instruction_file(const std::vector<observation> &obs) {
    std::string t = "pif $\n";
    for (const observation &o : obs) t += "l1 !" + o.name + "!\n";
    return t;
}

// The model: awk reads model.in into v[name] and runs `body`, which prints
// one line per observation; `prologue` runs before it in the shell.
inline std::string model_script(const std::string &body, const std::string &prologue = "") {
    return prologue + "awk '{v[$1]=$2} END {" + body + "}' model.in > model.out\n";
}

inline void write_case(const testsupport::scratch_dir &d, const settings &s,
                       const std::vector<parameter> &pars,
                       const std::vector<std::pair<std::string, std::string>> &ties,
                       const std::vector<observation> &obs, const std::string &awk_body,
                       const std::string &prologue = "") {
    d.write("case.pst", control_file(s, pars, ties, obs));
    d.write("model.tpl", template_file(pars));
    d.write("model.ins", instruction_file(obs));
    d.write("model.sh", model_script(awk_body, prologue));
}

// The parameter values of the model input file as the final run wrote them.
inline std::map<std::string, double> model_input_values(const testsupport::scratch_dir &d) {
    std::map<std::string, double> values;
    std::istringstream in(d.read("model.in"));
    std::string name;
    double v = 0.0;
    while (in >> name >> v) values[name] = v;
    return values;
}

// The diagonal of the covariance table of the run record, by parameter name.
inline std::map<std::string, double> covariance_diagonal(const std::string &record) {
    std::map<std::string, double> diagonal;
    const std::size_t at = record.find("Parameter covariance matrix ----->\n");
    if (at == std::string::npos) return diagonal;
    std::istringstream in(record.substr(at));
    std::string line;
    std::getline(in, line);
    std::getline(in, line);  // header row of names
    std::vector<std::string> names;
    std::istringstream header(line);
    for (std::string n; header >> n;) names.push_back(n);
    for (std::size_t i = 0; i < names.size() && std::getline(in, line); ++i) {
        std::istringstream row(line);
        std::string name;
        row >> name;
        double element = 0.0;
        for (std::size_t j = 0; j <= i; ++j) row >> element;
        diagonal[name] = element;
    }
    return diagonal;
}

inline bool contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

inline int count_of(const std::string &text, const std::string &part) {
    int n = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
    return n;
}

}  // namespace gml_e2e
