#include "tools/cli_steps.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <utility>

#include "tools/owned_buffer.h"
#include "tools/synth_survey.h"

namespace vantir3_cli {

namespace {

struct StepDef {
    const char* names;  // friendly names, "|" separated; the first is shown
    const char* code;   // the library's code
    StepKind kind;
    const char* hostDeclaration;  // operations the library declares no parameters for
};

// Declarations of the program's own operations, in the library's nine-line
// declaration format, so that one parser checks every value.
const StepDef kSteps[] = {
    {"dewow", "DEWOW@", StepKind::kProcess, nullptr},
    {"sec2|sec|sec2gain", "SECCGN", StepKind::kProcess, nullptr},
    {"agc", "AGC@@@", StepKind::kProcess, nullptr},
    {"dvl", "DVLGN@", StepKind::kProcess, nullptr},
    {"const|gain", "CONST@", StepKind::kProcess, nullptr},
    {"bgsub|background", "BGSUB@", StepKind::kBackground,
     "D\nWINDOW=10\n10\n2\n32767\n1\n10;20;50;100\nWindow Width\nSpecifies the width in traces used to "
     "compute the average signal for background subtraction."},
    {"envelope|env", "ENVLP@", StepKind::kEnvelope,
     "D\nWINDOW=10\n10\n0\n1001\n1\n4;10;20\nWindow\nWidth in samples of the Hilbert filter whose "
     "output, with the trace, gives the amplitude envelope."},
    {"migrate|migration", "MIGRAT", StepKind::kMigrate,
     "D\nVELOC@=0.100\n0.100\n0.010\n0.300\n0.001\n0.080;0.100;0.120\nVelocity\nPropagation velocity in "
     "the ground (m/ns) of the constant-velocity migration."},
    {"deseparate|desep", "ANDSEP", StepKind::kDeseparate, nullptr},
    {"topo|toposhift", "COMBSH", StepKind::kTopo, nullptr},
};

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}
std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}
std::string Trim(const std::string& s) {
    const size_t a = s.find_first_not_of(" \t");
    if (a == std::string::npos) return "";
    return s.substr(a, s.find_last_not_of(" \t") - a + 1);
}
std::vector<std::string> Split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(s);
    while (std::getline(in, part, sep)) parts.push_back(part);
    if (!s.empty() && s.back() == sep) parts.push_back("");
    return parts;
}
std::string FirstName(const StepDef& def) { return Split(def.names, '|').front(); }

// The shared toolbox for declarations (the command line is parsed on one thread).
CCdpProcessToolbox& Toolbox() {
    static CCdpProcessToolbox toolbox;
    return toolbox;
}

const StepDef* FindStep(const std::string& name) {
    const std::string lower = Lower(name);
    std::string code = Upper(name);
    if (code.size() < 6) code.append(6 - code.size(), '@');
    for (const StepDef& def : kSteps) {
        for (const std::string& n : Split(def.names, '|'))
            if (n == lower) return &def;
        if (code == def.code) return &def;
    }
    return nullptr;
}

// A parameter declaration as CDeclarationParam takes it: nine lines (a
// trailing units line is kept apart).
struct Declaration {
    CDeclarationParam param;
    std::string code, units;
};

std::vector<Declaration> Declarations(const StepDef& def) {
    std::vector<std::string> texts;
    if (def.hostDeclaration != nullptr) {
        texts.push_back(def.hostDeclaration);
    } else {
        const uint32_t uid = KOL::Str2UID(def.code);
        for (unsigned i = 0; i < Toolbox().GetDeclarationParamCount(uid); ++i)
            texts.push_back(Toolbox().GetDeclaration(uid, static_cast<int>(i)));
    }
    std::vector<Declaration> out;
    for (const std::string& text : texts) {
        std::vector<std::string> lines = Split(text, '\n');
        Declaration d;
        if (lines.size() > 9) {
            d.units = lines[9];
            lines.resize(9);
        }
        std::string nine;
        for (size_t i = 0; i < lines.size(); ++i) nine += (i ? "\n" : "") + lines[i];
        d.param.SetDefStr(nine.c_str());
        const char* code = d.param.Get(CDeclarationParam::PS_CODE);
        d.code = code != nullptr ? std::string(code, std::strlen(code) - 1) : "";
        out.push_back(std::move(d));
    }
    return out;
}

