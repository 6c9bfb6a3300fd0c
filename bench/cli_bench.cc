// The vantir3 program on a generated 1 GiB 16-bit .DZT (warm page cache):
// dewow + SEC2 gain with the output written, with one and two workers,
// against `cp` of the same file in the same rounds, with the program's peak
// resident memory (peak_rss_MiB).
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

#ifndef VANTIR3_CLI
#define VANTIR3_CLI ""  // the program is not built: these benchmarks skip
#endif

struct Child {
    bool ok = false;
    double peakRssMiB = 0.0;
};

// Runs a program to its end; its peak resident memory from wait4. The child
// is a fork, not a vfork (posix_spawn): a vfork child's peak starts from this
// process's own peak, since it runs in this process's memory until exec.
Child RunChild(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    Child c;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_WRONLY);
        if (null >= 0) ::dup2(null, 1);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    if (pid > 0) {
        int status = 0;
        struct rusage usage;
        if (::wait4(pid, &status, 0, &usage) == pid) {
            c.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
            c.peakRssMiB = usage.ru_maxrss / 1024.0;
        }
    }
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
        // Written back now: on a machine of two cores the system writing
        // 1 GiB of fresh file to disk in the middle of a run takes a core.
        ::sync();
        std::atexit([] { std::remove(TempPath("vantir3_bench_cli.DZT").c_str()); });
        return p;
    }();
    return path;
}

int64_t FileBytes(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? st.st_size : 0;
}

// Wall time of one run of a program, the output removed after it. The page
// cache holds no dirty data when it starts, so the system's write-back of an
// earlier run does not take a core from this one.
double TimedRun(const std::vector<std::string>& args, const std::string& out, Child* child) {
    ::sync();
    const auto start = std::chrono::steady_clock::now();
    *child = RunChild(args);
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::remove(out.c_str());
    return seconds;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v.size() % 2 == 1 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

// Each round runs cp, the program with one worker and with two, one after
// the other, so that the machine's drift (other guests, clock) shifts all
// three alike; the ratios are medians of each round's own ratios. The
// benchmark's time is that of a whole round.
void BM_CliDewowSec2Rounds(benchmark::State& state) {
    if (std::string(VANTIR3_CLI).empty()) {
        state.SkipWithError("the program is not built");
        return;
    }
    const std::string& in = BigFile();
    RunChild({"/bin/cat", in});  // warm page cache
    const std::string copy = TempPath("vantir3_bench_cli_copy.DZT"), out = TempPath("vantir3_bench_cli_out.DZT");
    auto program = [&](int workers) {
        return std::vector<std::string>{VANTIR3_CLI, "process", in, "-s", "dewow", "-s", "sec2:ATTENU=2,MAXGN@=200",
                                        "-o", out, "-j", std::to_string(workers)};
    };
    std::vector<double> cp, one, two, onePerCp, twoPerCp, speedUp;
    double peak = 0.0, cpPeak = 0.0;
    for (auto _ : state) {
        Child c;
        const double tc = TimedRun({"/bin/cp", in, copy}, copy, &c);
        cpPeak = std::max(cpPeak, c.peakRssMiB);
        bool ok = c.ok;
        const double t1 = TimedRun(program(1), out, &c);
        peak = std::max(peak, c.peakRssMiB);
        ok = ok && c.ok;
        const double t2 = TimedRun(program(2), out, &c);
        peak = std::max(peak, c.peakRssMiB);
        if (!ok || !c.ok) {
            state.SkipWithError("a run failed");
            break;
        }
        cp.push_back(tc);
        one.push_back(t1);
        two.push_back(t2);
        onePerCp.push_back(t1 / tc);
        twoPerCp.push_back(t2 / tc);
        speedUp.push_back(t1 / t2);
    }
    state.counters["cp_s"] = Median(cp);
    state.counters["one_worker_s"] = Median(one);
    state.counters["two_workers_s"] = Median(two);
    state.counters["one_per_cp"] = Median(onePerCp);
    state.counters["two_per_cp"] = Median(twoPerCp);
    state.counters["two_worker_speedup"] = Median(speedUp);
    state.counters["peak_rss_MiB"] = peak;
    state.counters["cp_peak_rss_MiB"] = cpPeak;
    state.SetBytesProcessed(state.iterations() * 3 * FileBytes(in));
}
BENCHMARK(BM_CliDewowSec2Rounds)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(9);

}  // namespace
