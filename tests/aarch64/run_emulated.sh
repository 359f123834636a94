#!/usr/bin/env bash
# Cross-builds the aarch64 preset (a Raspberry Pi's 64-bit processor) and runs,
# under qemu's user-mode emulation, the unit tests, the capture tests and one
# live test: the scalar paths that x86-64 never takes, and any assumption of
# byte order or alignment.  The test rigs start the target's programs through
# VELK_TEST_EMULATOR.  Skipped, saying so, without the cross compiler or qemu.
#
# Not run here: tests whose shell scripts start velk_lzh themselves (/bin/sh
# cannot start a program of another processor without binfmt_misc, which a
# container cannot register) and the allocation counter, which preloads a
# host library.
set -euo pipefail
cd "$(dirname "$0")/../.."

emulator=$(command -v qemu-aarch64 || true)
if ! command -v aarch64-linux-gnu-g++ >/dev/null || [[ -z "$emulator" ]]; then
  echo "=== aarch64 skipped: g++-aarch64-linux-gnu or qemu-user is not installed (.ci/run installs them)"
  exit 0
fi
echo "=== aarch64: cross-build, tests under qemu-aarch64"
start=$(date +%s)
cmake --preset aarch64 >/dev/null
cmake --build --preset aarch64 -j "${VELK_JOBS:-2}"
export VELK_TEST_EMULATOR="$emulator" QEMU_LD_PREFIX=/usr/aarch64-linux-gnu
ctest --preset aarch64 -j "${VELK_JOBS:-2}" \
  -R '^(HuffmanModel|Lzhuf|DecoderTables|Parser|NumberReading|Framer|CommandLine|CaptureDecoding|BadInput|ListPorts|LiveRun\.AnnouncedTransferOutlasts)' \
  -E 'CaptureDecoding\.(LongCapture|StorageOrACaptureRead)|CommandLine\.FailedAnswers'
echo "=== aarch64 took $(( $(date +%s) - start )) s"
