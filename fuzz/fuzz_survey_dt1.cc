// Fuzz target: DT1 files with their .HD and .GPS companions, through
// SurveyFile::Open and both trace readers (input encoding:
// fuzz/survey_fuzz_input.h, two companions: the .HD text, then the GPS log). Bad input must give a SurveyError, never a
// crash, an out-of-bounds read or an allocation from an unchecked size.
#include <cstddef>
#include <cstdint>

#include "fuzz/survey_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vantir3_fuzz::RunSurveyInput(data, size, "x.DT1", {"x.HD", "x.GPS"});
    return 0;
}
