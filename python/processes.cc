// The process catalogue with each type's parameter declarations, and
// chains of steps (the command-line program's step syntax and pipeline,
// shared with it) over arrays and over survey files.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "python/arrays.h"
#include "python/module.h"
#include "tools/cli_steps.h"
#include "tools/facts_kept.h"
#include "tools/synth_survey.h"
#include "vantir3/framework/status.h"
#include "vantir3/vantir3.h"
#include "vantir3_survey/survey.h"

namespace vantir3_py {

namespace {

using namespace pybind11::literals;
using vantir3::survey::Acquisition;

// One parameter declaration, read from the library's declaration text.
struct Parameter {
    std::string type, code, label, description, units;
    double value = 0, defaultValue = 0, minimum = 0, maximum = 0, resolution = 0;
    std::vector<std::string> suggestions;
};

// One catalogue row: a category or a process type with its parameters.
struct CatalogueEntry {
    std::string kind, code, name, description;
    uint32_t uid = 0;
    uint32_t level = 0;
    std::vector<Parameter> parameters;
};

// The six-character code of an identifier (five bits per character, first
// character lowest, each its character code minus 64).
std::string CodeOf(uint32_t uid) {
    std::string code;
    for (int i = 0; i < 6; ++i) code += static_cast<char>(((uid >> (5 * i)) & 31) + 64);
    return code;
}

std::vector<std::string> Lines(const std::string& text, char sep) {
    std::vector<std::string> lines;
    std::string line;
    std::istringstream in(text);
    while (std::getline(in, line, sep)) lines.push_back(line);
    if (!text.empty() && text.back() == sep) lines.push_back("");
    return lines;
}

// The nine (or ten, with units) lines of a parameter declaration.
Parameter ParseDeclaration(const std::string& text) {
    const std::vector<std::string> l = Lines(text, '\n');
    Parameter p;
    if (l.size() < 9) return p;
    const size_t eq = l[1].find('=');
    p.type = l[0];
    p.code = l[1].substr(0, eq);
    p.value = std::atof(l[1].c_str() + eq + 1);
    p.defaultValue = std::atof(l[2].c_str());
    p.minimum = std::atof(l[3].c_str());
    p.maximum = std::atof(l[4].c_str());
    p.resolution = std::atof(l[5].c_str());
    if (!l[6].empty()) p.suggestions = Lines(l[6], ';');
    p.label = l[7];
    p.description = l[8];
    if (l.size() > 9) p.units = l[9];
    return p;
}

std::vector<CatalogueEntry> Catalogue() {
    CCdpProcessToolbox toolbox;
    std::vector<CCdpProcessToolbox::SProcessTypeDef> rows;
    toolbox.GetProcessTypeDefArray(rows);
    std::vector<CatalogueEntry> entries;
    for (const auto& row : rows) {
        CatalogueEntry e;
        e.kind = row.kind == 0 ? "category" : "process";
        e.uid = static_cast<uint32_t>(row.uid);
        e.code = CodeOf(e.uid);
        e.name = row.name;
        e.description = row.description;
        e.level = row.level;
        for (unsigned i = 0; i < toolbox.GetDeclarationParamCount(e.uid); ++i) {
            e.parameters.push_back(ParseDeclaration(toolbox.GetDeclaration(e.uid, static_cast<int>(i))));
        }
        entries.push_back(std::move(e));
    }
    return entries;
}


// A sequence of processing steps in the command-line program's syntax
// ("dewow", "agc:WINDOW=2,MAXGN@=200", "bgsub:50", "migrate:velocity=0.1").
class Chain {
public:
    explicit Chain(const std::vector<std::string>& texts) : steps_(vantir3_cli::ParseSteps(texts)) {
        if (steps_.empty()) throw py::value_error("Chain: no steps");
    }

    std::vector<std::string> Steps() const {
        std::vector<std::string> s;
        for (const auto& step : steps_) s.push_back(step.Describe());
        return s;
    }
    bool WholeSection() const {
        return std::any_of(steps_.begin(), steps_.end(), [](const vantir3_cli::Step& s) { return s.WholeSection(); });
    }

