// The vantir3 program on a generated 1 GiB 16-bit .DZT (warm page cache):
// dewow + SEC2 gain with the output written, with one and two workers,
// against `cp` of the same file in the same run. Each figure reports the
// child's wall time and its peak resident memory (peak_rss_MiB).
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

extern char** environ;

namespace {

#ifndef VANTIR3_CLI
#define VANTIR3_CLI ""  // the program is not built: these benchmarks skip
#endif

struct Child {
    bool ok = false;
    double peakRssMiB = 0.0;
};

// Runs a program to its end; its peak resident memory from wait4.
Child RunChild(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid;
    Child c;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        struct rusage usage;
        if (::wait4(pid, &status, 0, &usage) == pid) {
            c.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            c.peakRssMiB = usage.ru_maxrss / 1024.0;
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return c;
}

std::string TempPath(const std::string& name) {
    const char* t = std::getenv("TMPDIR");
    return std::string(t != nullptr && *t != '\0' ? t : "/tmp") + "/" + name;
}

// 2^20 traces x 512 samples of the program's sample survey, made once per
// run by the program itself.
const std::string& BigFile() {
    static const std::string path = [] {
        const std::string p = TempPath("vantir3_bench_cli.DZT");
        RunChild({VANTIR3_CLI, "synth", "-o", p, "--traces", "1048576", "--samples", "512"});
        std::atexit([] { std::remove(TempPath("vantir3_bench_cli.DZT").c_str()); });
        return p;
    }();
    return path;
}

int64_t FileBytes(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

void Measure(benchmark::State& state, const std::vector<std::string>& args, const std::string& out) {
    if (std::string(VANTIR3_CLI).empty()) {
        state.SkipWithError("the program is not built");
        return;
    }
    const std::string& in = BigFile();
    RunChild({"/bin/cat", in});  // warm page cache
    double peak = 0.0;
    for (auto _ : state) {
        const Child c = RunChild(args);
        if (!c.ok) state.SkipWithError("the run failed");
        peak = c.peakRssMiB;
        state.PauseTiming();
        std::remove(out.c_str());
        state.ResumeTiming();
    }
    state.counters["peak_rss_MiB"] = peak;
    state.SetBytesProcessed(state.iterations() * FileBytes(in));
}

void BM_CliCopyBaseline(benchmark::State& state) {
    const std::string out = TempPath("vantir3_bench_cli_copy.DZT");
    Measure(state, {"/bin/cp", BigFile(), out}, out);
}
BENCHMARK(BM_CliCopyBaseline)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

void BM_CliDewowSec2(benchmark::State& state) {
    const std::string out = TempPath("vantir3_bench_cli_out.DZT");
    Measure(state, {VANTIR3_CLI, "process", BigFile(), "-s", "dewow", "-s", "sec2:ATTENU=2,MAXGN@=200", "-o", out,
                    "-j", std::to_string(state.range(0))}, out);
}
BENCHMARK(BM_CliDewowSec2)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);

}  // namespace
