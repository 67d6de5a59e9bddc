#!/usr/bin/env bash
# Makes the Debian package of a built tree, unpacks it into a temporary root
# and runs the installed store tool there: create, then check.
# usage: test-package.sh BUILD_DIR
set -euo pipefail
build="$1"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

(cd "$build" && cpack -G DEB -B "$work/pkg" >/dev/null)
deb=$(ls "$work"/pkg/quillfern_*.deb)
dpkg-deb --field "$deb" Package Depends
dpkg -x "$deb" "$work/root"

app="$work/root/opt/quillfern"
for file in "$app/quillfern" "$app/quillfern-store" "$app/quillfern-devsim" \
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
