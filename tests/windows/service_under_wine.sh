#!/usr/bin/env bash
# Installs quelvar.exe as the Windows service Quelvar under Wine's service
# manager and works it as an operator would, with sc and net, in a network of
# its own: the service starts, answers and files a record sent by the Linux
# quelvar-send, stops with the stop line in the log, ends with the collector's
# exit status when the port is taken, starts by itself when Wine starts anew,
# and --uninstall stops and removes it. Every wait has a limit; the first
# check that fails ends the run, saying what it expected.
# usage: service_under_wine.sh LINUX-BUILD WINDOWS-BUILD
set -euo pipefail
for program in wine wineserver wineboot unshare ip ss timeout; do
    command -v "$program" >/dev/null || { echo "service_under_wine: $program is not installed" >&2; exit 2; }
done
linux=$(realpath "$1")
windows=$(realpath "$2")
work=$(mktemp -d)
export WINEPREFIX=${WINEPREFIX:-$work/wine} WINEDEBUG=-all
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
# Local time from the system on both sides: Windows reads TZ its own way.
unset TZ
if [ ! -d "$WINEPREFIX" ]; then
    timeout -k 10 120 wineboot -i >/dev/null 2>&1
    timeout -k 10 60 wineserver -w
fi

# The checks take about 30 s, 10 of them Wine's own wait before it tells a
# program that no service manager started it.
limit=120
status=0
timeout -k 10 $limit unshare -n bash -s -- "$linux" "$windows" "$work" <<'INSIDE' || status=$?
set -u
linux=$1 windows=$2 work=$3
folder="$work/Quelvar service"
exe="$folder/quelvar.exe"
windowsExe="Z:$(printf '%s' "$exe" | tr / '\\')"
record() {  # id rid
    echo "RECORD:ID=$1&RID=$2&ACCOUNT=8001&CPN=8001&CDPN=13912345678&TYPE=OU&ROUTE=IP&MAC=00:1A:2B:3C:4D:5E&TIME-S=240315093000&DURATION=75&TRUNKN=3&"
}

fail() {
    echo "service_under_wine: $*" >&2
    exit 1
}
# Runs quelvar.exe of the program folder: its status in $answer, what it
# wrote in $work/out and $work/err.
quelvar() {
    answer=0
    timeout -k 5 40 wine "$exe" "$@" >"$work/out" 2>"$work/err" || answer=$?
}
expectAnswer() {  # arguments status stdout stderr
    quelvar $1
    [ "$answer" = "$2" ] || fail "quelvar.exe $1 ended with status $answer, not $2; it wrote: $(cat "$work/out" "$work/err")"
    [ "$(cat "$work/out")" = "$3" ] || fail "quelvar.exe $1 wrote on standard output:
$(cat "$work/out")
and not:
$3"
    [ "$(cat "$work/err")" = "$4" ] || fail "quelvar.exe $1 wrote on standard error:
$(cat "$work/err")
and not:
$4"
}
# "STATE WIN32_EXIT_CODE SERVICE_EXIT_CODE" as sc query gives them, or
# "none" when there is no service Quelvar.
serviceState() {
    timeout -k 5 20 wine sc query Quelvar 2>/dev/null | tr -d '\r' |
        awk -F'[: ]+' '/ STATE /{s=$3} /WIN32_EXIT_CODE/{w=$3} /SERVICE_EXIT_CODE/{c=$3} END{print (s=="" ? "none" : s" "w" "c)}'
}
# Runs an operator's command of Wine's, which must succeed.
operator() {
    local output
    output=$(timeout -k 5 30 wine "$@" 2>&1) || fail "$* failed: $output"
}
portBound() { ss -uln | grep -q ':1809 '; }
waitFor() {  # seconds what command...
    local seconds=$1 what=$2 deadline=$((SECONDS + $1))
    shift 2
    until "$@"; do
        [ $SECONDS -lt $deadline ] || fail "$what: not within $seconds s (the service: $(serviceState))"
        sleep 0.2
    done
}
stateIs() { [ "$(serviceState)" = "$1" ]; }
portFree() { ! portBound; }
log() { cat "$folder/log/"*.log 2>/dev/null | tr -d '\r'; }
expectStopLineLast() {  # after what
    log | tail -n 1 | grep -q '   Quelvar stop 2\.0\.0\.10$' || fail "$1: the log does not end with the stop line:
$(log)"
    [ "$(log | grep -c '   Quelvar startup ')" = "$(log | grep -c '   Quelvar stop ')" ] ||
        fail "$1: not every start in the log has its stop line:
$(log)"
}
expectAcknowledged() {  # id rid
    local sent
    sent=$(timeout -k 5 30 "$linux/quelvar-send" --timeout 5000 "$(record "$1" "$2")" 2>&1) ||
        fail "the service did not acknowledge record $1: $sent"
    grep -q "^ack *RECORD:ID=$1 " <<<"$sent" || fail "the service answered record $1 with: $sent"
    # Each record line is filed before its acknowledgement.
    grep -q "^0*$2 " "$folder/rec/00-1A-2B-3C-4D-5E/old/CDR_2024_03_15.txt" 2>/dev/null ||
        fail "record $2 is not filed in rec/00-1A-2B-3C-4D-5E/old/CDR_2024_03_15.txt"
}
# Nothing of the run may stay in the prefix. A service that could not be
# removed is removed by the next run; its quelvar.exe goes with this run's
# folder, so it cannot start with Wine meanwhile.
cleanUp() {
    [ -n "${holder:-}" ] && kill "$holder" 2>/dev/null
    [ "$(serviceState)" = none ] || timeout -k 5 60 wine "$exe" --uninstall >/dev/null 2>&1
    wineserver -k
}

