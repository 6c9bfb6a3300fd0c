// Constant-velocity frequency-wavenumber (Stolt) migration.
//
// Each section (all traces of one axis-2 index; axis 0 = samples of a trace,
// axis 1 = traces) is padded to power-of-two sizes, transformed with a 2-D
// real FFT over trace position and time, remapped so that every output
// vertical wavenumber kz takes the input frequency that the dispersion
// relation assigns to it (linear interpolation between frequency bins,
// scaled by the Jacobian and a taper), transformed back and normalised.
//
// Units inside the section algorithm: sample interval dt in picoseconds,
// velocity v in metres per microsecond, trace spacing dx in metres, so that
// frequencies come out in MHz and wavenumbers in cycles per metre. The
// toolbox entry CdpMigrate takes nanoseconds and metres per nanosecond.
//
// Results (CdpMigrate and StoltMigrate):
//   0                       migrated;
//   -1                      a buffer holds no storage or no sample (empty
//                           view, a range with max < min), or a null section
//                           or a trace / sample count below 1;
//   -3                      a buffer's element size is not 2 (16-bit samples);
//   kMigrateBadNumbers      velocity, trace spacing or sample interval not a
//                           positive finite number, start sample NaN, infinite
//                           or below 0, or numbers so extreme that the
//                           spectral remapping or the normalisation would
//                           overflow or lose every digit;
//   kMigrateLayoutMismatch  input and output differ in an index range or a
//                           stride on some axis (the input is read at the
//                           output's indices);
//   kMigrateTooLarge        the padded grid nx * nt of one section exceeds
//                           kMigrateMaxGrid values.
// On every negative result the output is left untouched. Failure to obtain
// memory for the transform arrays ends the process through numeric::nrerror
// (a three-line report on the standard error stream, exit status 1); sizes
// beyond kMigrateMaxGrid are refused beforehand with a status instead.
#ifndef VANTIR3_PROCESSES_MIGRATION_H_
#define VANTIR3_PROCESSES_MIGRATION_H_

#include <cstdint>

#include "vantir3/framework/status.h"

namespace vantir3 {

// Largest padded grid (nx * nt doubles per transform array, two such arrays
// per call): 2^27 values, 1 GiB per array. A section of 16384 traces x 4095
// samples still fits; anything larger is refused with kMigrateTooLarge.
constexpr int64_t kMigrateMaxGrid = int64_t{1} << 27;

// Taper selectors (values below kTaperHann give no taper, values above
// kTaperHannSquared the squared Hann taper). CdpMigrate uses kTaperHann.
constexpr int kTaperNone = 1;
constexpr int kTaperHann = 3;
constexpr int kTaperHannSquared = 4;

// The padded transform length for n values: the smallest power of two
// strictly greater than n (512 -> 1024, 500 -> 512, 1 -> 2, 0 -> 1).
int64_t StoltPaddedSize(int64_t n);

// Taper weight of signed index n on a grid of N points: 1 for selectors
// below 2; 0.5 + 0.5 cos(2 pi n / N) for 2 and 3; 0.375 + 0.5 cos(2 pi n / N)
// + 0.125 cos(4 pi n / N) for 4 and above.
double StoltTaper(int taper, int64_t n, int64_t N);

// Migrates one section in place: `section` holds `traces` traces of
// `samples` signed 16-bit samples each, trace after trace (sample index
// fastest). trunc(startSample) = s0 is the first sample taken into the
// migration; samples 0 ... s0 of every trace come out 0 (a start sample at
// or beyond the trace length gives a trace of zeros). dx in metres, dt in
// picoseconds, v in metres per microsecond.
//
// Sizes: nt = StoltPaddedSize(samples), nx = StoltPaddedSize(traces); the
// traces are centred in the padded grid at offset (nx - traces) / 2.
//
// With normalise on, the result is scaled by 1 / (nx * nt * largest |scale|)
// of the spectral remapping (when every scale is 0, as for a single sample
// per trace, the section comes out as zeros); with it off by 32767 over the
// largest magnitude of the inverse transform (all zeros when that is 0).
// Results are truncated toward zero and clamped to -32767 ... 32767 (they
// do not wrap).
int StoltMigrate(int16_t* section, int32_t traces, int32_t samples, double startSample,
                 double dx, double dt, double v, int taper, bool normalise);

}  // namespace vantir3

#endif  // VANTIR3_PROCESSES_MIGRATION_H_
