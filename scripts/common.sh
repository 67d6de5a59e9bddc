# Shared by run.sh and test.sh: install what is missing, configure and build.
# Sourced, not run.

QF_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
QF_JOBS="$(nproc 2>/dev/null || echo 2)"

# Debian packages the station needs to build, test and run.
QF_PACKAGES=(cmake g++ make pkg-config dpkg-dev file libpq-dev postgresql-15
             qt6-base-dev qt6-serialport-dev libqt6sql6-sqlite qt6-svg-dev
             libqcustomplot-dev libsqlite3-dev sqlite3 libmosquitto-dev libmodbus-dev mosquitto
             fonts-liberation fonts-dejavu-core
             xvfb xauth xdotool lintian)

qf_say() { printf '\033[1m==> %s\033[0m\n' "$*" >&2; }

# Installs the given packages when any of them is missing; does nothing
# (and needs no network) when all are there.
qf_install() {
    local missing=()
    local p
    for p in "$@"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    qf_say "installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -ne 0 ] && sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

# qf_build DIR [cmake options...]: configure (once) and build into DIR.
qf_build() {
    local dir="$1"
    shift
    if [ ! -f "$dir/CMakeCache.txt" ]; then
        qf_say "configuring $dir"
        cmake -S "$QF_ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
    fi
    qf_say "building $dir"
    cmake --build "$dir" -j"$QF_JOBS"
}
