#include "tools/commands.h"

#include <glob.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <sstream>

#include "tools/cli_steps.h"
#include "tools/facts_kept.h"
#include "tools/owned_buffer.h"
#include "tools/parallel.h"
#include "tools/synth_survey.h"

namespace vantir3_cli {

namespace vs = vantir3::survey;

namespace {

// ---- inputs -----------------------------------------------------------------

// One channel of a survey file, or the built-in sample survey.
struct Input {
    std::string name;
    vs::Acquisition acquisition;  // of the channel processed
    std::shared_ptr<const vs::SurveyFile> file;  // shared by the inputs of its channels
    int32_t channel = 0;
    std::vector<int16_t> memory;  // the sample survey's traces
    // Opened without the traces' leading words: the workers take them from
    // their reads and hand them to the writer with the samples.
    bool wordsDeferred = false;

    std::unique_ptr<ICdpDataSource> MakeSource() const {
        if (file) return std::make_unique<vs::FileSource>(*file, channel);
        auto source = std::make_unique<MemorySource>(acquisition.GprParam(), acquisition.samples);
        source->SetTraces(memory.data(), 0, acquisition.traces);
        return source;
    }
};

// The channels of a survey file to process: the one the options name, or
// every one.
std::vector<Input> OpenInputs(const std::string& path, const InputOptions& o) {
    std::shared_ptr<const vs::SurveyFile> file = vs::SurveyFile::Open(path, o.read);
    const std::vector<int32_t> channels = ChannelsTaken(*file, o.channel);
    if (file->traceCount() < 1) throw vs::SurveyError(path, "traces", "the file holds no traces");
    std::vector<Input> inputs;
    for (int32_t c : channels) {
        Input in;
        in.name = path;
        in.file = file;
        in.channel = c;
        in.acquisition = file->acquisition(c);
        in.wordsDeferred = o.read.deferTraceWords && file->TraceWordBytes() > 0;
        inputs.push_back(std::move(in));
    }
    return inputs;
}

Input SampleInput(uint32_t seed) {
    SynthOptions o;
    o.seed = seed;
    Input in;
    in.name = "built-in sample survey";
    in.acquisition = SynthAcquisition(o);
    in.memory.resize(static_cast<size_t>(o.traces * o.samples));
    SynthTraces(o, 0, o.traces, in.memory.data());
    return in;
}

// The arguments, with patterns that name no file expanded.
std::vector<std::string> ExpandFiles(const std::vector<std::string>& args) {
    std::vector<std::string> files;
    for (const std::string& a : args) {
        struct stat st;
        if (a.find_first_of("*?[") == std::string::npos || ::stat(a.c_str(), &st) == 0) {
            files.push_back(a);
            continue;
        }
        glob_t g;
        if (::glob(a.c_str(), 0, nullptr, &g) == 0) {
            for (size_t i = 0; i < g.gl_pathc; ++i) files.push_back(g.gl_pathv[i]);
        } else {
            files.push_back(a);  // reported as missing when opened
        }
        ::globfree(&g);
    }
    return files;
}

std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
std::string Stem(const std::string& path) {
    const std::string base = BaseName(path);
    const size_t dot = base.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? base : base.substr(0, dot);
}
std::string DirName(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

// How the program writes survey files: under a temporary name renamed into
// place when complete, without waiting for the disk (as cp does); an output
// lost to a system crash is made again from its input, which is never
// changed. Processed 16-bit samples that the output's sample type cannot
// hold through the input's scale (an f32 file's fractions into an integer
// format) are written as the samples themselves, and the note after writing
// says so.
vs::WriteOptions WriteSettings() {
    vs::WriteOptions options;
    options.sync = false;
    options.fitSamples16 = true;
    return options;
}

// The scales through which a writer writes its channels' 16-bit samples.
std::vector<double> WrittenScales(const vs::SurveyWriter& writer, size_t channels) {
    std::vector<double> scales;
    for (size_t c = 0; c < channels; ++c) scales.push_back(writer.Scale(static_cast<int32_t>(c)));
    return scales;
}

// Tells on standard error which facts of the input a written file does not
// keep; the file itself is complete.
void NoteFactsNotKept(const std::vector<vs::Acquisition>& given, const std::string& written,
                      const std::vector<double>& scales, std::vector<std::string> lost = {}) {
    const vs::Format format = vs::FormatFromPath(written);
    for (const std::string& l : FactsNotKept(given, written, format, scales)) lost.push_back(l);
    if (lost.empty()) return;
    std::cerr << "vantir3: note: " << FactsNotKeptText(written, format, lost) << "\n";
}

// Refuses an output that cannot be written, or that is the input itself.
void CheckOutput(const std::string& path, const std::string& input) {
    const std::string dir = DirName(path);
    struct stat st, in;
    if (::stat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        throw std::runtime_error(path + ": the output folder " + dir + " does not exist");
    if (::access(dir.c_str(), W_OK) != 0) throw std::runtime_error(path + ": the output folder " + dir + " is not writable");
    if (!input.empty() && ::stat(path.c_str(), &st) == 0 && ::stat(input.c_str(), &in) == 0 &&
        st.st_dev == in.st_dev && st.st_ino == in.st_ino)
        throw std::runtime_error(path + ": is the input file; inputs are never overwritten");
}

// ---- running steps ------------------------------------------------------------

// Runs steps block by block over channels of one input (each channel with
// its own steps; the channels have the same traces). Each block goes to
// `sink` (when given) in
// trace order, and first to `anyOrder` (when given) in the worker that made
// it, in any order and from several threads at once.
void RunChannels(const std::vector<const Input*>& ins, const std::vector<std::vector<Step>>& steps,
                 const RunSettings& run, bool wantRaw, const BlockSink& sink, const std::string& label,
                 const BlockSink& anyOrder = nullptr);
// The same over one channel.
void RunSteps(const Input& in, const std::vector<Step>& steps, const RunSettings& run, bool wantRaw,
              const BlockSink& sink, const std::string& label, const BlockSink& anyOrder = nullptr) {
    RunChannels({&in}, {steps}, run, wantRaw, sink, label, anyOrder);
}

// The SEC2 automatic set-up: statistics of the data that reach the SEC2 step
// (the steps before it run first, block by block), then the library's set-up.
void ResolveSec2Auto(const Input& in, std::vector<Step>& steps, const RunSettings& run) {
    CheckStepFacts(steps, in.acquisition);
    for (size_t k = 0; k < steps.size(); ++k) {
        if (!steps[k].sec2Auto) continue;
        const std::vector<Step> before(steps.begin(), steps.begin() + static_cast<ptrdiff_t>(k));
        CCdpProcessToolbox toolbox;
        OwnedBuffer stats;
        bool first = true;
        RunSteps(in, before, run, false, [&](const Block& b) {
            OwnedBuffer data;
            if (!MeboDataPtrAllocate(&data.b, 2, 0, in.acquisition.samples - 1, 0, static_cast<int32_t>(b.count - 1), 0, 0, 0))
                throw std::runtime_error("sec2:auto: out of memory");
            std::memcpy(data.b.storage->data, b.channels.front().processed, static_cast<size_t>(b.count * in.acquisition.samples) * 2);
            if (!toolbox.GetDataMinMaxStats(stats.b, data.b, !first))
                throw std::runtime_error("step '" + steps[k].text + "': gathering the statistics failed");
            first = false;
        }, "statistics");
        const ICdpDataSource::SEGprParam gpr = in.acquisition.GprParam();
        MemorySource source(gpr, in.acquisition.samples);
        CCdpProcess* sec2 = toolbox.GetProcess(steps[k].uid);
        sec2->SetDataSource(&source);
        const int status = toolbox.SecAutoSetParams(sec2, kAutoMaxGainSpec, kAutoTailFraction, kAutoTargetSlope,
                                                     kAutoAttenuationStep, &stats.b, kAutoPulsePeakPercent,
                                                     kAutoOverallPeakPercent);
        if (status != 0)
            throw std::runtime_error("step '" + steps[k].text + "': the automatic set-up found no SEC2 gain for these data (status " +
                                     std::to_string(status) + ")");
        steps[k].params = sec2->GetParams();
        steps[k].sec2Auto = false;
        steps[k].name = "sec2 (auto)";
    }
}

void RunChannels(const std::vector<const Input*>& ins, const std::vector<std::vector<Step>>& steps,
                 const RunSettings& run, bool wantRaw, const BlockSink& sink, const std::string& label,
                 const BlockSink& anyOrder) {
    const vs::Acquisition& a = ins.front()->acquisition;
    const int32_t channels = static_cast<int32_t>(ins.size());
    int64_t block = run.blockTraces > 0 ? run.blockTraces : DefaultBlockTraces(a.samples * channels);
    for (size_t k = 0; k < ins.size(); ++k) {
        CheckStepFacts(steps[k], ins[k]->acquisition);
        for (const Step& s : steps[k]) {
            if (!s.WholeSection()) continue;
            const int64_t size = a.traces * int64_t{a.samples};
            if (size > run.sectionLimit)
                throw std::runtime_error("step '" + s.text + "' needs the whole section in memory, and " +
                                         std::to_string(a.traces) + " traces x " + std::to_string(a.samples) +
                                         " samples exceed the limit of " + std::to_string(run.sectionLimit) +
                                         " samples (--section-limit)");
            block = a.traces;
        }
    }
    Progress progress(label, a.traces);
    const int64_t blockBytes = block * a.samples * 2 * (wantRaw ? 2 : 1) * channels;
    const size_t traceBytes = static_cast<size_t>(a.samples) * 2;
    const int64_t wordBytes = ins.front()->file ? ins.front()->file->TraceWordBytes() : 0;
    RunBlocks(a.traces, block, blockBytes, run.workers, [&]() -> BlockFn {
        // This worker's source and pipeline of each channel, and the words
        // of one channel's traces on their way into the scans' words.
        struct Channel {
            std::unique_ptr<ICdpDataSource> source;
            std::unique_ptr<Pipeline> pipeline;
            vs::FileSource* file = nullptr;  // when the words are taken from its reads
        };
        struct Worker {
            std::vector<Channel> channels;
            std::vector<uint8_t> words;
        };
        auto w = std::make_shared<Worker>();
        for (size_t k = 0; k < ins.size(); ++k) {
            Channel c;
            c.source = ins[k]->MakeSource();
            c.pipeline = std::make_unique<Pipeline>(*c.source, steps[k], ins[k]->acquisition);
            if (ins[k]->wordsDeferred) c.file = dynamic_cast<vs::FileSource*>(c.source.get());
            w->channels.push_back(std::move(c));
        }
        return [w, &ins, wantRaw, &anyOrder, &sink, channels, traceBytes, wordBytes](Block& b) {
            const bool several = channels > 1;
            b.channels.resize(w->channels.size());
            if (several) b.scans.resize(static_cast<size_t>(b.count * channels) * traceBytes / 2);
            const size_t blockWords = static_cast<size_t>(b.count * wordBytes);
            for (size_t k = 0; k < w->channels.size(); ++k) {
                Channel& c = w->channels[k];
                ChannelBlock& out = b.channels[k];
                uint8_t* words = nullptr;
                if (c.file != nullptr) {
                    b.words.resize(blockWords * static_cast<size_t>(channels));
                    w->words.resize(blockWords);
                    words = several ? w->words.data() : b.words.data();
                    c.file->CaptureTraceWords(b.first, b.count, words);
                }
                c.pipeline->Run(b.first, b.count, out.result.b, wantRaw ? &out.raw : nullptr);
                if (c.file != nullptr && c.file->CapturedTraces() != b.count) {
                    // The steps did not read every trace of the block: read its words.
                    std::vector<int16_t> traces(static_cast<size_t>(b.count) * traceBytes / 2);
                    ins[k]->file->ReadTraces16(ins[k]->channel, b.first, b.count, traces.data(), words);
                }
                out.processed = TraceSamples(out.result.b, out.copy);
                if (several) {
                    PutChannel(out.processed, b.count, traceBytes, static_cast<int32_t>(k), channels, b.scans.data());
                    if (words != nullptr)
                        PutChannel(words, b.count, static_cast<size_t>(wordBytes), static_cast<int32_t>(k), channels,
                                   b.words.data());
                }
            }
            if (anyOrder) anyOrder(b);
            if (!sink) b.ReleaseResults();  // the buffers go back to this thread's next block at once
        };
    }, sink, &progress);
}

PanelAxes AxesOf(const vs::Acquisition& a) {
    PanelAxes x;
    x.traces = a.traces;
    x.samples = a.samples;
    x.sampleIntervalNs = a.sampleIntervalNs > 0.0 ? a.sampleIntervalNs : 1.0;
    x.firstSampleTimeNs = std::isfinite(a.firstSampleTimeNs) ? a.firstSampleTimeNs : 0.0;
    if (a.tracePositionsM.size() == static_cast<size_t>(a.traces) && a.traces > 1) {
        x.startM = a.tracePositionsM.front();
        x.endM = a.tracePositionsM.back();
    } else if (a.traceSpacingM > 0.0) {
        x.endM = (a.traces - 1) * a.traceSpacingM;
    }
    return x;
}

// What one run writes: a survey file and/or a picture of some panels.
struct Outputs {
    std::string survey, picture;
    bool compare = false;
    PlotOptions plot;
};

// Runs steps over channels of one input (every channel with the same steps)
// and writes its outputs; returns a one-line description of what was
// written.
std::string RunOne(const std::vector<Input>& ins, const std::vector<Step>& steps, const RunSettings& run, Outputs out,
                   const std::string& inputPath) {
    if (!out.survey.empty()) CheckOutput(out.survey, inputPath);
    if (!out.picture.empty()) CheckOutput(out.picture, inputPath);
    const Input& in = ins.front();
    const int32_t n = static_cast<int32_t>(ins.size());
    // The writer first: an output that cannot take the channels is refused
    // before any pass over the data.
    std::unique_ptr<vs::SurveyWriter> writer;
    std::vector<vs::Acquisition> records;  // the output's records, their facts kept for the check after writing
    if (!out.survey.empty()) {
        for (int32_t k = 0; k < n; ++k) records.push_back(OutputRecord(ins[static_cast<size_t>(k)].acquisition, k, n));
        writer = CreateWriter(out.survey, records, WriteSettings(), "--channel N processes one of them");
        for (vs::Acquisition& r : records) r.native.traceHeaders = {};  // the writer has its own copy of the trace words
    }
    // Each channel's steps: an automatic set-up finds each its own.
    std::vector<std::vector<Step>> chains(ins.size(), steps);
    std::vector<const Input*> channels;
    for (size_t k = 0; k < ins.size(); ++k) {
        ResolveSec2Auto(ins[k], chains[k], run);
        channels.push_back(&ins[k]);
    }
    // What was done: with several channels, the steps as given (an automatic
    // set-up finds each channel its own parameters).
    const std::string described = DescribeSteps(n > 1 ? steps : chains.front());
    // A panel for each channel, after its raw one when comparing; with
    // several, the picture's title says what was done and the panels which
    // channel they show.
    std::vector<std::unique_ptr<Panel>> panels;
    const int per = out.compare ? 2 : 1;
    PanelAxes axes = AxesOf(in.acquisition);
    ApplyMetresPerPixel(out.plot, axes.endM - axes.startM, per * n);
    int columns = 0, rows = 0;
    PanelPixels(out.plot, per * n, &columns, &rows);
    if (!out.picture.empty()) {
        for (const Input& c : ins) {
            const std::string channel = "channel " + std::to_string(c.channel);
            const std::string raw = n > 1 ? channel + ": raw" : "raw";
            if (out.compare) panels.push_back(std::make_unique<Panel>(raw, axes, columns, rows));
            const std::string title = steps.empty() ? raw : n == 1 ? described : out.compare ? channel + ": processed" : channel;
            panels.push_back(std::make_unique<Panel>(title, axes, columns, rows));
        }
    }
    BlockSink draw;  // without a picture the blocks need no trace order
    if (!panels.empty()) {
        draw = [&](const Block& b) {
            for (size_t k = 0; k < b.channels.size(); ++k) {
                if (out.compare) panels[k * 2]->Add(b.channels[k].raw.data(), b.count);
                panels[k * static_cast<size_t>(per) + static_cast<size_t>(per - 1)]->Add(b.channels[k].processed, b.count);
            }
        };
    }
    RunChannels(channels, chains, run, out.compare && !out.picture.empty(), draw, BaseName(in.name), [&](const Block& b) {
        // Each worker writes its own blocks at their place: no worker waits
        // for another's block to be written first.
        if (writer) writer->WriteScans16At(b.first, b.Scans(), b.count, b.words.empty() ? nullptr : b.words.data());
    });
    std::string done;
    if (writer) {
        writer->Commit();
        NoteFactsNotKept(records, out.survey, WrittenScales(*writer, records.size()));
        done += " -> " + out.survey;
    }
    if (!panels.empty()) {
        std::vector<const Panel*> drawn;
        for (auto& p : panels) {
            p->Finish();
            drawn.push_back(p.get());
        }
        if (out.plot.title.empty()) out.plot.title = BaseName(in.name) + (steps.empty() ? "" : ": " + described);
        WritePicture(out.picture, drawn, out.plot);
        done += " -> " + out.picture;
    }
    return BaseName(in.name) + ": " + (n > 1 ? std::to_string(n) + " channels of " : "") +
           std::to_string(in.acquisition.traces) + " traces x " + std::to_string(in.acquisition.samples) + " samples, " +
           described + done;
}

// Prints an error about one file, naming it once.
void Report(const std::string& file, const std::exception& e) {
    const std::string what = e.what();
    std::cerr << "vantir3: " << (what.compare(0, file.size(), file) == 0 ? "" : file + ": ") << what << "\n";
}

// ---- info ---------------------------------------------------------------------

std::string Num(double v, int decimals = 3) {
    if (!std::isfinite(v)) return "unknown";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}
// A value with its unit, or "unknown" alone.
std::string Num(double v, int decimals, const char* unit) {
    return std::isfinite(v) ? Num(v, decimals) + " " + unit : "unknown";
}

std::string Json(const std::string& s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += c;
        }
    }
    return out + "\"";
}
std::string JsonNum(double v) {
    if (!std::isfinite(v)) return "null";
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v);
    return buf;
}

// A table cell, quoted when it holds a comma, a quote or a line end.
std::string CsvText(const std::string& s) {
    if (s.find_first_of(",\"\r\n") == std::string::npos) return s;
    std::string out = "\"";
    for (char c : s) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + "\"";
}

constexpr const char* kTraceTableHeader = "file,channel,trace,position_m,x,y,elevation_m,time,mark\n";

// One row per trace of every channel (traces counted from 1): distance
// along the line, coordinates as the file gives them (easting and northing
// in m, or longitude and latitude in degrees), elevation, recording time and
// user mark (its word as recorded); empty cells where the file records none.
// Files that list no positions but a trace spacing get the distance from the
// first trace.
std::string TraceTable(const vs::SurveyFile& f) {
    std::ostringstream o;
    const std::string file = CsvText(f.path());
    for (const vs::Acquisition& a : f.acquisitions()) {
        std::vector<std::string> marks(static_cast<size_t>(a.traces));
        for (const vs::Mark& m : a.marks) {
            if (m.trace >= 0 && m.trace < a.traces) marks[static_cast<size_t>(m.trace)] = std::to_string(m.value);
        }
        for (int64_t t = 0; t < a.traces; ++t) {
            const size_t i = static_cast<size_t>(t);
            const vs::Coordinate c = i < a.coordinates.size() ? a.coordinates[i] : vs::Coordinate();
            const double z = i < a.elevationsM.size() ? a.elevationsM[i] : c.z;
            o << file << ',' << a.channel << ',' << t + 1 << ','
              << CsvNum(i < a.tracePositionsM.size() ? a.tracePositionsM[i]
                        : a.tracePositionsM.empty() && a.traceSpacingM > 0.0 ? static_cast<double>(t) * a.traceSpacingM
                                                                               : NAN)
              << ',' << CsvNum(c.x) << ','
              << CsvNum(c.y) << ',' << CsvNum(z) << ','
              << (i < a.traceTimes.size() ? vs::FormatTraceTime(a.traceTimes[i]) : "") << ',' << marks[i] << '\n';
        }
    }
    return o.str();
}

std::string InfoText(const vs::SurveyFile& f) {
    std::ostringstream o;
    o << f.path() << "\n  format " << vs::FormatName(f.format()) << ", " << f.channelCount() << " channel(s)\n";
    for (const vs::Acquisition& a : f.acquisitions()) {
        o << "  channel " << a.channel << ": " << a.traces << " traces x " << a.samples << " samples, "
          << vs::SampleTypeName(a.sampleType)
          << (a.scale != 1.0 ? " (as 16-bit samples: value / " + CsvNum(a.scale) + ")" : "") << "\n"
          << "    sample interval " << Num(a.sampleIntervalNs, 4) << " ns (" << a.sampleIntervalSource << ")"
          << ", time window "
          << (std::isfinite(a.timeWindowNs) || !std::isfinite(a.sampleIntervalNs)
                  ? Num(a.timeWindowNs, 2, "ns")
                  : Num(a.samples * a.sampleIntervalNs, 2, "ns") + " (samples x interval)")
          << "\n"
          << "    time zero at sample " << Num(a.timeZeroSample, 2) << " (1-based), first sample at "
          << Num(a.firstSampleTimeNs, 3) << " ns\n"
          << "    antenna " << (a.antennaName.empty() ? "unnamed" : a.antennaName) << ", "
          << "frequency " << Num(a.antennaFrequencyMHz, 1, "MHz") << ", separation " << Num(a.antennaSeparationM, 3, "m") << "\n";
        if (a.timeTriggered)
            o << "    time-triggered, " << Num(a.traceIntervalS, 4) << " s between traces\n";
        else
            o << "    trace spacing " << Num(a.traceSpacingM, 4, "m")
              << (a.traceSpacingSource.empty() ? "" : " (" + a.traceSpacingSource + ")") << "\n";
        if (!a.tracePositionsM.empty())
            o << "    positions " << Num(a.tracePositionsM.front()) << " to " << Num(a.tracePositionsM.back())
              << " m (file unit " << a.positionUnit << ")\n";
        // Per-trace facts that some traces lack: how many traces have them.
        double low = INFINITY, high = -INFINITY;
        for (double z : a.elevationsM) {
            if (std::isfinite(z)) low = std::min(low, z), high = std::max(high, z);
        }
        const int64_t elevated = Elevated(a), located = Located(a);
        if (low <= high) {
            o << "    elevations " << Num(low) << " to " << Num(high) << " m";
            if (elevated < a.traces) o << " (" << elevated << " of " << a.traces << " traces)";
            o << "\n";
        }
        if (located > 0) {
            const std::string kind = a.geographic ? "geographic" : "projected";
            if (located == a.traces)
                o << "    " << a.traces << " " << kind << " coordinates\n";
            else
                o << "    " << kind << " coordinates for " << located << " of " << a.traces << " traces\n";
        }
        const auto first = std::find_if(a.traceTimes.begin(), a.traceTimes.end(), Timed);
        if (first != a.traceTimes.end()) {
            const auto last = std::find_if(a.traceTimes.rbegin(), a.traceTimes.rend(), Timed);
            const int64_t n = TimedTraces(a);
            o << "    " << n << (n == 1 ? " trace" : " traces") << " timed, "
              << vs::FormatTraceTime(*first) << " to " << vs::FormatTraceTime(*last)
              << (a.traceTimeBasis.empty() ? "" : " " + a.traceTimeBasis) << "\n";
        }
        if (!a.rangeGain.empty()) {
            // The gain the recorder applied along the trace (already in the samples).
            const vs::RangeGainPoint& f = a.rangeGain.front();
            const vs::RangeGainPoint& l = a.rangeGain.back();
            o << "    range gain recorded, " << a.rangeGain.size() << (a.rangeGain.size() == 1 ? " point: " : " points: ")
              << Num(f.gainDb, 1) << " dB at sample " << Num(f.sample, 1);
            if (a.rangeGain.size() > 1) o << " to " << Num(l.gainDb, 1) << " dB at sample " << Num(l.sample, 1);
            o << "\n";
        }
        if (a.stacks > 0) o << "    stacks " << a.stacks << "\n";
        if (!a.marks.empty()) o << "    marks " << a.marks.size() << "\n";
        for (const std::string& w : a.warnings) o << "    warning: " << w << "\n";
    }
    return o.str();
}

std::string InfoJson(const vs::SurveyFile& f) {
    std::ostringstream o;
    o << "{\"file\": " << Json(f.path()) << ", \"format\": " << Json(vs::FormatName(f.format()))
      << ", \"channels\": [";
    for (const vs::Acquisition& a : f.acquisitions()) {
        o << (a.channel ? ", " : "") << "{\"channel\": " << a.channel << ", \"traces\": " << a.traces
          << ", \"samples\": " << a.samples << ", \"sampleType\": " << Json(vs::SampleTypeName(a.sampleType))
          << ", \"scale\": " << JsonNum(a.scale) << ", \"sampleIntervalNs\": " << JsonNum(a.sampleIntervalNs)
          << ", \"sampleIntervalSource\": " << Json(a.sampleIntervalSource)
          << ", \"timeWindowNs\": " << JsonNum(a.timeWindowNs) << ", \"timeZeroSample\": " << JsonNum(a.timeZeroSample)
          << ", \"firstSampleTimeNs\": " << JsonNum(a.firstSampleTimeNs) << ", \"antennaName\": " << Json(a.antennaName)
          << ", \"antennaFrequencyMHz\": " << JsonNum(a.antennaFrequencyMHz)
          << ", \"antennaSeparationM\": " << JsonNum(a.antennaSeparationM)
          << ", \"traceSpacingM\": " << JsonNum(a.traceSpacingM) << ", \"traceSpacingSource\": " << Json(a.traceSpacingSource)
          << ", \"timeTriggered\": " << (a.timeTriggered ? "true" : "false")
          << ", \"traceIntervalS\": " << JsonNum(a.traceIntervalS) << ", \"positionUnit\": " << Json(a.positionUnit)
          << ", \"firstPositionM\": " << JsonNum(a.tracePositionsM.empty() ? NAN : a.tracePositionsM.front())
          << ", \"lastPositionM\": " << JsonNum(a.tracePositionsM.empty() ? NAN : a.tracePositionsM.back())
          << ", \"elevations\": " << Elevated(a) << ", \"coordinates\": " << Located(a)
          << ", \"traceTimes\": " << TimedTraces(a)
          << ", \"marks\": " << a.marks.size() << ", \"stacks\": " << a.stacks << ", \"warnings\": [";
        for (size_t i = 0; i < a.warnings.size(); ++i) o << (i ? ", " : "") << Json(a.warnings[i]);
        o << "]}";
    }
    o << "]}";
    return o.str();
}

}  // namespace

