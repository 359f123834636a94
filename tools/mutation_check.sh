#!/usr/bin/env bash
# Mutation check: plants deliberate faults one at a time in a scratch copy of
# the tree (build-mutants/tree, never the working tree), builds the release
# preset there and runs ctest, and records which tests fail for each fault.
# A fault that no test notices is reported as NOT CAUGHT.
#
#   tools/mutation_check.sh [-r REF] [-o TABLE] [-t SECONDS] [NAME...]
#
# The tree checked is the working tree, or with -r the commit REF (e.g. main
# before a rework of the tests).  Each test may take -t seconds (default 45;
# a fault can make a test hang).  With names, only those faults are
# planted; `-l` lists them.  The table
# (Markdown) goes to standard output and, with -o, to a file.  A fault whose
# text no longer matches the source is reported as STALE: update its edit.
# The build and ctest run with -j2 (VELK_JOBS changes that); one fault at a
# time, so the machine is never asked for more than one build.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
scratch="${root}/build-mutants/tree"
jobs="${VELK_JOBS:-2}"
test_timeout=45
table_file=""
ref=""

# name | file | perl substitution (applied to the whole file) | the fault
faults=(
  "rebuild_late|lzhuf/huffman_model.h|s/m\.weight\[ROOT_NODE\] == REBUILD_WEIGHT/m.weight[ROOT_NODE] > REBUILD_WEIGHT/g|the model's rebuild one update late"
  "swap_partner|lzhuf/huffman_model.h|s/const int32_t l = model_swap_partner\(m, c, k\);/const int32_t l = model_swap_partner(m, c, k) - 1;/|the swap partner one node below the right one"
  "position_row|lzhuf/position_tables.h|s/\{0x50, 4, 8, 5\}/{0x50, 5, 8, 5}/|the position high table one too high in its third row"
  "copy_early_read|lzhuf/decoder_steps.h|s/for \(uint32_t k = 0; k < length; \+\+k\) to\[k\] = source\[k\];/__builtin_memmove(to, source, length);/|the match copy reading its source before the previous character is stored"
  "look_back|monitor/message_framer.h|s/HEADER_LOOK_BACK = 25;/HEADER_LOOK_BACK = 24;/|the framer's 25-byte look-back into the ring one short"
  "stx_zero|monitor/message_framer.cpp|s/f\.block_left = length == 0 \? FULL_BLOCK : length;/f.block_left = length;/|an STX length byte of 0 taken as 0 instead of 256"
  "finish_bit|lzhuf/byte_steps.cpp|s/return pending >= n;/return pending > n;/|finish taking one bit too few"
  "crc_init|lzhuf/lzhuf_decoder.cpp|s/d\.running_crc = 0;/d.running_crc = 0xFFFF;/|the stream CRC starting at 0xFFFF"
  "argument_256|app/main.cpp|s/i < sizeof argument_copy - 1 &&/i < sizeof argument_copy \&\&/|the argument copy taking 256 characters"
  "separator_bare|app/live_run.cpp|s/\"\\\\r\\\\n\\\\r\\\\n(=+)\"\n\s*\"\\\\r\\\\n\\\\r\\\\n\";/\"\$1\";/|the live run's separator written without its blank lines"
  "watchdog_at_limit|app/silence_watchdog.h|s/return w\.silent_passes > SILENCE_LIMIT;/return w.silent_passes >= SILENCE_LIMIT;/|the silence watchdog acting on the limit's own pass"
  "payload_w|app/live_run.cpp|s/fopen\(PAYLOAD_FILE_NAME, \"ab\"\)/fopen(PAYLOAD_FILE_NAME, \"wb\")/|the live run's payload file opened \"w\" instead of \"a\""
  "port_speed|platform/posix_comm.cpp|s/case 115200: return B115200;/case 115200: return B57600;/|the port set to 57600 baud when 115200 is asked for"
  "port_cooked|platform/posix_comm.cpp|s/    cfmakeraw\(&tio\);\n//|the port's line discipline left as it was (echo, CR to LF)"
  "quit_restore|platform/console_keys_posix.cpp|s/(const int saved_errno = errno;\n)    console_keys_restore\(\);\n/\$1/|the terminal left in key mode when SIGQUIT ends the run"
  "eof_is_key|platform/console_keys_posix.cpp|s/if \(got == 0 \x7c\x7c /if (got == 0) stream_byte_seen = true;\n    if (got == 0 \x7c\x7c /|the end of standard input taken as a key"
  "no_header_gate|monitor/message_framer.cpp|s/    if \(!start_bytes_completed\(ring\)\) return;\n    announce\(out, NO_HEADER\);/    return;\n    announce(out, NO_HEADER);/|start bytes without an announcement ignored, as when the header was a gate"
  "late_header_cuts|monitor/message_framer.cpp|s/f\.since_start < HEADER_LOOK_BACK - 1;/f.since_start < 0;/|a transfer's own late header taken as a cut"
  "late_header_short|monitor/message_framer.cpp|s/f\.since_start < HEADER_LOOK_BACK - 1;/f.since_start < 16;/|the late-header window too short to reach a header that ends right before the start"
  "abandon_forgets|monitor/message_framer.cpp|s/        framer\.state = SeekHeader;\n        after_message\(framer, out\);/        restart(framer);/|a timeout or a lost port forgetting the announcements behind the transfer"
  "match_not_cut|lzhuf/decoder_steps.h|s/if \(limit - t\.produced < static_cast<int64_t>\(length\)\) length =/if (false) length =/|a match that crosses the stream's length copied whole"
  "count_32bit|lzhuf/lzhuf_decoder.h|s/    int64_t output_count;/    int32_t output_count;/|the decoder's count in 32 bits"
  "read_error_is_end|app/capture_run.cpp|s/if \(std::ferror\(capture_file\)\) read_failed\(argument\);/(void)argument;/|a read error of the capture taken as its end"
  "std_fds_reused|app/standard_streams.cpp|s/if \(fcntl\(fd, F_GETFD\) != -1\) continue;/continue;/|closed standard descriptors left for files to take"
  "watchdog_any_state|app/live_run.cpp|s/if \(watchdog_pass\(silence_watchdog, transfer_under_way\(message_framer\)\)\) \{\n        abandon_transfer\(message_framer, lzhuf_decoder, program_output, SilenceTimeout\);/if (watchdog_pass(silence_watchdog, message_framer.state != SeekHeader)) {\n        restart(message_framer);/|the watchdog acting, as it once did, in any state but SeekHeader: an announced message whose transfer has not begun is given up"
  "lost_port_forgets|app/port_recovery.cpp|s/    abandon_transfer\(message_framer, lzhuf_decoder, program_output, PortLost\);/    restart(message_framer);/|a lost port forgetting an awaited announcement and closing no transfer"
  "settle_unlogged|app/live_run.cpp|s/        start_heard \+= byte_count;\n/        start_heard += byte_count;\n        if (echo == Echoed) return true;\n/|what arrives during the start commands shown but neither logged nor decoded"
  "air_obeyed|app/console_output.cpp|s/    if \(c\.terminal\) \{\n        for/    if (false) {\n        for/|a terminal shown the air's control bytes as they are"
  "fresh_line_off|app/console_output.cpp|s/if \(!opens_line && c\.last != LF\)/if (false)/|a ### line left to start wherever the cursor stands"
  "file_overwritten|app/message_files.cpp|s/if \(link\(from, to\) == 0\)/if (std::rename(from, to) == 0)/|a message file renamed over one of the same name"
  "count_no_damaged|app/run_output.cpp|s/r\.messages - r\.intact\);/0u);/|the count line never counting a damaged message"
  "heard_in_capture|app/run_output.cpp|s/    if \(!r->live\) return;\n//|HEARD AT lines in a capture run"
  "run_margin|lzhuf/decoder_steps.h|s/RUN_MARGIN = STEP_BITS \+ 16;/RUN_MARGIN = STEP_BITS - 8;/|the run engine taking whole steps too close to the end of its bytes"
  "run_tail_bit|lzhuf/run_steps.cpp|s/p\.low = static_cast<uint32_t>\(window >> \(64 - code_bits\)\);/p.low = static_cast<uint32_t>(window >> (65 - code_bits));/|the run engine reading a position code one bit short"
  "run_limit_guard|lzhuf/run_steps.cpp|s/ while \(position \+ RUN_MARGIN <= run_end && text\.produced \+ MOST_CHARACTERS < limit\)/ while (position + RUN_MARGIN <= run_end)/|the run engine taking steps however close the count comes to the stream's length"
  "run_leftover_bits|lzhuf/run_steps.cpp|s/d\.bit_count = static_cast<uint8_t>\(pending\);/d.bit_count = static_cast<uint8_t>(pending - 1);/|the run engine handing back one pending bit too few"
  "stop_key_left|platform/console_keys_posix.cpp|s/    if \(mode_applied\) tcflush\(STDIN_FILENO, TCIFLUSH\);\n//|the key that ended the run left for the shell"
  "scan_header_seam|monitor/monitor_parser.cpp|s/j < n && j < BEFORE; \+\+j/j < n \&\& j < BEFORE - 1; ++j/|a read's header scan leaving out the window that begins with the previous read's last character"
  "hex_mid_triple|monitor/monitor_parser.cpp|s/if \(v\.hex_phase != 0\) return chars;/if (false) return chars;/|whole hex triples taken from a read that begins inside a triple"
  "hex_wrap_piece|monitor/monitor_parser.cpp|s/left -= stretch;/left = 0;/|hex triples that straddle the ring's end: only the bytes before the end stored"
  "header_end_wrap|monitor/message_framer.cpp|s/const int32_t length = count - i < PAYLOAD_RING_SIZE - from \? count - i : PAYLOAD_RING_SIZE - from;/const int32_t length = count - i;/|the search for a header line's F ahead of a block run not split at the ring's end"
  "crc_run_tables|lzhuf/stream_crc.h|s/t\[1\]\[bytes\[6\]\] \^ t\[0\]\[bytes\[7\]\]/t[0][bytes[6]] ^ t[1][bytes[7]]/|the CRC's eight-byte step looking up its last two bytes in each other's tables"
)