std::string Line(CDeclarationParam& p, CDeclarationParam::EParamSpec which) {
    const char* s = p.Get(which);
    return s != nullptr ? s : "";
}

// A declaration's range as text: "1 to 32767"; a limit at the end of the
// double range (a datum's) is no limit, and is said so rather than printed
// in its 300 digits.
std::string Range(Declaration& d) {
    const std::string lo = Line(d.param, CDeclarationParam::PS_MIN), hi = Line(d.param, CDeclarationParam::PS_MAX);
    const bool noLo = !(std::strtod(lo.c_str(), nullptr) > -1e300), noHi = !(std::strtod(hi.c_str(), nullptr) < 1e300);
    if (noLo && noHi) return "any value";
    if (noLo) return "at most " + hi;
    if (noHi) return "at least " + lo;
    return lo + " to " + hi;
}

// "Maximum Gain (MAXGN@) takes 1 to 32767 at a resolution of 1"
std::string Bounds(Declaration& d) {
    return Line(d.param, CDeclarationParam::PS_LABEL) + " (" + d.code + ") takes " + Range(d) +
           " at a resolution of " + Line(d.param, CDeclarationParam::PS_RESOLUTION) +
           (d.units.empty() || d.units == "NA" ? "" : " " + d.units);
}

// The declaration a key names: its code (padding "@" optional, a longer word
// starting with the code as "velocity" for VELOC@) or its label.
Declaration* FindParam(std::vector<Declaration>& decls, const std::string& key) {
    const std::string k = Upper(key);
    for (Declaration& d : decls) {
        std::string code = d.code;
        code.erase(code.find_last_not_of('@') + 1);
        if (k == d.code || k == code || (k.size() > code.size() && k.compare(0, code.size(), code) == 0) ||
            Lower(key) == Lower(Line(d.param, CDeclarationParam::PS_LABEL)))
            return &d;
    }
    return nullptr;
}

bool IsNumber(const std::string& s) {
    if (s.empty()) return false;
    char* end = nullptr;
    std::strtod(s.c_str(), &end);
    return end != nullptr && *end == '\0' && std::isfinite(std::strtod(s.c_str(), nullptr));
}

}  // namespace