// ---- commands -----------------------------------------------------------------

int InfoCommand(const std::vector<std::string>& args, const InputOptions& input, bool json, bool traces) {
    int failed = 0;
    const std::vector<std::string> files = ExpandFiles(args);
    if (json && files.size() > 1) std::cout << "[";
    if (traces) std::cout << kTraceTableHeader;
    bool first = true;
    for (const std::string& path : files) {
        try {
            const auto f = vs::SurveyFile::Open(path, input.read);
            if (traces)
                std::cout << TraceTable(*f);
            else if (json)
                std::cout << (first ? "" : ",\n") << InfoJson(*f);
            else
                std::cout << InfoText(*f);
            first = false;
        } catch (const std::exception& e) {
            Report(path, e);
            ++failed;
        }
    }
    if (json) std::cout << (files.size() > 1 ? "]\n" : "\n");
    return failed ? 1 : 0;
}

// The output that -O FOLDER [--format EXT] makes of an input: its name, or
// its stem with the format's extension.
std::string OutputInFolder(const std::string& folder, const std::string& input, const std::string& format) {
    return folder + "/" + (format.empty() ? BaseName(input) : Stem(input) + "." + format);
}

// Refuses a --format that names no survey format (before any file is read).
void CheckOutputFormat(const std::string& format) {
    if (format.empty()) return;
    try {
        vs::FormatFromPath("output." + format);
    } catch (const vs::SurveyError& e) {
        throw UsageError("--format " + format + ": " + e.detail());
    }
}

