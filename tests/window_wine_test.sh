#!/bin/sh
# kelvarn.exe, the window program, under Wine on the test run's display,
# against the Linux offline engine: seeds given as a path relative to the
# start directory, a harvest to completion, the collected phrases printed
# (those the Linux command collects from the same seeds) and exported as a
# workbook, CSV and text file, and a picture of the window saved; then a
# window closed mid-run whose close question is answered with Cancel, so the
# process ends with 0 and opens no page.
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
  --screenshot window.png --export phrases.xlsx >"$work/printed" 2>"$work/err") || status=$?
[ "$status" -eq 0 ] || fail "kelvarn.exe --harvest --print: exit $status: $(cat "$work/err")"
sort "$work/printed" | cmp -s - "$work/expected" || fail "printed phrases differ: $(diff "$work/expected" "$work/printed" | head)"
grep -q "采集完成,空闲等待中,相关关键字共($(wc -l <"$work/expected"))个" "$work/err" || fail "status: $(cat "$work/err")"
[ "$(head -c 4 "$work/start/window.png" | od -An -c | tr -d ' ')" = "211PNG" ] || fail "no PNG picture"
[ -z "$copy" ] || cp "$work/start/window.png" "$copy"

# The export in each file type, by the name's extension: the workbook above
# holds the list in its order under its header, the columns the window cannot
# know empty; CSV and the text file from runs of their own.
grep -q "导出完成." "$work/err" || fail "export status: $(cat "$work/err")"
[ "$(head -c 2 "$work/start/phrases.xlsx")" = PK ] || fail "phrases.xlsx is no workbook"
python=
for p in python3 /usr/bin/python3; do "$p" -c 'import openpyxl' 2>/dev/null && python=$p && break; done
if [ -n "$python" ]; then
  "$python" - "$work/start/phrases.xlsx" >"$work/sheet" <<'PY' || fail "phrases.xlsx: $(cat "$work/sheet")"
import sys, openpyxl
rows = list(openpyxl.load_workbook(sys.argv[1]).active.iter_rows(values_only=True))
assert rows[0] == ("phrase", "level", "parent", "seed", "source"), rows[0]
for row in rows[1:]:
    assert row[1:] == (None,) * 4, row
    print(row[0])
PY
  cmp -s "$work/sheet" "$work/printed" || fail "sheet differs from the list: $(diff "$work/printed" "$work/sheet" | head)"
fi
for type in csv txt; do
  (cd "$work/start" && "$wine" "$work/program/kelvarn.exe" --search-url "$url" --seeds seeds.txt --harvest \
    --export "phrases.$type" 2>"$work/err" >/dev/null) || fail "kelvarn.exe --export phrases.$type: $(cat "$work/err")"
  if [ $type = csv ]; then
    [ "$(head -n 1 "$work/start/phrases.csv")" = "$(printf '\357\273\277phrase,level,parent,seed,source\r')" ] ||
      fail "phrases.csv: header $(head -n 1 "$work/start/phrases.csv" | od -c | head -n 2)"
    tail -n +2 "$work/start/phrases.csv" | sed 's/,,,,\r$//' | sort >"$work/exported"
  else
    iconv -f GBK -t UTF-8 "$work/start/phrases.txt" | tr -d '\r' | sort >"$work/exported"
  fi
  cmp -s "$work/exported" "$work/expected" || fail "phrases.$type differs: $(diff "$work/expected" "$work/exported" | head)"
done

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
echo "window_wine_test: $(wc -l <"$work/expected") phrases printed and exported, picture saved, closed with Cancel"
