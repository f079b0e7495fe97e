#!/bin/sh
# kelvarn.exe under Wine driven as a user drives it, by the mouse and the
# keyboard on the test run's display (xdotool): the seeds list's pop-up menu
# adds a keyword through the input box, the start button runs the harvest,
# the collected list's pop-up menu exports it through the save dialog, and
# --close-after closes the window, its question answered with Cancel.
# The window is centred on Wine's 1024x768 virtual desktop.
# Usage: window_wine_clicks.sh WINE KELVARN_EXE LINUX_BUILD_DIR
# Exit 77 (skipped) without a display, xdotool or a Linux build.
set -eu
wine=$1 exe=$2 linux=$3
engine=$linux/kelvarn-engine
[ -n "${DISPLAY:-}" ] && command -v xdotool >/dev/null || { echo "no display or no xdotool"; exit 77; }
[ -x "$engine" ] || { echo "no Linux build in $linux"; exit 77; }

work=$(mktemp -d)
enginePid= programPid=
trap '[ -n "$programPid" ] && kill "$programPid" 2>/dev/null; [ -n "$enginePid" ] && kill "$enginePid"; rm -rf "$work"' EXIT
"$engine" --latency 20 >"$work/url" &
enginePid=$!
while [ ! -s "$work/url" ]; do sleep 0.05; done
url=$(head -n 1 "$work/url")
fail() { echo "$*"; import -window root "$work/fail.png" 2>/dev/null && cp "$work/fail.png" /tmp/window_wine_clicks_fail.png; exit 1; }

cp "$exe" "$work/kelvarn.exe"
KELVARN_OPEN_URL_LOG="$work/opened" "$wine" "$work/kelvarn.exe" --search-url "$url" --close-after 25000 \
  >/dev/null 2>"$work/err" &
programPid=$!

# Client coordinates of the window's table (the lists at 16,24 and 200,24,
# 160x296; the start button at 256,352, 104x24), on the screen: the window's
# frame is 3 pixels, its caption 19.
left=$(((1024 - 383) / 2 + 3)) top=$(((768 - 439) / 2 + 22))
at() { xdotool mousemove $((left + $1)) $((top + $2)); }
sleep 4

# 添加, the first item of the seeds list's menu: the input box takes "abc".
at 96 170; xdotool click 3; sleep 1
xdotool key Down Return; sleep 1
xdotool type --delay 50 abc; xdotool key Return; sleep 1

at 308 364; xdotool click 1  # 开始采集
sleep 4

# 导出, the first item of the collected list's menu, to a file typed into
# the save dialog.
target='Z:'$(printf '%s' "$work/export.txt" | tr / '\\')
at 280 170; xdotool click 3; sleep 1
xdotool key Down Return; sleep 2
xdotool type --delay 20 "$target"; xdotool key Return
for _ in $(seq 100); do [ -s "$work/export.txt" ] && break; sleep 0.1; done
sleep 0.5  # the last lines
[ -s "$work/export.txt" ] || fail "nothing exported"
expected=$("$linux/kelvarn" check --search-url "$url" abc | sed -n 's/^  //p')
got=$(iconv -f GBK -t UTF-8 "$work/export.txt" | tr -d '\r')
[ "$got" = "$expected" ] || fail "exported: $got; expected: $expected"
grep -q "$(printf '\r$')" "$work/export.txt" || fail "export lines do not end in CR LF"

status=0
wait "$programPid" || status=$?
programPid=
[ "$status" -eq 0 ] || fail "kelvarn.exe exit $status: $(cat "$work/err")"
grep -q closing "$work/err" || fail "not closed by --close-after: $(cat "$work/err")"
[ ! -s "$work/opened" ] || fail "a page was opened: $(cat "$work/opened")"
echo "window_wine_clicks: keyword added, harvested, exported ($(printf '%s\n' "$got" | wc -l) phrases), closed"
