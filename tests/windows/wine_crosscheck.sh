#!/usr/bin/env bash
# Checks the Windows build against the native one on capture files: builds
# velk_lzh.exe with the "windows" preset, runs each case with it under Wine
# and with the native release build, and compares
#   - the console: the Windows console is a text stream, so every LF the
#     program writes arrives as CR LF ("\r\n" as CR CR LF); the native
#     output is translated the same way before the comparison;
#   - the payload file, byte for byte;
#   - the exit status, as the shell sees it (modulo 256);
#   - standard error (the lines of a failure that ended the run), translated
#     the same way.
#
# Then the live run: Wine maps COMn to the device that the prefix's
# dosdevices/comn link names, so velk_lzh.exe COM7 with com7 linked to the
# modem simulator's pseudo-terminal runs the real Windows serial path.  Each
# side (the native test build, whose COM7 is ./ttyS6) gets the same capture
# streamed at the line rate, once straight through and once with the port
# taken away for two seconds in the middle; compared are the commands the
# modem got, the original-data file and the payload file.  Under Wine no key
# press reaches the program, so each side is ended with SIGTERM once the
# original-data file holds everything sent and the files are flushed: the
# native run then stops in order and sends "velk Stop\r", the Windows one
# is ended by Wine at once, so its commands are compared without that last
# one.
#
# Not checked: the console events that end the live run on Windows (closing
# the console window, logoff, shutdown).  Wine 8 delivers none of them to a
# console program, neither when its terminal hangs up or it gets SIGHUP nor
# on `wineboot --end-session --shutdown`, and GenerateConsoleCtrlEvent can
# only send Ctrl-C and Ctrl-Break.
#
#   tests/windows/wine_crosscheck.sh
#   VELK_NATIVE_BUILD=DIR VELK_WINDOWS_BUILD=DIR tests/windows/wine_crosscheck.sh
#
# The native build directory must be configured already (run_tests.sh runs
# this after building the release preset).  Without the mingw-w64 cross
# compiler or Wine the check is skipped with a message; .ci/run installs both.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
native_build=$(realpath -m "${VELK_NATIVE_BUILD:-$root/build/release}")
windows_build=$(realpath -m "${VELK_WINDOWS_BUILD:-$root/build/windows}")

