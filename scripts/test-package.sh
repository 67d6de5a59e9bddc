#!/usr/bin/env bash
# Makes the Debian package of a built tree, has lintian check it (the one
# tag allowed is dir-or-file-in-opt: the application directory /opt/quillfern
# is deliberate), unpacks it into a temporary root and runs the installed
# store tool there: create, then check.
# usage: test-package.sh BUILD_DIR
set -euo pipefail
build="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/pkg" >/dev/null)
deb=$(ls "$work"/pkg/quillfern_*.deb)
dpkg-deb --field "$deb" Package Depends

# Errors and warnings; lintian's own failure (status 2 and more) fails too.
status=0
report=$(lintian --fail-on none "$deb" 2>"$work/lintian.err") || status=$?
[ "$status" -eq 0 ] || { echo "lintian failed ($status):"; cat "$work/lintian.err"; exit 1; }
unexpected=$(grep -v '^E: quillfern: dir-or-file-in-opt ' <<<"$report" || true)
[ -z "$unexpected" ] || { echo "lintian reports:"; echo "$unexpected"; exit 1; }
grep -q 'dir-or-file-in-opt' <<<"$report" ||
    { echo "lintian did not see the package's files (no dir-or-file-in-opt)"; exit 1; }

dpkg -x "$deb" "$work/root"

app="$work/root/opt/quillfern"
for file in "$app/quillfern" "$app/quillfern-store" "$app/quillfern-devsim" \
            "$app/quillfern-trend" "$app/quillfern-uplink" "$app/quillfern-alarms" "$app/quillfern-gateway" \
            "$work/root/usr/share/applications/quillfern.desktop" \
            "$work/root/usr/share/icons/hicolor/32x32/apps/quillfern.png"; do
    [ -e "$file" ] || { echo "missing from the package: ${file#"$work/root"}"; exit 1; }
done
file "$work/root/usr/share/icons/hicolor/32x32/apps/quillfern.png" | grep -q '32 x 32' ||
    { echo "the icon is not a 32 x 32 picture"; exit 1; }

"$app/quillfern-store" create "$app"
[ -f "$app/velk.mdb" ] || { echo "create made no velk.mdb in $app"; exit 1; }
"$app/quillfern-store" check "$app"
echo "the package installs a working store tool"
