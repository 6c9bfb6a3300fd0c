// Stored samples to values and 16-bit samples, and back. The 16-bit paths
// of 16-bit files are plain copies (with a byte swap or an offset flip), so
// reading such a file costs little more than reading its bytes.
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include <segyio/segy.h>

#include "vantir3_survey/format_io.h"

namespace vantir3 {
namespace survey {
namespace internal {

namespace {

inline uint16_t Load16(const uint8_t* p, bool big) {
    return big ? static_cast<uint16_t>(p[0] << 8 | p[1]) : static_cast<uint16_t>(p[1] << 8 | p[0]);
}
inline uint32_t Load32(const uint8_t* p, bool big) {
    return big ? (uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3])
               : (uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0]);
}
inline void Store16(uint8_t* p, uint16_t v, bool big) {
    if (big) { p[0] = uint8_t(v >> 8); p[1] = uint8_t(v); }
    else { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); }
}
inline void Store32(uint8_t* p, uint32_t v, bool big) {
    if (big) { p[0] = uint8_t(v >> 24); p[1] = uint8_t(v >> 16); p[2] = uint8_t(v >> 8); p[3] = uint8_t(v); }
    else { p[0] = uint8_t(v); p[1] = uint8_t(v >> 8); p[2] = uint8_t(v >> 16); p[3] = uint8_t(v >> 24); }
}
inline float AsFloat(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, 4);
    return f;
}

// value / scale rounded half up and held to the 16-bit range; a NaN is 0.
inline int16_t To16(double v, double scale) {
    const double y = std::floor(v / scale + 0.5);
    if (!(y == y)) return 0;
    if (y > 32767.0) return 32767;
    if (y < -32768.0) return -32768;
    return static_cast<int16_t>(y);
}

}  // namespace

void IbmToValues(const uint8_t* in, int64_t count, double* out) {
    // segyio converts in place, big-endian IBM words to native floats.
    constexpr int64_t kChunk = 4096;
    float tmp[kChunk];
    for (int64_t done = 0; done < count; done += kChunk) {
        const int64_t n = std::min(kChunk, count - done);
        std::memcpy(tmp, in + 4 * done, static_cast<size_t>(4 * n));
        segy_to_native(SEGY_IBM_FLOAT_4_BYTE, n, tmp);
        for (int64_t i = 0; i < n; ++i) out[done + i] = tmp[i];
    }
}

bool ValuesToIbm(const double* in, int64_t count, uint8_t* out) {
    constexpr int64_t kChunk = 4096;
    float tmp[kChunk];
    for (int64_t done = 0; done < count; done += kChunk) {
        const int64_t n = std::min(kChunk, count - done);
        for (int64_t i = 0; i < n; ++i) {
            const double v = in[done + i];
            if (!(std::fabs(v) <= std::numeric_limits<float>::max())) return false;
            tmp[i] = static_cast<float>(v);
        }
        segy_from_native(SEGY_IBM_FLOAT_4_BYTE, n, tmp);
        std::memcpy(out + 4 * done, tmp, static_cast<size_t>(4 * n));
    }
    return true;
}

void DecodeValues(const uint8_t* in, int64_t count, SampleType type, bool big, double* out) {
    switch (type) {
        case SampleType::kU8:
            for (int64_t i = 0; i < count; ++i) out[i] = static_cast<int>(in[i]) - 128;
            break;
        case SampleType::kI8:
            for (int64_t i = 0; i < count; ++i) out[i] = static_cast<int8_t>(in[i]);
            break;
        case SampleType::kU16:
            for (int64_t i = 0; i < count; ++i) out[i] = static_cast<int>(Load16(in + 2 * i, big)) - 32768;
            break;
        case SampleType::kI16:
            for (int64_t i = 0; i < count; ++i) out[i] = static_cast<int16_t>(Load16(in + 2 * i, big));
            break;
        case SampleType::kI32:
            for (int64_t i = 0; i < count; ++i) out[i] = static_cast<int32_t>(Load32(in + 4 * i, big));
            break;
        case SampleType::kF32:
            for (int64_t i = 0; i < count; ++i) out[i] = AsFloat(Load32(in + 4 * i, big));
            break;
        case SampleType::kIbm32:
            if (big) {
                IbmToValues(in, count, out);
            } else {
                std::vector<uint8_t> swapped(static_cast<size_t>(4 * count));
                for (int64_t i = 0; i < count; ++i) Store32(&swapped[4 * i], Load32(in + 4 * i, false), true);
                IbmToValues(swapped.data(), count, out);
            }
            break;
    }
}

