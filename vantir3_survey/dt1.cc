// Dt1 reader and writer (being written).
#include "vantir3_survey/format_io.h"

namespace vantir3 {
namespace survey {
namespace internal {

Parsed ParseDt1(const InputFile& file, const ReadOptions&) {
    file.Fail("", "reading this format is not available yet");
}

std::unique_ptr<FormatWriter> MakeDt1Writer(const std::vector<Acquisition>&, SampleType) {
    throw SurveyError("", "", "writing this format is not available yet");
}

}  // namespace internal
}  // namespace survey
}  // namespace vantir3
