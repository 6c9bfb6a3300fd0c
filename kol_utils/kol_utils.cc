#include "kol_utils/kol_utils.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <limits>
#include <new>
#include <system_error>

namespace KOL {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr long kExponentCap = 1000000000L;  // far beyond any double exponent

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A number text that matched the grammar of IsNotRealNumber/IsNotWholeNumber.
struct NumberText {
    const char* digits;  // first character after the sign
    const char* end;     // one past the number
    bool negative;       // written with '-'
    bool zero;           // every mantissa digit is 0
    long magnitude;      // decimal exponent of the first non-zero digit
};

// Checks `text` against the number grammar (fraction and exponent only when
// `real`) and locates the number in it. Locale-independent by construction.
bool ScanNumber(const char* text, bool trimBlanks, bool real, NumberText* out) {
    if (text == nullptr) return false;
    const char* p = text;
    if (trimBlanks) {
        while (IsBlank(*p)) ++p;
    }
    out->negative = false;
    if (*p == '+' || *p == '-') {
        out->negative = (*p == '-');
        ++p;
    }
    out->digits = p;
    bool anyDigit = false;
    bool nonZero = false;
    long intDigits = 0;   // integer digits from the first non-zero one on
    long fracZeros = 0;   // zeros after the point before the first non-zero digit
    for (; IsDigit(*p); ++p) {
        anyDigit = true;
        if (*p != '0' || nonZero) {
            nonZero = true;
            if (intDigits < kExponentCap) ++intDigits;
        }
    }
    if (real && *p == '.') {
        for (++p; IsDigit(*p); ++p) {
            anyDigit = true;
            if (nonZero) continue;
            if (*p == '0') {
                if (fracZeros < kExponentCap) ++fracZeros;
            } else {
                nonZero = true;
            }
        }
    }
    if (!anyDigit) return false;
    long exponent = 0;
    if (real && (*p == 'e' || *p == 'E')) {
        ++p;
        bool expNegative = false;
        if (*p == '+' || *p == '-') {
            expNegative = (*p == '-');
            ++p;
        }
        if (!IsDigit(*p)) return false;
        for (; IsDigit(*p); ++p) {
            if (exponent < kExponentCap) exponent = exponent * 10 + (*p - '0');
        }
        if (expNegative) exponent = -exponent;
    }
    out->end = p;
    out->zero = !nonZero;
    out->magnitude = (intDigits > 0 ? intDigits - 1 : -(fracZeros + 1)) + exponent;
    if (trimBlanks) {
        while (IsBlank(*p)) ++p;
    }
    return *p == '\0';
}

// Scales both terms by the larger one so that sqrt(x^2 + y^2) does not
// overflow on the way for x, y >= 0.
double ScaledHypot(double x, double y) {
    const double m = x > y ? x : y;
    const double xs = x / m;
    const double ys = y / m;
    return m * std::sqrt(xs * xs + ys * ys);
}

double GroundZeroSample(double velocity, double separation, double sampleInterval,
                        double timeZeroSample) {
    return (timeZeroSample - 1.0) +
           (separation / velocity - separation / kLightSpeed) / sampleInterval;
}

bool HasGeometry(double velocity, double sampleInterval) {
    return velocity > 0.0 && sampleInterval > 0.0;
}

}  // namespace

uint32_t Str2UID(const char* text) {
    if (text == nullptr) return 0;
    uint32_t uid = 0;
    for (int i = 0; i < 6 && text[i] != '\0'; ++i) {
        const uint32_t code = (static_cast<uint32_t>(static_cast<unsigned char>(text[i])) - 64u) & 31u;
        uid |= code << (5 * i);
    }
    return uid;
}

CStr::CStr() = default;

CStr::CStr(const char* text) : std::string(text != nullptr ? text : "") {}

CStr::CStr(const std::string& text) : std::string(text) {}

char* CStr::StrToken(char* text, char delimiter, uint64_t* position) {
    if (text == nullptr || position == nullptr) return nullptr;
    char* start = text + *position;
    if (*start == '\0') return nullptr;
    char* p = start;
    while (*p != '\0' && *p != delimiter) ++p;
    if (*p == '\0') {
        *position = static_cast<uint64_t>(p - text);
    } else {
        *p = '\0';
        *position = static_cast<uint64_t>(p - text) + 1;
    }
    return start;
}