Step ParseStep(const std::string& text) {
    const size_t colon = text.find(':');
    const std::string name = Trim(text.substr(0, colon));
    const StepDef* def = FindStep(name);
    if (def == nullptr) {
        std::string known;
        for (const StepDef& d : kSteps) known += (known.empty() ? "" : ", ") + FirstName(d);
        throw UsageError("unknown step '" + name + "' (known: " + known +
                         ", or a process code; see 'vantir3 list')");
    }
    Step step;
    step.text = text;
    step.name = FirstName(*def);
    step.kind = def->kind;
    step.uid = KOL::Str2UID(def->code);
    std::vector<Declaration> decls = Declarations(*def);
    const std::string where = "step '" + text + "': ";
    std::vector<std::string> lines;
    if (colon != std::string::npos) {
        for (const std::string& raw : Split(text.substr(colon + 1), ',')) {
            const std::string item = Trim(raw);
            if (Lower(item) == "auto") {
                if (step.uid != KOL::Str2UID("SECCGN"))
                    throw UsageError(where + "only the SEC2 gain has an automatic set-up");
                step.sec2Auto = true;
                continue;
            }
            const size_t eq = item.find('=');
            Declaration* d = eq == std::string::npos ? (decls.empty() ? nullptr : &decls.front())
                                                     : FindParam(decls, Trim(item.substr(0, eq)));
            if (d == nullptr) {
                std::string codes;
                for (const Declaration& x : decls) codes += (codes.empty() ? "" : ", ") + x.code;
                throw UsageError(where + (eq == std::string::npos ? "takes no value"
                                                                  : "no parameter '" + Trim(item.substr(0, eq)) + "'") +
                                 (codes.empty() ? "" : " (parameters: " + codes + ")"));
            }
            const std::string value = Trim(eq == std::string::npos ? item : item.substr(eq + 1));
            if (!IsNumber(value)) throw UsageError(where + d->code + " value '" + value + "' is not a number");
            if (d->param.SetVal(value.c_str()) != 1)
                throw UsageError(where + d->code + "=" + value + " refused: " + Bounds(*d));
            if (def->hostDeclaration == nullptr) {
                // The process's own parser also checks the resolution grid.
                CCdpProcess* p = Toolbox().GetProcess(step.uid);
                const int status = p->SetParams((d->code + "=" + value).c_str());
                Toolbox().ReleaseProcess(p);
                if (status != 0) throw UsageError(where + d->code + "=" + value + " refused: " + Bounds(*d));
            }
            const size_t index = static_cast<size_t>(d - decls.data());
            if (step.kind == StepKind::kProcess) {
                lines.push_back(d->code + "=" + value);
            } else if (index < 2) {
                step.values[index] = std::atof(d->param.GetVal(false));
                step.valueGiven[index] = true;
            }
        }
    }
    if (step.sec2Auto && !lines.empty()) throw UsageError(where + "auto takes no other parameters");
    for (size_t i = 0; i < lines.size(); ++i) step.params += (i ? "\n" : "") + lines[i];
    // Operations without a given value take their declared default.
    for (size_t i = 0; i < 2 && i < decls.size(); ++i) {
        if (!step.valueGiven[i]) step.values[i] = std::atof(Line(decls[i].param, CDeclarationParam::PS_DEFAULT).c_str());
    }
    return step;
}

std::vector<Step> ParseSteps(const std::vector<std::string>& texts) {
    std::vector<Step> steps;
    for (const std::string& t : texts) steps.push_back(ParseStep(t));
    return steps;
}

std::string Step::Describe() const {
    std::ostringstream s;
    s << name;
    char buf[64];
    switch (kind) {
    case StepKind::kProcess: {
        if (sec2Auto) s << " auto";
        for (const std::string& l : Split(params, '\n')) s << " " << l;
        break;
    }
    case StepKind::kBackground:
    case StepKind::kEnvelope:
        std::snprintf(buf, sizeof buf, " %.0f", values[0]);
        s << buf;
        break;
    case StepKind::kMigrate:
    case StepKind::kDeseparate:
        std::snprintf(buf, sizeof buf, " v=%.3f", values[0]);
        s << buf;
        break;
    case StepKind::kTopo:
        std::snprintf(buf, sizeof buf, " v=%.3f", values[0]);
        s << buf;
        if (valueGiven[1]) {
            std::snprintf(buf, sizeof buf, " datum=%.3f", values[1]);
            s << buf;
        }
        break;
    }
    return s.str();
}

std::string DescribeSteps(const std::vector<Step>& steps) {
    std::string s;
    for (const Step& step : steps) s += (s.empty() ? "" : " > ") + step.Describe();
    return s.empty() ? "raw" : s;
}

double StepsVelocity(const std::vector<Step>& steps, double fallback) {
    for (const Step& s : steps)
        if (s.kind == StepKind::kMigrate || s.kind == StepKind::kDeseparate || s.kind == StepKind::kTopo)
            return s.values[0];
    return fallback;
}