void DecodeSamples16(const uint8_t* in, int64_t count, SampleType type, bool big, double scale,
                     int16_t* out) {
    switch (type) {
        case SampleType::kI16:
            if (!big) {
                std::memcpy(out, in, static_cast<size_t>(2 * count));
            } else {
                for (int64_t i = 0; i < count; ++i) out[i] = static_cast<int16_t>(Load16(in + 2 * i, true));
            }
            return;
        case SampleType::kU16:
            if (!big) {
                const uint16_t* p = reinterpret_cast<const uint16_t*>(in);
                for (int64_t i = 0; i < count; ++i) {
                    uint16_t v;
                    std::memcpy(&v, p + i, 2);
                    out[i] = static_cast<int16_t>(v ^ 0x8000u);
                }
            } else {
                for (int64_t i = 0; i < count; ++i) out[i] = static_cast<int16_t>(Load16(in + 2 * i, true) ^ 0x8000u);
            }
            return;
        case SampleType::kU8:
            for (int64_t i = 0; i < count; ++i) out[i] = To16(static_cast<int>(in[i]) - 128, scale);
            return;
        case SampleType::kI8:
            for (int64_t i = 0; i < count; ++i) out[i] = To16(static_cast<int8_t>(in[i]), scale);
            return;
        case SampleType::kI32:
            for (int64_t i = 0; i < count; ++i) out[i] = To16(static_cast<int32_t>(Load32(in + 4 * i, big)), scale);
            return;
        case SampleType::kF32:
            for (int64_t i = 0; i < count; ++i) out[i] = To16(AsFloat(Load32(in + 4 * i, big)), scale);
            return;
        case SampleType::kIbm32: {
            std::vector<double> v(static_cast<size_t>(count));
            DecodeValues(in, count, type, big, v.data());
            for (int64_t i = 0; i < count; ++i) out[i] = To16(v[i], scale);
            return;
        }
    }
}

bool EncodeValues(const double* in, int64_t count, SampleType type, bool big, uint8_t* out) {
    // Integer types take whole values in their range and refuse the others:
    // a fraction rounded away (an f32 file's values written as integers)
    // would lose the data without a word.
    auto whole = [](double v, double lo, double hi, int64_t& r) {
        if (!(v >= lo && v <= hi) || std::floor(v) != v) return false;
        r = static_cast<int64_t>(v);
        return true;
    };
    int64_t r = 0;
    switch (type) {
        case SampleType::kU8:
            for (int64_t i = 0; i < count; ++i) {
                if (!whole(in[i], -128, 127, r)) return false;
                out[i] = static_cast<uint8_t>(r + 128);
            }
            return true;
        case SampleType::kI8:
            for (int64_t i = 0; i < count; ++i) {
                if (!whole(in[i], -128, 127, r)) return false;
                out[i] = static_cast<uint8_t>(static_cast<int8_t>(r));
            }
            return true;
        case SampleType::kU16:
            for (int64_t i = 0; i < count; ++i) {
                if (!whole(in[i], -32768, 32767, r)) return false;
                Store16(out + 2 * i, static_cast<uint16_t>(r + 32768), big);
            }
            return true;
        case SampleType::kI16:
            for (int64_t i = 0; i < count; ++i) {
                if (!whole(in[i], -32768, 32767, r)) return false;
                Store16(out + 2 * i, static_cast<uint16_t>(static_cast<int16_t>(r)), big);
            }
            return true;
        case SampleType::kI32:
            for (int64_t i = 0; i < count; ++i) {
                if (!whole(in[i], -2147483648.0, 2147483647.0, r)) return false;
                Store32(out + 4 * i, static_cast<uint32_t>(static_cast<int32_t>(r)), big);
            }
            return true;
        case SampleType::kF32:
            for (int64_t i = 0; i < count; ++i) {
                const double v = in[i];
                if (std::isfinite(v) && std::fabs(v) > std::numeric_limits<float>::max()) return false;
                const float f = static_cast<float>(v);
                uint32_t bits;
                std::memcpy(&bits, &f, 4);
                Store32(out + 4 * i, bits, big);
            }
            return true;
        case SampleType::kIbm32: {
            if (!ValuesToIbm(in, count, out)) return false;
            if (!big) {
                for (int64_t i = 0; i < count; ++i) Store32(out + 4 * i, Load32(out + 4 * i, true), false);
            }
            return true;
        }
    }
    return false;
}

void EncodeSamples16(const int16_t* in, int64_t count, SampleType type, bool big, uint8_t* out) {
    const uint16_t flip = type == SampleType::kU16 ? 0x8000u : 0u;
    if (!big && flip == 0) {
        std::memcpy(out, in, static_cast<size_t>(2 * count));
        return;
    }
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    if (!big) {
        // Whole 16-bit words in the host's order: a loop the compiler
        // vectorises (the byte-wise store below it does not).
        for (int64_t i = 0; i < count; ++i) {
            const uint16_t v = static_cast<uint16_t>(in[i]) ^ flip;
            std::memcpy(out + 2 * i, &v, 2);
        }
        return;
    }
#endif
    for (int64_t i = 0; i < count; ++i) Store16(out + 2 * i, static_cast<uint16_t>(in[i]) ^ flip, big);
}

double ChooseScale(SampleType type, double maxAbs) {
    if (type == SampleType::kI16 || type == SampleType::kU16) return 1.0;
    if (!(maxAbs > 0.0) || !std::isfinite(maxAbs)) return 1.0;
    int k = static_cast<int>(std::ceil(std::log2(maxAbs / 32767.0)));
    // log2 may be off by one ulp either way: settle k exactly.
    while (std::ldexp(maxAbs, -k) > 32767.0) ++k;
    while (std::ldexp(maxAbs, -(k - 1)) <= 32767.0) --k;
    return std::ldexp(1.0, k);
}

}  // namespace internal
}  // namespace survey
}  // namespace vantir3
