#!/usr/bin/env bash
# The demo's two update programs, the Linux one and the Windows one, each on the same installation:
# the Linux programs on the demo installation of a host prefix, the Windows programs under Wine on a
# C: drive laid out like it (its files, its registry imported with `wine reg import`). In both, one
# shared file is read-only and another is held open, without sharing, by another program of the
# same system; both programs are started from the CD-ROM drive D:, the shared-files update first,
# then the main product's, whose database client is missing in both.
#
# Each pair of runs must end with the same exit code and the same report, line for line, except the
# time and the temporary files' paths, and leave every file of the installation byte for byte the
# same.
#
# usage: EndToEnd.sh HOST_BUILD WINDOWS_BUILD WORK
#   HOST_BUILD: the Linux build (bin/: kvhost, kvpack, kv-companydb, korvane-update, kv_hold_file;
#   demo/: the two packages); WINDOWS_BUILD: the Windows build (bin/korvane-update.exe,
#   bin/kv_hold_file.exe); WORK: a folder made anew for the runs, kept for inspection.
set -euo pipefail
if [ $# -ne 3 ]; then
  echo "usage: $0 HOST_BUILD WINDOWS_BUILD WORK" >&2
  exit 2
fi
repo=$(cd "$(dirname "$0")/../../.." && pwd)
host_bin=$(realpath "$1/bin")
demo=$(realpath "$1/demo")
win_bin=$(realpath "$2/bin")
work=$(realpath -m "$3")
wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)

rm -rf "$work"
mkdir -p "$work"
linux=$work/linux
export WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
holder=
stop() {
  # The holder ends when its standard input does; then Wine's own server.
  if [ -n "$holder" ]; then exec 3>&- || true; wait "$holder" 2>/dev/null || true; holder=; fi
  wineserver -k >/dev/null 2>&1 || true
}
trap stop EXIT

# The installation, on Linux.
KVHOST=$host_bin/kvhost KVCOMPANYDB=$host_bin/kv-companydb bash "$repo/demo/make-prefix" "$linux" >/dev/null

# The same installation under Wine: a fresh prefix, D: a CD-ROM drive, the suite's folder and the
# database client's library copied with their times and modes (a file without write permission is
# read-only to Wine), the registry exported from the host prefix as regedit text (UTF-16).
"$wine64" wineboot -i >/dev/null 2>&1
c=$WINEPREFIX/drive_c
mkdir -p "$WINEPREFIX/drives/d"
ln -sfn ../drives/d "$WINEPREFIX/dosdevices/d:"
"$wine64" reg add 'HKLM\Software\Wine\Drives' /v d: /d cdrom /f >/dev/null 2>&1
cp -a "$linux/drives/c/WKorvane" "$c/"
cp -a "$linux/drives/c/Windows/System32/gds32.dll" "$c/windows/system32/"
KORVANE_PREFIX=$linux "$host_bin/kvhost" reg export | iconv -f UTF-8 -t UTF-16 >"$work/installation.reg"
"$wine64" reg import "$(winepath -w "$work/installation.reg" 2>/dev/null)" >/dev/null 2>&1
wineserver -w

held='C:\WKorvane\Common\Programs\French_Dico.dic'
held_file=$c/WKorvane/Common/Programs/French_Dico.dic
read_only_file=$c/WKorvane/Common/Programs/wPDF300A.dll
cp "$held_file" "$work/held-before"
# Starts the holder of the file given ("linux" or "windows") and waits until it holds it.
hold() {
  rm -f "$work/hold" "$work/held"
  mkfifo "$work/hold"
  if [ "$1" = linux ]; then
    KORVANE_PREFIX=$linux "$host_bin/kv_hold_file" "$held" <"$work/hold" >"$work/held" &
  else
    "$wine64" "$win_bin/kv_hold_file.exe" "$held" <"$work/hold" >"$work/held" &
  fi
  holder=$!
  exec 3>"$work/hold"
  for _ in $(seq 100); do
    if grep -q held "$work/held" 2>/dev/null; then return 0; fi
    sleep 0.1
  done
  echo "end-to-end: the $1 holder could not hold $held" >&2
  exit 1
}

# The report without what differs from one run to the next: the header's time and the names of the
# temporary files the run extracted to.
comparable() {
  tr -d '\r' <"$1" | sed -E -e 's/  [0-9]{2}\.[0-9]{2}\.[0-9]{4} [0-9]{2}:[0-9]{2}:[0-9]{2}$/  <time>/' \
    -e 's/^(Copie de ).*\\Update[0-9]+\.tmp$/\1<temporary file>/'
}

status=0
# Runs one package on both systems and compares what they leave.
run_both() {
  local package=$1 name=$2
  "$host_bin/kvpack" build "$demo/$package" -o "$linux/drives/d/$name" --stub "$host_bin/korvane-update" >/dev/null
  "$host_bin/kvpack" build "$demo/$package" -o "$WINEPREFIX/drives/d/$name.exe" \
    --stub "$win_bin/korvane-update.exe" >/dev/null

  local linux_code=0 windows_code=0
  hold linux
  # No database client: the same missing library as on a Windows machine without Firebird.
  KORVANE_PREFIX=$linux KORVANE_FBCLIENT=$work/no-client/gds32.dll \
    "$linux/drives/d/$name" --unattended --log "$work/$name-linux.txt" 2>"$work/$name-linux.err" || linux_code=$?
  stop
  hold windows
  "$wine64" "D:\\$name.exe" /SILENT "/LOG=$(winepath -w "$work/$name-windows.txt" 2>/dev/null)" \
    2>"$work/$name-windows.err" || windows_code=$?
  stop

  echo "== $name: exit code $linux_code on Linux, $windows_code under Wine"
  [ "$linux_code" = "$windows_code" ] || { echo "end-to-end: the exit codes differ" >&2; status=1; }
  if ! diff -u <(comparable "$work/$name-linux.txt") <(comparable "$work/$name-windows.txt"); then
    echo "end-to-end: the reports of $name differ" >&2
    status=1
  fi
  if ! diff -r "$linux/drives/c/WKorvane" "$c/WKorvane"; then
    echo "end-to-end: $name left different files" >&2
    status=1
  fi
  comparable "$work/$name-windows.txt"
  echo
}

# Checks a condition on what the Windows program left; the message says what was expected.
expect() {
  local message=$1
  shift
  if ! "$@"; then
    echo "end-to-end: $message" >&2
    status=1
  fi
}

run_both package KorvaneFichiersCommuns
expect "the held file was changed" cmp -s "$held_file" "$work/held-before"
expect "the read-only file was not replaced" cmp -s "$read_only_file" "$demo/package/wPDF300A.dll"
expect "the shared-files update did not fail on the held file" grep -q "^La mise à jour a échouée !" \
  "$work/KorvaneFichiersCommuns-windows.txt"
run_both main-package KorvaneWinTessivo
for company in Lausanne Genève; do
  expect "no connection failure reported for $company" grep -q \
    "^Echec de connexion a la société $company, mise à jour des listes non effectuée.$" \
    <(tr -d '\r' <"$work/KorvaneWinTessivo-windows.txt")
done
expect "WinTessivo.exe was not replaced" cmp -s "$c/WKorvane/TSV/Programs/WinTessivo.exe" \
  "$demo/main-package/WinTessivo.exe"
exit $status