    // The steps over a profile in memory with its acquisition facts.
    py::array_t<int16_t> Run(const py::object& dataArg, const Acquisition& facts) const {
        py::array_t<int16_t> data = ProfileArg(dataArg, "Chain.run");
        Acquisition acq = facts;
        acq.traces = Traces(data);
        acq.samples = Samples(data);
        const ICdpDataSource::SEGprParam gpr = acq.GprParam();
        CheckFacts(acq);
        std::vector<int16_t> out;
        {
            py::gil_scoped_release nogil;
            vantir3_cli::MemorySource source(gpr, acq.samples);
            source.SetTraces(data.data(), 0, acq.traces);
            // The pipeline keeps pointers into the steps: they must outlive it.
            const std::vector<vantir3_cli::Step> steps = Resolved(source, acq);
            vantir3_cli::Pipeline pipeline(source, steps, acq);
            pipeline.Run(0, acq.traces, out, nullptr);
        }
        py::array_t<int16_t> result = NewProfile(acq.traces, acq.samples, false);
        std::memcpy(result.mutable_data(), out.data(), out.size() * sizeof(int16_t));
        return result;
    }

    // The steps over a survey file, read through the file-backed source in
    // blocks of traces (the whole section at once when a step needs it).
    // Without an output path one channel (`channel`, or 0) is processed and
    // (samples, acquisition) returned. With one, the given channel is written
    // as a one-channel file, or, when no channel is given, every channel of
    // the file, each through its own steps (its own facts checked, its own
    // "sec2:auto" set-up), in the input's order; each block of traces goes to
    // the writer as scans of all of them. A summary is returned: its scales,
    // one per channel written, are the input's, or 1 where the output's
    // sample type cannot hold the samples through it and the samples
    // themselves are written; its not_kept, the facts of the input the
    // written file does not keep, which are warned of too.
    py::object RunFile(const std::string& path, const py::object& outPath, std::optional<int32_t> channel,
                       int64_t blockTraces, const py::object& format, double sampleIntervalNs,
                       double antennaFrequencyMHz, double antennaSeparationM, double traceSpacingM) const {
        if (blockTraces < 1) throw py::value_error("Chain.run_file: block_traces must be at least 1");
        const vantir3::survey::ReadOptions options =
            ReadOptionsOf(format, sampleIntervalNs, antennaFrequencyMHz, antennaSeparationM, traceSpacingM);
        std::unique_ptr<vantir3::survey::SurveyFile> file;
        {
            py::gil_scoped_release nogil;
            file = vantir3::survey::SurveyFile::Open(path, options);
        }
        const bool toFile = !outPath.is_none();
        const std::string output = toFile ? outPath.cast<std::string>() : std::string();
        const std::vector<int32_t> channels = vantir3_cli::ChannelsTaken(*file, channel.value_or(toFile ? -1 : 0));
        const int32_t n = static_cast<int32_t>(channels.size());
        // The channels' records, as the file holds them (the file outlives
        // the pipelines that refer to them).
        std::vector<const Acquisition*> acqs;
        for (int32_t c : channels) {
            acqs.push_back(&file->acquisition(c));
            CheckFacts(*acqs.back(), n > 1 ? "channel " + std::to_string(c) + ": " : "");
        }
        const Acquisition& acq = *acqs.front();
        const int64_t traces = acq.traces;
        const int64_t block = WholeSection() ? traces : std::min(blockTraces, traces);
        const size_t traceBytes = static_cast<size_t>(acq.samples) * sizeof(int16_t);
        py::array_t<int16_t> result;
        int16_t* dst = nullptr;
        std::unique_ptr<vantir3::survey::SurveyWriter> writer;
        std::vector<Acquisition> written;  // the records given to the writer
        std::vector<double> scales;
        std::vector<std::string> lost;
        vantir3::survey::Format outFormat = vantir3::survey::Format::kDzt;
        if (!toFile) {
            result = NewProfile(traces, acq.samples, false);
            dst = result.mutable_data();
        }
        {
            py::gil_scoped_release nogil;
            if (toFile) {
                for (int32_t k = 0; k < n; ++k) written.push_back(vantir3_cli::OutputRecord(*acqs[static_cast<size_t>(k)], k, n));
                vantir3::survey::WriteOptions write;
                write.fitSamples16 = true;
                writer = vantir3_cli::CreateWriter(output, written, write, "channel=N processes one of them");
            }
            // Each channel's source, steps and pipeline; the pipeline keeps
            // pointers into the other two.
            struct ChannelRun {
                ChannelRun(const vantir3::survey::SurveyFile& f, int32_t c) : source(f, c) {}
                vantir3::survey::FileSource source;
                std::vector<vantir3_cli::Step> steps;
                std::unique_ptr<vantir3_cli::Pipeline> pipeline;
            };
            std::vector<std::unique_ptr<ChannelRun>> runs;
            for (int32_t k = 0; k < n; ++k) {
                runs.push_back(std::make_unique<ChannelRun>(*file, channels[static_cast<size_t>(k)]));
                ChannelRun& run = *runs.back();
                run.steps = Resolved(run.source, *acqs[static_cast<size_t>(k)]);
                run.pipeline = std::make_unique<vantir3_cli::Pipeline>(run.source, run.steps, *acqs[static_cast<size_t>(k)]);
            }
            // One channel's traces go to the writer as they are; several are
            // put together into scans first.
            const bool interleave = toFile && n > 1;
            std::vector<int16_t> out, scans(interleave ? static_cast<size_t>(block * n) * traceBytes / sizeof(int16_t) : 0);
            for (int64_t first = 0; first < traces; first += block) {
                const int64_t count = std::min(block, traces - first);
                int16_t* into = toFile ? scans.data() : dst + first * acq.samples;
                for (int32_t k = 0; k < n; ++k) {
                    runs[static_cast<size_t>(k)]->pipeline->Run(first, count, out, nullptr);
                    if (interleave || !toFile) vantir3_cli::PutChannel(out.data(), count, traceBytes, k, n, into);
                }
                if (writer) writer->WriteScans16(interleave ? scans.data() : out.data(), count);
            }
            if (writer) {
                writer->Commit();
                for (int32_t k = 0; k < n; ++k) scales.push_back(writer->Scale(k));
                outFormat = vantir3::survey::FormatFromPath(output);
                lost = vantir3_cli::FactsNotKept(written, output, outFormat, scales);
            }
        }
        if (!toFile) return py::make_tuple(result, acq);
        // Two frames up: the caller of the package's Chain.run_file.
        WarnFactsNotKept(output, outFormat, lost, 2);
        return py::dict("path"_a = path, "output"_a = outPath, "traces"_a = traces, "samples"_a = acq.samples,
                        "format"_a = vantir3::survey::FormatName(acq.format), "steps"_a = Steps(), "channels"_a = n,
                        "scale"_a = scales[0], "scales"_a = scales, "not_kept"_a = lost);
    }

private:
    // ValueError when the acquisition lacks a fact that a step needs; the
    // message starts with `where` (which channel).
    void CheckFacts(const Acquisition& acq, const std::string& where = "") const {
        try {
            // The facts by the keyword names of run(), run_file() and read().
            vantir3_cli::FactOptions names;
            names.sampleInterval = "sample_interval_ns=";
            names.frequency = "antenna_frequency_mhz=";
            names.spacing = "trace_spacing_m=";
            names.separation = "antenna_separation_m=";
            vantir3_cli::CheckStepFacts(steps_, acq, names);
        } catch (const std::runtime_error& e) {
            throw py::value_error(where + e.what());
        }
    }

