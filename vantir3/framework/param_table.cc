#include "vantir3/framework/param_table.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "kol_utils/kol_utils.h"
#include "vantir3/framework/status.h"

namespace vantir3 {

bool IsValidParamValue(double value, double minimum, double maximum, double resolution) {
    if (!(value >= minimum && value <= maximum)) return false;  // NaN fails too
    if (resolution == 0.0) return true;
    const double q = value / resolution;
    // Beyond 2^52 every double is a whole number: the grid is finer than the
    // doubles themselves.
    if (!(std::fabs(q) < 4503599627370496.0)) return true;
    const double tolerance = 1e-9 + std::fabs(q) * 4.0 * std::numeric_limits<double>::epsilon();
    return std::fabs(q - std::nearbyint(q)) <= tolerance;
}

namespace {
const char* digits_end(const char* q) {
    while (*q >= '0' && *q <= '9') ++q;
    return q;
}

// Decimal exponent of the first non-zero digit of the unsigned number text
// [p, end) (digits, optional point and digits, optional exponent): 0 for
// 1 ... 9.99, 2 for 100, -1 for 0.5. Only its sign is used, so the exponent
// is capped far beyond the range of doubles.
long DecimalMagnitude(const char* p, const char* end) {
    constexpr long kCap = 1000000000L;
    long integerDigits = 0;  // integer digits from the first non-zero one on
    long leadingZeros = 0;   // zeros after the point before the first non-zero digit
    bool nonZero = false;
    for (; p < end && *p >= '0' && *p <= '9'; ++p) {
        if (*p != '0' || nonZero) {
            nonZero = true;
            if (integerDigits < kCap) ++integerDigits;
        }
    }
    if (p < end && *p == '.') {
        for (++p; p < end && *p >= '0' && *p <= '9'; ++p) {
            if (nonZero) continue;
            if (*p == '0') {
                if (leadingZeros < kCap) ++leadingZeros;
            } else {
                nonZero = true;
            }
        }
    }
    long exponent = 0;
    if (p < end && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool negative = p < end && *p == '-';
        if (p < end && (*p == '+' || *p == '-')) ++p;
        for (; p < end && *p >= '0' && *p <= '9'; ++p) {
            if (exponent < kCap) exponent = exponent * 10 + (*p - '0');
        }
        if (negative) exponent = -exponent;
    }
    const long digitPlace = integerDigits > 0 ? integerDigits - 1 : -(leadingZeros + 1);
    return digitPlace + exponent;
}
}  // namespace

double ReadLeadingNumber(const char* text) {
    if (text == nullptr) return 0.0;
    const char* p = text;
    while (*p == ' ' || *p == '\t' || *p == '\r' || *p == '\v' || *p == '\f' || *p == '\n') ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = (*p++ == '-');
    const char* start = p;
    const char* end = digits_end(p);
    bool any = end != p;
    if (*end == '.') {
        const char* frac = digits_end(end + 1);
        any = any || frac != end + 1;
        end = frac;
    }
    if (!any) return 0.0;
    if (*end == 'e' || *end == 'E') {
        const char* e = end + 1;
        if (*e == '+' || *e == '-') ++e;
        const char* exp = digits_end(e);
        if (exp != e) end = exp;
    }
    double value = 0.0;
    const std::from_chars_result r = std::from_chars(start, end, value, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // Beyond the doubles: too large (infinity) when the first non-zero
        // digit, shifted by the exponent, stands at or left of the units
        // place, otherwise too small (0). Both signs of the exponent and
        // both positions of that digit matter: 0.5e400 is too large and
        // 50e-400 too small.
        value = DecimalMagnitude(start, end) >= 0 ? HUGE_VAL : 0.0;
    } else if (r.ec != std::errc()) {
        value = 0.0;
    }
    return negative ? -value : value;
}

std::string FormatFixed(double value, int precision) {
    precision = std::clamp(precision, 0, 340);
    std::array<char, 720> text;
    const std::to_chars_result r = std::to_chars(text.data(), text.data() + text.size(), value,
                                                 std::chars_format::fixed, precision);
    return r.ec == std::errc() ? std::string(text.data(), r.ptr) : std::string();
}

int CopyTruncated(const std::string& text, char* buffer, unsigned size) {
    if (buffer != nullptr && size > 0) {
        const size_t n = std::min<size_t>(text.size(), size - 1);
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<int>(std::min<size_t>(text.size(), std::numeric_limits<int>::max()));
}

int ParseParamString(const ProcessDecl& decl, double* const* slots, const char* text) {
    if (text == nullptr) text = "";
    const size_t length = std::strlen(text);
    std::unique_ptr<char[]> work(new (std::nothrow) char[length + 1]());
    if (!work) return kParamsOutOfMemory;
    std::memcpy(work.get(), text, length);

    std::array<uint32_t, kMaxParams> uids{};
    for (uint32_t i = 0; i < decl.count && i < kMaxParams; ++i) uids[i] = KOL::Str2UID(decl.params[i].code);

    int result = 0;
    int lineNumber = 1;
    uint64_t position = 0;
    for (char* line = KOL::CStr::StrToken(work.get(), '\n', &position);
         line != nullptr && result >= 0;
         line = KOL::CStr::StrToken(work.get(), '\n', &position), ++lineNumber) {
        if (std::strlen(line) < 7 || line[6] != '=') {
            result = -lineNumber;
            continue;
        }
        const uint32_t uid = KOL::Str2UID(line);
        uint32_t index = 0;
        while (index < decl.count && uids[index] != uid) ++index;
        if (index == decl.count) {
            result = -lineNumber;
            continue;
        }
        const ParamDecl& p = decl.params[index];
        const double value = ReadLeadingNumber(line + 7);
        if (IsValidParamValue(value, p.minimum, p.maximum, p.resolution)) {
            *slots[index] = value;
        } else if (result == 0) {
            result = lineNumber;
        }
    }
    return result;
}

int FormatParamString(const ProcessDecl& decl, const double* values, char* buffer, unsigned size) {
    std::string text;
    for (uint32_t i = 0; i < decl.count; ++i) {
        if (i > 0) text += '\n';
        text += decl.params[i].code;
        text += '=';
        text += FormatFixed(values[i], decl.params[i].precision);
    }
    return CopyTruncated(text, buffer, size);
}

int BuildDeclaration(const ProcessDecl& decl, char* buffer, unsigned size, int index) {
    if (buffer != nullptr && size > 0) buffer[size - 1] = '\0';
    std::string text;
    if (index == -2) {
        text = decl.description;
    } else if (index == -1) {
        text = decl.name;
    } else if (index >= 0 && static_cast<uint32_t>(index) < decl.count) {
        const ParamDecl& p = decl.params[index];
        text += p.type;
        text += '\n';
        text += p.code;
        text += "=\n";
        for (double v : {p.defaultValue, p.minimum, p.maximum, p.resolution}) {
            text += FormatFixed(v, p.precision);
            text += '\n';
        }
        text += p.definition;
    } else {
        return 0;
    }
    return CopyTruncated(text, buffer, size);
}

uint32_t CTableProcess::GetProcessUID() const { return KOL::Str2UID(decl_.code); }

uint32_t CTableProcess::GetParamCount() const { return decl_.count; }

void CTableProcess::SetDefaults() {
    for (uint32_t i = 0; i < decl_.count; ++i) *ParamSlot(i) = decl_.params[i].defaultValue;
}

int CTableProcess::SetParams(const char* params) {
    CCdpProcess::SetParams(params);
    std::array<double*, kMaxParams> slots{};
    for (uint32_t i = 0; i < decl_.count && i < kMaxParams; ++i) slots[i] = ParamSlot(i);
    return ParseParamString(decl_, slots.data(), params);
}

int CTableProcess::FormatParams(char* buffer, unsigned size) {
    std::array<double, kMaxParams> values{};
    for (uint32_t i = 0; i < decl_.count && i < kMaxParams; ++i) values[i] = *ParamSlot(i);
    return FormatParamString(decl_, values.data(), buffer, size);
}

int CTableProcess::FormatDeclaration(std::string& currentValue, char* buffer, unsigned size,
                                     int index) {
    if (index >= 0 && static_cast<uint32_t>(index) < decl_.count) {
        currentValue = FormatFixed(*ParamSlot(static_cast<uint32_t>(index)), 6);
    }
    return BuildDeclaration(decl_, buffer, size, index);
}

}  // namespace vantir3
