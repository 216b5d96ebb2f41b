#!/usr/bin/env bash
# Runs the Windows unit tests and the end-to-end suite against quelvar.exe
# and quelvar-send.exe under Wine, as on a Chinese Windows (ANSI and OEM code
# page 936), in a network of its own; then quelvar.exe as a service of Wine's
# service manager (service_under_wine.sh).
# usage: run_under_wine.sh LINUX-BUILD WINDOWS-BUILD [gtest arguments for the end-to-end suite]
set -euo pipefail
for program in wine wineserver wineboot unshare ip timeout; do
    command -v "$program" >/dev/null || { echo "run_under_wine: $program is not installed" >&2; exit 2; }
done
linux=$(realpath "$1")
windows=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
shift 2
work=$(mktemp -d)
export WINEPREFIX=${WINEPREFIX:-$work/wine} WINEDEBUG=-all
# Nothing of Wine may outlive the run: a stray process keeps sockets and
# services of the prefix.
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
# Wine takes the Windows locale from the Unix one, and needs it to exist to
# name files in UTF-8.
if ! locale -a | grep -qix 'zh_CN.utf-*8'; then
    echo "run_under_wine: the locale zh_CN.UTF-8 is missing (localedef -i zh_CN -f UTF-8 zh_CN.UTF-8)" >&2
    exit 2
fi
export LC_ALL=zh_CN.UTF-8
# Local time from the system on both sides: Windows reads TZ its own way.
unset TZ
if [ ! -d "$WINEPREFIX" ]; then
    timeout -k 10 120 wineboot -i >/dev/null 2>&1
    timeout -k 10 60 wineserver -w
fi

# The Wine server makes every socket of the Windows programs, so it is
# started inside the network and kept for the whole run. The run takes
# well under a minute, a hung end-to-end test is ended by the suite's
# watchdog after two: a run that takes five has gone wrong elsewhere.
limit=300
status=0
timeout -k 10 $limit unshare -n bash -s -- "$linux" "$windows" "$@" <<'INSIDE' || status=$?
set -u
linux=$1 windows=$2
shift 2
ip link set lo up
wineserver -p
wine cmd /c exit >/dev/null 2>&1
status=0
for layer in platform core message xls log filing net; do
    echo "== unit tests: ${layer}_tests.exe under Wine"
    wine "$windows/tests/${layer}_tests.exe" || status=1
done
echo "== end-to-end suite: quelvar.exe and quelvar-send.exe under Wine"
QUELVAR_WINDOWS_BUILD=$windows "$linux/tests/e2e_tests" "$@" || status=1
wineserver -k
exit $status
INSIDE
[ $status != 124 ] || echo "run_under_wine: the run did not end within $limit s" >&2
echo "== the service: quelvar.exe under Wine's service manager"
bash "$here/service_under_wine.sh" "$linux" "$windows" || status=1
exit $status
