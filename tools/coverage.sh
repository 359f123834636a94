#!/usr/bin/env bash
# Builds the coverage preset, runs the whole test suite with it and prints the
# line and branch coverage of the program's folders: a total per folder, then
# per file.  Every process the tests start (velk_lzh, the simulator, the test
# programs) adds its counts, so the live runs count too.
#
#   tools/coverage.sh                     build, test, print the figures
#   tools/coverage.sh --uncovered PATH    then list PATH's uncovered lines and
#                                         branches (a file or a folder, e.g. lzhuf/)
#   tools/coverage.sh --report-only ...   skip the build and the tests: report
#                                         on the counts of the last run
#
# VELK_JOBS (default 2) sets the build's and ctest's parallelism.  Exits with
# ctest's status, after the figures, when a test fails.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs="${VELK_JOBS:-2}"
build="$PWD/build/coverage"
folders=(lzhuf monitor app serial platform)
uncovered="" run=1
while (($#)); do
  case "$1" in
    --uncovered) uncovered="${2:?--uncovered needs a file or folder}"; shift 2 ;;
    --report-only) run=0; shift ;;
    *) echo "usage: $0 [--report-only] [--uncovered FILE_OR_FOLDER]" >&2; exit 2 ;;
  esac
done

status=0
if ((run)); then
  cmake --preset coverage >/dev/null
  cmake --build --preset coverage -j "${jobs}"
  # Each process counts into a file of its own from its start (%c), so one
  # that is killed or has no descriptor left at its end is not lost, and one
  # whose process id comes round again adds to the file it finds (%m).  An
  # absolute path, since the tests run the program in folders of their own;
  # open to all, since some run it as another user.
  rm -rf "${build}/profiles"
  mkdir -m 1777 "${build}/profiles"
  LLVM_PROFILE_FILE="${build}/profiles/%c%p-%m.profraw" ctest --preset coverage -j "${jobs}" || status=$?
  llvm-profdata merge -sparse "${build}"/profiles/*.profraw -o "${build}/coverage.profdata"
fi

# Every instrumented binary the build made: the same source built into
# several of them is counted once, with the counts of all summed.
objects=()
while IFS= read -r f; do
  grep -q __llvm_covmap "$f" && objects+=(-object "$f")
done < <(find "${build}" -type f \( -perm -u+x -o -name '*.so' \) -not -path '*/CMakeFiles/*' | sort)
# The programs' own main functions, and Sleep in the test builds that shorten
# it, differ between binaries under one name: llvm-cov warns of that for each
# report, which says nothing about the figures, so the warning is dropped.
cov() {
  local command="$1"; shift
  llvm-cov "${command}" -instr-profile="${build}/coverage.profdata" "${objects[@]:1}" -use-color=false \
    -ignore-filename-regex="^${PWD}/(tests|tools|bench|fuzz)/|^/usr/" "$@" 2> >(grep -v 'functions have mismatched data' >&2)
}

# llvm-cov's table, cut to lines and branches (covered/all, percent): the
# folder's total first, then its files by name.
for folder in "${folders[@]}"; do
  echo
  cov report "$PWD/${folder}" | awk -v folder="${folder}/" '
    NF == 13 && $1 != "Filename" {
      name = ($1 == "TOTAL") ? folder " (total)" : folder $1
      lines = sprintf("%d/%d", $8 - $9, $8)
      branches = $11 ? sprintf("%d/%d", $11 - $12, $11) : "-"
      printf "%d %-36s lines %9s %7s   branches %9s %7s\n", $1 != "TOTAL", name, lines, $10, branches, $11 ? $13 : ""
    }' | sort -k1,1n -k2,2 | cut -c3-
done

# file:line: the source of each line never run, and of each condition that
# never went one way (a template's instantiations together).  llvm-cov show
# prints a file name line before each file when there are several.
if [[ -n "${uncovered}" ]]; then
  echo
  echo "Not covered in ${uncovered}:"
  cov show -show-branches=count -show-instantiations=false "$PWD/${uncovered}" | awk -v root="$PWD/" -v file="${uncovered%/}" '
    /^\/.*:$/ { file = substr($0, 1, length($0) - 1); sub(root, "", file); next }
    /^ *[0-9]+\| *0\|/ { n = $0 + 0; sub(/^[^|]*\|[^|]*\|/, ""); print file ":" n ":" $0; next }
    match($0, /Branch \([0-9]+:[0-9]+\): \[True: [^,]*, False: [^]]*\]/) {
      b = substr($0, RSTART, RLENGTH); gsub(/Branch \(|\)|: \[True: |, False: |\]/, " ", b); split(b, f, " ")
      key = file ":" f[1]; if (!(key in yes)) order[++count] = key
      yes[key] += f[2] != "0"; no[key] += f[3] != "0"
    }
    END {
      for (i = 1; i <= count; ++i) {
        key = order[i]; if (yes[key] && no[key]) continue
        split(key, f, ":")
        print f[1] ":" f[2] ": condition at column " f[3] " never " (yes[key] ? "false" : no[key] ? "true" : "evaluated")
      }
    }' | sort -t: -k1,1 -k2,2n -s
fi
exit "${status}"
