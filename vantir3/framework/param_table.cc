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
        // Beyond the doubles: a negative exponent or a zero integer part
        // means too small (0), anything else too large (infinity).
        const char* e = start;
        while (e < end && *e != 'e' && *e != 'E') ++e;
        const bool tiny = (e < end && e[1] == '-') ||
                          std::all_of(start, digits_end(start), [](char c) { return c == '0'; });
        value = tiny ? 0.0 : HUGE_VAL;
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
    if (!work) return -9999;
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