usage() { sed -n '2,16p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
while getopts "r:o:t:lh" opt; do
  case "$opt" in
    r) ref="$OPTARG" ;;
    o) table_file="$OPTARG" ;;
    t) test_timeout="$OPTARG" ;;
    l) for f in "${faults[@]}"; do IFS='|' read -r n _ _ d <<<"$f"; printf '%-16s %s\n' "$n" "$d"; done; exit 0 ;;
    *) usage ;;
  esac
done
shift $((OPTIND - 1))
wanted=("$@")

selected() {
  ((${#wanted[@]} == 0)) && return 0
  local w
  for w in "${wanted[@]}"; do [[ "$w" == "$1" ]] && return 0; done
  return 1
}

# The scratch copy: the working tree, tracked and untracked files alike
# (ignored ones such as build/ left out), or the commit REF.  Files that did
# not change keep their time stamps, so a rerun rebuilds only what differs.
mkdir -p "$scratch"
src="$root"
if [[ -n "$ref" ]]; then
  src="${root}/build-mutants/source"
  rm -rf "$src" && mkdir -p "$src"
  git -C "$root" archive "$ref" | tar -x -C "$src"
  (cd "$src" && find . -type f -printf '%P\0') >"${root}/build-mutants/files"
else
  (cd "$root" && git ls-files -co --exclude-standard -z) >"${root}/build-mutants/files"
fi
while IFS= read -r -d '' f; do
  [[ -f "${src}/${f}" ]] || continue
  mkdir -p "${scratch}/$(dirname "$f")"
  cmp -s "${src}/${f}" "${scratch}/${f}" || cp "${src}/${f}" "${scratch}/${f}"
done <"${root}/build-mutants/files"
# Files the tree no longer has must not linger in the copy.
(cd "$scratch" && find . -path ./build -prune -o -type f -printf '%P\0') | while IFS= read -r -d '' f; do
  [[ -f "${src}/${f}" ]] || rm -f "${scratch}/${f}"
done

log="${root}/build-mutants/log"
: >"$log"
build() { (cd "$scratch" && cmake --preset release && cmake --build --preset release -j "$jobs") >>"$log" 2>&1; }
# Runs the suite; prints the failed tests, one per line.
failed_tests() {
  local dir="${scratch}/build/release"
  rm -f "${dir}/Testing/Temporary/LastTestsFailed.log"
  # In a process group of its own, so whatever a timed-out test left
  # running is ended with it.
  (cd "$scratch" && setsid bash -c 'echo $$ >../ctest.pgid; exec ctest --preset release -j "$1" --timeout "$2"' \
    _ "$jobs" "$test_timeout") >>"$log" 2>&1 || true
  kill -KILL -- "-$(cat "${scratch}/../ctest.pgid")" 2>/dev/null || true
  if [[ -f "${dir}/Testing/Temporary/LastTestsFailed.log" ]]; then
    cut -d: -f2- "${dir}/Testing/Temporary/LastTestsFailed.log"
  fi
}

echo "building the unchanged tree ${ref:-(working tree)} in ${scratch}" >&2
build || { echo "the unchanged tree does not build; see ${log}" >&2; exit 1; }
baseline="$(failed_tests)"
if [[ -n "$baseline" ]]; then
  echo "tests failing without any fault (left out of the table):" >&2
  echo "$baseline" >&2
fi

table="| fault | what it does | failing tests |"$'\n'"|---|---|---|"$'\n'
missed=0
for f in "${faults[@]}"; do
  IFS='|' read -r name file subst description <<<"$f"
  selected "$name" || continue
  echo "fault ${name}: ${description}" >&2
  target="${scratch}/${file}"
  pristine="${src}/${file}"
  echo "=== fault ${name}" >>"$log"
  if ! perl -0pi -e "$subst" "$target" || cmp -s "$pristine" "$target"; then
    result="STALE (the edit no longer matches ${file})"
    missed=1
  elif ! build; then
    result="BUILD FAILED (see build-mutants/log)"
    missed=1
  else
    caught="$(failed_tests | grep -vxF -f <(printf '%s\n' "$baseline") || true)"
    if [[ -z "$caught" ]]; then
      result="NOT CAUGHT"
      missed=1
    else
      result="$(echo "$caught" | sed 's/^/`/; s/$/`/' | paste -sd, - | sed 's/,/, /g')"
    fi
  fi
  cp "$pristine" "$target"  # a fresh time stamp, so the next build takes it
  table+="| ${name} | ${description} | ${result} |"$'\n'
  echo "  ${result}" >&2
done
build || true  # leave the scratch build matching the tree

printf '%s' "$table"
[[ -n "$table_file" ]] && printf '%s' "$table" >"$table_file"
exit "$missed"
