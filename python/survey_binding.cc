// Survey files: the acquisition record as a dataclass-like Python object,
// read() and write(), and SurveyError as a Python exception.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <cmath>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "python/arrays.h"
#include "python/module.h"
#include "tools/cli_steps.h"
#include "tools/facts_kept.h"
#include "vantir3_survey/survey.h"

namespace vantir3_py {

namespace {

using namespace pybind11::literals;
using vantir3::survey::Acquisition;
using vantir3::survey::Format;
using vantir3::survey::NativeHeader;
using vantir3::survey::SampleType;

constexpr Format kFormats[] = {Format::kDzt, Format::kDt1, Format::kRd3, Format::kRd7, Format::kSegy};
constexpr SampleType kSampleTypes[] = {SampleType::kU8,  SampleType::kI8,  SampleType::kU16, SampleType::kI16,
                                       SampleType::kI32, SampleType::kF32, SampleType::kIbm32};

// The class FactsNotKeptWarning, made by BindSurvey (owned by the module,
// which is never unloaded).
PyObject* factsNotKeptWarning = nullptr;

// One field of the acquisition record as Python sees it.
struct Field {
    const char* name;
    const char* doc;
    std::function<py::object(const Acquisition&)> get;
    std::function<void(Acquisition&, const py::handle&)> set;
};

template <typename T>
Field Member(const char* name, T Acquisition::*member, const char* doc) {
    return {name, doc, [member](const Acquisition& a) { return py::cast(a.*member); },
            [member](Acquisition& a, const py::handle& v) { a.*member = v.cast<T>(); }};
}

// A list of records of two or three numbers, as tuples.
template <typename T, typename Get, typename Make>
Field Records(const char* name, std::vector<T> Acquisition::*member, const char* doc, Get get, Make make) {
    return {name, doc,
            [member, get](const Acquisition& a) {
                py::list l;
                for (const T& r : a.*member) l.append(get(r));
                return py::object(std::move(l));
            },
            [member, make](Acquisition& a, const py::handle& v) {
                std::vector<T> out;
                for (const py::handle& item : v) out.push_back(make(py::tuple(py::reinterpret_borrow<py::object>(item))));
                a.*member = std::move(out);
            }};
}

const std::vector<Field>& Fields() {
    static const std::vector<Field> fields = {
        {"format", "File format: 'DZT', 'DT1', 'RD3', 'RD7' or 'SEG-Y'.",
         [](const Acquisition& a) { return py::cast(vantir3::survey::FormatName(a.format)); },
         [](Acquisition& a, const py::handle& v) { a.format = FormatFromName(v.cast<std::string>()); }},
        Member("channel_count", &Acquisition::channelCount, "Channels in the file."),
        Member("channel", &Acquisition::channel, "This record's channel (0-based)."),
        Member("traces", &Acquisition::traces, "Traces of this channel."),
        Member("samples", &Acquisition::samples, "Samples per trace."),
        {"sample_type", "Sample type as stored: 'u8', 'i8', 'u16', 'i16', 'i32', 'f32' or 'ibm32'.",
         [](const Acquisition& a) { return py::cast(vantir3::survey::SampleTypeName(a.sampleType)); },
         [](Acquisition& a, const py::handle& v) { a.sampleType = SampleTypeFromName(v.cast<std::string>()); }},
        Member("scale", &Acquisition::scale, "value = sample16 * scale (a power of two; 1 for 16-bit files)."),
        Member("sample_interval_ns", &Acquisition::sampleIntervalNs, "Time between samples, ns (NaN: unknown)."),
        Member("sample_interval_source", &Acquisition::sampleIntervalSource, "How the sample interval was derived."),
        Member("time_zero_sample", &Acquisition::timeZeroSample, "Position of time zero, samples, 1-based, fractional."),
        Member("first_sample_time_ns", &Acquisition::firstSampleTimeNs, "Time of sample 0 relative to time zero, ns."),
        Member("time_window_ns", &Acquisition::timeWindowNs, "Time window as the header states it, ns."),
        Member("trace_spacing_m", &Acquisition::traceSpacingM, "Distance between traces, m (NaN: unknown or time-triggered)."),
        Member("time_triggered", &Acquisition::timeTriggered, "Traces were triggered by time, not distance."),
        Member("trace_interval_s", &Acquisition::traceIntervalS, "Time between traces when time-triggered, s."),
        Member("trace_spacing_source", &Acquisition::traceSpacingSource, "How the trace spacing was derived."),
        Member("antenna_name", &Acquisition::antennaName, "Antenna name as recorded."),
        Member("antenna_frequency_mhz", &Acquisition::antennaFrequencyMHz, "Antenna centre frequency, MHz."),
        Member("antenna_separation_m", &Acquisition::antennaSeparationM, "Transmitter-receiver separation, m."),
        Member("position_unit", &Acquisition::positionUnit, "Unit the file gives positions in ('m' or 'ft'); values here are m."),
        Member("stacks", &Acquisition::stacks, "Stacks per trace (0: not recorded)."),
        Records("marks", &Acquisition::marks, "User marks: (trace, mark word) tuples.",
                [](const vantir3::survey::Mark& m) { return py::make_tuple(m.trace, m.value); },
                [](const py::tuple& t) {
                    return vantir3::survey::Mark{t[0].cast<int64_t>(), t[1].cast<int32_t>()};
                }),
        Member("trace_positions_m", &Acquisition::tracePositionsM, "Distance along the line per trace, m (empty: none)."),
        Member("elevations_m", &Acquisition::elevationsM, "Elevation per trace, m (empty: none)."),
        Records("coordinates", &Acquisition::coordinates,
                "Per trace (x, y, z): easting and northing in m, or longitude and latitude in degrees when "
                "geographic; z elevation in m.",
                [](const vantir3::survey::Coordinate& c) { return py::make_tuple(c.x, c.y, c.z); },
                [](const py::tuple& t) {
                    return vantir3::survey::Coordinate{t[0].cast<double>(), t[1].cast<double>(), t[2].cast<double>()};
                }),
        Member("geographic", &Acquisition::geographic, "Coordinates are longitude/latitude (degrees)."),
        Member("trace_time_basis", &Acquisition::traceTimeBasis,
               "Clock of trace_times: 'UTC' (GPS logs, SEG-Y headers that say so), 'local', or '' (not stated)."),
        Records("trace_times", &Acquisition::traceTimes,
                "Per trace (date, seconds): when it was recorded, as the GPS log (UTC) or the trace headers "
                "(the recorder's clock) give it; date as yyyymmdd (0: no day recorded), seconds since midnight "
                "(NaN: unknown). Empty: none.",
                [](const vantir3::survey::TraceTime& t) { return py::make_tuple(t.date, t.secondOfDay); },
                [](const py::tuple& t) {
                    return vantir3::survey::TraceTime{t[0].cast<int32_t>(), t[1].cast<double>()};
                }),
        Records("range_gain", &Acquisition::rangeGain, "Recorded range gain: (sample, gain dB) break points.",
                [](const vantir3::survey::RangeGainPoint& p) { return py::make_tuple(p.sample, p.gainDb); },
                [](const py::tuple& t) {
                    return vantir3::survey::RangeGainPoint{t[0].cast<double>(), t[1].cast<double>()};
                }),
        Member("warnings", &Acquisition::warnings, "What the reader found doubtful."),
        {"native", "The format's own headers, kept so that writing back to the same format loses nothing.",
         [](const Acquisition& a) { return py::cast(a.native); },
         [](Acquisition& a, const py::handle& v) { a.native = v.cast<NativeHeader>(); }},
    };
    return fields;
}

const Field& FindField(const std::string& name) {
    for (const Field& f : Fields()) {
        if (name == f.name) return f;
    }
    throw py::type_error("Acquisition has no field '" + name + "'");
}

// Equality of field values, NaN equal to NaN (an unknown fact is the same
// unknown in both records).
bool Same(const py::handle& a, const py::handle& b) {
    if (py::isinstance<py::float_>(a) && py::isinstance<py::float_>(b)) {
        const double x = a.cast<double>(), y = b.cast<double>();
        return x == y || (std::isnan(x) && std::isnan(y));
    }
    if ((py::isinstance<py::list>(a) && py::isinstance<py::list>(b)) ||
        (py::isinstance<py::tuple>(a) && py::isinstance<py::tuple>(b))) {
        const py::sequence s = py::reinterpret_borrow<py::sequence>(a), t = py::reinterpret_borrow<py::sequence>(b);
        if (s.size() != t.size()) return false;
        for (size_t i = 0; i < s.size(); ++i) {
            if (!Same(s[i], t[i])) return false;
        }
        return true;
    }
    if (py::isinstance<NativeHeader>(a) && py::isinstance<NativeHeader>(b)) {
        const NativeHeader& x = a.cast<const NativeHeader&>();
        const NativeHeader& y = b.cast<const NativeHeader&>();
        return x.format == y.format && x.fileHeader == y.fileHeader && x.text == y.text &&
               x.traceHeaderBytes == y.traceHeaderBytes && x.traceHeaders == y.traceHeaders;
    }
    return a.equal(b);
}

py::dict ToDict(const Acquisition& a) {
    py::dict d;
    for (const Field& f : Fields()) d[f.name] = f.get(a);
    return d;
}

std::string Repr(const Acquisition& a) {
    std::string s = "Acquisition(";
    bool first = true;
    for (const char* name : {"format", "channel", "traces", "samples", "sample_type", "sample_interval_ns",
                             "time_zero_sample", "trace_spacing_m", "antenna_name", "antenna_frequency_mhz",
                             "antenna_separation_m"}) {
        s += (first ? "" : ", ") + std::string(name) + "=" + py::repr(FindField(name).get(a)).cast<std::string>();
        first = false;
    }
    return s + ", ...)";
}


// A path given as str or os.PathLike.
std::string PathArg(const py::object& path) {
    return py::module_::import("os").attr("fspath")(path).cast<std::string>();
}

py::tuple Read(const py::object& pathArg, int32_t channel, const py::object& format, double sampleIntervalNs,
               double antennaFrequencyMHz, double antennaSeparationM, double traceSpacingM) {
    const std::string path = PathArg(pathArg);
    const vantir3::survey::ReadOptions options =
        ReadOptionsOf(format, sampleIntervalNs, antennaFrequencyMHz, antennaSeparationM, traceSpacingM);
    std::unique_ptr<vantir3::survey::SurveyFile> file;
    {
        py::gil_scoped_release nogil;
        file = vantir3::survey::SurveyFile::Open(path, options);
    }
    const Acquisition& acq = file->acquisition(channel);
    py::array_t<int16_t> data = NewProfile(acq.traces, acq.samples, false);
    int16_t* out = data.mutable_data();
    {
        py::gil_scoped_release nogil;
        file->ReadTraces16(channel, 0, acq.traces, out);
    }
    return py::make_tuple(data, acq);
}

std::string ShapeText(const py::array& a) {
    return "(" + std::to_string(a.shape(0)) + ", " + std::to_string(a.shape(1)) + ")";
}

// An argument of write() given for one channel (`one`) or as a sequence with
// an item per channel, as a list of the items.
py::list PerChannel(const py::object& arg, bool one) {
    py::list items;
    if (one) {
        items.append(arg);
    } else {
        for (const py::handle& item : arg) items.append(item);
    }
    return items;
}

// One profile with its record, written as a one-channel file; or sequences
// of profiles (or a 3-D array of them) and records, one of each per
// channel, as a file of several
// (scan after scan, each scan the channels' traces in order). Returns the
// scale each channel was written through: a number for one profile, a list
// for a sequence.
py::object Write(const py::object& pathArg, const py::object& dataArg, const py::object& acquisitionArg,
                 const py::object& format, const py::object& sampleType, bool fitSamples) {
    // (An array of three dimensions is its channels' profiles.)
    const bool oneProfile = (py::isinstance<py::array>(dataArg) && py::array(dataArg).ndim() != 3) ||
                            !py::isinstance<py::sequence>(dataArg);
    const bool oneRecord = py::isinstance<Acquisition>(acquisitionArg) || !py::isinstance<py::sequence>(acquisitionArg);
    const py::list datas = PerChannel(dataArg, oneProfile), records = PerChannel(acquisitionArg, oneRecord);
    if (datas.empty()) throw py::value_error("write: no profile given");
    if (datas.size() != records.size()) {
        auto count = [](size_t k, const char* what) { return std::to_string(k) + " " + what + (k == 1 ? "" : "s"); };
        throw py::value_error("write: " + count(datas.size(), "profile") + " but " +
                              count(records.size(), "acquisition record") + " (one of each per channel)");
    }
    const int32_t n = static_cast<int32_t>(datas.size());
    std::vector<py::array_t<int16_t>> profiles;
    std::vector<Acquisition> channels;
    for (int32_t k = 0; k < n; ++k) {
        const std::string index = "[" + std::to_string(k) + "]";
        const std::string data = oneProfile ? "data" : "data" + index;
        const std::string record = oneRecord ? "the acquisition record" : "acquisition record" + index;
        profiles.push_back(ProfileArg(datas[static_cast<size_t>(k)], "write", data.c_str()));
        const py::array_t<int16_t>& profile = profiles.back();
        if (k > 0 && (profile.shape(0) != profiles[0].shape(0) || profile.shape(1) != profiles[0].shape(1))) {
            throw py::value_error("write: " + data + " is shaped " + ShapeText(profile) + " but data[0] " +
                                  ShapeText(profiles[0]) + "; the channels of a file have the same traces and samples");
        }
        const py::handle item = records[static_cast<size_t>(k)];
        if (!py::isinstance<Acquisition>(item)) {
            throw py::type_error("write: " + std::string(oneRecord ? "acquisition" : "acquisition" + index) +
                                 " must be an Acquisition, not " +
                                 py::str(py::type::of(item).attr("__name__")).cast<std::string>());
        }
        const Acquisition acq = item.cast<Acquisition>();
        if (acq.traces != profile.shape(0) || acq.samples != profile.shape(1)) {
            throw py::value_error("write: " + data + " is shaped " + ShapeText(profile) + " but " + record + " has " +
                                  std::to_string(acq.traces) + " traces of " + std::to_string(acq.samples) +
                                  " samples");
        }
        channels.push_back(vantir3_cli::OutputRecord(acq, k, n));
    }
    vantir3::survey::WriteOptions options;
    options.fitSamples16 = fitSamples;
    if (!format.is_none()) {
        options.formatGiven = true;
        options.format = FormatFromName(format.cast<std::string>());
    }
    if (!sampleType.is_none()) {
        options.sampleTypeGiven = true;
        options.sampleType = SampleTypeFromName(sampleType.cast<std::string>());
    }
    const std::string path = PathArg(pathArg);
    const Format written = options.formatGiven ? options.format : vantir3::survey::FormatFromPath(path);
    std::vector<double> scales;
    std::vector<std::string> lost;
    {
        py::gil_scoped_release nogil;
        const int64_t traces = channels.front().traces;
        const int16_t* scans = profiles.front().data();
        std::vector<int16_t> interleaved;
        if (n > 1) {
            const size_t traceBytes = static_cast<size_t>(channels.front().samples) * sizeof(int16_t);
            interleaved.resize(static_cast<size_t>(traces * n) * traceBytes / sizeof(int16_t));
            for (int32_t k = 0; k < n; ++k) {
                vantir3_cli::PutChannel(profiles[static_cast<size_t>(k)].data(), traces, traceBytes, k, n,
                                        interleaved.data());
            }
            scans = interleaved.data();
        }
        std::unique_ptr<vantir3::survey::SurveyWriter> writer =
            vantir3::survey::SurveyWriter::Create(path, channels, options);
        writer->WriteScans16(scans, traces);
        writer->Commit();
        for (int32_t k = 0; k < n; ++k) scales.push_back(writer->Scale(k));
        lost = vantir3_cli::FactsNotKept(channels, path, written, scales);
    }
    WarnFactsNotKept(path, written, lost, 1);
    if (oneProfile) return py::float_(scales.front());
    return py::cast(scales);
}

}  // namespace

void WarnFactsNotKept(const std::string& written, Format format, const std::vector<std::string>& lost,
                      int stacklevel) {
    if (lost.empty()) return;
    const std::string text = vantir3_cli::FactsNotKeptText(written, format, lost);
    if (PyErr_WarnEx(factsNotKeptWarning, text.c_str(), stacklevel) != 0) throw py::error_already_set();
}

vantir3::survey::ReadOptions ReadOptionsOf(const py::object& format, double sampleIntervalNs,
                                           double antennaFrequencyMHz, double antennaSeparationM,
                                           double traceSpacingM) {
    vantir3::survey::ReadOptions o;
    if (!format.is_none()) {
        o.formatGiven = true;
        o.format = FormatFromName(format.cast<std::string>());
    }
    o.sampleIntervalNs = sampleIntervalNs;
    o.antennaFrequencyMHz = antennaFrequencyMHz;
    o.antennaSeparationM = antennaSeparationM;
    o.traceSpacingM = traceSpacingM;
    return o;
}

Format FormatFromName(const std::string& name) {
    for (Format f : kFormats) {
        if (name == vantir3::survey::FormatName(f)) return f;
    }
    throw py::value_error("unknown format '" + name + "' (DZT, DT1, RD3, RD7 or SEG-Y)");
}

SampleType SampleTypeFromName(const std::string& name) {
    for (SampleType t : kSampleTypes) {
        if (name == vantir3::survey::SampleTypeName(t)) return t;
    }
    throw py::value_error("unknown sample type '" + name + "' (u8, i8, u16, i16, i32, f32 or ibm32)");
}

void BindSurvey(py::module_& m) {
    static py::exception<vantir3::survey::SurveyError> surveyError(m, "SurveyError", PyExc_ValueError);
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const vantir3::survey::SurveyError& e) {
            py::object error = py::reinterpret_borrow<py::object>(surveyError.ptr())(e.what());
            error.attr("file") = e.file();
            error.attr("field") = e.field();
            error.attr("offset") = e.offset();
            error.attr("detail") = e.detail();
            PyErr_SetObject(surveyError.ptr(), error.ptr());
        }
    });
    surveyError.doc() =
        "A survey file that cannot be read or written; the message names the file, the header field at fault "
        "and the byte offset (also as the attributes file, field and offset; detail is the message alone).";

    const std::string warningName = m.attr("__name__").cast<std::string>() + ".FactsNotKeptWarning";
    factsNotKeptWarning = PyErr_NewExceptionWithDoc(
        warningName.c_str(),
        "Warned by write() and Chain.run_file() when the written file does not keep some facts of the records "
        "given (its format has no place for them, or a coarser one): the message names the file, its format "
        "and the facts. The file is written all the same.",
        PyExc_UserWarning, nullptr);
    if (!factsNotKeptWarning) throw py::error_already_set();
    m.attr("FactsNotKeptWarning") = py::reinterpret_borrow<py::object>(factsNotKeptWarning);

    py::class_<NativeHeader>(m, "NativeHeader", "The format's own headers, as read (opaque to most callers).")
        .def(py::init<>())
        .def_property(
            "format", [](const NativeHeader& h) { return vantir3::survey::FormatName(h.format); },
            [](NativeHeader& h, const std::string& v) { h.format = FormatFromName(v); })
        .def_property(
            "file_header", [](const NativeHeader& h) { return py::bytes(reinterpret_cast<const char*>(h.fileHeader.data()), h.fileHeader.size()); },
            [](NativeHeader& h, const py::bytes& v) {
                const std::string s = v;
                h.fileHeader.assign(s.begin(), s.end());
            })
        .def_readwrite("text", &NativeHeader::text)
        .def_readwrite("trace_header_bytes", &NativeHeader::traceHeaderBytes)
        .def_property(
            "trace_headers", [](const NativeHeader& h) { return py::bytes(reinterpret_cast<const char*>(h.traceHeaders.data()), h.traceHeaders.size()); },
            [](NativeHeader& h, const py::bytes& v) {
                const std::string s = v;
                h.traceHeaders.assign(s.begin(), s.end());
            })
        .def(py::pickle(
            [](const py::object& h) {
                return py::make_tuple(h.attr("format"), h.attr("file_header"), h.attr("text"),
                                      h.attr("trace_header_bytes"), h.attr("trace_headers"));
            },
            [](const py::tuple& t) {
                NativeHeader h;
                h.format = FormatFromName(t[0].cast<std::string>());
                const std::string header = t[1].cast<py::bytes>(), headers = t[4].cast<py::bytes>();
                h.fileHeader.assign(header.begin(), header.end());
                h.text = t[2].cast<std::string>();
                h.traceHeaderBytes = t[3].cast<int32_t>();
                h.traceHeaders.assign(headers.begin(), headers.end());
                return h;
            }));

    py::class_<Acquisition> acquisition(
        m, "Acquisition",
        "The acquisition record of one channel of a survey file. Units are in the field names (ns, m, MHz, "
        "dB, s); NaN means unknown. Build one with keyword arguments, e.g. "
        "Acquisition(samples=512, traces=100, sample_interval_ns=0.1, antenna_frequency_mhz=500).");
    acquisition
        .def(py::init([](const py::kwargs& kwargs) {
                 Acquisition a;
                 for (const auto& item : kwargs) FindField(item.first.cast<std::string>()).set(a, item.second);
                 return a;
             }))
        .def("to_dict", &ToDict, "The fields as a dict.")
        .def("replace", [](const Acquisition& a, const py::kwargs& kwargs) {
                 Acquisition copy = a;
                 for (const auto& item : kwargs) FindField(item.first.cast<std::string>()).set(copy, item.second);
                 return copy;
             }, "A copy with the given fields changed.")
        .def("__copy__", [](const Acquisition& a) { return a; })
        .def("__deepcopy__", [](const Acquisition& a, const py::dict&) { return a; })
        .def("__eq__", [](const Acquisition& a, const py::object& other) {
                 if (!py::isinstance<Acquisition>(other)) return false;
                 const Acquisition& b = other.cast<const Acquisition&>();
                 for (const Field& f : Fields()) {
                     if (!Same(f.get(a), f.get(b))) return false;
                 }
                 return true;
             })
        .def("__repr__", &Repr)
        .def(py::pickle([](const Acquisition& a) { return ToDict(a); },
                        [](const py::dict& d) {
                            Acquisition a;
                            for (const auto& item : d) FindField(item.first.cast<std::string>()).set(a, item.second);
                            return a;
                        }));
    for (const Field& f : Fields()) {
        acquisition.def_property(f.name, f.get, f.set, f.doc);
    }
    py::list names;
    for (const Field& f : Fields()) names.append(f.name);
    acquisition.attr("fields") = py::tuple(names);

    m.def("read", &Read, "path"_a, "channel"_a = 0, py::kw_only(), "format"_a = py::none(),
          "sample_interval_ns"_a = vantir3::survey::kUnknown, "antenna_frequency_mhz"_a = vantir3::survey::kUnknown,
          "antenna_separation_m"_a = vantir3::survey::kUnknown, "trace_spacing_m"_a = vantir3::survey::kUnknown,
          "Reads one channel of a survey file: (samples, acquisition), samples an int16 array shaped (traces, "
          "samples) through the channel's scale. The keyword arguments replace facts the file lacks or gets "
          "wrong; format reads the file as that format whatever its extension. Raises SurveyError.");
    m.def("write", &Write, "path"_a, "data"_a, "acquisition"_a, py::kw_only(), "format"_a = py::none(),
          "sample_type"_a = py::none(), "fit_samples"_a = true,
          "Writes a profile (int16, shaped (traces, samples)) with its acquisition record as a one-channel "
          "survey file (format from the extension unless given), under a temporary name renamed into place "
          "when complete, and returns the scale the samples were written through: the record's, or, with "
          "fit_samples, 1.0 where the output's sample type cannot hold the samples through it (an f32 "
          "file's fractions in an integer format) and the samples themselves are written, in the format's "
          "16-bit type unless sample_type is given. With a sequence of profiles (all of one shape) and a "
          "sequence of records, one of each per channel in order (or an array shaped (channels, traces, samples) "
          "with the records), writes a file of that many channels (only "
          "DZT holds several; each record's channel_count and channel are set to match) and returns a list "
          "with each channel's scale. ValueError when the profiles' shapes or the sequences' lengths differ; "
          "SurveyError for what the format cannot hold. The written file is read back, and facts of the records "
          "that it does not keep (e.g. an antenna separation or marks the format has no place for, an amplitude "
          "scale not written through) are warned of with FactsNotKeptWarning, naming the file, its format and "
          "the facts; the file stays written (also when a warnings filter makes the warning an error).");
    m.def(
        "format_of",
        [](const py::object& path) { return vantir3::survey::FormatName(vantir3::survey::FormatFromPath(PathArg(path))); },
        "path"_a,
        "The survey format that a file name's extension names ('DZT', 'DT1', 'RD3', 'RD7' or 'SEG-Y'). Raises "
        "SurveyError for an extension that names none.");
    py::list formats;
    for (Format f : kFormats) formats.append(vantir3::survey::FormatName(f));
    m.attr("FORMATS") = py::tuple(formats);
}

}  // namespace vantir3_py
