// The library's entry points as functions on numpy profiles: gains, dewow,
// background subtraction, envelope, migration, deseparation, topographic
// shift, the three reductions, statistics and the SEC2 automatic set-up.
// Each returns new arrays (or fills `out`); the interpreter lock is released
// while the library computes.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <string>
#include <utility>

#include "python/arrays.h"
#include "python/module.h"
#include "vantir3/framework/status.h"
#include "vantir3/vantir3.h"

namespace vantir3_py {

namespace {

using namespace pybind11::literals;
using Toolbox = CCdpProcessToolbox;

// One statistics record without its pointer slot, as numpy sees it.
struct StatsRecord {
    uint32_t count;
    double min_value, max_value, sum, low_extreme, high_extreme;
};

StatsRecord Record(const SCDPPrc_DataStatsMode& s) {
    return {s.count, s.minValue, s.maxValue, s.sum, s.lowExtreme, s.highExtreme};
}

// The result of a statistics walk: the whole set and, when asked for, one
// record per index (numpy structured array).
struct Stats {
    StatsRecord whole;
    py::object perIndex = py::none();
};

// A statistics record set up for a walk: mode flags, extremes, and a buffer
// for the per-index records when wanted. Checks the caller's choices.
class StatsRequest {
public:
    StatsRequest(int mode, int extremes, bool perIndex, const char* operation) {
        if (mode & ~(STATS_MINMAX | STATS_SUM | STATS_EXTREMES)) {
            throw py::value_error(std::string(operation) +
                                  ": stats mode takes only STATS_MINMAX, STATS_SUM and STATS_EXTREMES");
        }
        if (extremes < 0 || extremes > 255) {
            throw py::value_error(std::string(operation) + ": extremes must lie in 0 .. 255");
        }
        SCDPPrc_InitStats(&stats);
        stats.mode = static_cast<uint8_t>(mode);
        stats.numExtremes = static_cast<uint8_t>(extremes);
        MeboDataPtrClear(&index_);
        if (perIndex) stats.indexStats = &index_;
    }
    ~StatsRequest() { MeboDataPtrRelease(&index_); }
    StatsRequest(const StatsRequest&) = delete;
    StatsRequest& operator=(const StatsRequest&) = delete;

    Stats Result() const {
        Stats r;
        r.whole = Record(stats);
        if (stats.indexStats != nullptr && index_.storage != nullptr) {
            const int32_t n = index_.axis.dim[0].max - index_.axis.dim[0].min + 1;
            py::array_t<StatsRecord> a(n);
            const uint8_t* p = index_.axis.base;
            for (int32_t i = 0; i < n; ++i, p += index_.axis.dim[0].stride) {
                a.mutable_at(i) = Record(*reinterpret_cast<const SCDPPrc_DataStatsMode*>(p));
            }
            r.perIndex = std::move(a);
        }
        return r;
    }

