// vantir3: survey files in, processed profiles and pictures out.
//
//   vantir3 demo [-o DIR]
//   vantir3 info FILE... [--json | --traces]
//   vantir3 process FILE... -s STEP [-s STEP ...] [-o OUT | -O DIR [--format EXT]] [--png PICTURE] [--channel N] [-j N]
//   vantir3 convert IN OUT | FILE... -O DIR --format EXT [--channel N]
//   vantir3 plot FILE [-o PICTURE] [--channel N]
//   vantir3 list
//   vantir3 synth -o FILE
//
// Exit status: 0 success, 1 a file or output failed, 2 a refused command line.
#include <CLI/CLI.hpp>

#include <cmath>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "tools/cli_steps.h"
#include "tools/commands.h"

namespace {

using namespace vantir3_cli;

// A finite number above zero (or from zero): what a survey's interval,
// frequency, separation or spacing can be.
CLI::Validator FiniteFrom(bool zeroAllowed) {
    const std::string what = zeroAllowed ? "zero or a positive number" : "a positive number";
    return CLI::Validator(
        [zeroAllowed, what](std::string& text) {
            double v = 0.0;
            const bool read = CLI::detail::lexical_cast(text, v);
            if (read && std::isfinite(v) && (v > 0.0 || (zeroAllowed && v == 0.0))) return std::string();
            return text + " is not " + what;
        },
        zeroAllowed ? "NONNEGATIVE" : "POSITIVE");
}

void AddReadOptions(CLI::App* cmd, InputOptions& in) {
    cmd->add_option("--sample-interval", in.read.sampleIntervalNs, "Sample interval in ns (overrides the file's)")
        ->check(FiniteFrom(false));
    cmd->add_option("--frequency", in.read.antennaFrequencyMHz, "Antenna frequency in MHz (overrides the file's)")
        ->check(FiniteFrom(false));
    cmd->add_option("--separation", in.read.antennaSeparationM, "Antenna separation in m (overrides the file's)")
        ->check(FiniteFrom(true));
    cmd->add_option("--spacing", in.read.traceSpacingM, "Trace spacing in m (overrides the file's)")
        ->check(FiniteFrom(false));
}

void AddRunOptions(CLI::App* cmd, RunSettings& run) {
    cmd->add_option("-j,--jobs", run.workers, "Worker threads (default: all cores)")->check(CLI::Range(1, 256));
    cmd->add_option("--block-traces", run.blockTraces, "Traces per block (default: about 256 KiB of samples)")
        ->check(CLI::Range(int64_t{1}, int64_t{1} << 30));
    cmd->add_option("--section-limit", run.sectionLimit,
                    "Most samples (traces x samples) a whole-section step (bgsub, migrate) may hold")
        ->check(CLI::Range(int64_t{1}, int64_t{1} << 30));
}

void AddPlotOptions(CLI::App* cmd, PlotOptions& plot, bool* velocityGiven) {
    cmd->add_option("--width", plot.width, "Picture width in pixels")->check(CLI::Range(200, 20000));
    cmd->add_option("--height", plot.height, "Picture height in pixels")->check(CLI::Range(150, 20000));
    cmd->add_option("--metres-per-pixel", plot.metresPerPixel, "Horizontal scale; sets the width")
        ->check(CLI::PositiveNumber);
    cmd->add_option("--clip", plot.clipPercentile, "Clip at this percentile of |amplitude|")->check(CLI::Range(1.0, 100.0));
    cmd->add_option("--colours", plot.colourMap, "Colour map")->check(CLI::IsMember({"gray", "diverging"}));
    auto* v = cmd->add_option("--velocity", plot.velocity, "Velocity (m/ns) for the depth axis (default: the steps', else 0.1)")
                  ->check(CLI::Range(0.001, 0.3));
    if (velocityGiven != nullptr) v->each([velocityGiven](const std::string&) { *velocityGiven = true; });
    cmd->add_option("--title", plot.title, "Picture title (default: file and steps)");
}

// A unique prefix of a command name stands for the command.
void ExpandCommandPrefix(CLI::App& app, std::vector<std::string>& args) {
    if (args.empty() || args[0].empty() || args[0][0] == '-') return;
    std::string match;
    int matches = 0;
    for (const CLI::App* sub : app.get_subcommands({})) {
        if (sub->get_name() == args[0]) return;
        if (sub->get_name().compare(0, args[0].size(), args[0]) == 0) {
            match = sub->get_name();
            ++matches;
        }
    }
    if (matches == 1) args[0] = match;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"vantir3: ground-penetrating-radar survey files processed with the VANTIR3 library.\n"
                 "Exit status: 0 success, 1 a file or output failed, 2 a refused command line."};
    app.name("vantir3");
    app.set_version_flag("--version", "vantir3 0.1.0");
    app.require_subcommand(1);

    const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    InputOptions input;
    RunSettings run;
    run.workers = cores;
    ProcessRequest req;
    req.run.workers = cores;
    bool json = false;
    bool traceTable = false;
    std::vector<std::string> files;
    std::string out = ".", picture;
    uint32_t seed = 1;
    PlotOptions demoPlot;
    demoPlot.width = 1800;
    demoPlot.height = 620;