namespace {

void Wrap(std::ostringstream& out, const std::string& text, size_t indent) {
    const size_t width = 78;
    size_t col = indent;
    out << std::string(indent, ' ');
    for (const std::string& word : Split(text, ' ')) {
        if (word.empty()) continue;
        if (col > indent && col + 1 + word.size() > width) {
            out << "\n" << std::string(indent, ' ');
            col = indent;
        } else if (col > indent) {
            out << ' ';
            ++col;
        }
        out << word;
        col += word.size();
    }
    out << "\n";
}

void ListParams(std::ostringstream& out, const StepDef& def, size_t indent) {
    for (Declaration& d : Declarations(def)) {
        std::string line = d.code + "  " + Line(d.param, CDeclarationParam::PS_LABEL) + ": default " +
                           Line(d.param, CDeclarationParam::PS_DEFAULT) + ", " + Range(d) + ", resolution " +
                           Line(d.param, CDeclarationParam::PS_RESOLUTION);
        if (!d.units.empty() && d.units != "NA") line += ", in " + d.units;
        const std::string list = Line(d.param, CDeclarationParam::PS_LIST);
        if (!list.empty()) line += ", suggested " + list;
        if (line.size() > 200) line = line.substr(0, 200) + "...";
        Wrap(out, line, indent);
        Wrap(out, Line(d.param, CDeclarationParam::PS_DESCRIPTION), indent + 4);
    }
}

std::string StepNames(const StepDef& def) {
    std::string names = def.names;
    std::replace(names.begin(), names.end(), '|', ',');
    return names;
}

}  // namespace

std::string CatalogueText() {
    std::ostringstream out;
    std::vector<CCdpProcessToolbox::SProcessTypeDef> rows;
    Toolbox().GetProcessTypeDefArray(rows);
    out << "Processes of the library's catalogue (step: NAME[:CODE=value,...]):\n\n";
    for (const auto& row : rows) {
        const size_t indent = 2 * row.level;
        if (row.kind == 0) {
            Wrap(out, row.name + (row.description.empty() ? "" : " - " + row.description), indent);
            continue;
        }
        const StepDef* def = nullptr;
        for (const StepDef& d : kSteps)
            if (KOL::Str2UID(d.code) == row.uid) def = &d;
        std::string head = row.name;
        if (def != nullptr) head += "  [step: " + StepNames(*def) + ", code " + def->code + "]";
        Wrap(out, head, indent);
        Wrap(out, row.description, indent + 4);
        if (def != nullptr) ListParams(out, *def, indent + 4);
    }
    out << "\nOperations of the program (toolbox entry points, run on the chain's output):\n\n";
    for (const StepDef& d : kSteps) {
        if (d.hostDeclaration == nullptr) continue;
        Wrap(out, FirstName(d) + "  [step: " + StepNames(d) + "]" +
                      (d.kind == StepKind::kBackground || d.kind == StepKind::kMigrate
                           ? " - needs the whole section in memory" : ""), 2);
        ListParams(out, d, 6);
    }
    out << "\nDeSeparate and Topo shift run through their entry points on transposed traces;\n"
           "topo needs trace elevations (datum default: the highest elevation).\n"
           "sec2:auto sets the SEC2 gain from the data (automatic set-up).\n";
    return out.str();
}

// ---- pipeline ----------------------------------------------------------------

struct Pipeline::Stage {
    const Step* op = nullptr;              // an entry-point operation, or
    std::unique_ptr<MemorySource> input;   // a chain: over the previous stage's traces,
    std::unique_ptr<CProcessChain> chain;  // or over the raw source when input is null
    std::string names;
};

namespace {

// A view with axes 0 and 1 exchanged, sharing the storage.
struct Transposed {
    MeboDataPtr b;
    explicit Transposed(const MeboDataPtr& of) {
        MeboDataPtrClear(&b);
        MeboDataPtrShare(&b, &of);
        MeboDataPtrSwapAxes(&b, 0, 1);
    }
    ~Transposed() { MeboDataPtrRelease(&b); }
};

}  // namespace