int ProcessCommand(ProcessRequest r) {
    r.input.read.threads = r.run.workers;  // the workers' threads also open the file
    // The workers read every trace: they take its words then, instead of the
    // open reading the whole file for them first.
    r.input.read.deferTraceWords = true;
    const std::vector<Step> steps = ParseSteps(r.steps);
    const std::vector<std::string> files = ExpandFiles(r.files);
    if (r.output.empty() && r.outputDir.empty() && r.picture.empty())
        throw UsageError("nothing to write: give an output file (-o), an output folder (-O) or a picture (--png)");
    if (!r.output.empty() && files.size() > 1)
        throw UsageError("-o names one output file, but " + std::to_string(files.size()) + " inputs were given; use -O FOLDER");
    CheckOutputFormat(r.outputFormat);
    if (!r.velocityGiven) r.plot.velocity = StepsVelocity(steps, r.plot.velocity);
    int failed = 0;
    for (const std::string& path : files) {
        try {
            Outputs out;
            out.survey = !r.output.empty()     ? r.output
                         : r.outputDir.empty() ? ""
                                               : OutputInFolder(r.outputDir, path, r.outputFormat);
            if (!r.picture.empty()) {
                out.picture = r.picture;
                if (files.size() > 1) {
                    const size_t dot = r.picture.find_last_of('.');
                    out.picture = r.picture.substr(0, dot) + "_" + Stem(path) + (dot == std::string::npos ? "" : r.picture.substr(dot));
                }
            }
            out.compare = r.compare;
            out.plot = r.plot;
            std::cout << RunOne(OpenInputs(path, r.input), steps, r.run, out, path) << std::endl;
        } catch (const std::exception& e) {
            Report(path, e);
            ++failed;
        }
    }
    if (failed > 0 && files.size() > 1)
        std::cerr << "vantir3: " << failed << " of " << files.size() << " files failed\n";
    return failed ? 1 : 0;
}

