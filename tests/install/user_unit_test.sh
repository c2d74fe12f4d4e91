#!/usr/bin/env bash
# The systemd user unit as installed under a prefix of its own (no DESTDIR, so that the program
# it names is there): it starts that program without a desktop, and systemd-analyze verify
# accepts it without a word, its manual page included.
#   user_unit_test.sh BUILD_DIR
set -euo pipefail
build=$1
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v systemd-analyze >/dev/null || fail "systemd-analyze is missing (scripts/install-deps installs it)"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
prefix=$tmp/prefix
cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" ||
    { cat "$tmp/install.log"; fail "cmake --install failed"; }

unit=$prefix/share/systemd/user/ferrydesk.service
[[ -f $unit ]] || fail "no unit at $unit"
grep -qx "ExecStart=$prefix/bin/ferrydesk --headless" "$unit" ||
    fail "the unit does not start the installed program: $(grep ExecStart "$unit")"
grep -qx "WantedBy=default.target" "$unit" || fail "the unit is not started with the user's session"

# A user manager of its own (verify needs a runtime folder), and the installed manual page.
mkdir -m 700 "$tmp/runtime" "$tmp/home"
man=(--man=yes)
if ! command -v man >/dev/null; then
    man=(--man=no)
    echo "man is missing: the unit's manual page is not looked up"
fi
XDG_RUNTIME_DIR=$tmp/runtime HOME=$tmp/home MANPATH=$prefix/share/man \
    systemd-analyze --user "${man[@]}" verify "$unit" >"$tmp/verify.log" 2>&1 ||
    { cat "$tmp/verify.log"; fail "systemd-analyze verify refused the unit"; }
# A setting it does not understand is only a warning: none is allowed.
[[ ! -s $tmp/verify.log ]] || { cat "$tmp/verify.log"; fail "systemd-analyze verify warned"; }
echo "PASS: $unit verified"