void CopyTraces(const MeboDataPtr& in, std::vector<int16_t>& out) {
    const Mebo3DDataAxis& a = in.axis;
    const int64_t samples = int64_t{a.dim[0].max} - a.dim[0].min + 1;
    const int64_t traces = int64_t{a.dim[1].max} - a.dim[1].min + 1;
    out.resize(static_cast<size_t>(samples * traces));
    int16_t* dst = out.data();
    for (int64_t t = 0; t < traces; ++t) {
        const uint8_t* p = a.base + t * a.dim[1].stride;
        if (a.dim[0].stride == 2) {
            std::memcpy(dst, p, static_cast<size_t>(samples) * 2);
            dst += samples;
        } else {
            for (int64_t i = 0; i < samples; ++i, p += a.dim[0].stride) std::memcpy(dst++, p, 2);
        }
    }
}

const int16_t* TraceSamples(const MeboDataPtr& in, std::vector<int16_t>& copy) {
    const Mebo3DDataAxis& a = in.axis;
    const int64_t samples = int64_t{a.dim[0].max} - a.dim[0].min + 1;
    if (a.elemSize == 2 && a.dim[0].stride == 2 && (a.dim[1].max == a.dim[1].min || a.dim[1].stride == 2 * samples))
        return reinterpret_cast<const int16_t*>(a.base);
    CopyTraces(in, copy);
    return copy.data();
}

std::vector<int32_t> ChannelsTaken(const vantir3::survey::SurveyFile& f, int32_t channel) {
    if (channel >= 0) {
        f.acquisition(channel);  // throws for a channel that does not exist
        return {channel};
    }
    std::vector<int32_t> all;
    for (int32_t c = 0; c < f.channelCount(); ++c) all.push_back(c);
    return all;
}

vantir3::survey::Acquisition OutputRecord(const vantir3::survey::Acquisition& a, int32_t k, int32_t n) {
    vantir3::survey::Acquisition out = a;
    out.channelCount = n;
    out.channel = k;
    return out;
}

std::unique_ptr<vantir3::survey::SurveyWriter> CreateWriter(const std::string& path,
                                                            const std::vector<vantir3::survey::Acquisition>& records,
                                                            const vantir3::survey::WriteOptions& options,
                                                            const std::string& hint) {
    try {
        return vantir3::survey::SurveyWriter::Create(path, records, options);
    } catch (const vantir3::survey::SurveyError& e) {
        if (records.size() == 1 || e.field() != "channels") throw;
        throw vantir3::survey::SurveyError(e.file(), e.field(), e.detail() + "; " + hint, e.offset());
    }
}

void PutChannel(const void* traces, int64_t count, size_t traceBytes, int32_t channel, int32_t channels, void* scans) {
    const auto* in = static_cast<const uint8_t*>(traces);
    auto* out = static_cast<uint8_t*>(scans) + static_cast<size_t>(channel) * traceBytes;
    const size_t scanBytes = static_cast<size_t>(channels) * traceBytes;
    for (int64_t t = 0; t < count; ++t, in += traceBytes, out += scanBytes) std::memcpy(out, in, traceBytes);
}

