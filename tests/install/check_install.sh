#!/usr/bin/env bash
# `cmake --install` into a staging root: the collector's folder with both
# programs, and the service's files; the unit passes systemd's check where
# systemd is there.
set -euo pipefail
build=$1
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR=$stage cmake --install "$build" >/dev/null
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
for file in "$prefix/quelvar" "$prefix/quelvar-send" "$prefix/Quelvar.ini.example" /etc/systemd/system/quelvar.service \
    /usr/lib/sysusers.d/quelvar.conf /usr/lib/tmpfiles.d/quelvar.conf /usr/lib/sysctl.d/60-quelvar.conf; do
    [ -e "$stage$file" ] || { echo "missing after install: $file"; exit 1; }
done
[ -x "$stage$prefix/quelvar" ] || { echo "quelvar is not executable"; exit 1; }
grep -q "^ExecStart=$prefix/quelvar$" "$stage/etc/systemd/system/quelvar.service"
grep -q "^ReadWritePaths=$prefix$" "$stage/etc/systemd/system/quelvar.service"
grep -q "^u quelvar - .* $prefix$" "$stage/usr/lib/sysusers.d/quelvar.conf"
grep -q "^Type=notify$" "$stage/etc/systemd/system/quelvar.service"
# The example changes nothing: taken as Quelvar.ini it gives the defaults and no warning.
folder=$stage/example
mkdir "$folder"
cp "$stage$prefix/quelvar" "$folder/"
"$folder/quelvar" --check >"$stage/defaults.txt"
cp "$stage$prefix/Quelvar.ini.example" "$folder/Quelvar.ini"
"$folder/quelvar" --check >"$stage/example.txt" || { echo "the example warns:"; cat "$stage/example.txt"; exit 1; }
diff <(grep -v '^Quelvar.ini: ' "$stage/defaults.txt") <(grep -v '^Quelvar.ini: ' "$stage/example.txt") ||
    { echo "the example changes the settings"; exit 1; }
[ "$(LC_ALL=C ls "$folder")" = "Quelvar.ini"$'\n'"quelvar" ] || { echo "--check wrote beside the collector"; ls "$folder"; exit 1; }
# quelvar-report, where it is built: its examples are read without a
# complaint, and its timer and the alerts' service are there but not enabled.
if [ -e "$stage$prefix/quelvar-report" ]; then
    for file in "$prefix/tariffs.csv.example" "$prefix/directory.csv.example" "$prefix/alerts.csv.example" /etc/systemd/system/quelvar-report.service \
        /etc/systemd/system/quelvar-report.timer /etc/systemd/system/quelvar-report-alerts.service; do
        [ -e "$stage$file" ] || { echo "missing after install: $file"; exit 1; }
    done
    [ ! -e "$stage/etc/systemd/system/timers.target.wants" ] || { echo "the timer is enabled by the install"; exit 1; }
    [ ! -e "$stage/etc/systemd/system/multi-user.target.wants" ] || { echo "a service is enabled by the install"; exit 1; }
    grep -q "^ExecStart=$prefix/quelvar-report bill --month last " "$stage/etc/systemd/system/quelvar-report.service"
    alerts=$stage/etc/systemd/system/quelvar-report-alerts.service
    grep -q "^ExecStart=$prefix/quelvar-report watch$" "$alerts"
    grep -q "^User=quelvar$" "$alerts"
    grep -q "^WorkingDirectory=$prefix$" "$alerts"
    grep -q "^Restart=on-failure$" "$alerts"
    # Postfix's and Exim's sendmail must be able to gain their group or user.
    ! grep -q -E "^(NoNewPrivileges=yes|ProtectSystem=strict|SystemCallFilter=|RestrictAddressFamilies=|PrivateDevices=yes)" "$alerts" ||
        { echo "the alerts' service keeps sendmail from posting mail"; exit 1; }
    mkdir "$stage/empty"
    "$stage$prefix/quelvar-report" index --root "$stage/empty" --db "$stage/empty.db" >/dev/null
    "$stage$prefix/quelvar-report" bill --month 2026-01 --db "$stage/empty.db" --tariffs "$stage$prefix/tariffs.csv.example" \
        --directory "$stage$prefix/directory.csv.example" >/dev/null ||
        { echo "the example tariffs or directory are not read"; exit 1; }
    "$stage$prefix/quelvar-report" alerts --dry-run --root "$stage/empty" --db "$stage/empty.db" \
        --rules "$stage$prefix/alerts.csv.example" --tariffs "$stage$prefix/tariffs.csv.example" \
        --directory "$stage$prefix/directory.csv.example" >/dev/null ||
        { echo "the example rules are not read"; exit 1; }
fi
if command -v systemd-analyze >/dev/null 2>&1; then
    # The unit names the installed programs; check it against the staged ones.
    sed "s|$prefix|$stage$prefix|g" "$stage/etc/systemd/system/quelvar.service" >"$stage/quelvar.service"
    units=("$stage/quelvar.service")
    if [ -e "$stage/etc/systemd/system/quelvar-report.service" ]; then
        sed "s|$prefix|$stage$prefix|g" "$stage/etc/systemd/system/quelvar-report.service" >"$stage/quelvar-report.service"
        cp "$stage/etc/systemd/system/quelvar-report.timer" "$stage/"
        sed "s|$prefix|$stage$prefix|g" "$stage/etc/systemd/system/quelvar-report-alerts.service" \
            >"$stage/quelvar-report-alerts.service"
        units+=("$stage/quelvar-report.service" "$stage/quelvar-report.timer" "$stage/quelvar-report-alerts.service")
    fi
    complaints=$(systemd-analyze verify "${units[@]}" 2>&1 | grep -v -E "quelvar(-report|-report-alerts)?\.service: .*(User|Group)|Failed to resolve (user|group)" || true)
    [ -z "$complaints" ] || { echo "$complaints"; exit 1; }
fi
echo "install: ok"
