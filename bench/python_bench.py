#!/usr/bin/env python3
"""The cost of calling the library from Python against calling it from C++.

Times entry points of the Python binding on the benchmark profile (16384
traces x 1024 samples, the same deterministic signal as bench/bench_profile.cc)
with a preallocated output, as the C++ benchmarks do, and runs the matching
C++ benchmarks of vantir3_bench in the same run; a plain copy of the profile
is the baseline on both sides. Prints the median time per call of each and the
Python overhead in percent.

    PYTHONPATH=build/python taskset -c 0 python3 bench/python_bench.py \\
        --cxx build/bench/vantir3_bench [--repetitions 15]

Keep the run on one core and the machine otherwise quiet; compare medians.
"""

import argparse
import json
import statistics
import subprocess
import time

import numpy as np

import vantir3

TRACES, SAMPLES = 16384, 1024
GPR = dict(time_zero_sample=20.5, sample_interval=0.1, antenna_frequency=500.0, antenna_separation=0.2)


def profile():
    """bench_profile.cc's signal: a decaying sine per trace plus the top byte
    of a linear congruential sequence, clamped and truncated to int16."""
    a, c = 1664525, 1013904223
    mask = (1 << 32) - 1
    # Step j of a trace from its start h: A[j] * h + C[j] (mod 2^32).
    mul = np.empty(SAMPLES, np.uint64)
    add = np.empty(SAMPLES, np.uint64)
    m, k = 1, 0
    for j in range(SAMPLES):
        m, k = (m * a) & mask, (k * a + c) & mask
        mul[j], add[j] = m, k
    starts = np.empty(TRACES, np.uint64)
    h = 12345
    for t in range(TRACES):
        starts[t] = h
        h = (int(mul[-1]) * h + int(add[-1])) & mask
    seq = (mul[None, :] * starts[:, None] + add[None, :]) & np.uint64(mask)
    i = np.arange(SAMPLES, dtype=np.float64)[None, :]
    t = np.arange(TRACES, dtype=np.float64)[:, None]
    v = 30000.0 * np.exp(-0.004 * i) * np.sin(0.37 * i + 0.01 * t) + (seq >> np.uint64(24)).astype(np.float64) - 128.0
    return np.trunc(np.clip(v, -32768.0, 32767.0)).astype(np.int16)


def cases(data):
    """(C++ benchmark name, Python call with a preallocated, touched output)."""
    def out(traces=TRACES, samples=SAMPLES):
        return np.zeros((traces, samples), np.int16)

    g = GPR
    o = {k: out() for k in ("copy", "dewow", "sec2", "bgsub", "env", "desep")}
    quarter = out(samples=SAMPLES // 4)
    across = out(traces=TRACES // 4)
    return [
        ("BM_CopyBaseline", lambda: np.copyto(o["copy"], data)),
        ("BM_DewowNarrow", lambda: vantir3.dewow(data, window=1.33, antenna_frequency=g["antenna_frequency"],
                                                 sample_interval=g["sample_interval"], out=o["dewow"])),
        ("BM_Sec2GainEntry", lambda: vantir3.sec2_gain(
            data, attenuation=5.0, start_gain=1.0, max_gain=500.0, time_zero_sample=g["time_zero_sample"],
            sample_interval=g["sample_interval"], antenna_frequency=g["antenna_frequency"], out=o["sec2"])),
        ("BM_BackgroundRunningNarrow", lambda: vantir3.background_subtract(data, window=10, out=o["bgsub"])),
        ("BM_Envelope", lambda: vantir3.envelope(data, window=10, out=o["env"])),
        ("BM_MinMaxReduction", lambda: vantir3.minmax_reduction(data, samples=SAMPLES // 4, out=quarter)),
        ("BM_Decimation", lambda: vantir3.decimation(data, samples=SAMPLES // 4, out=quarter)),
        ("BM_AverageReductionSamples", lambda: vantir3.average_reduction(data, size=SAMPLES // 4, out=quarter)),
        ("BM_AverageReductionTraces", lambda: vantir3.average_reduction(data, size=TRACES // 4, along="traces",
                                                                        out=across)),
        ("BM_ComputeStatsMinMax", lambda: vantir3.statistics(data, mode=vantir3.STATS_MINMAX)),
        ("BM_DeseparateTransposedView", lambda: vantir3.deseparate(
            data, velocity=0.1, antenna_separation=g["antenna_separation"], time_zero_sample=g["time_zero_sample"],
            sample_interval=g["sample_interval"], out=o["desep"])),
    ]


def python_times(calls, repetitions):
    """Median seconds per call, the calls interleaved round by round."""
    times = {name: [] for name, _ in calls}
    for name, call in calls:
        call()  # warm-up
    for _ in range(repetitions):
        for name, call in calls:
            start = time.perf_counter()
            call()
            times[name].append(time.perf_counter() - start)
    return {name: statistics.median(t) for name, t in times.items()}


def cxx_times(binary, names, repetitions):
    """Median real seconds per iteration of the C++ benchmarks."""
    result = subprocess.run(
        [binary, "--benchmark_filter=^(%s)$" % "|".join(names), "--benchmark_format=json",
         "--benchmark_repetitions=%d" % repetitions, "--benchmark_enable_random_interleaving=true",
         "--benchmark_report_aggregates_only=true"],
        check=True, capture_output=True, text=True)
    factor = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    out = {}
    for b in json.loads(result.stdout)["benchmarks"]:
        if b.get("aggregate_name") == "median":
            out[b["run_name"]] = b["real_time"] * factor[b["time_unit"]]
    return out


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cxx", help="the vantir3_bench program (C++ side); without it only Python is timed")
    parser.add_argument("--repetitions", type=int, default=15)
    parser.add_argument("--rounds", type=int, default=3,
                        help="the two sides alternate this many times; medians over the rounds")
    args = parser.parse_args()

    data = profile()
    calls = cases(data)
    names = [n for n, _ in calls]
    py_rounds, cxx_rounds = [], []
    for _ in range(args.rounds):
        py_rounds.append(python_times(calls, args.repetitions))
        if args.cxx:
            cxx_rounds.append(cxx_times(args.cxx, names, max(3, args.repetitions // 3)))
    py = {n: statistics.median(r[n] for r in py_rounds) for n in names}
    cxx = {n: statistics.median(r[n] for r in cxx_rounds) for n in names} if cxx_rounds else {}
    # Each side's time as a multiple of its own copy of the profile: the
    # memory both sides run on differs (numpy's arrays, the library's
    # buffers), and the copy shows what that alone costs.
    base = "BM_CopyBaseline"
    print("%-30s %10s %10s %9s %12s" % ("benchmark", "C++ ms", "Python ms", "overhead", "vs own copy"))
    for name in names:
        c = cxx.get(name)
        rel = "-"
        if c and name != base:
            rel = "%+.1f%%" % (100.0 * ((py[name] / py[base]) / (c / cxx[base]) - 1.0))
        print("%-30s %10s %10.3f %9s %12s" % (name, "%.3f" % (c * 1e3) if c else "-", py[name] * 1e3,
                                               "%+.1f%%" % (100.0 * (py[name] / c - 1.0)) if c else "-", rel))
    print("(%d x %d int16 profile; %.1f MB per copy; medians of %d alternating rounds)"
          % (TRACES, SAMPLES, data.nbytes / 1e6, args.rounds))


if __name__ == "__main__":
    main()
