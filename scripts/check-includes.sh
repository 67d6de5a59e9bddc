#!/usr/bin/env bash
# Refuses an #include that runs against the layering of the build.
# usage: check-includes.sh LAYERS SOURCE_DIR QT_HEADERS
#
# LAYERS (written by CMake, one line per folder): the folder, the project
# folders its files may include (comma-separated), the Qt modules they may
# include. A project include names its folder first ("store/logstore.h"); a
# Qt include is found in QT_HEADERS to learn its module.
set -euo pipefail
layers="$1" src="$2" qt="$3"
status=0

module_of() { # a Qt header's module, or nothing when it is no Qt header
    local header="$1"
    if [[ "$header" == Qt*/* ]]; then
        echo "${header%%/*}" | sed 's/^Qt//'
        return
    fi
    local hit
    hit=$(compgen -G "$qt/Qt*/$header" | head -n 1) || true
    [ -n "$hit" ] && basename "$(dirname "$hit")" | sed 's/^Qt//'
    return 0
}

while read -r folder folders modules; do
    [ -n "$folder" ] || continue
    while IFS= read -r hit; do
        file="${hit%%:*}"
        line="${hit#*:}"
        line="${line#*:}"
        if [[ "$line" =~ \#include[[:space:]]*\"([^/\"]+)/ ]]; then
            dir="${BASH_REMATCH[1]}"
            if [[ ",$folders," != *",$dir,"* ]]; then
                echo "$file: includes from $dir/, which $folder/ does not link: $line"
                status=1
            fi
        elif [[ "$line" =~ \#include[[:space:]]*\<(Q[^>]*)\> ]]; then
            module=$(module_of "${BASH_REMATCH[1]}")
            if [ -n "$module" ] && [[ ",$modules," != *",$module,"* ]]; then
                echo "$file: includes a header of Qt $module, which $folder/ does not link: $line"
                status=1
            fi
        fi
    done < <(grep -Hn '^[[:space:]]*#[[:space:]]*include' "$src/$folder"/*.h "$src/$folder"/*.cpp 2>/dev/null || true)
done < "$layers"

[ "$status" = 0 ] && echo "every include keeps to the layering ($(wc -l < "$layers") folders)"
exit "$status"