    auto* demo = app.add_subcommand("demo", "Process the built-in sample survey and draw demo.png");
    demo->add_option("-o,--output", out, "Folder for the files (default: the current folder)");
    demo->add_option("--seed", seed, "Seed of the sample survey");
    AddRunOptions(demo, run);
    AddPlotOptions(demo, demoPlot, nullptr);

    auto* info = app.add_subcommand("info", "Show the acquisition facts of survey files");
    info->add_option("files", files, "Survey files (or patterns)")->required();
    auto* jsonFlag = info->add_flag("--json", json, "One JSON object per file");
    info->add_flag("--traces", traceTable,
                   "A CSV table instead, a row per trace (from 1): position, x and y as the file gives them "
                   "(easting/northing in m or longitude/latitude in degrees), elevation, recording time, user mark")
        ->excludes(jsonFlag);
    AddReadOptions(info, input);

    auto* process = app.add_subcommand("process", "Run processing steps over survey files");
    process->add_option("files", req.files, "Survey files (or patterns)")->required();
    process->add_option("-s,--step", req.steps,
                        "A step NAME[:VALUE | :CODE=value,...], e.g. dewow, sec2:auto, agc:WINDOW=2,MAXGN@=200, "
                        "bgsub:50, migrate:velocity=0.1 (see 'vantir3 list')")
        ->required()
        ->allow_extra_args(false);  // one step per -s: what follows may be a file
    auto* o = process->add_option("-o,--output", req.output, "Output file (its extension chooses the format)");
    auto* folder = process->add_option("-O,--output-dir", req.outputDir, "Output folder (one file per input, same name)");
    folder->excludes(o);
    process->add_option("--format", req.outputFormat,
                        "Format of the files in the output folder, as an extension: DZT, DT1, RD3, RD7, SGY "
                        "(default: each input's)")
        ->needs(folder);
    process->add_option("--png,--picture", req.picture, "Picture of the result (.png, .pdf or .svg)");
    process->add_flag("--compare", req.compare, "Picture: raw and processed side by side");
    process->add_option("--channel", req.input.channel, "Channel to process (from 0; default: every channel)")
        ->check(CLI::NonNegativeNumber);
    AddReadOptions(process, req.input);
    AddRunOptions(process, req.run);
    AddPlotOptions(process, req.plot, &req.velocityGiven);

    ProcessRequest plotReq;
    plotReq.run.workers = cores;
    std::string plotFile;
    auto* plot = app.add_subcommand("plot", "Draw a survey file as it is");
    plot->add_option("file", plotFile, "Survey file")->required();
    plot->add_option("-o,--output", picture, "Picture (default: FILE's name .png in the current folder)");
    plot->add_option("--channel", plotReq.input.channel, "Channel to draw (from 0; default: every channel)")
        ->check(CLI::NonNegativeNumber);
    AddReadOptions(plot, plotReq.input);
    AddRunOptions(plot, plotReq.run);
    AddPlotOptions(plot, plotReq.plot, &plotReq.velocityGiven);

    ConvertRequest convertReq;
    auto* convert = app.add_subcommand("convert", "Convert survey files to another format");
    convert->add_option("files", convertReq.files,
                        "A survey file and the output file (its extension chooses the format), or with -O the "
                        "survey files (or patterns)")
        ->required();
    convert->add_option("-O,--output-dir", convertReq.outputDir, "Output folder (one file per input, same stem)");
    convert->add_option("--format", convertReq.outputFormat,
                        "Format of the files in the output folder, as an extension: DZT, DT1, RD3, RD7, SGY");
    convert->add_option("--channel", convertReq.input.channel, "Channel to convert (from 0; default: every channel)")
        ->check(CLI::NonNegativeNumber);
    AddReadOptions(convert, convertReq.input);

    app.add_subcommand("list", "List the processes and their parameters");

    std::string synthOut;
    auto* synth = app.add_subcommand("synth", "Write the built-in sample survey to a file");
    synth->add_option("-o,--output", synthOut, "Output file (its extension chooses the format)")->required();
    SynthOptions synthOptions;
    synth->add_option("--seed", synthOptions.seed, "Seed of the sample survey");
    synth->add_option("--traces", synthOptions.traces, "Traces")->check(CLI::Range(int64_t{1}, int64_t{2147483647}));
    synth->add_option("--samples", synthOptions.samples, "Samples per trace")->check(CLI::Range(16, 65535));

    std::vector<std::string> args(argv + 1, argv + argc);
    ExpandCommandPrefix(app, args);
    std::reverse(args.begin(), args.end());
    try {
        app.parse(args);
    } catch (const CLI::ParseError& e) {
        const int status = app.exit(e);
        return status == 0 ? 0 : 2;
    }
    int status = 1;
    try {
        if (*demo)
            status = DemoCommand(out, seed, run, demoPlot);
        else if (*info)
            status = InfoCommand(files, input, json, traceTable);
        else if (*process)
            status = ProcessCommand(req);
        else if (*plot)
            status = PlotCommand(plotFile, picture, plotReq);
        else if (*convert)
            status = ConvertCommand(convertReq);
        else if (*synth)
            status = SynthCommand(synthOut, synthOptions);
        else
            status = ListCommand();
    } catch (const UsageError& e) {
        std::cerr << "vantir3: " << e.what() << "\n";
        status = 2;
    } catch (const std::exception& e) {
        std::cerr << "vantir3: " << e.what() << "\n";
        status = 1;
    }
    ReleasePictureCaches();
    return status;
}
