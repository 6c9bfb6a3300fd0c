// The input encoding of the fuzz targets of survey formats with text
// companions (.HD, .GPS, .RAD, .COR), shared by the targets and by the test
// that writes their seed corpora.
//
// Input: for each companion in order, a 2-byte little-endian length and that
// many bytes of its text; the rest is the main (binary) file. A companion
// whose length word is missing is not written at all. The files go into a
// fresh private directory (mkdtemp), are opened, every trace is read both
// as 16-bit samples and as values, and everything is removed again.
#ifndef VANTIR3_FUZZ_SURVEY_FUZZ_INPUT_H_
#define VANTIR3_FUZZ_SURVEY_FUZZ_INPUT_H_

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "vantir3_survey/survey.h"

namespace vantir3_fuzz {

inline std::string EncodeSurveyInput(const std::vector<std::string>& companions, const std::string& main) {
    std::string out;
    for (const std::string& c : companions) {
        const size_t n = c.size() < 0xFFFF ? c.size() : 0xFFFF;
        out.push_back(static_cast<char>(n & 0xFF));
        out.push_back(static_cast<char>(n >> 8));
        out.append(c, 0, n);
    }
    return out + main;
}

namespace detail {

inline bool WriteAll(const std::string& path, const uint8_t* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

}  // namespace detail

// mainName: e.g. "x.DT1"; companionNames: e.g. {"x.HD"}. Returns false
// when the input was refused with a SurveyError (any other exception or a
// crash is a finding).
inline bool RunSurveyInput(const uint8_t* data, size_t size, const std::string& mainName,
                           const std::vector<std::string>& companionNames) {
    char dirTemplate[] = "/tmp/vantir3_fuzz_survey_XXXXXX";
    const char* dir = ::mkdtemp(dirTemplate);
    if (dir == nullptr) std::abort();
    std::vector<std::string> written;
    size_t pos = 0;
    for (const std::string& name : companionNames) {
        if (size - pos < 2) break;
        size_t n = data[pos] | size_t{data[pos + 1]} << 8;
        pos += 2;
        if (n > size - pos) n = size - pos;
        written.push_back(std::string(dir) + "/" + name);
        if (!detail::WriteAll(written.back(), data + pos, n)) std::abort();
        pos += n;
    }
    const std::string mainPath = std::string(dir) + "/" + mainName;
    written.push_back(mainPath);
    if (!detail::WriteAll(mainPath, data + pos, size - pos)) std::abort();

    bool opened = true;
    try {
        std::unique_ptr<vantir3::survey::SurveyFile> f = vantir3::survey::SurveyFile::Open(mainPath);
        const int64_t traces = f->traceCount();
        const int64_t samples = f->sampleCount();
        std::vector<int16_t> s16(static_cast<size_t>(traces * samples));
        std::vector<double> values(s16.size());
        f->ReadTraces16(0, 0, traces, s16.data());
        f->ReadTraces(0, 0, traces, values.data());
        CheckTraceTimes(*f);
    } catch (const vantir3::survey::SurveyError&) {
        opened = false;
    }
    for (const std::string& p : written) ::unlink(p.c_str());
    ::rmdir(dir);
    return opened;
}

}  // namespace vantir3_fuzz

#endif  // VANTIR3_FUZZ_SURVEY_FUZZ_INPUT_H_
