#!/bin/sh
# Rebuilds sample_capture.txt: the two messages in this folder as a modem in
# monitor mode prints them, with noise lines and text reports around them.
#
#   examples/make_sample.sh            uses build/release/tools/make_capture,
#                                      building it first if it is missing
#   MAKE_CAPTURE=path/to/make_capture examples/make_sample.sh
#
# The seed is fixed, so the capture comes out the same every time.  The net
# bulletin is closed with EOT; the weather note is sent without one and ends
# when its announced length is reached, which is why it has no final line
# end: characters coded after the byte that reaches the length are never
# decoded.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
make_capture=${MAKE_CAPTURE:-$root/build/release/tools/make_capture}

if [ ! -x "$make_capture" ]; then
    (cd "$root" && cmake --preset release >/dev/null && cmake --build --preset release --target make_capture)
fi

cd "$here"
"$make_capture" --seed 2019 --noise 2 --text-reports 2 -o sample_capture.txt \
    --id NETBULLETIN1 --title "net bulletin 14" net_bulletin.txt \
    --id WXNOTE000017 --title "weather note" --no-eot weather_note.txt
echo "wrote $here/sample_capture.txt"
