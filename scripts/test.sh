#!/usr/bin/env bash
# Builds everything and runs every test suite: the Linux build, then the same suites
# under AddressSanitizer and UndefinedBehaviorSanitizer, then the Windows builds: the
# 32-bit psrl.dll with its tables checked, and the 64-bit one whose suites run under
# wine64. Exits non-zero when any fails.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
jobs=$(nproc)

for preset in release asan; do
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset: tests"
  ctest --preset "$preset" -j "$jobs"
done

scripts/lint.sh build/asan

# The shipping target. This machine cannot run 32-bit code: the test programs are built
# but not run, and the DLL's export and import tables are checked.
echo "== mingw32: configure and build"
started=$SECONDS
cmake --preset mingw32 >/dev/null
cmake --build --preset mingw32 -j "$jobs"
echo "== mingw32: tests"
ctest --preset mingw32 -j "$jobs"
echo "== mingw32: $((SECONDS - started)) s"

# The unit, behaviour and host tests under wine64, in a Wine prefix inside the build tree.
echo "== mingw64: configure and build"
started=$SECONDS
cmake --preset mingw64 >/dev/null
cmake --build --preset mingw64 -j "$jobs"
echo "== mingw64: tests"
ctest --preset mingw64 -j "$jobs"
echo "== mingw64: $((SECONDS - started)) s"

# The libFuzzer targets, 60 seconds each, from their committed seed corpora.
echo "== fuzz"
started=$SECONDS
PSRL_JOBS=$jobs scripts/fuzz.sh 60
echo "== fuzz: $((SECONDS - started)) s"
