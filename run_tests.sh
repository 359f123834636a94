#!/usr/bin/env bash
# Builds and runs every test: the Release build and the Debug build with
# AddressSanitizer + UndefinedBehaviorSanitizer, then the Windows build under
# Wine against the native release build (skipped, saying so, where the
# mingw-w64 cross compiler or Wine is missing).  Exits non-zero on the first
# failure.
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
