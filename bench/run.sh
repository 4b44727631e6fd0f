#!/bin/bash
# Builds the benchmark programs and runs the benchmarks against their
# baselines (bench/README.md); --help lists the options, and builds nothing.
#   bash bench/run.sh [--runs 3] [--only B1,B3] [--b7-seconds 600] [--b11-seconds 600]
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd -P)"
root="$(cd "$here/.." && pwd -P)"

for arg in "$@"; do
  case "$arg" in
    -h | --help)
      python3 "$here/run.py" --help
      cat <<'USAGE'

environment:
  PW_BENCH_BUILD  the build tree (default: build-bench/ beside the sources, a
                  release build with debug info); a build tree of the main
                  project, such as build/, is reused as it is configured
  PW_BENCH_JOBS   compile jobs for the build (default: 1)
USAGE
      exit 0
      ;;
  esac
done

command -v socat >/dev/null || { echo "socat is needed for the B1, B10 and B14 baselines (apt-get install -y socat)" >&2; exit 1; }

build="${PW_BENCH_BUILD:-$root/build-bench}"
jobs="${PW_BENCH_JOBS:-1}"
home_dir=""
if [[ -f "$build/CMakeCache.txt" ]]; then
  home_dir=$(sed -n 's/^CMAKE_HOME_DIRECTORY:INTERNAL=//p' "$build/CMakeCache.txt")
  home_dir=$(cd "$home_dir" 2>/dev/null && pwd -P || true)
fi
if [[ "$home_dir" == "$root" ]]; then
  # The main project's tree already holds the libraries and the program:
  # only the two benchmark programs are new (in its bench/ folder).
  cmake --build "$build" --target pw_benchapp pw_loadgen portwright -j"$jobs"
  bindir="$build/bench"
else
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" --target pw_benchapp pw_loadgen portwright -j"$jobs"
  bindir="$build"
fi
bindir="$(cd "$bindir" && pwd -P)"

# Every temporary folder of the run (the programs' settings, workspaces,
# recorded logs, the file sent) goes into one of its own, removed however the
# run ends.
scratch=$(mktemp -d "${TMPDIR:-/tmp}/pw-bench-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
TMPDIR="$scratch" python3 "$here/run.py" --bindir "$bindir" --json "$bindir/results.json" "$@"
