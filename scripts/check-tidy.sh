#!/usr/bin/env bash
# Runs clang-tidy with the repository's .clang-tidy over every source file of
# src/, against the compile commands of a build tree (default: build/, made
# by `make build`). Fails on any finding.
#   bash scripts/check-tidy.sh [build-dir]
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build}"
[[ -f "$build/compile_commands.json" ]] || { echo "no $build/compile_commands.json: run make build first" >&2; exit 2; }
tidy=$(command -v run-clang-tidy-14 || command -v run-clang-tidy) || { echo "run-clang-tidy is not installed" >&2; exit 2; }
"$tidy" -quiet -p "$build" -j "$(nproc)" "$PWD/src/.*\.cpp$"
