#!/usr/bin/env bash
# check_exports.sh OBJDUMP DLL NAME...: fails unless the DLL's export table holds exactly the
# given names, undecorated.
set -euo pipefail
objdump=$1 dll=$2
shift 2
expected=$(printf '%s\n' "$@" | sort)
actual=$("$objdump" -p "$dll" |
    sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort)
if [ "$actual" != "$expected" ]; then
    echo "$(basename "$dll") exports:" >&2
    echo "${actual:-(nothing)}" >&2
    echo "expected exactly:" >&2
    echo "$expected" >&2
    exit 1
fi
echo "$(basename "$dll") exports exactly: $*"