    SCDPPrc_DataStatsMode stats;

private:
    MeboDataPtr index_;
};

// Runs call(output buffer, input buffer) on the two arrays without the
// interpreter lock; returns the library's status.
template <typename Call>
int Apply(const py::array_t<int16_t>& in, py::array_t<int16_t>& out, Call call) {
    ConstProfileBuffer ib(in);
    ProfileBuffer ob(out);
    py::gil_scoped_release nogil;
    return call(ob.get(), ib.get());
}

py::array_t<int16_t> Dewow(const py::object& data, double window, double antennaFrequency,
                           double sampleInterval, const py::object& outArg, py::object* averaged) {
    const char* op = "dewow";
    RequirePositive(antennaFrequency, "antenna_frequency", op);
    RequirePositive(sampleInterval, "sample_interval", op);
    py::array_t<int16_t> in = ProfileArg(data, op);
    py::array_t<int16_t> out = OutputArg(outArg, in, Traces(in), Samples(in), false, op);
    py::array_t<int16_t> avg;
    std::unique_ptr<ArrayBuffer> avgBuffer;
    if (averaged != nullptr) {
        avg = py::array_t<int16_t>(Samples(in));
        avgBuffer = std::make_unique<ArrayBuffer>(avg.mutable_data(), 2, Samples(in), 1);
    }
    CheckStatus(Apply(in, out, [&](MeboDataPtr& o, MeboDataPtr& i) {
                    return Toolbox::CdpDewow(o, i, avgBuffer ? &avgBuffer->get() : nullptr, window,
                                             antennaFrequency, sampleInterval);
                }),
                op);
    if (averaged != nullptr) *averaged = avg;
    return out;
}

py::array_t<int16_t> BackgroundSubtract(const py::object& data, int window, const py::object& background,
                                        const py::object& outArg) {
    const char* op = "background_subtract";
    py::array_t<int16_t> in = ProfileArg(data, op);
    py::array_t<int16_t> out = OutputArg(outArg, in, Traces(in), Samples(in), false, op);
    py::array_t<int16_t> trace;
    std::unique_ptr<ArrayBuffer> traceBuffer;
    if (!background.is_none()) {
        trace = TraceArg(background, op, "background");
        if (trace.shape(0) < Samples(in)) {
            throw py::value_error(std::string(op) + ": background holds " + std::to_string(trace.shape(0)) +
                                  " samples, fewer than a trace (" + std::to_string(Samples(in)) + ")");
        }
        traceBuffer = std::make_unique<ArrayBuffer>(const_cast<int16_t*>(trace.data()), 2,
                                                    static_cast<int32_t>(trace.shape(0)), 1);
    } else if (window < 2) {
        // The running average needs two traces; the library would leave the
        // output unwritten.
        throw py::value_error(std::string(op) + ": window must be at least 2 traces");
    }
    CheckStatus(Apply(in, out, [&](MeboDataPtr& o, MeboDataPtr& i) {
                    return Toolbox::CdpBackgroundSubtract(o, i, traceBuffer ? &traceBuffer->get() : nullptr, window);
                }),
                op);
    return out;
}

py::object Sec2Gain(const py::object& data, double attenuation, double startGain, double maxGain,
                    double timeZeroSample, double sampleInterval, double antennaFrequency, bool lastSample,
                    const py::object& outArg) {
    const char* op = "sec2_gain";
    RequireFinite(attenuation, "attenuation", op);
    RequirePositive(startGain, "start_gain", op);
    RequirePositive(maxGain, "max_gain", op);
    RequireFinite(timeZeroSample, "time_zero_sample", op);
    RequirePositive(sampleInterval, "sample_interval", op);
    RequirePositive(antennaFrequency, "antenna_frequency", op);
    py::array_t<int16_t> in = ProfileArg(data, op);
    py::array_t<int16_t> out = OutputArg(outArg, in, Traces(in), Samples(in), false, op);
    int last = 0;
    CheckStatus(Apply(in, out, [&](MeboDataPtr& o, MeboDataPtr& i) {
                    return Toolbox::CdpSec2Gain(o, i, attenuation, startGain, maxGain, timeZeroSample, sampleInterval,
                                                antennaFrequency, &last);
                }),
                op);
    if (lastSample) return py::make_tuple(out, last);
    return std::move(out);
}

py::array_t<int16_t> Migrate(const py::object& data, double velocity, double startSample, double traceSpacing,
                             double sampleInterval, const py::object& outArg) {
    const char* op = "migrate";
    RequirePositive(velocity, "velocity", op);
    RequirePositive(traceSpacing, "trace_spacing", op);
    RequirePositive(sampleInterval, "sample_interval", op);
    RequireFinite(startSample, "start_sample", op);
    py::array_t<int16_t> in = ProfileArg(data, op);
    py::array_t<int16_t> out = OutputArg(outArg, in, Traces(in), Samples(in), false, op);
    CheckStatus(Apply(in, out, [&](MeboDataPtr& o, MeboDataPtr& i) {
                    return Toolbox::CdpMigrate(o, i, velocity, startSample, traceSpacing, sampleInterval);
                }),
                op);
    return out;
}

py::object Envelope(const py::object& data, int window, int statsMode, int extremes, bool perSample,
                    const py::object& outArg) {
    const char* op = "envelope";
    py::array_t<int16_t> in = ProfileArg(data, op);
    py::array_t<int16_t> out = OutputArg(outArg, in, Traces(in), Samples(in), false, op);
    StatsRequest request(statsMode, extremes, perSample, op);
    CheckStatus(Apply(in, out, [&](MeboDataPtr& o, MeboDataPtr& i) {
                    return Toolbox::CdpEnvelope(o, i, request.stats, window);
                }),
                op);
    if (statsMode == 0) return std::move(out);
    return py::make_tuple(out, request.Result());
}

py::object Statistics(const py::object& data, int mode, int extremes, bool perTrace) {
    const char* op = "statistics";
    py::array_t<int16_t> in = ProfileArg(data, op);
    StatsRequest request(mode, extremes, perTrace, op);
    ConstProfileBuffer ib(in);
    {
        py::gil_scoped_release nogil;
        CDPPrc_compute_stats(&ib.get(), nullptr, &request.stats);
    }
    return py::cast(request.Result());
}

// Deseparation and the topographic shift resample along the buffer's axis 1
// and step across traces along axis 0: the library gets transposed views, so
// that its axis 1 is the sample and axis 0 the trace of the profile.
using ShiftFn = int (*)(MeboDataPtr&, const MeboDataPtr&, const MeboDataPtr&, double, double, double, double,
                        double, double);

py::array_t<int16_t> DepthConversion(const char* op, const py::object& data, const py::object& samplesArg,
                                     const py::object& outArg, double velocity, double antennaSeparation,
                                     double timeZeroSample, double sampleInterval, ShiftFn shift,
                                     const py::object& elevation, double datum) {
    RequirePositive(velocity, "velocity", op);
    RequireFinite(antennaSeparation, "antenna_separation", op);
    RequireFinite(timeZeroSample, "time_zero_sample", op);
    RequirePositive(sampleInterval, "sample_interval", op);
    py::array_t<int16_t> in = ProfileArg(data, op);
    const py::ssize_t outSamples = samplesArg.is_none() ? Samples(in) : samplesArg.cast<py::ssize_t>();
    if (outSamples < 1 || outSamples > (1 << 30) / Traces(in)) {
        throw py::value_error(std::string(op) + ": samples must lie in 1 .. " +
                              std::to_string((1 << 30) / Traces(in)));
    }
    // Samples the algorithm does not reach stay zero.
    py::array_t<int16_t> out = OutputArg(outArg, in, Traces(in), outSamples, true, op);
    py::array_t<double> heights;
    std::unique_ptr<ArrayBuffer> heightBuffer;
    if (shift != nullptr) {
        heights = py::array_t<double, py::array::c_style | py::array::forcecast>::ensure(elevation);
        if (!heights || heights.ndim() != 1 || heights.shape(0) != Traces(in)) {
            PyErr_Clear();
            throw py::value_error(std::string(op) + ": elevation must be one number (m) per trace, " +
                                  std::to_string(Traces(in)) + " values");
        }
        heightBuffer = std::make_unique<ArrayBuffer>(const_cast<double*>(heights.data()), 8, Traces(in), 1);
    }
    const int status = CheckStatus(Apply(in, out, [&](MeboDataPtr& o, MeboDataPtr& i) {
                                       MeboDataPtrSwapAxes(&i, 0, 1);
                                       MeboDataPtrSwapAxes(&o, 0, 1);
                                       return shift != nullptr
                                                  ? shift(o, i, heightBuffer->get(), velocity, datum, 0.0,
                                                          antennaSeparation, timeZeroSample, sampleInterval)
                                                  : Toolbox::CdpDeseparate(o, i, velocity, antennaSeparation,
                                                                           timeZeroSample, sampleInterval);
                                   }),
                                   op);
    if (status == vantir3::kDepthNotConverted) {
        PyErr_WarnEx(PyExc_RuntimeWarning,
                     (std::string(op) + ": the geometry gives no depth scale; the traces were copied unchanged")
                         .c_str(),
                     1);
    }
    return out;
}

// The reductions: `size` output positions along the reduced axis (axis 0,
// the samples, unless alongTraces).
template <typename Call>
py::array_t<int16_t> Reduce(const char* op, const py::object& data, py::ssize_t size, bool alongTraces,
                            const py::object& outArg, Call call) {
    py::array_t<int16_t> in = ProfileArg(data, op);
    const py::ssize_t count = alongTraces ? Traces(in) : Samples(in);
    if (size < 1 || size > count) {
        throw py::value_error(std::string(op) + ": the output size must lie in 1 .. " + std::to_string(count) +
                              " (the input's " + (alongTraces ? "traces" : "samples") + ")");
    }
    py::array_t<int16_t> out = alongTraces ? OutputArg(outArg, in, size, Samples(in), false, op)
                                           : OutputArg(outArg, in, Traces(in), size, false, op);
    CheckStatus(Apply(in, out, call), op, StatusFamily::kReduction);
    return out;
}

py::dict Sec2Auto(const py::object& data, double timeZeroSample, double sampleInterval, double antennaFrequency,
                  double maxGainSpec, double tailFraction, double targetSlope, double attenuationStep,
                  unsigned pulsePeakPercent, unsigned overallPeakPercent) {
    const char* op = "sec2_auto";
    py::array_t<int16_t> in = ProfileArg(data, op);
    ConstProfileBuffer ib(in);
    const ICdpDataSource::SEGprParam gpr = {0.0, timeZeroSample, sampleInterval, antennaFrequency, 0.0};
    Sec2GainParam params = {0.0, 0.0, 0.0};
    int status;
    bool gathered;
    {
        py::gil_scoped_release nogil;
        // The statistics step needs a toolbox of its own (it creates a
        // temporary process in it).
        Toolbox toolbox;
        MeboDataPtr stats;
        MeboDataPtrClear(&stats);
        gathered = toolbox.GetDataMinMaxStats(stats, ib.get(), false);
        status = gathered ? Toolbox::SecAutoSetParamStruct(&params, &gpr, maxGainSpec, tailFraction, targetSlope,
                                                           attenuationStep, &stats, pulsePeakPercent,
                                                           overallPeakPercent)
                          : vantir3::kSecAutoNoStatistics;
        MeboDataPtrRelease(&stats);
    }
    CheckStatus(status, op, StatusFamily::kSec2Auto);
    return py::dict("attenuation"_a = params.attenuation, "start_gain"_a = params.startGain,
                    "max_gain"_a = params.maxGain);
}

}  // namespace

void BindEntryPoints(py::module_& m) {
    PYBIND11_NUMPY_DTYPE(StatsRecord, count, min_value, max_value, sum, low_extreme, high_extreme);
    m.attr("STATS_MINMAX") = static_cast<int>(STATS_MINMAX);
    m.attr("STATS_SUM") = static_cast<int>(STATS_SUM);
    m.attr("STATS_EXTREMES") = static_cast<int>(STATS_EXTREMES);

    py::class_<Stats>(m, "Stats",
                      "Amplitude statistics of a walk: count, min_value, max_value, sum, and the N-th "
                      "smallest and largest values (low_extreme, high_extreme); per_index holds one record "
                      "per index (a numpy structured array with the same fields) when asked for, else None.")
        .def_property_readonly("count", [](const Stats& s) { return s.whole.count; })
        .def_property_readonly("min_value", [](const Stats& s) { return s.whole.min_value; })
        .def_property_readonly("max_value", [](const Stats& s) { return s.whole.max_value; })
        .def_property_readonly("sum", [](const Stats& s) { return s.whole.sum; })
        .def_property_readonly("low_extreme", [](const Stats& s) { return s.whole.low_extreme; })
        .def_property_readonly("high_extreme", [](const Stats& s) { return s.whole.high_extreme; })
        .def_property_readonly("per_index", [](const Stats& s) { return s.perIndex; })
        .def("__repr__", [](const Stats& s) {
            return "Stats(count=" + std::to_string(s.whole.count) +
                   ", min_value=" + py::repr(py::float_(s.whole.min_value)).cast<std::string>() +
                   ", max_value=" + py::repr(py::float_(s.whole.max_value)).cast<std::string>() +
                   ", sum=" + py::repr(py::float_(s.whole.sum)).cast<std::string>() + ")";
        });

    m.def(
        "zeros",
        [](const std::pair<py::ssize_t, py::ssize_t>& shape) {
            if (shape.first < 0 || shape.second < 0) {
                throw py::value_error("zeros: shape must be (traces, samples), neither negative");
            }
            return NewProfile(shape.first, shape.second, true);
        },
        "shape"_a,
        "A new zero-filled int16 profile shaped (traces, samples) in the library's own memory, where the "
        "entry points also put the arrays they return: large ones sit on 2 MiB pages, which the library "
        "runs through faster than numpy's 4 KiB pages. For profiles processed many times and for out= "
        "arrays.");
    m.def(
        "dewow",
        [](const py::object& data, double window, double antennaFrequency, double sampleInterval, bool averaged,
           const py::object& out) -> py::object {
            if (!averaged) return Dewow(data, window, antennaFrequency, sampleInterval, out, nullptr);
            py::object avg;
            py::array_t<int16_t> result = Dewow(data, window, antennaFrequency, sampleInterval, out, &avg);
            return py::make_tuple(result, avg);
        },
        "data"_a, py::kw_only(), "window"_a = 1.33, "antenna_frequency"_a, "sample_interval"_a,
        "averaged"_a = false, "out"_a = py::none(),
        "Dewow: subtracts from each sample the centred running mean of its trace, `window` transmit pulse "
        "widths wide. antenna_frequency in MHz, sample_interval in ns. With averaged=True also returns the "
        "mean dewowed trace: (out, averaged_trace).");
    m.def("background_subtract", &BackgroundSubtract, "data"_a, py::kw_only(), "window"_a = 10,
          "background"_a = py::none(), "out"_a = py::none(),
          "Background subtraction: subtracts from every trace a running average over `window` traces, or the "
          "given background trace (int16, at least one trace long).");
    m.def("sec2_gain", &Sec2Gain, "data"_a, py::kw_only(), "attenuation"_a = 5.0, "start_gain"_a = 1.0,
          "max_gain"_a = 500.0, "time_zero_sample"_a, "sample_interval"_a, "antenna_frequency"_a,
          "last_sample"_a = false, "out"_a = py::none(),
          "SEC2 gain. attenuation in dB/m, start_gain and max_gain factors, time_zero_sample 1-based, "
          "sample_interval in ns, antenna_frequency in MHz. With last_sample=True returns (out, last index "
          "below the maximum gain).");
    m.def("migrate", &Migrate, "data"_a, py::kw_only(), "velocity"_a, "start_sample"_a = 0.0,
          "trace_spacing"_a, "sample_interval"_a, "out"_a = py::none(),
          "Constant-velocity Stolt migration of the section. velocity in m/ns, trace_spacing in m, "
          "sample_interval in ns; samples up to start_sample come out 0.");
    m.def("envelope", &Envelope, "data"_a, py::kw_only(), "window"_a = 10, "stats_mode"_a = 0, "extremes"_a = 0,
          "per_sample"_a = false, "out"_a = py::none(),
          "Amplitude envelope of every trace (Hilbert filter `window` samples wide). With stats_mode (STATS_* "
          "flags) returns (out, Stats) over the output, per_sample adding one record per sample position.");
    m.def("statistics", &Statistics, "data"_a, py::kw_only(), "mode"_a = STATS_MINMAX | STATS_SUM,
          "extremes"_a = 0, "per_trace"_a = false,
          "Amplitude statistics of the profile (STATS_* flags; `extremes` smallest and largest values); "
          "per_trace adds one record per trace.");
    m.def(
        "deseparate",
        [](const py::object& data, double velocity, double antennaSeparation, double timeZeroSample,
           double sampleInterval, const py::object& samples, const py::object& out) {
            return DepthConversion("deseparate", data, samples, out, velocity, antennaSeparation, timeZeroSample,
                                   sampleInterval, nullptr, py::none(), 0.0);
        },
        "data"_a, py::kw_only(), "velocity"_a = 0.1, "antenna_separation"_a, "time_zero_sample"_a,
        "sample_interval"_a, "samples"_a = py::none(), "out"_a = py::none(),
        "Antenna deseparation: every trace resampled to equal depth steps. velocity in m/ns, "
        "antenna_separation in m, time_zero_sample 1-based, sample_interval in ns; `samples` output samples "
        "per trace (default: as the input); samples not reached are 0 (with out=, they keep out's values).");
    for (const auto& fn : {std::make_pair("topo_shift", &Toolbox::CdpTopoShift),
                           std::make_pair("combo_shift", &Toolbox::CdpComboShift)}) {
        const char* name = fn.first;
        ShiftFn shift = fn.second;
        m.def(
            name,
            [name, shift](const py::object& data, const py::object& elevation, double velocity, double datum,
                          double antennaSeparation, double timeZeroSample, double sampleInterval,
                          const py::object& samples, const py::object& out) {
                RequireFinite(datum, "datum", name);
                return DepthConversion(name, data, samples, out, velocity, antennaSeparation, timeZeroSample,
                                       sampleInterval, shift, elevation, datum);
            },
            "data"_a, py::kw_only(), "elevation"_a, "velocity"_a = 0.1, "datum"_a = 0.0, "antenna_separation"_a,
            "time_zero_sample"_a, "sample_interval"_a, "samples"_a = py::none(), "out"_a = py::none(),
            "Topographic shift: deseparation, then every trace moved by the travel time between `datum` and its "
            "elevation (one value per trace, m). velocity in m/ns, antenna_separation in m, time_zero_sample "
            "1-based, sample_interval in ns.");
    }
    m.def("ground_zero_sample_idx", &Toolbox::GroundZeroSampleIdx, "out_span"_a, "in_span"_a, "velocity"_a,
          "antenna_separation"_a, "time_zero_sample"_a, "sample_interval"_a,
          "The output sample (from the output's first) at which the depth-zero input sample lands in the "
          "topographic shift; spans are last minus first sample index.");
    m.def(
        "minmax_reduction",
        [](const py::object& data, py::ssize_t samples, const py::object& out) {
            return Reduce("minmax_reduction", data, samples, false, out,
                          [](MeboDataPtr& o, MeboDataPtr& i) { return Toolbox::CdpMinMaxReduction(o, i); });
        },
        "data"_a, py::kw_only(), "samples"_a, "out"_a = py::none(),
        "Min-max reduction of every trace to `samples` samples (pairs of local extremes in time order).");
    m.def(
        "decimation",
        [](const py::object& data, py::ssize_t samples, const py::object& out) {
            return Reduce("decimation", data, samples, false, out, [](MeboDataPtr& o, MeboDataPtr& i) {
                // The only entry point on a toolbox object; building one sets
                // up the whole catalogue, so each thread keeps its own.
                thread_local Toolbox toolbox;
                return toolbox.CdpDecimation(o, i);
            });
        },
        "data"_a, py::kw_only(), "samples"_a, "out"_a = py::none(),
        "Decimation of every trace to `samples` picked samples.");
    m.def(
        "average_reduction",
        [](const py::object& data, py::ssize_t size, const std::string& along, const py::object& out) {
            if (along != "samples" && along != "traces") {
                throw py::value_error("average_reduction: along must be 'samples' or 'traces'");
            }
            const int axis = along == "traces" ? 1 : 0;
            return Reduce("average_reduction", data, size, axis == 1, out, [axis](MeboDataPtr& o, MeboDataPtr& i) {
                return Toolbox::CdpAverageReduction(o, i, axis);
            });
        },
        "data"_a, py::kw_only(), "size"_a, "along"_a = "samples", "out"_a = py::none(),
        "Average reduction to `size` rounded group means along the samples of each trace or across traces.");
    m.def("sec2_auto", &Sec2Auto, "data"_a, py::kw_only(), "time_zero_sample"_a, "sample_interval"_a,
          "antenna_frequency"_a, "max_gain_spec"_a, "tail_fraction"_a, "target_slope"_a, "attenuation_step"_a,
          "pulse_peak_percent"_a, "overall_peak_percent"_a,
          "SEC2 automatic set-up from the profile's per-sample peak amplitudes: returns a dict with "
          "attenuation (dB/m), start_gain and max_gain.");
}

}  // namespace vantir3_py
