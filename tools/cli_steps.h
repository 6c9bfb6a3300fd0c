// Processing steps of the command line: parsing "NAME[:ARGS]" texts into
// checked steps (values checked against the library's own declarations), the
// catalogue listing, and the per-worker pipeline that runs the steps over one
// block of traces.
//
// Library processes (gains, dewow) run through a CProcessChain over the
// worker's source. The other operations run through the toolbox's entry
// points on the chain's output: background subtraction, envelope, migration,
// and antenna deseparation and topographic shift (these two resample along
// the buffer's axis 1, so they get transposed views of the traces).
#ifndef TOOLS_CLI_STEPS_H_
#define TOOLS_CLI_STEPS_H_

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "vantir3/vantir3.h"
#include "vantir3_survey/survey.h"

namespace vantir3_cli {

// A refused command line (unknown step, refused value): exit status 2.
class UsageError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The SEC2 automatic set-up's choices for a "sec2:auto" step: maximum gain
// from half the overall peak over the deepest quarter of the trace, a flat
// gained peak curve, a search step of 0.1 dB/m, peaks at 50 % (after the
// first pulse) and 80 % (overall) of full scale.
constexpr double kAutoMaxGainSpec = 0.5, kAutoTailFraction = 0.25, kAutoTargetSlope = 0.0,
                 kAutoAttenuationStep = 0.1;
constexpr unsigned kAutoPulsePeakPercent = 50, kAutoOverallPeakPercent = 80;

enum class StepKind { kProcess, kBackground, kEnvelope, kMigrate, kDeseparate, kTopo };

struct Step {
    std::string text;  // as the user gave it
    std::string name;  // friendly name ("dewow")
    StepKind kind = StepKind::kProcess;
    uint32_t uid = 0;      // the library code's identifier
    std::string params;    // library processes: the parameter string
    bool sec2Auto = false; // SEC2 parameters from the automatic set-up
    double values[2] = {0.0, 0.0};  // the operations' values (window, velocity, datum)
    bool valueGiven[2] = {false, false};

    // Background subtraction and migration need every trace of the section
    // at once; the others work trace by trace.
    bool WholeSection() const { return kind == StepKind::kBackground || kind == StepKind::kMigrate; }
    // Short text for titles and summaries, e.g. "agc WINDOW=2.0 MAXGN@=200".
    std::string Describe() const;
};

// Parses one step text; throws UsageError naming the step and, for a refused
// value, the parameter with its bounds and resolution.
Step ParseStep(const std::string& text);
std::vector<Step> ParseSteps(const std::vector<std::string>& texts);
std::string DescribeSteps(const std::vector<Step>& steps);

// The velocity (m/ns) the steps use for depth, or `fallback`.
double StepsVelocity(const std::vector<Step>& steps, double fallback);

// How a host lets its user give each fact a file may lack, for messages.
struct FactOptions {
    const char* sampleInterval = "--sample-interval";
    const char* frequency = "--frequency";
    const char* spacing = "--spacing";
    const char* separation = "--separation";
};

// Throws std::runtime_error naming the step when the acquisition lacks a
// fact that a step needs (sample interval, antenna frequency or separation,
// trace spacing, elevations), and how to give it.
void CheckStepFacts(const std::vector<Step>& steps, const vantir3::survey::Acquisition& acquisition,
                    const FactOptions& options = FactOptions());

// The catalogue: categories, processes, parameters, and the program's
// operations, as text for `vantir3 list`.
std::string CatalogueText();

// Runs the steps over blocks of traces of one source. One object per worker
// thread (the library objects inside are used by one thread only).
class Pipeline {
public:
    // acquisition: the facts of the source's channel (trace spacing for
    // migration, elevations for the topographic shift); it must outlive the
    // pipeline, and to hold what CheckStepFacts asks for.
    Pipeline(const ICdpDataSource& raw, const std::vector<Step>& steps,
             const vantir3::survey::Acquisition& acquisition);
    ~Pipeline();
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    // Traces [first, first + count) after every step into out (the last
    // step's own buffer, not a copy; TraceSamples reads it); the raw traces
    // into raw when it is not null. Throws std::runtime_error naming the step
    // that failed.
    void Run(int64_t first, int64_t count, MeboDataPtr& out, std::vector<int16_t>* raw);
    // The same, copied trace after trace into out.
    void Run(int64_t first, int64_t count, std::vector<int16_t>& out, std::vector<int16_t>* raw);

private:
    struct Stage;
    void RunOperation(const Step& step, MeboDataPtr& out, MeboDataPtr& in, int64_t first, int64_t count);
    [[noreturn]] void Fail(const std::string& what, int status) const;

    const ICdpDataSource& raw_;
    const vantir3::survey::Acquisition& acquisition_;
    std::vector<std::unique_ptr<Stage>> stages_;
};

// Copies the samples of a buffer (any strides) trace after trace into out.
void CopyTraces(const MeboDataPtr& in, std::vector<int16_t>& out);
// The samples of a buffer trace after trace: in the buffer itself when they
// lie so there, else copied into `copy`.
const int16_t* TraceSamples(const MeboDataPtr& in, std::vector<int16_t>& copy);

// The channels of a file that a run takes: the one asked for (SurveyError
// when the file has no such channel), or every one (channel < 0).
std::vector<int32_t> ChannelsTaken(const vantir3::survey::SurveyFile& f, int32_t channel);
// The acquisition record a channel is written with: channel k of the n
// written.
vantir3::survey::Acquisition OutputRecord(const vantir3::survey::Acquisition& a, int32_t k, int32_t n);
// A writer of the records; where they are several channels and the format
// holds one, the refusal (a SurveyError) ends with `hint`, how the caller
// takes one channel.
std::unique_ptr<vantir3::survey::SurveyWriter> CreateWriter(const std::string& path,
                                                            const std::vector<vantir3::survey::Acquisition>& records,
                                                            const vantir3::survey::WriteOptions& options,
                                                            const std::string& hint);

// Puts one channel's traces (count traces of traceBytes bytes, trace after
// trace) at their places in scans of `channels` channels, laid out as a
// multi-channel file holds them: scan after scan, each scan the channels'
// traces in channel order.
void PutChannel(const void* traces, int64_t count, size_t traceBytes, int32_t channel, int32_t channels, void* scans);

}  // namespace vantir3_cli

#endif  // TOOLS_CLI_STEPS_H_
