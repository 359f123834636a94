#!/bin/sh
# Rebuilds sample_capture.txt: the two messages in this folder as a modem in
# monitor mode prints them, with noise lines and text reports around them.
#
#   examples/make_sample.sh            uses build/release/tools/make_capture,
#                                      building it first if it is missing
#   MAKE_CAPTURE=path/to/make_capture examples/make_sample.sh
#
# The seed is fixed, so the capture comes out the same every time.  The two
# messages are announced together, as senders often do (both "FC EM" lines
# first, then the two transfers), and each decodes whole with an OK check.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
make_capture=${MAKE_CAPTURE:-$root/build/release/tools/make_capture}

if [ ! -x "$make_capture" ]; then
    (cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release --target make_capture)
fi

cd "$here"
"$make_capture" --seed 2019 --noise 2 --text-reports 2 -o sample_capture.txt \
    --group 2 --id NETBULLETIN1 --title "net bulletin 14" net_bulletin.txt \
    --id WXNOTE000017 --title "weather note" weather_note.txt
echo "wrote $here/sample_capture.txt"
