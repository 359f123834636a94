#!/usr/bin/env bash
# Builds and runs every test: the Release build and the Debug build with
# AddressSanitizer + UndefinedBehaviorSanitizer, then the Windows build under
# Wine against the native release build (skipped, saying so, where the
# mingw-w64 cross compiler or Wine is missing), then each fuzz target for a
# bounded time (VELK_FUZZ_SECONDS, default 60; skipped where clang is
# missing).  Exits non-zero on the first failure.
set -euo pipefail
cd "$(dirname "$0")"

jobs="${VELK_JOBS:-2}"

for preset in release debug; do
  echo "=== ${preset}: configure, build, test"
  cmake --preset "${preset}" >/dev/null
  cmake --build --preset "${preset}" -j "${jobs}"
  ctest --preset "${preset}" -j "${jobs}"
done

tests/windows/wine_crosscheck.sh

if command -v clang++ >/dev/null; then
  echo "=== fuzzing"
  fuzz/run_fuzzers.sh
else
  echo "=== fuzzing skipped: clang++ is not installed (.ci/run installs it)"
fi
