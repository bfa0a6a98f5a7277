#!/bin/bash
# Fails, naming each file, when clang-format would change a tracked C or C++
# source. The layout is pinned by .clang-format and by clang-format 14
# (Debian 12's): another major version lays some code out differently.
set -euo pipefail
cd "$(dirname "$0")/.."
format=${CLANG_FORMAT:-$(command -v clang-format-14 || command -v clang-format || true)}
if [ -z "$format" ]; then
    echo "check-format: clang-format 14 is not installed (scripts/setup.sh installs it)" >&2
    exit 2
fi
version=$("$format" --version)
if [[ ! $version =~ version\ 14\. ]]; then
    echo "check-format: $format is not clang-format 14: $version" >&2
    exit 2
fi
# The tracked sources as they are in the working tree (one deleted but not yet
# committed is no longer there), in one run; its diagnostics start
# "FILE:LINE:COLUMN: error:".
files=()
while IFS= read -r -d '' file; do
    [ -e "$file" ] && files+=("$file")
done < <(git ls-files -z -- '*.c' '*.cpp' '*.h')
status=0
out=$("$format" --dry-run --Werror "${files[@]}" 2>&1) || status=$?
mapfile -t bad < <(printf '%s\n' "$out" | sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: .*/\1/p' | sort -u)
if [ ${#bad[@]} -gt 0 ]; then
    printf 'not formatted (clang-format -i FILE): %s\n' "${bad[@]}" >&2
    exit 1
fi
if [ $status -ne 0 ]; then
    printf 'check-format: clang-format failed (%s)\n%s\n' "$status" "$out" >&2
    exit 2
fi
echo "check-format: every file follows .clang-format"
