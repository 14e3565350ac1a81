#!/usr/bin/env bash
# Builds the benchmarks, runs them and prints the performance table of docs/performance.md:
# GetPSR end to end (delivering everything, and with a 1-byte buffer), the floor (read,
# write, fsync and rename of the store), the peak memory of a process reporting 100,000
# sessions, and the Windows build timed under wine64.
#
#   scripts/bench.sh            # everything; the Wine part takes about ten minutes
#   PSRL_BENCH_WINE_SIZES="" scripts/bench.sh        # without Wine
#   PSRL_BENCH_WINE_SIZES="1000" scripts/bench.sh    # Wine at 1,000 sessions only
#
# Results (JSON of Google Benchmark, the Wine and memory output, scaling.dat) are left in
# build/bench/results; scripts/plot_performance.sh draws docs/performance.png from them.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
results=${PSRL_BENCH_RESULTS:-$root/build/bench/results}
wine_sizes=${PSRL_BENCH_WINE_SIZES-"1000 10000"}
min_time=${PSRL_BENCH_MIN_TIME:-1}
repetitions=${PSRL_BENCH_REPETITIONS:-5}
# The shape of every store: games, users and seed, as report_bench.cpp uses them.
shape=(--games 50 --users 5 --seed 2026)

mkdir -p "$results"
scratch=$(mktemp -d "${TMPDIR:-/tmp}/psrl-bench-run-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

echo "bench: building (preset bench)" >&2
cmake --preset bench >/dev/null
cmake --build --preset bench -j2 >/dev/null
bin=build/bench/bench

echo "bench: Linux timings" >&2
# The machine may be shared: each case is repeated and its median reported, so that a
# burst of someone else's work during one repetition does not decide the figure.
PSRL_BENCH_TMP=$scratch "$bin/psrl_report_bench" --benchmark_min_time="$min_time" \
  --benchmark_repetitions="$repetitions" --benchmark_report_aggregates_only=true \
  --benchmark_out="$results/linux.json" --benchmark_out_format=json >&2

echo "bench: peak memory at 100,000 sessions" >&2
peak=$scratch/peak
mkdir "$peak"
"$bin/generate_store" --sessions 100000 "${shape[@]}" "$peak/plg.dat"
store_bytes_100k=$(stat -c %s "$peak/plg.dat")
printf '[Ctrl]\r\nUploadPSR=1\r\n' >"$peak/psrl.ini"
cp build/bench/src/libpsrl.so "$peak/"
"$bin/psrl_peak_memory" "$peak" | tee "$results/peak.txt" >&2

: >"$results/wine.txt"
if [[ -n $wine_sizes ]]; then
  echo "bench: Windows build under wine64 at: $wine_sizes" >&2
  cmake --preset mingw64 -B build/bench-mingw64 -DPSRL_BUILD_BENCHMARKS=ON \
    -DPSRL_BUILD_TESTS=OFF >/dev/null
  cmake --build build/bench-mingw64 -j2 --target psrl psrl_wine_peer >/dev/null
  folders=()
  for n in $wine_sizes; do
    folder=$scratch/wine/n$n
    mkdir -p "$folder"
    "$bin/generate_store" --sessions "$n" "${shape[@]}" --utf16 "$folder/plg.pristine"
    printf '[Ctrl]\r\nUploadPSR=1\r\n' >"$folder/psrl.ini"
    cp build/bench-mingw64/src/psrl.dll "$folder/"
    folders+=("Z:${folder//\//\\}")
  done
  cmake/wine-run.sh "$root/build/bench-mingw64/wineprefix" \
    build/bench-mingw64/bench/psrl_wine_peer.exe "${folders[@]}" | tee "$results/wine.txt" >&2
fi

# Milliseconds of one benchmark run, e.g. ms BM_GetPsrDeliverAll 1000.
# The median over the repetitions of one case, e.g. median BM_GetPsrDeliverAll/1000/manual_time
# real_time; "cv" instead of "median" gives the spread (standard deviation / mean).
aggregate() {
  jq -r --arg name "$1" --arg aggregate "$2" --arg field "$3" \
    '.benchmarks[] | select(.run_name == $name and .aggregate_name == $aggregate) | .[$field]' \
    "$results/linux.json"
}
ms() { aggregate "$1/$2/manual_time" median real_time; }
store_bytes() { aggregate "BM_FloorRewriteStore/$1/manual_time" median store_bytes; }
wine_ms() {
  awk -v n="n$1" '{ split($1, p, "\\"); if (p[length(p)] == n) print $2 }' "$results/wine.txt"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b == 0) print "-"; else printf "%.1f", a / b }'; }
