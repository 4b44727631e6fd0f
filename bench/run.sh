#!/bin/bash
# Builds the benchmark programs (a release build with debug info, in
# build-bench/ beside the sources) and runs every benchmark.
#   bash bench/run.sh [--runs 3] [--only B1,B3] [--b7-seconds 600] [--b11-seconds 600]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="${PW_BENCH_BUILD:-$here/../build-bench}"
command -v socat >/dev/null || { echo "socat is needed for the B1, B10 and B14 baselines (apt-get install -y socat)" >&2; exit 1; }
cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" --target pw_benchapp pw_loadgen portwright -j"${PW_BENCH_JOBS:-1}"
exec python3 "$here/run.py" --bindir "$build" --json "$build/results.json" "$@"
