// Fuzz target: parameter strings into every process type's SetParams.
//
// Input: byte 0 picks the process type (every type of a toolbox's catalogue,
// enumerated at run time, plus the background subtraction process when it is
// built), byte 1 holds option bits, byte 2 picks acquisition parameters
// (ordinary and hostile ones: zero, negative, tiny, huge, NaN) and byte 3 the
// shape of a small profile, the rest is split at NUL bytes into successive
// SetParams texts for the same process. With option bit 2 the process then
// fetches the profile through GetDataCdp with those parameters: any status
// is fine, a sanitizer report is not. After every SetParams call:
//   - GetParams() parses back: SetParams(GetParams()) returns 0 and
//     GetParams() is unchanged;
//   - every stored value (line 1 of its declaration text) lies within the
//     minimum and maximum of that text (lines 3 and 4);
//   - declaration indices outside -2 ... count-1 give an empty text;
//   - SetProcessParamsToDefaults keeps the values valid (option bit 0), and
//     a process without a source answers -200 with an empty output (bit 1);
//   - the leading-number reader of the parser agrees with strtod on the
//     number prefix it is defined to read.
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kol_utils/kol_utils.h"
#include "tests/support/test_source.h"
#include "vantir3/framework/param_table.h"
#include "vantir3/framework/process.h"
#include "vantir3/framework/toolbox.h"

#if __has_include("vantir3/processes/background_subtract.h")
#include "vantir3/processes/background_subtract.h"
#define VANTIR3_FUZZ_HAVE_BGSUB 1
#endif

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "fuzz_params: %s\n%s\n", what, detail.c_str());
    std::abort();
}

