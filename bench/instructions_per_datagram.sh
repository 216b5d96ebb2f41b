#!/usr/bin/env bash
# Instructions the collector spends on one single-record datagram, counted
# by callgrind (repeatable, whatever else the machine does): the closed loop
# of collector_bench run twice with different counts, the difference divided
# by the difference of the counts, so that start-up drops out.
# usage: bench/instructions_per_datagram.sh [BUILD-FOLDER]   (default: build)
set -euo pipefail
build=$(realpath "${1:-build}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
command -v valgrind >/dev/null || { echo "valgrind is needed" >&2; exit 2; }

# The collectors of one run, in the order collector_bench starts them:
# encrypted loop, encrypted burst, plain loop, plain burst.
totals() {
    local folder=$work/$1
    mkdir -p "$folder"
    (cd "$folder" && "$build/bench/collector_bench" --count "$1" --burst 10 \
        --wrap valgrind --tool=callgrind --callgrind-out-file="$folder/out.%p" >/dev/null 2>&1)
    for file in $(ls -tr "$folder"/out.*); do grep -m1 '^summary:' "$file" | cut -d' ' -f2; done
}

small=1000 large=4000
mapfile -t few < <(totals $small)
mapfile -t many < <(totals $large)
for pair in "encrypted 0" "plain 2"; do
    set -- $pair
    echo "$1: $(( (many[$2] - few[$2]) / (large - small) )) instructions per datagram"
done