int PlotCommand(const std::string& file, std::string picture, ProcessRequest r) {
    if (picture.empty()) picture = Stem(file) + ".png";
    r.files = {file};
    r.picture = picture;
    return ProcessCommand(r);
}

// Copies every trace of the given records' channels of f (records[k] the
// k-th channel written) into a new file at outPath: the values as stored
// (exact), or with samples16 the 16-bit samples that processing reads,
// through the scales that the writer fits to the output type. Returns the
// scales written through (none for values); `rounded` tells whether some
// value was not its 16-bit sample times the scale.
std::vector<double> CopyTraces(const vs::SurveyFile& f, const std::vector<int32_t>& taken,
                               const std::vector<vs::Acquisition>& records, const std::string& outPath, bool samples16,
                               bool& rounded) {
    vs::WriteOptions options = WriteSettings();
    options.fitSamples16 = samples16;
    const auto writer = CreateWriter(outPath, records, options, "--channel N converts one of them");
    const int32_t channels = static_cast<int32_t>(taken.size()), samples = f.sampleCount();
    const int64_t traces = f.traceCount(), block = DefaultBlockTraces(samples * channels);
    // A trace's leading non-radar words (a DZT's scan counter and mark
    // word) become copies of its first radar sample: a format without such
    // words would take them for data, and a DZT writer puts the recorded
    // words back.
    const int32_t skip = f.layout().skipWords;
    std::vector<double> trace, scans;
    std::vector<int16_t> trace16, scans16;
    rounded = false;
    Progress progress(BaseName(f.path()), traces);
    for (int64_t first = 0; first < traces; first += block) {
        const int64_t n = std::min(block, traces - first);
        const size_t size = static_cast<size_t>(n * channels * samples);
        if (samples16) {
            scans16.resize(size);
        } else {
            scans.resize(size);
        }
        for (int32_t c = 0; c < channels; ++c) {
            const int32_t from = taken[static_cast<size_t>(c)];
            trace.resize(static_cast<size_t>(n * samples));
            f.ReadTraces(from, first, n, trace.data());
            if (samples16) {
                // (These have the leading words replaced already.)
                trace16.resize(trace.size());
                f.ReadTraces16(from, first, n, trace16.data());
            }
            const double scale = f.acquisition(from).scale;
            for (int64_t t = 0; t < n; ++t) {
                const size_t from = static_cast<size_t>(t * samples), to = static_cast<size_t>((t * channels + c) * samples);
                if (samples16) {
                    std::copy_n(trace16.data() + from, samples, scans16.data() + to);
                    for (size_t i = from + skip; i < from + samples; ++i) rounded = rounded || trace[i] != trace16[i] * scale;
                } else {
                    std::copy_n(trace.data() + from, samples, scans.data() + to);
                    std::fill_n(scans.data() + to, skip, scans[to + skip]);
                }
            }
        }
        if (samples16) {
            writer->WriteScans16(scans16.data(), n);
        } else {
            writer->WriteScans(scans.data(), n);
        }
        progress.Update(first + n);
    }
    writer->Commit();
    return samples16 ? WrittenScales(*writer, static_cast<size_t>(channels)) : std::vector<double>();
}

