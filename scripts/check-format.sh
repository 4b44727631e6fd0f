#!/usr/bin/env bash
# Fails when a C++ file of the repository is not laid out as .clang-format
# says; prints the files. `clang-format -i FILE` lays one out.
set -euo pipefail
cd "$(dirname "$0")/.."
unformatted=()
while IFS= read -r file; do
    clang-format --dry-run --Werror "$file" >/dev/null 2>&1 || unformatted+=("$file")
done < <(git ls-files '*.cpp' '*.h')
if ((${#unformatted[@]})); then
    printf 'not formatted: %s\n' "${unformatted[@]}" >&2
    exit 1
fi
