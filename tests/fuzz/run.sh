#!/bin/bash
# Builds the libFuzzer targets with clang and runs each for the given number
# of seconds (default 20). A target that finds a fault stops with its input
# saved under the build directory's artifacts/; the script then fails.
#   tests/fuzz/run.sh [seconds] [target...]
set -euo pipefail
seconds="${1:-20}"
shift || true
here="$(cd "$(dirname "$0")" && pwd)"
build="${PW_FUZZ_BUILD:-$here/../../build-fuzz}"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fuzz_hex_text_to_bytes fuzz_hex_to_int fuzz_dotted_quad fuzz_receive_log_line
  fuzz_workspace fuzz_rules_import fuzz_headless_json_line)

CXX=clang++ cmake -S "$here" -B "$build" -G Ninja >/dev/null
cmake --build "$build" --target "${targets[@]}" -j"${PW_FUZZ_JOBS:-1}"

export LC_ALL=C.UTF-8 QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus" "$build/artifacts"
  echo "== $t for ${seconds}s"
  # Seeds (a valid file of each format) are read, never written.
  seeds=()
  [ -d "$here/seeds/$t" ] && seeds=("$here/seeds/$t")
  if ! "$build/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=4096 \
      -print_final_stats=1 -artifact_prefix="$build/artifacts/$t-" "$corpus" "${seeds[@]}" \
      2>"$build/$t.log"; then
    tail -40 "$build/$t.log"
    echo "!! $t found a fault" >&2
    status=1
  else
    grep -E "stat::number_of_executed_units|Done" "$build/$t.log" | tail -2
  fi
done
exit $status
