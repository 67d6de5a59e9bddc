#!/usr/bin/env bash
# A private PostgreSQL server for the uplink's tests and benchmark: its own
# data directory under /tmp, listening only on a Unix socket in that
# directory, run by a system user of its own (PostgreSQL refuses root).
#
#   pgserver.sh create RECORD [setting=value...]  makes and starts a server;
#                                                  prints its socket directory
#                                                  and adds it to RECORD
#   pgserver.sh stop DIR | start DIR               stops (fast) or starts it again
#   pgserver.sh remove DIR                          stops it at once, removes it
#   pgserver.sh cleanup RECORD                      removes every server in RECORD
#   pgserver.sh query DIR SQL [DB]                  prints the rows, '|' between columns,
#                                                  a null as NULL, times in the caller's
#                                                  zone, numbers exact (none when it fails)
#   pgserver.sh run DIR DB SQL                      runs SQL, failing with its error
set -euo pipefail

user=quillfern-pg
bin="${QF_PG_BIN:-$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)}"
[ -x "$bin/pg_ctl" ] || { echo "pgserver.sh: no PostgreSQL server found (install postgresql)" >&2; exit 1; }

as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u "$user" -- "$@"
    else
        "$@"
    fi
}

ensure_user() {
    [ "$(id -u)" -eq 0 ] || return 0
    id "$user" >/dev/null 2>&1 ||
        useradd --system --user-group --no-create-home --home-dir /nonexistent \
            --shell /usr/sbin/nologin "$user"
}

pg_ctl_on() { # DIR pg_ctl-arguments...
    local dir="$1"
    shift
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" "$@" >/dev/null
}

create() {
    local record="$1"
    shift
    ensure_user
    local dir
    dir=$(mktemp -d /tmp/quillfern-pg-XXXXXX)
    echo "$dir" >>"$record"
    [ "$(id -u)" -eq 0 ] && chown "$user:" "$dir"
    as_owner "$bin/initdb" -D "$dir/data" -U quillfern --auth=trust -E UTF8 --locale=C.UTF-8 >/dev/null
    {
        echo "listen_addresses = ''"
        echo "unix_socket_directories = '$dir'"
        for setting in "$@"; do echo "$setting"; done
    } >>"$dir/data/postgresql.conf"
    pg_ctl_on "$dir" -w start
    echo "$dir"
}

remove() {
    local dir="$1"
    case "$dir" in /tmp/quillfern-pg-*) ;; *) echo "pgserver.sh: not a test server: $dir" >&2; return 1 ;; esac
    [ -d "$dir/data" ] && { pg_ctl_on "$dir" -m immediate stop 2>/dev/null || true; }
    rm -rf "$dir"
}

case "${1:-}" in
create) create "${@:2}" ;;
stop) pg_ctl_on "$2" -w -m fast stop ;;
start) pg_ctl_on "$2" -w start ;;
remove) remove "$2" ;;
query) PGTZ="${TZ:-UTC}" PGOPTIONS="-c extra_float_digits=1" "$bin/psql" -h "$2" -U quillfern -d "${4:-postgres}" -XAtq -F '|' -P null=NULL -c "$3" 2>/dev/null || true ;;
run) "$bin/psql" -h "$2" -U quillfern -d "$3" -Xq -v ON_ERROR_STOP=1 -c "$4" >/dev/null ;;
cleanup)
    if [ -f "$2" ]; then
        while read -r dir; do [ -n "$dir" ] && remove "$dir"; done <"$2"
        rm -f "$2"
    fi
    ;;
*) sed -n '2,16p' "$0" >&2; exit 2 ;;
esac