    // The steps with every "sec2:auto" replaced by the SEC2 parameters that
    // the automatic set-up finds for the data reaching it (the steps before
    // it are run over the whole channel once for that). Called without the
    // interpreter lock.
    std::vector<vantir3_cli::Step> Resolved(const ICdpDataSource& raw, const Acquisition& acq) const {
        std::vector<vantir3_cli::Step> steps = steps_;
        for (size_t k = 0; k < steps.size(); ++k) {
            if (!steps[k].sec2Auto) continue;
            const std::vector<vantir3_cli::Step> before(steps.begin(), steps.begin() + static_cast<ptrdiff_t>(k));
            std::vector<int16_t> data;
            vantir3_cli::Pipeline(raw, before, acq).Run(0, acq.traces, data, nullptr);
            ArrayBuffer buffer(data.data(), 2, acq.samples, static_cast<int32_t>(acq.traces));
            CCdpProcessToolbox toolbox;
            MeboDataPtr stats;
            MeboDataPtrClear(&stats);
            const bool gathered = toolbox.GetDataMinMaxStats(stats, buffer.get(), false);
            vantir3_cli::MemorySource source(*raw.GprParamPtr(), acq.samples);
            CCdpProcess* sec2 = toolbox.GetProcess(steps[k].uid);
            sec2->SetDataSource(&source);
            const int status = gathered ? toolbox.SecAutoSetParams(
                                                sec2, vantir3_cli::kAutoMaxGainSpec, vantir3_cli::kAutoTailFraction,
                                                vantir3_cli::kAutoTargetSlope, vantir3_cli::kAutoAttenuationStep, &stats,
                                                vantir3_cli::kAutoPulsePeakPercent, vantir3_cli::kAutoOverallPeakPercent)
                                        : vantir3::kSecAutoNoStatistics;
            MeboDataPtrRelease(&stats);
            CheckStatus(status, ("step '" + steps[k].text + "'").c_str(), StatusFamily::kSec2Auto);
            steps[k].params = sec2->GetParams();
            steps[k].sec2Auto = false;
        }
        return steps;
    }

