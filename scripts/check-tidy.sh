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
# The build's precompiled headers are GCC's, which clang cannot read: the
# files are checked by their compile commands less the precompiled header,
# each with only the includes it names itself.
db=$(mktemp -d)
trap 'rm -rf "$db"' EXIT
python3 - "$build/compile_commands.json" "$db/compile_commands.json" <<'PY'
import json
import re
import sys

pch = re.compile(r" -Winvalid-pch| -include \S*/cmake_pch\.hxx")
entries = json.load(open(sys.argv[1]))
for entry in entries:  # CMake writes each as one "command"
    entry["command"] = pch.sub("", entry["command"])
json.dump(entries, open(sys.argv[2], "w"), indent=1)
PY
"$tidy" -quiet -p "$db" -j "$(nproc)" "$PWD/src/.*\.cpp$"