#define FUZZ_REQUIRE(cond, detail) \
    do {                           \
        if (!(cond)) Fail(#cond, detail); \
    } while (0)

CCdpProcessToolbox& Toolbox() {
    static CCdpProcessToolbox toolbox;
    return toolbox;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find('\n', start);
        lines.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return lines;
}

// strtod over exactly the prefix the parameter parser reads: blanks, an
// optional sign, digits with an optional decimal point (at least one digit),
// an optional exponent with digits; 0 when there is no such prefix.
double ReferenceLeadingNumber(const char* text) {
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\v' || *p == '\f' || *p == '\r') ++p;
    const char* start = p;
    if (*p == '+' || *p == '-') ++p;
    bool any = false;
    while (*p >= '0' && *p <= '9') ++p, any = true;
    if (*p == '.') {
        ++p;
        while (*p >= '0' && *p <= '9') ++p, any = true;
    }
    if (!any) return 0.0;
    if (*p == 'e' || *p == 'E') {
        const char* e = p + 1;
        if (*e == '+' || *e == '-') ++e;
        if (*e >= '0' && *e <= '9') {
            while (*e >= '0' && *e <= '9') ++e;
            p = e;
        }
    }
    const std::string prefix(start, p);
    errno = 0;
    return std::strtod(prefix.c_str(), nullptr);
}

void CheckLeadingNumbers(const std::string& text) {
    for (const std::string& line : SplitLines(text)) {
        const char* value = line.size() > 7 ? line.c_str() + 7 : line.c_str();
        const double got = vantir3::ReadLeadingNumber(value);
        const double want = ReferenceLeadingNumber(value);
        FUZZ_REQUIRE(got == want && std::signbit(got) == std::signbit(want),
                     "text: [" + std::string(value) + "] read " + std::to_string(got) + " want " +
                         std::to_string(want));
    }
}

bool ParseDouble(const std::string& text, double* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    *out = std::strtod(text.c_str(), &end);
    return end != nullptr && *end == '\0';
}

void CheckProcess(CCdpProcess* process, const std::string& lastInput) {
    const std::string params = process->GetParams();
    const int again = process->SetParams(params.c_str());
    FUZZ_REQUIRE(again == 0, "GetParams text refused (" + std::to_string(again) + "):\n" + params +
                                 "\nafter input:\n" + lastInput);
    const std::string params2 = process->GetParams();
    FUZZ_REQUIRE(params2 == params, "GetParams changed by its own text:\n" + params + "\n--\n" + params2);

    const uint32_t count = process->GetParamCount();
    for (uint32_t i = 0; i < count && i < 64; ++i) {
        const std::string declaration = process->GetDeclaration(static_cast<int>(i));
        if (declaration.empty()) continue;  // a process declaring nothing
        const std::vector<std::string> lines = SplitLines(declaration);
        FUZZ_REQUIRE(lines.size() >= 9, declaration);
        const size_t equals = lines[1].find('=');
        FUZZ_REQUIRE(equals != std::string::npos, declaration);
        double value = 0, minimum = 0, maximum = 0;
        FUZZ_REQUIRE(ParseDouble(lines[1].substr(equals + 1), &value), declaration);
        FUZZ_REQUIRE(ParseDouble(lines[3], &minimum), declaration);
        FUZZ_REQUIRE(ParseDouble(lines[4], &maximum), declaration);
        FUZZ_REQUIRE(value >= minimum && value <= maximum,
                     "value out of bounds:\n" + declaration + "\nafter input:\n" + lastInput);
    }
}

void CheckDeclarationIndices(CCdpProcess* process) {
    const uint32_t count = process->GetParamCount();
    for (int index : {-3, INT_MIN, INT_MAX, static_cast<int>(count), static_cast<int>(count) + 1}) {
        std::string out = "x";
        FUZZ_REQUIRE(process->GetDeclaration(index).empty(), std::to_string(index));
        FUZZ_REQUIRE(!process->GetDeclaration(out, index) && out.empty(), std::to_string(index));
    }
}

// Acquisition values: two bits per field pick one of four.
ICdpDataSource::SEGprParam PickGpr(uint8_t bits) {
    const double nan = std::nan("");
    static const double kTimeZero[] = {10.5, 1.0, -3.0, 1e9};
    static const double kInterval[] = {0.4, 0.0, -0.1, 1e-300};
    static const double kFrequency[] = {250.0, 0.0, -50.0, 1e12};
    static const double kSeparation[] = {0.5, 0.0, -1.0, 1e6};
    ICdpDataSource::SEGprParam gpr = vantir3_test::DefaultGprParam();
    gpr.timeZeroSample = kTimeZero[bits & 3];
    gpr.sampleInterval = kInterval[(bits >> 2) & 3];
    gpr.antennaFrequency = kFrequency[(bits >> 4) & 3];
    gpr.antennaSeparation = kSeparation[(bits >> 6) & 3];
    // The two highest choices of time zero and interval together stand for
    // values that are not numbers.
    if ((bits & 15) == 15) gpr.sampleInterval = nan;
    return gpr;
}

// Fetches a small profile through the process: samples 1 ... 64 on axis 0,
// traces 1 ... 4 on axis 1, a region that may reach past the profile.
void Fetch(CCdpProcess* process, uint8_t gprBits, uint8_t shape) {
    const int32_t samples = 1 + (shape & 63);
    const int32_t traces = 1 + ((shape >> 6) & 3);
    vantir3_test::TestSource source(samples, traces, 1);
    source.Gpr() = PickGpr(gprBits);
    process->SetDataSource(&source);
    Mebo3DDataAxis region = source.Data().axis;
    if (shape & 32) region.dim[0].max += 7;
    MeboDataPtr out;
    MeboDataPtrClear(&out);
    const int status = process->GetDataCdp(out, &region, nullptr);
    if (status >= 0) FUZZ_REQUIRE(out.storage != nullptr, std::to_string(status));
    if (out.storage != nullptr) FUZZ_REQUIRE(out.storage->refCount == 1, "output shared");
    MeboDataPtrRelease(&out);
    process->SetDataSource(nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    CCdpProcessToolbox& toolbox = Toolbox();
    const unsigned registered = toolbox.GetAvailableProcessCount();
    unsigned types = registered;
#ifdef VANTIR3_FUZZ_HAVE_BGSUB
    ++types;
#endif
    if (types == 0) return 0;
    const unsigned pick = data[0] % types;
    const uint8_t options = data[1];
    const uint8_t gprBits = data[2];
    const uint8_t shape = data[3];

    CCdpProcess* process = nullptr;
    bool owned = false;
    if (pick < registered) {
        process = toolbox.GetProcess(static_cast<unsigned>(toolbox.GetAvailableProcessUID(pick, nullptr)));
    } else {
#ifdef VANTIR3_FUZZ_HAVE_BGSUB
        process = new CCdpPrcBackgroundSubtract();
        owned = true;
#endif
    }
    FUZZ_REQUIRE(process != nullptr, std::to_string(pick));

    // Successive SetParams texts, separated by NUL bytes.
    const std::string input(reinterpret_cast<const char*>(data) + 4, size - 4);
    size_t start = 0;
    for (;;) {
        const size_t end = input.find('\0', start);
        const std::string text = input.substr(start, end == std::string::npos ? std::string::npos : end - start);
        CheckLeadingNumbers(text);
        const int status = process->SetParams(text.c_str());
        FUZZ_REQUIRE(status != -9999, text);
        CheckProcess(process, text);
        if (end == std::string::npos) break;
        start = end + 1;
    }

    CheckDeclarationIndices(process);
    if (options & 1) {
        // Re-stating the values through their declarations keeps them valid.
        const int status = toolbox.SetProcessParamsToDefaults(process);
        FUZZ_REQUIRE(status >= 0, std::to_string(status) + "\n" + process->GetParams());
        CheckProcess(process, "(SetProcessParamsToDefaults)");
    }
    if (options & 2) {
        process->SetDataSource(nullptr);
        MeboDataPtr out;
        MeboDataPtrClear(&out);
        FUZZ_REQUIRE(process->GetDataCdp(out, nullptr, nullptr) == -200, "without a source");
        FUZZ_REQUIRE(out.storage == nullptr, "output left allocated");
    }

    if (options & 4) Fetch(process, gprBits, shape);

    if (owned) {
        delete process;
    } else {
        toolbox.ReleaseProcess(process);
    }
    return 0;
}