void CheckStepFacts(const std::vector<Step>& steps, const vantir3::survey::Acquisition& acquisition,
                    const FactOptions& options) {
    const ICdpDataSource::SEGprParam gpr = acquisition.GprParam();
    for (const Step& step : steps) {
        auto lacks = [&](const std::string& fact, const char* option) {
            return std::runtime_error("step '" + step.text + "': needs the " + fact +
                                      ", which the file does not give (give it with " + option + ")");
        };
        // Every step but the background subtraction and the envelope works in
        // time; the dewow, AGC and SEC2 windows in transmit pulse widths.
        if (step.kind != StepKind::kBackground && step.kind != StepKind::kEnvelope && !(gpr.sampleInterval > 0.0))
            throw lacks("sample interval", options.sampleInterval);
        const bool pulseWidths = step.uid == KOL::Str2UID("DEWOW@") || step.uid == KOL::Str2UID("SECCGN") ||
                                 step.uid == KOL::Str2UID("AGC@@@");
        if (pulseWidths && !(gpr.antennaFrequency > 0.0)) throw lacks("antenna frequency", options.frequency);
        if (step.kind == StepKind::kMigrate && !(acquisition.traceSpacingM > 0.0))
            throw lacks("trace spacing", options.spacing);
        if ((step.kind == StepKind::kDeseparate || step.kind == StepKind::kTopo) && !std::isfinite(gpr.antennaSeparation))
            throw lacks("antenna separation", options.separation);
        if (step.kind == StepKind::kTopo) {
            // (A GPS log may give fixes for some traces only.)
            const auto& z = acquisition.elevationsM;
            const int64_t known = std::count_if(z.begin(), z.end(), [](double v) { return std::isfinite(v); });
            if (z.size() != static_cast<size_t>(acquisition.traces) || known < acquisition.traces)
                throw std::runtime_error("step '" + step.text + "': needs an elevation for every trace, which the file does not give" +
                                         (known > 0 ? " (it gives " + std::to_string(known) + " of " +
                                                          std::to_string(acquisition.traces) + ")"
                                                    : std::string()));
        }
    }
}

Pipeline::Pipeline(const ICdpDataSource& raw, const std::vector<Step>& steps,
                   const vantir3::survey::Acquisition& acquisition)
    : raw_(raw), acquisition_(acquisition) {
    const ICdpDataSource::SEGprParam& gpr = *raw.GprParamPtr();
    for (const Step& step : steps) {
        const std::string where = "step '" + step.text + "': ";
        if (step.kind == StepKind::kProcess) {
            if (stages_.empty() || stages_.back()->op != nullptr) {
                auto stage = std::make_unique<Stage>();
                if (!stages_.empty()) stage->input = std::make_unique<MemorySource>(gpr, acquisition.samples);
                stage->chain = std::make_unique<CProcessChain>(stage->input ? stage->input.get() : &raw);
                stages_.push_back(std::move(stage));
            }
            Stage& s = *stages_.back();
            if (!s.chain->AddProcess(step.uid, -1, false)) throw std::runtime_error(where + "the library refused the process");
            const int status = s.chain->GetProcessPtr(s.chain->Size() - 1)->SetParams(step.params.c_str());
            if (status != 0) throw std::runtime_error(where + "parameters refused by the process");
            s.names += (s.names.empty() ? "" : ", ") + step.name;
            continue;
        }
        auto stage = std::make_unique<Stage>();
        stage->op = &step;
        stage->names = step.name;
        stages_.push_back(std::move(stage));
    }
}

Pipeline::~Pipeline() = default;

void Pipeline::Fail(const std::string& what, int status) const {
    const auto* file = dynamic_cast<const vantir3::survey::FileSource*>(&raw_);
    if (file != nullptr && !file->lastError().empty()) throw std::runtime_error(file->lastError());
    throw std::runtime_error(what + " failed (library status " + std::to_string(status) + ")");
}

