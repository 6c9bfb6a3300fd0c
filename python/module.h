// The parts of the extension module vantir3._vantir3, one function per file.
#ifndef VANTIR3_PYTHON_MODULE_H_
#define VANTIR3_PYTHON_MODULE_H_

#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "vantir3_survey/survey.h"

namespace vantir3_py {

void BindEntryPoints(pybind11::module_& m);  // entry_points.cc
void BindProcesses(pybind11::module_& m);    // processes.cc: catalogue, chains
void BindSurvey(pybind11::module_& m);       // survey_binding.cc: files, acquisition

// Names as the survey library prints them ("DZT", "i16"); ValueError for
// any other.
vantir3::survey::Format FormatFromName(const std::string& name);
vantir3::survey::SampleType SampleTypeFromName(const std::string& name);

// Reading options from the keyword arguments that read() and
// Chain.run_file() share: a format name or None, and facts (NaN: the file's).
vantir3::survey::ReadOptions ReadOptionsOf(const pybind11::object& format, double sampleIntervalNs,
                                           double antennaFrequencyMHz, double antennaSeparationM,
                                           double traceSpacingM);

// After a file was written: warns with FactsNotKeptWarning "<written>
// (<FORMAT>) does not keep: <phrases>" when `lost` (vantir3_cli::
// FactsNotKept's phrases) has any, attributed to the caller `stacklevel`
// frames up. Needs the interpreter lock; throws error_already_set when the
// warnings filter turns the warning into an exception.
void WarnFactsNotKept(const std::string& written, vantir3::survey::Format format,
                      const std::vector<std::string>& lost, int stacklevel);

}  // namespace vantir3_py

#endif  // VANTIR3_PYTHON_MODULE_H_