// Converts one file; false (reported) when it failed.
bool ConvertOne(const std::string& inPath, const std::string& outPath, const InputOptions& input) {
    try {
        const auto f = vs::SurveyFile::Open(inPath, input.read);
        CheckOutput(outPath, inPath);
        const std::vector<int32_t> taken = ChannelsTaken(*f, input.channel);
        std::vector<vs::Acquisition> records;
        for (size_t k = 0; k < taken.size(); ++k)
            records.push_back(OutputRecord(f->acquisition(taken[k]), static_cast<int32_t>(k), static_cast<int32_t>(taken.size())));
        // The values as they are where the output's sample type holds them;
        // otherwise (an f32 file's fractions into an integer format) the
        // 16-bit samples, as processing would write them.
        std::vector<double> scales;
        bool rounded = false;
        try {
            CopyTraces(*f, taken, records, outPath, false, rounded);
        } catch (const vs::SurveyError& e) {
            if (e.file() != outPath || e.field() != "samples") throw;
            scales = CopyTraces(*f, taken, records, outPath, true, rounded);
        }
        NoteFactsNotKept(records, outPath, scales,
                         rounded ? std::vector<std::string>{"exact values (rounded to 16-bit samples)"}
                                 : std::vector<std::string>());
        std::cout << inPath << " (" << vs::FormatName(f->format()) << ") -> " << outPath << std::endl;
        return true;
    } catch (const std::exception& e) {
        Report(inPath, e);
        return false;
    }
}

