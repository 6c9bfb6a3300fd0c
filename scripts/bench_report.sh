#!/usr/bin/env bash
# The kernels' figures as ratios to the plain copy of the same run, with the
# instruction set forced to AVX2 and to AVX3 (AVX-512), one core: per kernel
# the entry point on a preallocated output, the process with its output
# released between calls (FetchProcess; for kernels without a process, the
# entry point on a fresh output per call), and process / entry point. Medians
# over REPS rounds (default 3) of CPU time (on a machine shared with other
# work, wall time counts the waits for a core). Names the processor first.
#
# Usage: [REPS=n] [CPU=k] scripts/bench_report.sh [BENCH_PROGRAM]  (runs on core CPU, default 0)
#   (default build/bench/vantir3_bench, built with -DVANTIR3_BUILD_BENCH=ON)
set -euo pipefail
cd "$(dirname "$0")/.."
program="${1:-build/bench/vantir3_bench}"
[ -x "$program" ] || { echo "no benchmark program at $program" >&2; exit 2; }
out="$(mktemp -d)"
trap 'rm -rf "$out"' EXIT

field() { grep -m1 "^$1" /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'; }
echo "processor: $(field 'model name') (family $(field 'cpu family'), model $(field 'model[[:space:]]'))"
echo "vector flags: $(grep -m1 '^flags' /proc/cpuinfo | tr ' ' '\n' | grep -E '^(sse4_2|avx|avx2|fma|bmi2|avx512.*)$' | tr '\n' ' ')"

# kernel | entry benchmark | process benchmark ("-": none). DVL and AGC have
# no separate entry figure: their process's compute step on a preallocated
# output (RunProcess) stands for it.
rows='constant gain (2.5)|BM_ConstGain|BM_ConstGainFetched
constant gain (1.37)|BM_ConstGainInDoubles|BM_ConstGainInDoublesFetched
SEC2 gain|BM_Sec2GainEntry|BM_Sec2GainFetched
DVL gain|BM_DvlGain|BM_DvlGainFetched
DVL: divide bound|BM_DvlDivideBound|-
AGC (1.5 ns)|BM_AgcGainNarrow|BM_AgcGainFetched
dewow|BM_DewowNarrow|BM_DewowFetched
dewow, averaged trace|BM_DewowAveraged|-
background subtraction|BM_BackgroundRunningNarrow|BM_BackgroundFetched
background: divide bound|BM_BackgroundDivideBound|-
background, given trace|BM_BackgroundGivenTrace|-
envelope|BM_Envelope|BM_EnvelopeFreshOutput
envelope: sqrt bound|BM_EnvelopeSqrtBound|-
min/max reduction|BM_MinMaxReduction|BM_MinMaxReductionFreshOutput
average reduction|BM_AverageReductionSamples|BM_AverageReductionSamplesFreshOutput
decimation|BM_Decimation|-
statistics min/max|BM_ComputeStatsMinMax|-
deseparation|BM_DeseparateTraceMajor|BM_DeseparateFetched
topographic shift|BM_TopoShiftTraceMajor|BM_TopoShiftFetched'
filter="^($(echo "$rows" | cut -d'|' -f2,3 | tr '|' '\n' | grep -v '^-$' | tr '\n' '|')BM_CopyBaseline)\$"

# The two targets alternate over the rounds, so that both meet the same
# load of a shared machine.
for round in $(seq "${REPS:-3}"); do
  for target in AVX2 AVX3; do
    taskset -c "${CPU:-0}" "$program" --simd_target="$target" --benchmark_filter="$filter" \
      --benchmark_out="$out/$target.$round.json" --benchmark_out_format=json >"$out/log" 2>&1 ||
      { cat "$out/log" >&2; exit 1; }
  done
done

ROWS="$rows" python3 - "$out" <<'EOF'
import glob, json, os, statistics, sys
med = {}
for target in ("AVX2", "AVX3"):
    times = {}
    for path in glob.glob(os.path.join(sys.argv[1], target + ".*.json")):
        for b in json.load(open(path))["benchmarks"]:
            times.setdefault(b["run_name"], []).append(b["cpu_time"])
    med[target] = {name: statistics.median(t) for name, t in times.items()}
def cell(target, entry, process):
    m = med[target]
    copy = m["BM_CopyBaseline"]
    e = copy / m[entry] if entry in m else None
    p = copy / m[process] if process in m else None
    f = lambda x: "%6.2f" % x if x is not None else "     -"
    return "%s %s %s" % (f(e), f(p), f(p / e if e and p else None))
print("%-24s %-20s   %-20s" % ("", "AVX2", "AVX3"))
print("%-24s %s   %s" % ("kernel", "entry   proc  p/e ", "entry   proc  p/e "))
for line in os.environ["ROWS"].splitlines():
    name, entry, process = line.split("|")
    print("%-24s %s   %s" % (name, cell("AVX2", entry, process), cell("AVX3", entry, process)))
print("(ratios to BM_CopyBaseline of the same run; copy %.1f ms AVX2, %.1f ms AVX3)"
      % (med["AVX2"]["BM_CopyBaseline"], med["AVX3"]["BM_CopyBaseline"]))
EOF
