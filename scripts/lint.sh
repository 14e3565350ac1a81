#!/usr/bin/env bash
# Checks that every C++ file is clang-formatted and that clang-tidy finds nothing.
# Needs a configured clang build folder for its compile commands (default build/asan).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/asan}

mapfile -t files < <(git ls-files --cached --others --exclude-standard '*.cpp' '*.h')
echo "== lint: clang-format on ${#files[@]} files"
clang-format --dry-run -Werror "${files[@]}"

echo "== lint: clang-tidy"
log=$(mktemp)
trap 'rm -f "$log"' EXIT
if ! run-clang-tidy -p "$build" -quiet -j "$(nproc)" '/(src|tools|tests|bench|fuzz)/' >"$log" 2>&1 ||
  grep -qE '(warning|error):' "$log"; then
  grep -E '(warning|error):' "$log" | sort -u | head -50
  echo "lint: clang-tidy found problems" >&2
  exit 1
fi
