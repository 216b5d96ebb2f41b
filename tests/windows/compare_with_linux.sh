#!/usr/bin/env bash
# Runs the Linux collector and quelvar.exe under Wine, one after the other,
# each in a network of its own, sends both the same datagrams with the Linux
# quelvar-send and compares what they answered and filed, byte for byte.
# usage: compare_with_linux.sh LINUX-BUILD WINDOWS-BUILD
set -euo pipefail
for program in wine wineserver wineboot unshare ip ss timeout; do
    command -v "$program" >/dev/null || { echo "compare_with_linux: $program is not installed" >&2; exit 2; }
done
linux=$(realpath "$1")
windows=$(realpath "$2")
here=$(dirname "$(realpath "$0")")
work=$(mktemp -d)
trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
export WINEPREFIX=${WINEPREFIX:-$work/wine} WINEDEBUG=-all
# Local time from the system on both sides: Windows reads TZ its own way.
unset TZ
if [ ! -d "$WINEPREFIX" ]; then
    timeout -k 10 120 wineboot -i >/dev/null 2>&1
    timeout -k 10 60 wineserver -w
fi

run() {  # side mode configuration
    local side=$1 mode=$2 folder=$work/$1-$2
    mkdir -p "$folder"
    printf "$3" >"$folder/Quelvar.ini"
    local command flags=()
    if [ "$side" = linux ]; then cp "$linux/quelvar" "$folder/"; command=./quelvar
    else cp "$windows/quelvar.exe" "$folder/"; command="wine quelvar.exe"; fi
    [ "$mode" = plain ] && flags=(--plain)
    # A run takes seconds; one that hangs must not hold up CI.
    timeout -k 10 120 unshare -n bash -c "
        ip link set lo up
        cd '$folder'
        $command 2>stderr.txt &
        for i in \$(seq 1 300); do ss -uln | grep -q ':1809 ' && break; sleep 0.2; done
        for copy in 1 2; do
            '$linux/quelvar-send' ${flags[*]} --timeout 5000 --file '$here/records-$mode.txt' || true
        done | sed 's/ ([0-9.]* ms)//; s/latency.*//' >answers.txt
        sleep 1; kill %1; wait
        [ '$side' = windows ] && wineserver -k
        true
    " || { echo "$side $mode: the run did not end within 120 s"; exit 1; }
    rm -f "$folder/quelvar" "$folder/quelvar.exe"
}

status=0
for mode in encrypted plain; do
    configuration='AREACODE=0755\r\n'
    [ $mode = plain ] && configuration='ENCRYPT = 0\r\nAREACODE=0755\r\n'
    run linux $mode "$configuration"
    run windows $mode "$configuration"
    grep -q '^ack' "$work/linux-$mode/answers.txt" || { echo "$mode: the Linux collector answered nothing"; status=1; }
    # Each names its folders its own system's way; the rest must agree.
    for side in linux windows; do
        sed -E 's/program folder: [^;]*; data root: [^;]*; //' "$work/$side-$mode/stderr.txt" >"$work/$side-$mode/stderr-without-folders.txt"
    done
    for file in answers.txt tele.ini stderr-without-folders.txt $(cd "$work/linux-$mode" && find rec -type f | sort); do
        if ! cmp -s "$work/linux-$mode/$file" "$work/windows-$mode/$file"; then
            echo "$mode: $file differs"
            status=1
        fi
    done
    extra=$(cd "$work/windows-$mode" && find rec -type f | sort | diff - <(cd "$work/linux-$mode" && find rec -type f | sort) || true)
    [ -z "$extra" ] || { echo "$mode: other files: $extra"; status=1; }
    echo "$mode: $(cd "$work/linux-$mode" && find rec -type f | wc -l) files compared"
done
[ $status = 0 ] && echo "windows: quelvar.exe answered and filed as the Linux collector does"
exit $status
