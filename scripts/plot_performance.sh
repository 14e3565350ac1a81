#!/usr/bin/env bash
# Draws docs/performance.png (time of one GetPSR call against the number of sessions)
# from the scaling.dat that scripts/bench.sh leaves in build/bench/results.
#   scripts/plot_performance.sh [DATA] [OUTPUT.png]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
data=${1:-$root/build/bench/results/scaling.dat}
output=${2:-$root/docs/performance.png}
gnuplot -e "data='$data'; output='$output'" "$root/scripts/plot_performance.gp"
