// Template files: the start-up scan that checks each template's header, finds
// its parameter spaces and maps them to parameters, and the writer of a model
// input file from its template before every model run.
#pragma once
#include "calibrator/engine/control_data.h"

// Scans templates 1 to template_count through their open handles. A bad header,
// an unterminated space or a space naming no parameter gives status 1.
calib_status scan_template_files(control_data &cd, template_file_table &table);

// Writes the model input file of template `template_number` with the parameter
// values of `value_kind`; status 1 when the input file cannot be written.
calib_status write_model_input_file(control_data &cd, file_names names, int template_number,
                                    int value_kind, template_file_table &table);

// The number a model input file receives for the native value v ("%.7E"),
// read back: the value the model works with.
double value_as_written(double v);
