# Shared by the scripts: package installation and the build of one preset.
# shellcheck shell=bash

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
JOBS=${JOBS:-2}

# Packages every build needs.
BUILD_PACKAGES=(cmake ninja-build g++ libgtest-dev zlib1g-dev)

# Installs the Debian packages of the list that are not installed yet, through sudo when not
# root. Nothing is installed when everything is present.
ensure_packages() {
    local missing=() package
    for package in "$@"; do
        if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
            missing+=("$package")
        fi
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing missing Debian packages: ${missing[*]}" >&2
    local sudo=()
    [ "$(id -u)" -ne 0 ] && sudo=(sudo)
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq >&2
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq \
        --no-install-recommends "${missing[@]}" >&2
}

# Configures (first time only) and builds a preset; extra arguments go to the configure step.
build_preset() {
    local preset=$1
    shift
    if [ ! -f "$ROOT/build/$preset/CMakeCache.txt" ] || [ $# -gt 0 ]; then
        (cd "$ROOT" && cmake --preset "$preset" "$@") >&2
    fi
    cmake --build "$ROOT/build/$preset" -j "$JOBS" >&2
}
