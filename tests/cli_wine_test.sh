#!/bin/sh
# kelvarn-cli.exe under Wine against the Linux offline engine: a depth-2
# harvest of the sample seeds, as GBK lines ending in CR LF on redirected
# standard output, must hold exactly the phrases that the Linux `kelvarn
# harvest` writes from the same seeds (in the order the workers finish, so
# compared sorted).
# Usage: cli_wine_test.sh WINE KELVARN_CLI_EXE LINUX_BUILD_DIR SEEDS_FILE
# Exit 77 (skipped) without a Linux build to take the engine from.
set -eu
wine=$1 cli=$2 linux=$3 seeds=$4
engine=$linux/kelvarn-engine kelvarn=$linux/kelvarn
if [ ! -x "$engine" ] || [ ! -x "$kelvarn" ]; then
  echo "no kelvarn-engine and kelvarn in $linux: build the default preset first"
  exit 77
fi

work=$(mktemp -d)
enginePid=
trap '[ -n "$enginePid" ] && kill "$enginePid"; rm -rf "$work"' EXIT
"$engine" >"$work/url" &
enginePid=$!
while [ ! -s "$work/url" ]; do sleep 0.05; done
url=$(head -n 1 "$work/url")

# The window's keyword-file format: GBK, CR LF.
iconv -f UTF-8 -t GBK "$seeds" | sed 's/$/\r/' >"$work/seeds"

status=0
"$kelvarn" harvest --search-url "$url" --rate 0 --depth 2 --workers 8 --encoding gbk --quiet - <"$work/seeds" \
  >"$work/linux" || status=$?
[ "$status" -eq 0 ] || { echo "Linux kelvarn harvest: exit $status"; exit 1; }
"$wine" "$cli" harvest --search-url "$url" --rate 0 --depth 2 --workers 8 --encoding gbk --quiet - <"$work/seeds" \
  >"$work/windows" || status=$?
[ "$status" -eq 0 ] || { echo "kelvarn-cli.exe harvest: exit $status"; exit 1; }

lines=$(grep -c . "$work/linux" || true)
[ "$lines" -gt 0 ] || { echo "the Linux harvest gave no phrases"; exit 1; }
if grep -q "$(printf '\r\r')" "$work/windows"; then
  echo "CR CR LF on the Windows output: standard output is not in binary mode"
  exit 1
fi
LC_ALL=C sort "$work/linux" >"$work/linux.sorted"
LC_ALL=C sort "$work/windows" >"$work/windows.sorted"
if ! cmp -s "$work/linux.sorted" "$work/windows.sorted"; then
  echo "the phrases differ (< Linux, > Windows):"
  diff "$work/linux.sorted" "$work/windows.sorted" | head -20 | iconv -f GBK -t UTF-8
  exit 1
fi
echo "$lines phrases, byte for byte the same"
