#!/usr/bin/env bash
# Builds the Debian package from the "package" preset (the program alone, the
# default device prefix) and checks what a user gets from it: the programs,
# the gzipped manual pages, the copyright file, and the systemd template,
# verified by systemd-analyze for a plain and a by-id instance.  The package
# is unpacked into a scratch folder, never installed; the units there run
# the unpacked program.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
cmake --preset package >/dev/null
cmake --build --preset package -j "${VELK_JOBS:-2}" >/dev/null
(cd build/package && cpack -G DEB >/dev/null)
deb=$(ls build/package/velk-lzh_*.deb)
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$deb" "$scratch/root"
for f in usr/bin/velk_lzh usr/bin/lzhuf_tool usr/share/man/man1/velk_lzh.1.gz usr/share/man/man1/lzhuf_tool.1.gz \
         usr/share/doc/velk-lzh/copyright usr/lib/systemd/system/velk_lzh@.service; do
  [[ -e "$scratch/root/$f" ]] || { echo "package lacks /$f"; exit 1; }
done
for page in velk_lzh lzhuf_tool; do
  for section in "SEE ALSO" "EXIT STATUS" FILES EXAMPLES; do
    zcat "$scratch/root/usr/share/man/man1/$page.1.gz" | grep -q "^\.SH $section" ||
      { echo "$page.1 lacks $section"; exit 1; }
  done
done
"$scratch/root/usr/bin/velk_lzh" --help | grep -q "COM1 is /dev/ttyS0 in this build" ||
  { echo "the package's COM1 is not /dev/ttyS0"; exit 1; }
if command -v systemd-analyze >/dev/null; then
  for instance in ttyUSB0 'serial-by\x2did-usb\x2dVelk_Modem\x2dif00'; do
    sed "s|ExecStart=/usr/bin/velk_lzh|ExecStart=$scratch/root/usr/bin/velk_lzh|" \
      "$scratch/root/usr/lib/systemd/system/velk_lzh@.service" >"$scratch/velk_lzh@$instance.service"
    systemd-analyze verify --man=no "$scratch/velk_lzh@$instance.service"
  done
else
  echo "systemd-analyze missing: the unit is not verified (.ci/run installs systemd)"
fi
echo "package ok: $deb"
