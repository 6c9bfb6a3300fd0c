// The commands of the `vantir3` program. Each returns the exit status:
// 0 success, 1 a file or output failed (the message is on standard error),
// 2 a refused command line (thrown as UsageError).
#ifndef TOOLS_COMMANDS_H_
#define TOOLS_COMMANDS_H_

#include <cstdint>
#include <string>
#include <vector>

#include "tools/plot.h"
#include "tools/synth_survey.h"
#include "vantir3_survey/survey.h"

namespace vantir3_cli {

struct InputOptions {
    vantir3::survey::ReadOptions read;  // facts the user supplies
    int channel = -1;  // the channel to process; every one when negative
};

struct RunSettings {
    int workers = 1;
    int64_t blockTraces = 0;             // 0: about 256 KiB of samples per block
    int64_t sectionLimit = int64_t{1} << 23;  // samples of a whole-section step
};

struct ProcessRequest {
    std::vector<std::string> files;
    std::vector<std::string> steps;
    std::string output;      // -o: one output file
    std::string outputDir;   // -O: one output per input, same name
    std::string outputFormat;  // --format: the extension of -O's outputs (empty: each input's)
    std::string picture;     // --png
    bool compare = false;    // raw and processed side by side
    InputOptions input;
    RunSettings run;
    PlotOptions plot;
    bool velocityGiven = false;
};

// Acquisition facts as text, as JSON, or (traces) as a table with a row per
// trace (CSV).
int InfoCommand(const std::vector<std::string>& files, const InputOptions& input, bool json, bool traces);
int ProcessCommand(ProcessRequest request);
int PlotCommand(const std::string& file, std::string picture, ProcessRequest request);
// files: an input and its output, or with outputDir the inputs (patterns),
// each written there under its own stem in outputFormat.
struct ConvertRequest {
    std::vector<std::string> files;
    std::string outputDir, outputFormat;
    InputOptions input;
};
int ConvertCommand(const ConvertRequest& request);
int ListCommand();
int SynthCommand(const std::string& out, const SynthOptions& options);
int DemoCommand(const std::string& dir, uint32_t seed, const RunSettings& run, PlotOptions plot);

}  // namespace vantir3_cli

#endif  // TOOLS_COMMANDS_H_