fmt() { awk -v a="$1" 'BEGIN { if (a == "") print "-"; else printf "%.1f", a }'; }

echo
echo "| sessions | store (UTF-8) | GetPSR, all delivered | GetPSR, 1-byte buffer | floor | all delivered / floor | Wine, all delivered | Wine / Linux |"
echo "|---:|---:|---:|---:|---:|---:|---:|---:|"
: >"$results/scaling.dat"
for n in 1000 10000 100000; do
  deliver=$(ms BM_GetPsrDeliverAll "$n")
  small=$(ms BM_GetPsrBufferTooSmall "$n")
  floor=$(ms BM_FloorRewriteStore "$n")
  wine=$(wine_ms "$n")
  bytes=$(store_bytes "$n")
  printf '| %s | %s KiB | %s ms | %s ms | %s ms | %s× | %s | %s |\n' "$n" \
    "$(awk -v b="$bytes" 'BEGIN { printf "%.0f", b / 1024 }')" "$(fmt "$deliver")" \
    "$(fmt "$small")" "$(fmt "$floor")" "$(ratio "$deliver" "$floor")" \
    "$([[ -n $wine ]] && echo "$(fmt "$wine") ms" || echo "not run")" "$(ratio "$wine" "$deliver")×"
  echo "$n $deliver $small $floor ${wine:-NaN}" >>"$results/scaling.dat"
done

deliver_10k=$(ms BM_GetPsrDeliverAll 10000)
deliver_100k=$(ms BM_GetPsrDeliverAll 100000)
floor_100k=$(ms BM_FloorRewriteStore 100000)
peak_kib=$(sed -n 's/.*after_kib=\([0-9]*\).*/\1/p' "$results/peak.txt")
budget_kib=$(((4 * store_bytes_100k) / 1024 + 16 * 1024))
wine_10k=$(wine_ms 10000)
echo
echo "| target | measured | limit |"
echo "|---|---:|---:|"
echo "| all delivered at 100,000 / floor at 100,000 | $(ratio "$deliver_100k" "$floor_100k")× | 2× |"
echo "| all delivered: 100,000 / 10,000 | $(ratio "$deliver_100k" "$deliver_10k")× | 12× |"
echo "| peak memory (VmHWM) reporting 100,000 | $((peak_kib / 1024)) MiB | $((budget_kib / 1024)) MiB (4 × $((store_bytes_100k / 1024 / 1024)) MiB + 16 MiB) |"
echo "| Wine / Linux at 10,000 | $(ratio "$wine_10k" "$deliver_10k")× | at least 100× |"
percent() { awk -v a="$1" 'BEGIN { if (a == "") print "-"; else printf "%.0f%%", 100 * a }'; }
echo
echo "Medians of $repetitions repetitions; spread (standard deviation / mean) of all delivered:" \
  "$(percent "$(aggregate BM_GetPsrDeliverAll/10000/manual_time cv real_time)") at 10,000," \
  "$(percent "$(aggregate BM_GetPsrDeliverAll/100000/manual_time cv real_time)") at 100,000;" \
  "of the floor at 100,000: $(percent "$(aggregate BM_FloorRewriteStore/100000/manual_time cv real_time)")."

# The system calls each finished session costs (microseconds), and what they alone take
# at 100,000 sessions against the floor.
fmt2() { awk -v a="$1" 'BEGIN { if (a == "") print "-"; else printf "%.2f", a }'; }
us() { aggregate "$1" median real_time; }
probe_shared=$(us BM_SessionProbeOnSharedSocket)
probe_fresh=$(us BM_SessionProbeOnFreshSocket)
store_check=$(us BM_SessionStoreCheck)
calls_100k=$(awk -v a="$probe_shared" -v b="$store_check" 'BEGIN { printf "%.1f", (a + b) * 100000 / 1000 }')
echo
echo "| per finished session | µs |"
echo "|---|---:|"
echo "| liveness probe: connect on the run's socket | $(fmt2 "$probe_shared") |"
echo "| (the same probe with a socket of its own: socket, connect, close) | $(fmt2 "$probe_fresh") |"
echo "| store check: stat | $(fmt2 "$store_check") |"
echo "| both at 100,000 sessions | $calls_100k ms = $(ratio "$calls_100k" "$floor_100k")× the floor |"