ip link set lo up
wineserver -p
wine cmd /c exit >/dev/null 2>&1
if [ "$(serviceState)" != none ]; then
    echo "== removing the service Quelvar left by an earlier run"
    timeout -k 5 60 wine "$windows/quelvar.exe" --uninstall || fail "cannot remove the service Quelvar left by an earlier run"
fi
mkdir -p "$folder" "$work/linux"
cp "$windows/quelvar.exe" "$folder/"
printf 'AREACODE=0755\r\n' >"$folder/Quelvar.ini"
trap cleanUp EXIT

echo "== quelvar.exe --service, not started by the service manager"
expectAnswer --service 2 "" "quelvar: --service is for the service manager, and it did not start this process: install the service with --install and start it with: sc start Quelvar"
[ ! -e "$folder/log" ] || fail "quelvar.exe --service outside the service manager wrote a log"

echo "== quelvar.exe --install"
expectAnswer --install 0 "quelvar: installed the service Quelvar (\"Quelvar call-detail-record collector\"), which starts with the machine as LocalSystem and runs: \"$windowsExe\" --service
quelvar: start it now with: sc start Quelvar" ""
configuration=$(timeout -k 5 20 wine reg query 'HKLM\System\CurrentControlSet\Services\Quelvar' | tr -d '\r')
for value in "ImagePath    REG_SZ    \"$windowsExe\" --service" "Start    REG_DWORD    0x2" \
    "Type    REG_DWORD    0x10" "ObjectName    REG_SZ    LocalSystem" \
    "DisplayName    REG_SZ    Quelvar call-detail-record collector" \
    "Description    REG_SZ    Receives the switches' call records on UDP port 1809 and files them in the folder of quelvar.exe."; do
    grep -qxF "    $value" <<<"$configuration" || fail "the service's configuration lacks \"$value\":
$configuration"
done
stateIs "1 1077 0" || fail "a service that never ran is not stopped with ERROR_SERVICE_NEVER_STARTED: $(serviceState)"
expectAnswer --install 1 "" "quelvar: cannot install service Quelvar: a service of that name exists already"

echo "== net start Quelvar: it runs, answers and files"
operator net start Quelvar
waitFor 20 "the service running" stateIs "4 0 0"
waitFor 10 "port 1809 bound" portBound
expectAcknowledged 41 77-1

echo "== net stop Quelvar: it stops, with the stop line in the log"
operator net stop Quelvar
waitFor 20 "the service stopped" stateIs "1 0 0"
waitFor 10 "port 1809 free" portFree
expectStopLineLast "net stop"

echo "== sc start Quelvar with port 1809 taken: it stops with the collector's status 1"
cp "$linux/quelvar" "$work/linux/"
"$work/linux/quelvar" 2>/dev/null &
holder=$!
waitFor 10 "the Linux collector holding port 1809" portBound
# Wine's sc start fails too when the service has stopped before Wine's
# service manager looked at it.
timeout -k 5 30 wine sc start Quelvar >/dev/null 2>&1
# ERROR_SERVICE_SPECIFIC_ERROR, and the collector's status as the service's own code.
waitFor 20 "the service stopped with ERROR_SERVICE_SPECIFIC_ERROR and 1" stateIs "1 1066 1"
log | grep -q 'Sock Create failed!' || fail "the log does not say why the service could not start:
$(log)"
expectStopLineLast "a start on a taken port"
kill "$holder"
wait "$holder" 2>/dev/null
holder=
waitFor 10 "port 1809 free" portFree

echo "== Wine starts anew: the service starts by itself"
wineserver -k
wineserver -p
wine cmd /c exit >/dev/null 2>&1
waitFor 30 "the service running after Wine started" stateIs "4 0 0"
waitFor 10 "port 1809 bound" portBound
expectAcknowledged 42 78-1

echo "== quelvar.exe --uninstall, while it runs"
expectAnswer --uninstall 0 "quelvar: stopped the service Quelvar
quelvar: removed the service Quelvar" ""
stateIs none || fail "the service is still there after --uninstall: $(serviceState)"
waitFor 10 "port 1809 free" portFree
expectStopLineLast "--uninstall"
expectAnswer --uninstall 1 "" "quelvar: cannot remove service Quelvar: no service of that name is installed"

echo "service_under_wine: quelvar.exe installed, ran, stopped and was removed as the service Quelvar"
INSIDE
[ $status != 124 ] || echo "service_under_wine: the run did not end within $limit s" >&2
exit $status
