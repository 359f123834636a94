#!/usr/bin/env bash
# Prints how many non-blank lines of C and C++ (.c .cc .cpp .h .hpp) the
# tests are (tests/ and fuzz/) against the code (everything else), and the
# tests as a percentage of the code.  Only tracked and new files count;
# build output and other ignored files do not.
set -euo pipefail
cd "$(dirname "$0")/.."

count() {  # non-blank lines of the listed files
  local total=0 n f
  while IFS= read -r -d '' f; do
    [[ -f "$f" ]] || continue
    n=$(grep -cv '^[[:space:]]*$' "$f" || true)
    total=$((total + n))
  done
  echo "$total"
}
sources() { git ls-files -co --exclude-standard -z -- '*.c' '*.cc' '*.cpp' '*.h' '*.hpp'; }

tests=$(sources | grep -z -E '^(tests|fuzz)/' | count)
code=$(sources | grep -z -v -E '^(tests|fuzz)/' | count)
echo "tests: ${tests} lines (tests/, fuzz/)"
echo "code:  ${code} lines"
awk -v t="$tests" -v c="$code" 'BEGIN { printf "tests are %.0f %% of the code\n", c ? 100 * t / c : 0 }'