void Pipeline::RunOperation(const Step& step, MeboDataPtr& out, MeboDataPtr& in, int64_t first, int64_t count) {
    const ICdpDataSource::SEGprParam& g = *raw_.GprParamPtr();
    int status = 0;
    switch (step.kind) {
    case StepKind::kBackground:
        status = CCdpProcessToolbox::CdpBackgroundSubtract(out, in, nullptr, static_cast<int>(step.values[0]));
        break;
    case StepKind::kEnvelope: {
        SCDPPrc_DataStatsMode stats;
        SCDPPrc_InitStats(&stats);
        stats.mode = STATS_MINMAX;
        status = CCdpProcessToolbox::CdpEnvelope(out, in, stats, static_cast<int>(step.values[0]));
        break;
    }
    case StepKind::kMigrate:
        status = CCdpProcessToolbox::CdpMigrate(out, in, step.values[0], std::max(0.0, g.timeZeroSample - 1.0),
                                                acquisition_.traceSpacingM, g.sampleInterval);
        break;
    case StepKind::kDeseparate: {
        Transposed o(out), i(in);
        status = CCdpProcessToolbox::CdpDeseparate(o.b, i.b, step.values[0], g.antennaSeparation,
                                                   g.timeZeroSample, g.sampleInterval);
        break;
    }
    case StepKind::kTopo: {
        OwnedBuffer elevation;
        const int32_t lo = static_cast<int32_t>(first), hi = static_cast<int32_t>(first + count - 1);
        if (!MeboDataPtrAllocate(&elevation.b, sizeof(double), lo, hi, 0, 0, 0, 0, 0)) Fail("elevations", -1);
        std::memcpy(elevation.b.storage->data, acquisition_.elevationsM.data() + first, static_cast<size_t>(count) * sizeof(double));
        const double datum = step.valueGiven[1]
                                 ? step.values[1]
                                 : *std::max_element(acquisition_.elevationsM.begin(), acquisition_.elevationsM.end());
        Transposed o(out), i(in);
        status = CCdpProcessToolbox::CdpComboShift(o.b, i.b, elevation.b, step.values[0], datum, 0.0,
                                                   g.antennaSeparation, g.timeZeroSample, g.sampleInterval);
        break;
    }
    case StepKind::kProcess:
        break;
    }
    if (status < 0) Fail("step '" + step.text + "'", status);
}

void Pipeline::Run(int64_t first, int64_t count, std::vector<int16_t>& out, std::vector<int16_t>* raw) {
    OwnedBuffer result;
    Run(first, count, result.b, raw);
    CopyTraces(result.b, out);
}

void Pipeline::Run(int64_t first, int64_t count, MeboDataPtr& out, std::vector<int16_t>* raw) {
    MeboDataPtrRelease(&out);  // before the steps allocate theirs
    Mebo3DDataAxis region;
    if (!raw_.GetAvailableRange(&region, 0)) Fail("reading the source", -1);
    region.dim[1].min = static_cast<int32_t>(first);
    region.dim[1].max = static_cast<int32_t>(first + count - 1);
    OwnedBuffer cur;
    bool have = false;
    std::vector<int16_t> hold;
    for (const auto& stage : stages_) {
        MeboDataPtr next;
        MeboDataPtrClear(&next);
        if (stage->chain) {
            if (stage->input) {
                CopyTraces(cur.b, hold);
                stage->input->SetTraces(hold.data(), first, count);
            }
            const int status = stage->chain->ResultData()->GetDataCdp(next, &region, this);
            if (status < 0) {
                MeboDataPtrRelease(&next);
                Fail("steps " + stage->names, status);
            }
        } else {
            if (!have) {
                const int status = raw_.GetDataCdp(cur.b, &region, this);
                if (status < 0) Fail("reading traces", status);
            }
            const MeboAxisDim* d = cur.b.axis.dim;
            if (!MeboDataPtrAllocate(&next, 2, d[0].min, d[0].max, d[1].min, d[1].max, d[2].min, d[2].max, 1))
                Fail("step '" + stage->op->text + "' (memory)", -1);
            RunOperation(*stage->op, next, cur.b, first, count);
        }
        cur.Take(next);
        have = true;
    }
    if (!have) {
        const int status = raw_.GetDataCdp(cur.b, &region, this);
        if (status < 0) Fail("reading traces", status);
    }
    std::swap(out, cur.b);
    if (raw != nullptr) {
        OwnedBuffer r;
        const int status = raw_.GetDataCdp(r.b, &region, this);
        if (status < 0) Fail("reading traces", status);
        CopyTraces(r.b, *raw);
    }
}

}  // namespace vantir3_cli
