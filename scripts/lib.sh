# lib.sh: shared steps of the set-up scripts: install the Debian packages the build needs, build
# as the owner of the checkout, and configure and build a build directory. Sourced, not run.
# shellcheck shell=bash

QUORVEL_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
# Every Debian package the build, the demo and the tests need: the one list to extend. Tools
# that only some tests use (they skip without them) are installed by .ci/run instead.
QUORVEL_PACKAGES=(
    cmake ninja-build g++         # the build
    tcl8.6 tcl8.6-dev             # the host's Tcl package and shell, tcltest scripts
    tk8.6                         # the viewer window (vexa view)
    libgtest-dev libbenchmark-dev # tests and benchmarks
    zlib1g-dev                    # fsdbgen reads .vcd.gz
    libzstd-dev                   # our files' compressed changes
)
QUORVEL_JOBS=${QUORVEL_JOBS:-2}

# missing_packages PACKAGE...: prints those of the packages that are not installed.
missing_packages() {
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}\n' "$pkg" 2>/dev/null | grep -q 'install ok installed' ||
            echo "$pkg"
    done
}

# Installs the given Debian packages that are missing (default: the build's packages). As root
# with apt-get; otherwise prints the command to run as root and fails.
ensure_packages() {
    local wanted=("$@") missing
    [ ${#wanted[@]} -gt 0 ] || wanted=("${QUORVEL_PACKAGES[@]}")
    mapfile -t missing < <(missing_packages "${wanted[@]}")
    [ ${#missing[@]} -eq 0 ] && return 0
    local install="apt-get update && apt-get install -y ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        {
            echo "Missing Debian packages: ${missing[*]}"
            echo "Install them as root:"
            echo "  $install"
            echo "for example through su or sudo:"
            echo "  su -c '$install'"
            echo "  sudo sh -c '$install'"
            echo "then run this command again. (Run as root or with sudo, this command installs them"
            echo "itself and then builds as the owner of the checkout.)"
        } >&2
        return 1
    fi
    echo "Installing ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q && apt-get install -y -q "${missing[@]}"
}

# build_as_owner SCRIPT [ARG...]: when root runs a script in a checkout that belongs to someone
# else (sudo in a user's own clone), runs it again as that owner, so that build/ stays theirs.
# Returns when no change of user is needed.
build_as_owner() {
    [ "$(id -u)" -eq 0 ] || return 0
    local uid user
    uid=$(stat -c %u "$QUORVEL_ROOT")
    [ "$uid" -ne 0 ] || return 0
    user=$(getent passwd "$uid" | cut -d: -f1)
    if [ -z "$user" ]; then
        echo "The checkout belongs to uid $uid, which has no user name here: run this command as" \
            "that user (the packages are installed now)." >&2
        exit 1
    fi
    echo "Building as $user, the owner of $QUORVEL_ROOT"
    exec runuser -u "$user" -- "$@"
}

# configure_build BUILD_DIR [CMAKE_ARG...]: configures BUILD_DIR with Ninja, refusing a build
# directory holding files of another user (left by an earlier run as root), which would fail
# later with "Permission denied".
configure_build() {
    local dir=$1
    shift
    local foreign=
    if [ "$(id -u)" -ne 0 ] && [ -e "$dir" ]; then
        foreign=$(find "$dir" ! -user "$(id -u)" -print -quit 2>/dev/null || true)
    fi
    if [ -n "$foreign" ]; then
        echo "$foreign belongs to another user (left by a run as root?), so the build cannot" \
            "update it. Remove the build directory, as root: rm -rf '$dir'" >&2
        return 1
    fi
    cmake -S "$QUORVEL_ROOT" -B "$dir" -G Ninja "$@"
}

# build_targets BUILD_DIR [TARGET...]: builds the targets (all when none given).
build_targets() {
    local dir=$1
    shift
    ninja -C "$dir" -j"$QUORVEL_JOBS" "$@"
}