int ConvertCommand(const ConvertRequest& r) {
    if (r.outputDir.empty()) {
        if (!r.outputFormat.empty()) throw UsageError("--format names the format of -O's outputs; give -O FOLDER");
        if (r.files.size() != 2)
            throw UsageError("give an input and its output file, or inputs and -O FOLDER --format EXT");
        return ConvertOne(r.files[0], r.files[1], r.input) ? 0 : 1;
    }
    if (r.outputFormat.empty()) throw UsageError("-O needs the outputs' format: --format DZT, DT1, RD3, RD7 or SGY");
    CheckOutputFormat(r.outputFormat);
    const std::vector<std::string> files = ExpandFiles(r.files);
    int failed = 0;
    for (const std::string& path : files) failed += !ConvertOne(path, OutputInFolder(r.outputDir, path, r.outputFormat), r.input);
    if (failed > 0 && files.size() > 1)
        std::cerr << "vantir3: " << failed << " of " << files.size() << " files failed\n";
    return failed ? 1 : 0;
}

int ListCommand() {
    std::cout << CatalogueText();
    return 0;
}

int SynthCommand(const std::string& out, const SynthOptions& options) {
    try {
        CheckOutput(out, "");
        vs::Acquisition a = SynthAcquisition(options);
        a.format = vs::FormatFromPath(out);
        const auto writer = vs::SurveyWriter::Create(out, {a}, WriteSettings());
        // Block by block: a survey of any size in bounded memory.
        const int64_t block = DefaultBlockTraces(options.samples);
        std::vector<int16_t> traces;
        Progress progress(BaseName(out), a.traces);
        for (int64_t first = 0; first < a.traces; first += block) {
            const int64_t n = std::min(block, a.traces - first);
            traces.resize(static_cast<size_t>(n * options.samples));
            SynthTraces(options, first, n, traces.data());
            writer->WriteScans16(traces.data(), n);
            progress.Update(first + n);
        }
        writer->Commit();
        std::cout << "built-in sample survey (seed " << options.seed << "): " << a.traces << " traces x " << a.samples
                  << " samples -> " << out << "\n";
        return 0;
    } catch (const std::exception& e) {
        Report(out, e);
        return 1;
    }
}