    std::vector<vantir3_cli::Step> steps_;
};

}  // namespace

void BindProcesses(py::module_& m) {
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const vantir3_cli::UsageError& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        }
    });

    py::class_<Parameter>(m, "Parameter",
                          "One parameter declaration of a process type: type letter, code, value (the "
                          "declared default for a catalogue entry), default, minimum, maximum, resolution, "
                          "suggested values, label, description and units ('' when none).")
        .def_readonly("type", &Parameter::type)
        .def_readonly("code", &Parameter::code)
        .def_readonly("value", &Parameter::value)
        .def_readonly("default", &Parameter::defaultValue)
        .def_readonly("minimum", &Parameter::minimum)
        .def_readonly("maximum", &Parameter::maximum)
        .def_readonly("resolution", &Parameter::resolution)
        .def_readonly("suggestions", &Parameter::suggestions)
        .def_readonly("label", &Parameter::label)
        .def_readonly("description", &Parameter::description)
        .def_readonly("units", &Parameter::units)
        .def("__repr__", [](const Parameter& p) {
            return "Parameter(code='" + p.code + "', label='" + p.label + "', default=" +
                   py::repr(py::float_(p.defaultValue)).cast<std::string>() + ")";
        });
    py::class_<CatalogueEntry>(m, "CatalogueEntry",
                               "One catalogue row: kind ('category' or 'process'), code, uid, name, "
                               "description, level (nesting) and, for processes, parameters.")
        .def_readonly("kind", &CatalogueEntry::kind)
        .def_readonly("code", &CatalogueEntry::code)
        .def_readonly("uid", &CatalogueEntry::uid)
        .def_readonly("name", &CatalogueEntry::name)
        .def_readonly("description", &CatalogueEntry::description)
        .def_readonly("level", &CatalogueEntry::level)
        .def_readonly("parameters", &CatalogueEntry::parameters)
        .def("__repr__", [](const CatalogueEntry& e) {
            return "CatalogueEntry(kind='" + e.kind + "', code='" + e.code + "', name='" + e.name + "')";
        });
    m.def("catalogue", &Catalogue, "The library's catalogue of categories and process types, in order.");
    m.def("catalogue_text", &vantir3_cli::CatalogueText,
          "The catalogue with the step names and operations, as the command-line program lists it.");

    py::class_<Chain>(m, "_Chain")
        .def(py::init<const std::vector<std::string>&>(), "steps"_a)
        .def_property_readonly("steps", &Chain::Steps)
        .def_property_readonly("whole_section", &Chain::WholeSection)
        .def("run", &Chain::Run, "data"_a, "acquisition"_a)
        .def("run_file", &Chain::RunFile, "path"_a, "out_path"_a = py::none(), "channel"_a = py::none(),
             "block_traces"_a = 4096, py::kw_only(), "format"_a = py::none(),
             "sample_interval_ns"_a = vantir3::survey::kUnknown, "antenna_frequency_mhz"_a = vantir3::survey::kUnknown,
             "antenna_separation_m"_a = vantir3::survey::kUnknown, "trace_spacing_m"_a = vantir3::survey::kUnknown);
}

}  // namespace vantir3_py
