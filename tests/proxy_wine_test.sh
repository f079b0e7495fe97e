#!/bin/sh
# The client's proxy tests of http_client_test.exe under Wine, through a
# tinyproxy on the Linux host whose connections to the engine leave from
# 127.0.0.2. Started here: a Windows program cannot start a Linux one.
# Usage: proxy_wine_test.sh WINE HTTP_CLIENT_TEST_EXE
# Exit 77 (skipped) without tinyproxy.
set -eu
wine=$1 test=$2
command -v tinyproxy >/dev/null || { echo "no tinyproxy (scripts/setup installs it)"; exit 77; }

work=$(mktemp -d)
proxyPid=
trap '[ -n "$proxyPid" ] && kill "$proxyPid"; rm -rf "$work"' EXIT
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat >"$work/tinyproxy.conf" <<CONF
Port $port
Listen 127.0.0.1
Bind 127.0.0.2
Allow 127.0.0.1
Timeout 30
LogLevel Critical
MaxClients 16
BasicAuth kelvarn pa55-w.rd
CONF
tinyproxy -d -c "$work/tinyproxy.conf" >/dev/null 2>&1 &
proxyPid=$!
python3 -c "
import socket, sys, time
for _ in range(500):
    try: socket.create_connection(('127.0.0.1', $port)).close(); sys.exit(0)
    except OSError: time.sleep(0.01)
sys.exit(1)" || { echo "tinyproxy did not start"; exit 1; }

KELVARN_TEST_HTTP_PROXY=$port "$wine" "$test" --gtest_filter='ProxyTest.*' 2>&1 |
  tee "$work/out"
grep -q '^\[  PASSED  \] 2 tests' "$work/out"
