// Fuzz target: declaration texts and values into CDeclarationParam.
//
// The input drives a sequence of operations on one CDeclarationParam (and
// copies of it): SetDefStr with raw or assembled nine-line declarations,
// SetVal, SetToListVal, Get on every line including values outside the
// enumerated ones, GetVal, GetDefinition, GetListCount, GetPrecision,
// SetToDefault, ExactResolution, copy and assignment. Checked after every
// call:
//   - every returned pointer is null or a terminated text (ASan sees a read
//     past the end);
//   - results lie in their documented sets (SetVal -1/0/1, counts >= -1);
//   - a refused SetVal leaves the value text unchanged;
//   - an accepted declaration answers all nine lines and no tenth; a refused
//     one leaves the object empty unless it lacked "=" or a line break after
//     it.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "vantir3/framework/declaration_param.h"

namespace {

[[noreturn]] void Fail(const char* what, const std::string& detail) {
    std::fprintf(stderr, "fuzz_declaration: %s\n%s\n", what, detail.c_str());
    std::abort();
}

#define FUZZ_REQUIRE(cond, detail) \
    do {                           \
        if (!(cond)) Fail(#cond, detail); \
    } while (0)

// Null or a terminated text; returns the text (empty for null).
std::string Text(const char* p) {
    if (p == nullptr) return std::string();
    const size_t n = std::strlen(p);  // ASan reports a read past the end
    return std::string(p, n);
}

bool IsNull(const char* p) {
    Text(p);
    return p == nullptr;
}

std::string ValueOf(CDeclarationParam& d) { return Text(d.GetVal(false)); }

// A declaration of nine lines assembled from fuzzer parts, so that most
// inputs get past the line count and exercise the value checks.
std::string AssembleDeclaration(FuzzedDataProvider& in) {
    static const char kTypes[] = "CDFLSTlsdx";
    std::string text(1, kTypes[in.ConsumeIntegralInRange<size_t>(0, sizeof kTypes - 2)]);
    text += '\n';
    text += in.ConsumeRandomLengthString(12);  // code
    text += '=';
    text += in.ConsumeRandomLengthString(24);  // value
    for (int line = 2; line <= 8; ++line) {
        text += '\n';
        text += in.ConsumeRandomLengthString(line == 6 ? 64 : 24);
    }
    return text;
}

void CheckAccepted(CDeclarationParam& d, const std::string& text) {
    FUZZ_REQUIRE(std::strchr("CDFLSTl", d.GetType()) != nullptr && d.GetType() != 0, text);
    for (int line = 0; line <= 8; ++line) {
        FUZZ_REQUIRE(!IsNull(d.Get(static_cast<CDeclarationParam::EParamSpec>(line))), text);
    }
    FUZZ_REQUIRE(IsNull(d.Get(static_cast<CDeclarationParam::EParamSpec>(9))), text);
    FUZZ_REQUIRE(!IsNull(d.GetDefinition()), text);
    FUZZ_REQUIRE(d.GetListCount() >= 0, text);
}

// Returns whether the declaration was accepted.
bool SetDef(CDeclarationParam& d, const std::string& raw) {
    const bool ok = d.SetDefStr(raw.c_str());
    const std::string text(raw.c_str());  // what the parser sees
    if (ok) {
        CheckAccepted(d, text);
        return true;
    }
    if (d.GetType() == 0) {
        FUZZ_REQUIRE(IsNull(d.GetVal(false)) && IsNull(d.GetVal(true)), text);
        FUZZ_REQUIRE(d.GetListCount() == -1, text);
        return false;
    }
    // Kept only when the text lacks "=" or a line break after it.
    const size_t equals = text.find('=');
    FUZZ_REQUIRE(equals == std::string::npos || text.find('\n', equals) == std::string::npos, text);
    FUZZ_REQUIRE(IsNull(d.GetVal(false)), text);
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    CDeclarationParam d;
    bool accepted = false;  // d holds a declaration that SetDefStr accepted
    int steps = 0;
    while (in.remaining_bytes() > 0 && ++steps < 64) {
        switch (in.ConsumeIntegralInRange<int>(0, 13)) {
            case 0:
                accepted = SetDef(d, in.ConsumeRandomLengthString(512));
                break;
            case 1:
            case 2:
                accepted = SetDef(d, AssembleDeclaration(in));
                break;
            case 3: {
                const std::string before = ValueOf(d);
                const std::string value = in.ConsumeRandomLengthString(64);
                const int r = d.SetVal(value.c_str());
                FUZZ_REQUIRE(r >= -1 && r <= 1, value);
                if (r == 0) FUZZ_REQUIRE(ValueOf(d) == before, value);
                break;
            }
            case 4: {
                const std::string before = ValueOf(d);
                const int count = d.GetListCount();
                const int index = in.ConsumeBool() ? in.ConsumeIntegralInRange<int>(-2, 16)
                                                   : in.ConsumeIntegral<int>();
                const int r = d.SetToListVal(index);
                FUZZ_REQUIRE(r >= -1 && r <= 1, std::to_string(index));
                if (index < 0 || index >= count) FUZZ_REQUIRE(r == 0, std::to_string(index));
                if (r == 0) FUZZ_REQUIRE(ValueOf(d) == before, std::to_string(index));
                break;
            }
            case 5: {
                // Every value the enumeration can hold, named or not.
                const int which = in.ConsumeIntegralInRange<int>(-16, 15);
                const char* p = d.Get(static_cast<CDeclarationParam::EParamSpec>(which));
                Text(p);
                if (which < -1 || (accepted && which > 8)) {
                    FUZZ_REQUIRE(p == nullptr, std::to_string(which));
                }
                if (accepted && which >= -1 && which <= 8 && which != -1) {
                    FUZZ_REQUIRE(p != nullptr, std::to_string(which));
                }
                break;
            }
            case 6:
                Text(d.GetVal(in.ConsumeBool()));
                break;
            case 7:
                Text(d.GetDefinition());
                break;
            case 8:
                FUZZ_REQUIRE(d.GetListCount() >= -1, "list count");
                break;
            case 9:
                FUZZ_REQUIRE(d.GetPrecision() >= -1, "precision");
                break;
            case 10: {
                const std::string before = ValueOf(d);
                const int r = d.SetToDefault();
                FUZZ_REQUIRE(r >= -1 && r <= 1, "default");
                if (r == 0) FUZZ_REQUIRE(ValueOf(d) == before, "default");
                break;
            }
            case 11: {
                CDeclarationParam copy(d);
                FUZZ_REQUIRE(Text(copy.GetDefinition()) == Text(d.GetDefinition()), "copy");
                FUZZ_REQUIRE(copy.GetType() == d.GetType(), "copy");
                CDeclarationParam other;
                other = copy;
                FUZZ_REQUIRE(ValueOf(other) == ValueOf(d), "assign");
                d = other;
                break;
            }
            case 12: {
                double value = in.ConsumeFloatingPoint<double>();
                d.ExactResolution(value);
                break;
            }
            case 13:
                (void)d.GetType();
                break;
        }
    }
    return 0;
}