CStr CStr::Token(const char* delimiters, size_t& position) const {
    if (position == npos || position > size()) {
        position = npos;
        return CStr();
    }
    const size_t stop = delimiters != nullptr ? find_first_of(delimiters, position) : npos;
    if (stop == npos) {
        CStr token(substr(position));
        position = npos;
        return token;
    }
    CStr token(substr(position, stop - position));
    position = stop + 1;
    return token;
}

void CStr::Format(std::string& out, const char* format, ...) {
    out.clear();
    if (format == nullptr) return;
    va_list args;
    va_start(args, format);
    va_list measure;
    va_copy(measure, args);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length > 0) {
        try {
            out.resize(static_cast<size_t>(length));
            std::vsnprintf(&out[0], static_cast<size_t>(length) + 1, format, args);
        } catch (const std::bad_alloc&) {
            out.clear();
        }
    }
    va_end(args);
}

double Round(double value, int n) {
    if (n <= 0) return value;
    const double step = static_cast<double>(n);
    return std::floor(value / step + 0.5) * step;
}

int IsNotRealNumber(const char* text, bool allowNegative, bool trimBlanks, double* out) {
    NumberText number;
    if (!ScanNumber(text, trimBlanks, true, &number)) return 1;
    if (number.negative && !number.zero && !allowNegative) return 2;
    double value = 0.0;
    const auto result = std::from_chars(number.digits, number.end, value,
                                        std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        if (number.magnitude >= 0) return 3;
        value = 0.0;  // too small for a double: the nearest double is zero
    } else if (result.ec != std::errc() || result.ptr != number.end) {
        return 1;
    }
    if (value == 0.0) {
        value = 0.0;  // no negative zero
    } else if (number.negative) {
        value = -value;
    }
    if (out != nullptr) *out = value;
    return 0;
}

int IsNotWholeNumber(const char* text, bool allowNegative, bool trimBlanks, long* out) {
    NumberText number;
    if (!ScanNumber(text, trimBlanks, false, &number)) return 1;
    if (number.negative && !number.zero && !allowNegative) return 2;
    // Parsed with its sign so that the most negative long is reachable.
    const char* from = number.negative ? number.digits - 1 : number.digits;
    long value = 0;
    const auto result = std::from_chars(from, number.end, value);
    if (result.ec == std::errc::result_out_of_range) return 3;
    if (result.ec != std::errc() || result.ptr != number.end) return 1;
    if (out != nullptr) *out = value;
    return 0;
}

double Depth2SampleIdx(double depth, double velocity, double separation,
                       double sampleInterval, double timeZeroSample) {
    if (!HasGeometry(velocity, sampleInterval)) return kNaN;
    const double s = std::fabs(separation);
    const double g = GroundZeroSample(velocity, s, sampleInterval, timeZeroSample);
    double a;  // half of the two-way path beyond the ground wave's
    if (depth <= 0.0 || std::isinf(depth)) {
        a = depth;
    } else {
        const double h = s / 2.0;
        double r = std::sqrt(depth * depth + h * h);
        if (!(r <= DBL_MAX)) r = ScaledHypot(depth, h);
        a = depth * (depth / (r + h));
    }
    return g + 2.0 * a / (velocity * sampleInterval);
}

double SampleIdx2Depth(double sampleIdx, double velocity, double separation,
                       double sampleInterval, double timeZeroSample) {
    if (!HasGeometry(velocity, sampleInterval)) return kNaN;
    const double s = std::fabs(separation);
    const double g = GroundZeroSample(velocity, s, sampleInterval, timeZeroSample);
    const double a = (sampleIdx - g) * velocity * sampleInterval / 2.0;
    if (sampleIdx < g) return a;
    const double squared = a * (a + s);
    if (squared <= DBL_MAX) return std::sqrt(squared);
    return std::sqrt(a) * std::sqrt(a + s);
}

double FlightTime2SampleIdx(double time, double /*unused1*/, double sampleInterval,
                            double /*unused2*/) {
    if (!(sampleInterval > 0.0)) return kNaN;
    return std::trunc(time / sampleInterval);
}

}  // namespace KOL
