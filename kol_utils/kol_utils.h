// kol_utils: the small utility layer under vantir3 (identifiers, tokenising,
// formatting, number checks, rounding and GPR sample/depth/time conversion).
//
// Geometry used by the conversions
// --------------------------------
// A trace is sampled every `sampleInterval` ns (dt); sample indices count
// from 0. `timeZeroSample` (z) is the 1-based position at which the direct
// wave reaches the receiver, so time zero is sample z - 1. Transmitter and
// receiver stand `separation` metres (s) apart; the direct (air) wave crosses
// that distance at c = 0.2997925 m/ns, so the pulse left the transmitter
// s / c ns before time zero. A reflector at depth d halfway between the
// antennas is reached over a two-way path of 2 * sqrt(d^2 + s^2 / 4) at the
// ground velocity v (m/ns). Hence, for d >= 0,
//
//   Depth2SampleIdx(d) = (z - 1) - s / (c * dt) + 2 * sqrt(d^2 + s^2/4) / (v * dt)
//
// Depth 0 gives the ground-zero sample g = (z - 1) + (s / v - s / c) / dt, the
// arrival of the ground wave (equal to the time-zero sample when s = 0).
// Above ground (d < 0, samples before g) the relation continues linearly with
// the slope at which depth grows for s = 0, d = (i - g) * v * dt / 2, so the
// two functions are strictly increasing and exact inverses of each other over
// the whole real line. SampleIdx2Depth is the inverse:
//
//   tau = (i - (z - 1)) * dt + s / c         (travel time since transmission)
//   d   = sqrt((v * tau / 2)^2 - s^2 / 4)     for i >= g
//   d   = (i - g) * v * dt / 2                for i <  g
//
// Both directions are evaluated through a = (i - g) * v * dt / 2, half of the
// two-way path beyond the ground wave's, which avoids the cancellation of the
// squares near depth 0 (with h = s / 2 and r = sqrt(d^2 + h^2)):
//
//   SampleIdx2Depth: d = sqrt(a * (a + s)) for i >= g, d = a for i < g
//   Depth2SampleIdx: a = d * (d / (r + h)) for d > 0,  a = d for d <= 0;
//                    i = g + 2 * a / (v * dt)
//
// The separation is a distance: its magnitude is used.
//
// FlightTime2SampleIdx(t) = trunc(t / dt): a two-way time in ns as a whole
// number of samples (a shift), truncated toward zero.
#ifndef KOL_UTILS_KOL_UTILS_H_
#define KOL_UTILS_KOL_UTILS_H_

#include <cstddef>
#include <cstdint>
#include <string>

#if defined(_WIN32)
#if defined(KOL_BUILDING)
#define KOL_API __declspec(dllexport)
#else
#define KOL_API __declspec(dllimport)
#endif
#else
#define KOL_API __attribute__((visibility("default")))
#endif

namespace KOL {

// Speed of light in air, m/ns.
constexpr double kLightSpeed = 0.2997925;

// Identifier of a six-character code: the first six characters (fewer when
// the text ends sooner), five bits each, first character in the lowest bits,
// each its character code minus 64 ("AGC@@@" -> 0x00000CE1). Only the low
// five bits of (character - 64) are kept. A null text gives 0.
KOL_API uint32_t Str2UID(const char* text);

class KOL_API CStr : public std::string {
public:
    CStr();
    CStr(const char* text);            // null gives the empty text
    CStr(const std::string& text);
    // Next token of a writable text: starts at text + *position, ends at the
    // next delimiter (replaced by a terminator) or at the end of the text.
    // *position moves past the token and its delimiter. Returns null when
    // *position is at the end of the text (or text or position is null); an
    // empty token between two delimiters in a row is returned as an empty
    // text. A delimiter at the very end of the text ends the tokens without
    // an empty last one. *position must be 0 or a value this function stored
    // for the same text (earlier delimiters have become terminators, so the
    // text's length can no longer be measured from its start).
    static char* StrToken(char* text, char delimiter, uint64_t* position);
    // Next token from `position` up to any of `delimiters`; an empty token
    // between two delimiters in a row is returned as an empty text. The
    // position moves past the delimiter, and is std::string::npos after the
    // last token. Called with npos it returns the empty text.
    CStr Token(const char* delimiters, size_t& position) const;
    // printf-style formatting that replaces out's content (measured first,
    // then written). A null format, a formatting error or a failed
    // allocation leaves out empty.
    static void Format(std::string& out, const char* format, ...)
        __attribute__((format(printf, 2, 3)));
};

// Rounds value to the nearest whole multiple of n (halves away from -inf:
// floor(value / n + 0.5) * n). n <= 0 returns value unchanged.
KOL_API double Round(double value, int n);

// Number checks, independent of the locale. Leading and trailing blanks
// (space, tab, CR, LF, VT, FF) are skipped when `trimBlanks` is true. The
// whole remaining text must be one number: an optional sign ("+" or "-"),
// decimal digits with an optional decimal point "." (real numbers only; at
// least one digit on either side) and an optional exponent "e"/"E" with an
// optional sign and at least one digit (real numbers only). Infinities, NaN
// and hexadecimal texts are refused. Returns 0 and stores the number in *out
// (when out is not null) for a valid number; otherwise 1 (not a number), 2
// (negative where not allowed; a zero written with "-" is not negative) or
// 3 (too large for the type), and *out is left alone. A real number too
// small for a double reads as 0; zero is always stored as +0.
KOL_API int IsNotRealNumber(const char* text, bool allowNegative, bool trimBlanks, double* out);
KOL_API int IsNotWholeNumber(const char* text, bool allowNegative, bool trimBlanks, long* out);

// Sample/depth/time conversions; see the geometry at the top of this file.
// velocity in m/ns, separation in m, sampleInterval in ns, timeZeroSample
// 1-based, sample indices 0-based. A non-positive velocity or sample interval
// has no geometry: the result is then NaN.
KOL_API double Depth2SampleIdx(double depth, double velocity, double separation,
                               double sampleInterval, double timeZeroSample);
KOL_API double SampleIdx2Depth(double sampleIdx, double velocity, double separation,
                               double sampleInterval, double timeZeroSample);
KOL_API double FlightTime2SampleIdx(double time, double unused1,
                                    double sampleInterval, double unused2);

}  // namespace KOL

#endif  // KOL_UTILS_KOL_UTILS_H_
