#!/bin/sh
# kelvarn.exe, the window program, under Wine on the test run's display,
# against the Linux offline engine: seeds given as a path relative to the
# start directory, a harvest to completion, the collected phrases printed
# (those the Linux command collects from the same seeds) and a picture of the
# window saved; then a window closed mid-run whose close question is answered
# with Cancel, so the process ends with 0 and opens no page.
# Usage: window_wine_test.sh WINE KELVARN_EXE LINUX_BUILD_DIR SEEDS_FILE [PICTURE_COPY]
# Exit 77 (skipped) without a display or a Linux build.
set -eu
wine=$1 exe=$2 linux=$3 seeds=$4 copy=${5:-}
engine=$linux/kelvarn-engine kelvarn=$linux/kelvarn
[ -n "${DISPLAY:-}" ] || { echo "no display"; exit 77; }
[ -x "$engine" ] && [ -x "$kelvarn" ] || { echo "no Linux build in $linux"; exit 77; }

work=$(mktemp -d)
enginePid=
trap '[ -n "$enginePid" ] && kill "$enginePid"; rm -rf "$work"' EXIT
"$engine" --latency 20 >"$work/url" &
enginePid=$!
while [ ! -s "$work/url" ]; do sleep 0.05; done
url=$(head -n 1 "$work/url")
fail() { echo "$*"; exit 1; }

mkdir "$work/program" "$work/start"
cp "$exe" "$work/program/kelvarn.exe"
iconv -f UTF-8 -t GBK "$seeds" | sed 's/$/\r/' >"$work/start/seeds.txt"
"$kelvarn" harvest --search-url "$url" --rate 0 --depth 1 --encoding utf-8 --quiet "$seeds" | sort >"$work/expected"
[ -s "$work/expected" ] || fail "the Linux harvest gave no phrases"

status=0
(cd "$work/start" && "$wine" "$work/program/kelvarn.exe" --search-url "$url" --seeds seeds.txt --harvest --print \
  --screenshot window.png >"$work/printed" 2>"$work/err") || status=$?
[ "$status" -eq 0 ] || fail "kelvarn.exe --harvest --print: exit $status: $(cat "$work/err")"
sort "$work/printed" | cmp -s - "$work/expected" || fail "printed phrases differ: $(diff "$work/expected" "$work/printed" | head)"
grep -q "采集完成,空闲等待中,相关关键字共($(wc -l <"$work/expected"))个" "$work/err" || fail "status: $(cat "$work/err")"
[ "$(head -c 4 "$work/start/window.png" | od -An -c | tr -d ' ')" = "211PNG" ] || fail "no PNG picture"
[ -z "$copy" ] || cp "$work/start/window.png" "$copy"

# Closed mid-run: forty seeds on a slow engine keep the run going.
kill "$enginePid"; enginePid=
"$engine" --latency 3000 >"$work/url2" &
enginePid=$!
while [ ! -s "$work/url2" ]; do sleep 0.05; done
status=0
KELVARN_OPEN_URL_LOG="$work/opened" "$wine" "$work/program/kelvarn.exe" --search-url "$(head -n 1 "$work/url2")" \
  --seeds "$work/start/seeds.txt" --harvest --close-after 1500 >/dev/null 2>"$work/err2" || status=$?
[ "$status" -eq 0 ] || fail "kelvarn.exe --close-after: exit $status: $(cat "$work/err2")"
grep -q closing "$work/err2" || fail "the window was not closed: $(cat "$work/err2")"
[ ! -s "$work/opened" ] || fail "a page was opened: $(cat "$work/opened")"
echo "window_wine_test: $(wc -l <"$work/expected") phrases printed, picture saved, closed with Cancel"