missing=()
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=("g++-mingw-w64-x86-64-posix")
command -v wine >/dev/null || missing+=("wine")
command -v wineserver >/dev/null || missing+=("wineserver")
if ((${#missing[@]})); then
  echo "=== Windows cross-check SKIPPED: not installed: ${missing[*]} (.ci/run installs them)"
  exit 0
fi

echo "=== windows: build velk_lzh.exe, compare it under Wine with the native build"
(cd "$root" && cmake --preset windows -B "$windows_build" >/dev/null)
cmake --build "$windows_build" --target velk_lzh -j "${VELK_JOBS:-2}" >/dev/null
cmake --build "$native_build" --target velk_lzh velk_lzh_testdev modem_simulator make_capture -j "${VELK_JOBS:-2}" \
  >/dev/null
exe="$windows_build/app/velk_lzh.exe"
native="$native_build/app/velk_lzh"
make_capture="$native_build/tools/make_capture"
native_testdev="$native_build/app/velk_lzh_testdev"
simulator="$native_build/tools/modem_simulator"

work=$(mktemp -d "${TMPDIR:-/tmp}/velk_wine_check_XXXXXX")
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
live_pids=()
cleanup() {
  local pid
  for pid in "${live_pids[@]}"; do kill -KILL "$pid" 2>/dev/null || true; done
  wineserver -k >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

# The first start creates the prefix (a few seconds) and says so on standard
# error; done once here, so the cases' standard error is the program's own.
timeout 120 wine wineboot --init >/dev/null 2>&1 || true
# One server for all the cases, started here so that no case's standard
# error is the one it inherits (it writes its object dump there when the
# live cases end their programs with a signal).
wineserver -k >/dev/null 2>&1 || true
wineserver -p >/dev/null 2>&1 || true

# ---- inputs, made once and copied into each side's directory
inputs="$work/inputs"
mkdir -p "$inputs"
: >"$inputs/empty.txt"
every_byte() {
  local i
  for i in $(seq 0 255); do printf "\\$(printf %03o "$i")"; done
}
# Every byte value as raw monitor text, and inside a text payload (where the
# parser writes each one to the payload file and the console).
{ every_byte; every_byte; } >"$inputs/raw_bytes.bin"
{ printf 'X\r\nLEN: 256\r\n###PAYLOAD2:\r\n'; every_byte; printf '\r\n###PAYLOAD_END\r\n'; } >"$inputs/text_bytes.bin"
cp "$root/examples/net_bulletin.txt" "$root/examples/weather_note.txt" "$inputs/"
seq 1 700 | sed 's/^/line /' >"$inputs/numbers.txt"
(cd "$inputs" && "$make_capture" --seed 11 -o several.txt net_bulletin.txt numbers.txt \
  --block 97 weather_note.txt --no-eot net_bulletin.txt)
# The live run's capture ends with a whole message: the Windows side is
# killed by SIGTERM under Wine, without the orderly end that would close a
# transfer still under way, so none may be.
(cd "$inputs" && "$make_capture" --seed 11 -o several_live.txt net_bulletin.txt numbers.txt \
  --block 97 weather_note.txt net_bulletin.txt)
cp "$root/examples/sample_capture.txt" "$inputs/"
# Far more payload bytes than the ring holds: read twice from a file, kept in
# a temporary file (GetTempPath's directory on Windows) from a FIFO.
seq 1 100000 | sed 's/^/line /' >"$inputs/long_numbers.txt"
(cd "$inputs" && "$make_capture" --seed 12 -o long.txt long_numbers.txt && rm long_numbers.txt)

# run_side DIR PROGRAM... ARGS: in a fresh copy of the inputs, prepared by
# the case's setup, leaves stdout, stderr and the status in DIR.
run_side() {
  local dir=$1 status=0
  shift
  mkdir -p "$dir" && cp -r "$inputs/." "$dir/"
  (cd "$dir" && eval "$setup" && timeout 60 "$@" >.stdout 2>.stderr) || status=$?
  echo "$status" >"$dir/.status"
}

# check_case NAME SETUP PAYLOAD ARGS...: runs ARGS with each build in a copy
# of the inputs (SETUP, if any, prepares it first) and compares the results.
passed=0
failed=0
check_case() {
  local name=$1 setup=$2 payload=$3 problems=()
  shift 3
  local n="$work/native_$name" w="$work/windows_$name"
  run_side "$n" "$native" "$@"
  run_side "$w" wine "$exe" "$@"
  perl -0777 -pe 's/\n/\r\n/g' "$n/.stdout" >"$n/.stdout_crlf"
  cmp -s "$n/.stdout_crlf" "$w/.stdout" || problems+=("console differs")
  cmp -s "$n/.status" "$w/.status" || problems+=("status $(cat "$n/.status") native, $(cat "$w/.status") windows")
  # The lines of a failure that ends the run go to standard error, a text
  # stream too.
  perl -0777 -pe 's/\n/\r\n/g' "$n/.stderr" >"$n/.stderr_crlf"
  cmp -s "$n/.stderr_crlf" "$w/.stderr" || problems+=("standard error differs")
  if [[ -n $payload && -f $n/$payload ]]; then
    cmp -s "$n/$payload" "$w/$payload" || problems+=("$payload differs")
  elif [[ -n $payload && -e $w/$payload ]]; then
    problems+=("$payload made by windows only")
  fi
  if ((${#problems[@]})); then
    failed=$((failed + 1))
    echo "FAIL $name (status $(cat "$n/.status")): ${problems[*]}"
  else
    passed=$((passed + 1))
    echo "ok   $name (status $(cat "$n/.status"))"
  fi
}

check_case no_argument "" ""
check_case missing_capture "" decompressed_missing.txt missing.txt
check_case empty_capture "" decompressed_empty.txt empty.txt
check_case every_byte_raw "" decompressed_raw_bytes.bin raw_bytes.bin
check_case every_byte_text "" decompressed_text_bytes.bin text_bytes.bin
check_case payload_file_is_a_directory "mkdir decompressed_several.txt" "" several.txt
check_case several_messages "" decompressed_several.txt several.txt
check_case sample_capture "" decompressed_sample_capture.txt sample_capture.txt
check_case port_com0 "" "" com0
check_case long_capture_read_twice "" decompressed_long.txt long.txt
check_case long_capture_through_a_fifo "mkfifo long.fifo; (timeout 60 cat long.txt >long.fifo &)" \
  decompressed_long.fifo long.fifo
check_case payload_file_on_a_full_device "ln -s /dev/full decompressed_several.txt" "" several.txt

# ---- the live run
separator_size=98       # CR LF CR LF, 90 equals signs, CR LF CR LF
# The simulator's replies to one start: each command line (without its leading
# CR) with CR LF, then "OK" CR LF: "velk mode 3" 17, "velk V/H/P ..." 3 x 14,
# "velk Start" 16.
start_reply_size=75

# wait_for TRIES TEST...: polls TEST every 0.1 s, at most TRIES times.
wait_for() {
  local tries=$1
  shift
  until "$@"; do
    ((--tries > 0)) || return 1
    sleep 0.1
  done
}
size_at_least() { [[ -f $1 ]] && (($(stat -c %s "$1") >= $2)); }

# live_side DIR STARTS SIMULATOR_OPTIONS PROGRAM...: the simulator offers
# DIR/ttyS6 (COM7 of both sides) and streams several_live.txt; PROGRAM runs in DIR
# until the original-data file holds the separator, STARTS replies to
# "velk Start" and the whole capture, then gets SIGTERM.
live_side() {
  local dir=$1 starts=$2 options=$3 simulator_pid program_pid expected
  shift 3
  mkdir -p "$dir"
  # shellcheck disable=SC2086 # the options are words
  "$simulator" --quiet --capture "$inputs/several_live.txt" --link "$dir/ttyS6" --record "$dir/.commands" \
    --time-limit 60 $options >/dev/null 2>&1 &
  simulator_pid=$!
  live_pids+=("$simulator_pid")
  wait_for 50 test -L "$dir/ttyS6" || true
  ln -sfn "$dir/ttyS6" "$WINEPREFIX/dosdevices/com7"
  (cd "$dir" && exec "$@" </dev/null >.stdout 2>.stderr) &
  program_pid=$!
  live_pids+=("$program_pid")
  expected=$((separator_size + starts * start_reply_size + $(stat -c %s "$inputs/several_live.txt")))
  wait_for 300 size_at_least "$dir/velk_original_data.txt" "$expected" || echo "(timed out)" >>"$dir/.stderr"
  sleep 0.5 # the payload file is flushed right after the original-data file
  kill -TERM "$program_pid" 2>/dev/null || true
  wait "$program_pid" 2>/dev/null || true
  sleep 0.3 # the stop command on its way to the simulator
  kill -TERM "$simulator_pid" 2>/dev/null || true
  wait "$simulator_pid" 2>/dev/null || true
}

# check_live NAME STARTS SIMULATOR_OPTIONS
check_live() {
  local name=$1 starts=$2 options=$3 problems=() file
  local n="$work/native_$name" w="$work/windows_$name"
  live_side "$n" "$starts" "$options" "$native_testdev" COM7
  live_side "$w" "$starts" "$options" wine "$exe" COM7
  printf 'velk Stop\r' >>"$w/.commands"
  cmp -s "$n/.commands" "$w/.commands" || problems+=("commands differ")
  # The payload file says when the run started and when each message was
  # heard: the two runs differ there by their clocks alone.
  for side in "$n" "$w"; do
    sed -E 's/[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z/TIME/g' "$side/velk_payload_data.txt" \
      >"$side/.payload_untimed"
  done
  cmp -s "$n/velk_original_data.txt" "$w/velk_original_data.txt" || problems+=("velk_original_data.txt differs")
  cmp -s "$n/.payload_untimed" "$w/.payload_untimed" || problems+=("velk_payload_data.txt differs")
  [[ ! -s $n/.stderr && ! -s $w/.stderr ]] || problems+=("standard error not empty (or timed out)")
  if ((starts > 1)) && [[ $(grep -c "LOST, WAITING" "$w/.stdout") != 1 || $(grep -c "IS BACK" "$w/.stdout") != 1 ]]; then
    problems+=("not one lost and one back line on the Windows console")
  fi
  if ((${#problems[@]})); then
    failed=$((failed + 1))
    echo "FAIL $name: ${problems[*]}"
  else
    passed=$((passed + 1))
    echo "ok   $name (live on COM7, ended by SIGTERM once the files were flushed)"
  fi
}

if [[ -x $native_testdev && -x $simulator ]]; then
  check_live live_streamed 1 ""
  check_live live_port_lost 2 "--vanish-after 6000 --vanish-ms 2000"
else
  echo "(live run not checked: $native_testdev or $simulator is missing)"
fi

echo "=== windows: $passed cases match the native build, $failed differ"
((failed == 0))