int DemoCommand(const std::string& dir, uint32_t seed, const RunSettings& run, PlotOptions plot) {
    const auto start = std::chrono::steady_clock::now();
    try {
        std::vector<Input> inputs;
        inputs.push_back(SampleInput(seed));
        const Input& in = inputs.front();
        const vs::Acquisition& a = in.acquisition;
        const std::string raw = dir + "/demo_raw.DZT", processed = dir + "/demo_processed.DZT",
                          picture = dir + "/demo.png";
        // The demo's own folder is made when missing, as a user expects of -o.
        if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST)
            throw std::runtime_error(dir + ": cannot make the output folder: " + std::strerror(errno));
        for (const std::string& p : {raw, processed, picture}) CheckOutput(p, "");
        std::vector<Step> chain = ParseSteps({"dewow", "sec2:auto", "bgsub:50"});
        ResolveSec2Auto(in, chain, run);
        const Step envelope = ParseStep("envelope:10"), migrate = ParseStep("migrate:velocity=0.1");

        // The raw survey and the processed profile as files.
        {
            vs::Acquisition record = a;
            record.format = vs::Format::kDzt;
            const auto w = vs::SurveyWriter::Create(raw, {record}, WriteSettings());
            w->WriteScans16(in.memory.data(), a.traces);
            w->Commit();
        }
        Outputs files;
        files.survey = processed;
        RunOne(inputs, chain, run, files, "");

        // The picture: raw, processed, and envelope and migration beside it.
        const int panels = 4;
        plot.velocity = migrate.values[0];
        int columns = 0, rows = 0;
        PanelPixels(plot, panels, &columns, &rows);
        const PanelAxes axes = AxesOf(a);
        Panel rawPanel("raw", axes, columns, rows), procPanel("dewow > SEC2 (auto) > background", axes, columns, rows),
            envPanel("+ envelope", axes, columns, rows), migPanel("+ migration (0.1 m/ns)", axes, columns, rows);
        RunSteps(in, chain, run, true, [&](const Block& b) {
            rawPanel.Add(b.channels.front().raw.data(), b.count);
            procPanel.Add(b.channels.front().processed, b.count);
        }, "demo");
        std::vector<Step> withEnvelope = chain, withMigration = chain;
        withEnvelope.push_back(envelope);
        withMigration.push_back(migrate);
        RunSteps(in, withEnvelope, run, false, [&](const Block& b) { envPanel.Add(b.channels.front().processed, b.count); }, "envelope");
        RunSteps(in, withMigration, run, false, [&](const Block& b) { migPanel.Add(b.channels.front().processed, b.count); }, "migration");
        for (Panel* p : {&rawPanel, &procPanel, &envPanel, &migPanel}) p->Finish();
        plot.oneScale = false;  // the migration's output has its own amplitude scale
        plot.title = "vantir3 demo: built-in sample survey (seed " + std::to_string(seed) + ")";
        WritePicture(picture, {&rawPanel, &procPanel, &envPanel, &migPanel}, plot);

        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        std::cout << "vantir3 demo\n"
                  << "  survey    built-in sample survey, seed " << seed << ": " << a.traces << " traces x " << a.samples
                  << " samples, " << Num(a.sampleIntervalNs, 2) << " ns, " << Num(a.antennaFrequencyMHz, 0) << " MHz, "
                  << Num(a.traceSpacingM, 3) << " m spacing\n"
                  << "            (layers, a dipping interface, four buried pipes, direct wave, wow, noise)\n"
                  << "  chain     " << DescribeSteps(chain) << "\n"
                  << "  beside it " << envelope.Describe() << "; " << migrate.Describe() << " (whole section)\n"
                  << "  wrote     " << raw << "  (the raw survey)\n"
                  << "            " << processed << "  (the processed profile)\n"
                  << "            " << picture << "  (" << plot.width << " x " << plot.height
                  << " px: raw | processed | envelope | migrated)\n"
                  << "  time      " << Num(seconds, 2) << " s with " << run.workers << " worker(s)\n"
                  << "  next      vantir3 info " << raw << "\n"
                  << "            vantir3 process " << raw << " -s dewow -s agc:WINDOW=2 --png agc.png --compare\n";
        return 0;
    } catch (const std::exception& e) {
        Report("demo", e);
        return 1;
    }
}

}  // namespace vantir3_cli
