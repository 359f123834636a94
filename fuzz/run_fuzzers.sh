#!/usr/bin/env bash
# Builds the libFuzzer targets (clang preset: ASan + UBSan) and runs each for
# a bounded time, starting from the committed seed corpora.  Any crash,
# sanitizer report or failed check ends with a non-zero status; the input
# that caused it is left in build/clang/fuzz-artifacts/.
#   VELK_FUZZ_SECONDS  seconds per target (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${VELK_FUZZ_SECONDS:-60}"
cmake --preset clang >/dev/null
cmake --build --preset clang -j "${VELK_JOBS:-2}" --target fuzz_capture_path fuzz_decoder_runs

work="$(mktemp -d)"
trap 'rm -rf "${work}"' EXIT
artifacts="build/clang/fuzz-artifacts"
mkdir -p "${artifacts}"

for pair in capture_path:capture decoder_runs:decoder; do
  target="fuzz_${pair%%:*}"
  seeds="fuzz/corpus/${pair##*:}"
  mkdir -p "${work}/${target}"
  echo "=== ${target}: ${seconds} s"
  # The fresh corpus directory comes first: new inputs go there, and the
  # committed seeds stay as they are.
  "build/clang/fuzz/${target}" -max_total_time="${seconds}" -print_final_stats=1 \
    -artifact_prefix="${artifacts}/${target}-" "${work}/${target}" "${seeds}" 2>"${work}/${target}.log" || {
    tail -n 60 "${work}/${target}.log"
    echo "${target}: FAILED"
    exit 1
  }
  grep -E '^(stat::number_of_executed_units|Done)' "${work}/${target}.log" || true
done
echo "fuzzing: all targets ran clean"
