#!/usr/bin/env python3
"""The cost of calling the library from Python against calling it from C++.

Times entry points of the Python binding on the benchmark profile (16384
traces x 1024 samples, the same deterministic signal as bench/bench_profile.cc)
and runs the matching C++ benchmarks of vantir3_bench, the two sides
alternating over rounds; a plain copy of the profile is the baseline on both
sides. Both do the same work: the profile and the preallocated outputs sit in
the library's own memory on both sides (vantir3.zeros on the Python side; so
does every new array that the binding returns), one thread each, warmed up,
each call repeated in a row for --min-time per repetition, the calls in a
random order. Two rows call the entry point without `out` (a new output each
call, dropped before the next, as in a loop over profiles) against the C++
call on a preallocated output. Prints the median time per call of each side
over the rounds and the median over the rounds of their ratio (Python / C++)
in each round.

    PYTHONPATH=build/python taskset -c 0 python3 bench/python_bench.py \\
        --cxx build/bench/vantir3_bench [--rounds 9] [--repetitions 3]

Times are the calling thread's processor time by default (--clock cpu), which
other programs on a shared core do not inflate; --clock real takes elapsed
time, for a quiet machine. Compare medians.
"""

import argparse
import json
import math
import os
import random
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
    """(row label, C++ benchmark name, Python call): the outputs preallocated
    and touched, as the C++ benchmarks have them, except in the rows marked
    "new output"."""
    def out(traces=TRACES, samples=SAMPLES):
        return vantir3.zeros((traces, samples))

    g = GPR
    o = {k: out() for k in ("copy", "dewow", "sec2", "bgsub", "env", "desep")}
    quarter = out(samples=SAMPLES // 4)
    across = out(traces=TRACES // 4)
    dewow = dict(window=1.33, antenna_frequency=g["antenna_frequency"], sample_interval=g["sample_interval"])
    return [
        ("copy", "BM_CopyBaseline", lambda: np.copyto(o["copy"], data)),
        ("dewow", "BM_DewowNarrow", lambda: vantir3.dewow(data, **dewow, out=o["dewow"])),
        ("dewow, new output", "BM_DewowNarrow", lambda: vantir3.dewow(data, **dewow)),
        ("sec2_gain", "BM_Sec2GainEntry", lambda: vantir3.sec2_gain(
            data, attenuation=5.0, start_gain=1.0, max_gain=500.0, time_zero_sample=g["time_zero_sample"],
            sample_interval=g["sample_interval"], antenna_frequency=g["antenna_frequency"], out=o["sec2"])),
        ("background_subtract", "BM_BackgroundRunningNarrow",
         lambda: vantir3.background_subtract(data, window=10, out=o["bgsub"])),
        ("envelope", "BM_Envelope", lambda: vantir3.envelope(data, window=10, out=o["env"])),
        ("minmax_reduction", "BM_MinMaxReduction",
         lambda: vantir3.minmax_reduction(data, samples=SAMPLES // 4, out=quarter)),
        ("decimation", "BM_Decimation", lambda: vantir3.decimation(data, samples=SAMPLES // 4, out=quarter)),
        ("decimation, new output", "BM_Decimation", lambda: vantir3.decimation(data, samples=SAMPLES // 4)),
        ("average_reduction samples", "BM_AverageReductionSamples",
         lambda: vantir3.average_reduction(data, size=SAMPLES // 4, out=quarter)),
        ("average_reduction traces", "BM_AverageReductionTraces",
         lambda: vantir3.average_reduction(data, size=TRACES // 4, along="traces", out=across)),
        ("statistics", "BM_ComputeStatsMinMax", lambda: vantir3.statistics(data, mode=vantir3.STATS_MINMAX)),
        ("deseparate", "BM_DeseparateTransposedView", lambda: vantir3.deseparate(
            data, velocity=0.1, antenna_separation=g["antenna_separation"], time_zero_sample=g["time_zero_sample"],
            sample_interval=g["sample_interval"], out=o["desep"])),
    ]


CLOCKS = {"cpu": time.thread_time, "real": time.perf_counter}
CXX_FIELD = {"cpu": "cpu_time", "real": "real_time"}


def python_times(calls, repetitions, min_time, clock):
    """Seconds per call of each call, as Google Benchmark times the C++ side:
    every repetition runs a call enough times in a row to take min_time and
    divides; the calls in a random order in each repetition. Returns the
    median over the repetitions."""
    now = CLOCKS[clock]
    runs = {}
    for label, _, call in calls:  # warm-up, and the run length of each call
        call()
        start = now()
        call()
        runs[label] = max(1, math.ceil(min_time / max(now() - start, 1e-6)))
    times = {label: [] for label, _, _ in calls}
    order = list(calls)
    for _ in range(repetitions):
        random.shuffle(order)
        for label, _, call in order:
            start = now()
            for _ in range(runs[label]):
                call()
            times[label].append((now() - start) / runs[label])
    return {label: statistics.median(t) for label, t in times.items()}


def cxx_times(binary, names, repetitions, min_time, clock):
    """Median seconds per iteration of the C++ benchmarks over their
    repetitions."""
    result = subprocess.run(
        [binary, "--benchmark_filter=^(%s)$" % "|".join(sorted(set(names))), "--benchmark_format=json",
         "--benchmark_repetitions=%d" % repetitions, "--benchmark_enable_random_interleaving=true",
         "--benchmark_min_time=%g" % min_time, "--benchmark_min_warmup_time=%g" % (min_time / 2)],
        check=True, capture_output=True, text=True)
    factor = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}
    times = {}
    for b in json.loads(result.stdout)["benchmarks"]:
        if b.get("run_type") == "iteration":
            times.setdefault(b["run_name"], []).append(b[CXX_FIELD[clock]] * factor[b["time_unit"]])
    return {name: statistics.median(t) for name, t in times.items()}


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--cxx", help="the vantir3_bench program (C++ side); without it only Python is timed")
    parser.add_argument("--repetitions", type=int, default=3, help="repetitions of every call in a round, each side")
    parser.add_argument("--min-time", type=float, default=0.1, help="seconds that one repetition of a call lasts")
    parser.add_argument("--rounds", type=int, default=9,
                        help="the two sides alternate this many times; medians over the rounds")
    parser.add_argument("--clock", choices=sorted(CLOCKS), default="cpu",
                        help="cpu: the calling thread's processor time (default); real: elapsed time")
    args = parser.parse_args()

    load_before = os.getloadavg()[0]
    # The profile in the library's memory, as the C++ benchmarks' profile.
    data = vantir3.zeros((TRACES, SAMPLES))
    data[...] = profile()
    calls = cases(data)
    py_rounds, cxx_rounds = [], []
    for _ in range(args.rounds):
        py_rounds.append(python_times(calls, args.repetitions, args.min_time, args.clock))
        if args.cxx:
            cxx_rounds.append(cxx_times(args.cxx, [n for _, n, _ in calls], args.repetitions, args.min_time,
                                        args.clock))
    # The ratio is taken in each round, whose two sides ran back to back
    # under the same load, and its median over the rounds printed.
    print("%-26s %-28s %10s %10s %7s  %s" % ("Python call", "C++ benchmark", "Python ms", "C++ ms", "ratio",
                                             "(min - max over rounds)"))
    for label, name, _ in calls:
        py = statistics.median(r[label] for r in py_rounds)
        if not cxx_rounds:
            print("%-26s %-28s %10.3f" % (label, name, py * 1e3))
            continue
        cxx = statistics.median(r[name] for r in cxx_rounds)
        ratios = [p[label] / c[name] for p, c in zip(py_rounds, cxx_rounds)]
        print("%-26s %-28s %10.3f %10.3f %7.3f  (%.3f - %.3f)" % (label, name, py * 1e3, cxx * 1e3,
                                                                statistics.median(ratios), min(ratios),
                                                                max(ratios)))
    print("(%d x %d int16 profile, %.1f MB; %s time; medians of %d alternating rounds of %d repetitions of %g s;"
          % (TRACES, SAMPLES, data.nbytes / 1e6, args.clock, args.rounds, args.repetitions, args.min_time))
    print(" run on CPUs %s; 1-minute load average %.1f before, %.1f after)"
          % (sorted(os.sched_getaffinity(0)), load_before, os.getloadavg()[0]))


if __name__ == "__main__":
    main()
