# lib.sh: shared steps of the set-up scripts: install the Debian packages the build needs, and
# configure and build a build directory. Sourced, not run.

QUORVEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
QUORVEL_PACKAGES=(cmake ninja-build g++ tcl8.6 tcl8.6-dev tk8.6 libgtest-dev libbenchmark-dev)
QUORVEL_JOBS=${QUORVEL_JOBS:-2}

# Installs the given Debian packages that are missing (default: the build's packages). As root
# with apt-get; otherwise prints the exact command to run and fails.
ensure_packages() {
    local wanted=("$@") missing=() pkg
    [ ${#wanted[@]} -gt 0 ] || wanted=("${QUORVEL_PACKAGES[@]}")
    for pkg in "${wanted[@]}"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$pkg")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    if [ "$(id -u)" -ne 0 ]; then
        echo "Missing packages. Install them with:" >&2
        echo "  sudo apt-get install -y ${missing[*]}" >&2
        return 1
    fi
    echo "Installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q && apt-get install -y -q "${missing[@]}"
}

# configure_build BUILD_DIR [CMAKE_ARG...]: configures BUILD_DIR with Ninja.
configure_build() {
    local dir=$1
    shift
    cmake -S "$QUORVEL_ROOT" -B "$dir" -G Ninja "$@"
}

# build_targets BUILD_DIR [TARGET...]: builds the targets (all when none given).
build_targets() {
    local dir=$1
    shift
    ninja -C "$dir" -j"$QUORVEL_JOBS" "$@"
}
