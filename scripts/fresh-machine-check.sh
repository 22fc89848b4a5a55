#!/usr/bin/env bash
# fresh-machine-check.sh: runs the README's two set-up commands on a fresh minimal Debian 12 in
# a chroot, as root and as a plain user, to prove they need nothing the machine lacks; then
# installs the Debian package made from that build on a second fresh system and runs vexa there.
#
# Usage, as root: scripts/fresh-machine-check.sh [COMMIT]   (default: the checked-out commit)
# The minimal base system is built once with debootstrap, from the Debian mirror apt already
# uses here, and cached with the downloaded packages in $QUORVEL_FRESH_CACHE.
set -euo pipefail
source "$(dirname "$0")/lib.sh"

CACHE=${QUORVEL_FRESH_CACHE:-/var/cache/quorvel}
BASE=$CACHE/bookworm-minimal.tar
TIME_LIMIT=${QUORVEL_FRESH_TIME_LIMIT:-3600} # seconds for each command run in the chroot
USER_NAME=newcomer
CHROOT_PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin
COMMIT=${1:-HEAD}

rootfs=
mounts=()
results=()
failed=0

say() { echo "fresh-machine: $*"; }
die() {
    say "$*" >&2
    exit 1
}

# The bookworm mirror of apt's sources here (one-line .list or deb822 .sources format).
debian_mirror() {
    if [ -n "${QUORVEL_DEBIAN_MIRROR:-}" ]; then
        echo "$QUORVEL_DEBIAN_MIRROR"
        return
    fi
    local files=() file
    for file in /etc/apt/sources.list /etc/apt/sources.list.d/*.list /etc/apt/sources.list.d/*.sources; do
        [ -f "$file" ] && files+=("$file")
    done
    [ ${#files[@]} -gt 0 ] || return 0
    awk '
        FNR == 1 { uris = ""; suites = ""; deb = 0 }
        /^deb[ \t]/ {
            i = 2
            if ($i ~ /^\[/) { while ($i !~ /\]$/) i++; i++ }
            if ($(i + 1) == "bookworm") { print $i; exit }
            next
        }
        /^Types:/ { deb = ($0 ~ /[ \t]deb([ \t]|$)/) }
        /^URIs:/ { uris = $2 }
        /^Suites:/ { suites = " " $0 " " }
        /^[ \t]*$/ { uris = ""; suites = ""; deb = 0 }
        deb && uris != "" && suites ~ / bookworm / { print uris; exit }
    ' "${files[@]}" 2>/dev/null
}

# The cached minimal base system, made with debootstrap when missing.
ensure_base() {
    [ -s "$BASE" ] && return 0
    ensure_packages debootstrap || return 1
    local mirror tmp
    mirror=$(debian_mirror)
    [ -n "$mirror" ] || die "no bookworm source in apt's sources here; set QUORVEL_DEBIAN_MIRROR"
    say "building the minimal base system from $mirror (once; cached in $BASE)"
    mkdir -p "$CACHE"
    tmp=$(mktemp -d "$CACHE/debootstrap.XXXXXX")
    chmod 755 "$tmp"
    if ! debootstrap --variant=minbase bookworm "$tmp" "$mirror" >"$CACHE/debootstrap.log" 2>&1; then
        tail -n 20 "$CACHE/debootstrap.log" >&2
        rm -rf --one-file-system "$tmp"
        die "debootstrap failed (log: $CACHE/debootstrap.log)"
    fi
    tar -C "$tmp" -cf "$BASE.partial" . && mv "$BASE.partial" "$BASE"
    rm -rf --one-file-system "$tmp"
}

mount_in_root() {
    local target=$rootfs$1
    shift
    mkdir -p "$target"
    mount "$@" "$target"
    mounts+=("$target")
}

# Ends what still runs inside the chroot, unmounts in reverse order and removes the tree, but
# never while anything is still mounted under it.
cleanup() {
    local status=$? i proc
    trap - EXIT INT TERM
    set +e # a process that ends on its own must not stop the unmounting
    [ -n "$rootfs" ] || exit $status
    for proc in /proc/[0-9]*; do
        case $(readlink "$proc/root" 2>/dev/null) in
        "$rootfs" | "$rootfs"/*) kill -KILL "${proc#/proc/}" 2>/dev/null ;;
        esac
    done
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" || true
    done
    if grep -q " $rootfs/" /proc/self/mounts; then
        say "mounts remain under $rootfs; it is left in place" >&2
        status=1
    else
        rm -rf --one-file-system "$rootfs"
    fi
    exit $status
}

# in_root USER COMMAND [ROOT]: runs COMMAND with bash in the chroot (or in ROOT) as USER, in a
# clean environment. Waited for in the background, so that a signal reaches cleanup at once
# instead of after it.
in_root() {
    local user=$1 home=/root
    [ "$user" = root ] || home=/home/$user
    timeout --kill-after=30 "$TIME_LIMIT" chroot --userspec="$user:$user" "${3:-$rootfs}" \
        /usr/bin/env -i HOME="$home" USER="$user" PATH="$CHROOT_PATH" LANG=C.UTF-8 TERM=dumb \
        bash -c "cd ~ && $2" &
    wait $!
}

# check NAME COMMAND...: runs one check, recording its outcome and time.
check() {
    local name=$1 start=$SECONDS rc=0
    shift
    say "=== $name"
    "$@" || rc=$?
    if [ $rc -eq 0 ]; then
        results+=("$name: ok ($((SECONDS - start))s)")
    else
        results+=("$name: FAILED ($((SECONDS - start))s)")
        failed=1
    fi
    return $rc
}

# readme_commands README: the set-up commands the README gives, in order.
readme_commands() {
    awk '/^## Getting started/ { on = 1; next } /^## / { on = 0 }
         on && /^    scripts\// { sub(/^ +/, ""); print }' "$1"
}

# clone_into DIR OWNER: a clone of the commit under test at DIR in the chroot, owned by OWNER.
clone_into() {
    git clone -q --no-checkout "$QUORVEL_ROOT" "$rootfs$1"
    git -C "$rootfs$1" checkout -q --detach "$sha"
    in_root root "chown -R $2: $1"
}

# As a plain user, before anything is installed: the command refuses, says what to run as
# root, and builds nothing.
user_refused() {
    local out rc=0
    out=$(in_root "$USER_NAME" "cd quorvel && ${commands[0]}" 2>&1) || rc=$?
    echo "$out"
    [ $rc -ne 0 ] || { say "it succeeded without the packages"; return 1; }
    [ ! -e "$rootfs/home/$USER_NAME/quorvel/build" ] || { say "it made build/"; return 1; }
    root_command=$(echo "$out" | sed -n 's/^ *\(apt-get .*\)$/\1/p' | head -n 1)
    [ -n "$root_command" ] || { say "it printed no apt-get command to run as root"; return 1; }
}

# As root in its own clone: the README's commands, exactly.
root_commands() {
    in_root root "cd quorvel && $(printf '%s && ' "${commands[@]}") true"
}

# The command printed to the plain user, run as root, is all the user needs: then the user
# builds and runs the demo, and root running it in the user's clone (as with sudo) builds as
# the user, leaving nothing of root's in build/.
user_after_install() {
    in_root root "$root_command" &&
        in_root "$USER_NAME" "cd quorvel && ${commands[0]}" &&
        in_root root "cd /home/$USER_NAME/quorvel && ${commands[0]}" || return 1
    local foreign
    foreign=$(find "$rootfs/home/$USER_NAME/quorvel/build" -user 0 -print -quit)
    [ -z "$foreign" ] || { say "root left $foreign in the user's build/"; return 1; }
}

# The Debian package that cpack makes from root's build installs with apt on a second fresh
# system (inside the first one, so that cleanup removes it), where vexa shows its help and
# reads a VCD: the package's dependencies are all it needs.
deb_installs() {
    local fresh=/srv/fresh deb
    in_root root "cd quorvel/build && cpack -G DEB >/dev/null" || return 1
    deb=$(cd "$rootfs/root/quorvel/build" && ls quorvel_*_amd64.deb 2>/dev/null | head -n 1)
    [ -n "$deb" ] || { say "cpack made no quorvel_*_amd64.deb"; return 1; }
    mkdir -p "$rootfs$fresh"
    tar -C "$rootfs$fresh" -xf "$BASE"
    cp -L /etc/resolv.conf "$rootfs$fresh/etc/resolv.conf"
    cp "$rootfs/root/quorvel/build/$deb" "$rootfs$fresh/root/"
    printf '%s\n' '$timescale 1ns $end' '$scope module top $end' '$var wire 1 ! clk $end' \
        '$upscope $end' '$enddefinitions $end' '#0' '0!' '#5' '1!' >"$rootfs$fresh/root/t.vcd"
    mount_in_root $fresh/proc -t proc proc
    mount_in_root $fresh/tmp -t tmpfs tmpfs
    mount_in_root $fresh/var/cache/apt/archives --bind "$CACHE/apt-archives"
    in_root root "export DEBIAN_FRONTEND=noninteractive && apt-get update -qq &&
        apt-get install -y -qq ./$deb >/dev/null &&
        vexa --help | head -n 1 && vexa t.vcd && vexa dump t.vcd top/clk" "$rootfs$fresh"
}

main() {
    [ "$(id -u)" -eq 0 ] || die "needs root (debootstrap, chroot, mount). As root: $0 $*"
    sha=$(git -C "$QUORVEL_ROOT" rev-parse --verify "$COMMIT^{commit}") || die "no commit $COMMIT"
    git -C "$QUORVEL_ROOT" diff --quiet HEAD || say "note: uncommitted changes are not checked"
    ensure_base
    rootfs=$(mktemp -d /var/tmp/quorvel-fresh.XXXXXX)
    trap cleanup EXIT INT TERM
    tar -C "$rootfs" -xf "$BASE"
    chmod 755 "$rootfs" # mktemp's 0700 would shut out the plain user and apt's _apt
    cp -L /etc/resolv.conf "$rootfs/etc/resolv.conf"
    mkdir -p "$CACHE/apt-archives/partial"
    mount_in_root /proc -t proc proc
    mount_in_root /sys -t sysfs sysfs
    mount_in_root /dev/pts -t devpts -o newinstance,ptmxmode=0666 devpts
    mount_in_root /dev/shm -t tmpfs tmpfs
    mount_in_root /tmp -t tmpfs tmpfs
    # Downloaded packages are kept between runs; apt checks them against the fresh lists.
    mount_in_root /var/cache/apt/archives --bind "$CACHE/apt-archives"
    in_root root "useradd -m $USER_NAME"
    clone_into /root/quorvel root
    clone_into "/home/$USER_NAME/quorvel" "$USER_NAME"
    mapfile -t commands < <(readme_commands "$rootfs/root/quorvel/README.md")
    [ ${#commands[@]} -gt 0 ] || die "no set-up commands found in the README"
    say "commit $(git -C "$QUORVEL_ROOT" log -1 --format='%h %s' "$sha")"
    say "README commands: ${commands[*]}"

    check "as a plain user, without the packages: refuses and prints the command for root" \
        user_refused || true
    if check "as root: ${commands[*]}" root_commands; then
        check "the Debian package: cpack -G DEB; apt install on a second fresh system; vexa --help and vexa FILE.vcd there" \
            deb_installs || true
        if [ -n "${root_command:-}" ]; then
            check "as root: the printed command; then as the user: ${commands[0]}; then root in the user's clone" \
                user_after_install || true
        fi
    fi
    say "summary (commit ${sha:0:7}):"
    printf '  %s\n' "${results[@]}"
    [ $failed -eq 0 ] && say PASSED || say FAILED
    return $failed
}

main "$@"
