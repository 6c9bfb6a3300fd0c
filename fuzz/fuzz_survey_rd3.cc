// Fuzz target: RD3 and RD7 files with their .RAD and .COR companions (each
// input is tried as both), through SurveyFile::Open and both trace readers
// (input encoding: fuzz/survey_fuzz_input.h, two companions: the .RAD
// text, then the .COR text). Bad input must give a SurveyError, never a
// crash, an out-of-bounds read or an allocation from an unchecked size.
#include <cstddef>
#include <cstdint>

#include "fuzz/survey_fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vantir3_fuzz::RunSurveyInput(data, size, "x.rd3", {"x.rad", "x.cor"});
    vantir3_fuzz::RunSurveyInput(data, size, "x.rd7", {"x.rad", "x.cor"});
    return 0;
}
