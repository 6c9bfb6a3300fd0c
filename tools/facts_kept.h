// Which facts of the records given to a writer a written survey file does
// not keep (its format has no place for them, or a coarser one), found by
// reading the file back; the program notes them after writing and the Python
// binding warns of them. With the per-trace counts and the number text that
// the program's listings share.
#ifndef TOOLS_FACTS_KEPT_H_
#define TOOLS_FACTS_KEPT_H_

#include <cstdint>
#include <string>
#include <vector>

#include "vantir3_survey/survey.h"

namespace vantir3_cli {

// Whether a trace has a recording time.
bool Timed(const vantir3::survey::TraceTime& t);

// How many traces of a record have a recording time, coordinates, an
// elevation (the per-trace lists hold unknown entries too).
int64_t TimedTraces(const vantir3::survey::Acquisition& a);
int64_t Located(const vantir3::survey::Acquisition& a);
int64_t Elevated(const vantir3::survey::Acquisition& a);

// A number for a table: the fewest of 15 to 17 significant digits that read
// back as the same value; empty when unknown.
std::string CsvNum(double v);

// The facts of the given records (one per channel) that the file `written`,
// of `format`, does not hold, as phrases ("antenna separation 1 m", "marks
// of 3 traces"); the file is read back, so that what is reported is what a
// reader finds. scales: those the samples were written through (empty when
// the values were written as they are); one other than a record's means its
// amplitude unit is gone.
std::vector<std::string> FactsNotKept(const std::vector<vantir3::survey::Acquisition>& given,
                                      const std::string& written, vantir3::survey::Format format,
                                      const std::vector<double>& scales);

// "<written> (<FORMAT>) does not keep: <phrases, joined by ', '>".
std::string FactsNotKeptText(const std::string& written, vantir3::survey::Format format,
                             const std::vector<std::string>& lost);

}  // namespace vantir3_cli

#endif  // TOOLS_FACTS_KEPT_H_
