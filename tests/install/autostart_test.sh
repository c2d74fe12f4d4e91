#!/usr/bin/env bash
# The real program's one switch, ferrydesk --autostart on|off, with HOME and XDG_CONFIG_HOME
# in a temporary folder; and any other argument refused without starting the program.
#   autostart_test.sh PATH_TO_FERRYDESK
set -euo pipefail
prog=$(realpath "$1")
fail() { echo "FAIL: $*" >&2; exit 1; }
command -v desktop-file-validate >/dev/null || fail "desktop-file-validate is missing"

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/home" "$tmp/registry"
export HOME=$tmp/home FERRYDESK_REGISTRY_DIR=$tmp/registry
unset XDG_CONFIG_HOME
# A display for the case where a wrongly accepted argument would start the windows.
export QT_QPA_PLATFORM=offscreen

# Runs the program with a time limit; sets status, out and err.
run() {
    set +e
    timeout 10 "$@" >"$tmp/out" 2>"$tmp/err"
    status=$?
    set -e
    out=$(cat "$tmp/out")
    err=$(cat "$tmp/err")
    [[ $status -ne 124 ]] || fail "'$*' did not return: the program started"
}

# Without XDG_CONFIG_HOME: ~/.config/autostart.
entry=$HOME/.config/autostart/ferrydesk.desktop
run "$prog" --autostart on
[[ $status -eq 0 && -f $entry ]] || fail "on: status $status, $err"
[[ $out == *"$entry"* ]] || fail "on does not say where it wrote: $out"
desktop-file-validate "$entry" || fail "the autostart entry is not a valid desktop entry"
grep -qx "Exec=$prog" "$entry" || fail "Exec is not this program: $(grep Exec "$entry")"
grep -qx "TryExec=$prog" "$entry" || fail "no TryExec naming this program: $(grep Exec "$entry")"
grep -qx "Type=Application" "$entry" || fail "not an application entry"
run "$prog" --autostart on # again: still one entry, rewritten
[[ $status -eq 0 && $(ls "$HOME/.config/autostart") == ferrydesk.desktop ]] || fail "second on"
run "$prog" --autostart off
[[ $status -eq 0 && ! -e $entry ]] || fail "off: status $status, $err"

# Links planted where the entry or an old-style temporary goes: nothing is written through
# them, the entry ends up a file of its own, and the links' targets keep their bytes.
echo "victim one" >"$tmp/victim1"
echo "victim two" >"$tmp/victim2"
ln -s "$tmp/victim1" "$HOME/.config/autostart/ferrydesk.desktop.new"
ln -s "$tmp/victim2" "$entry"
run "$prog" --autostart on
[[ $status -eq 0 ]] || fail "on over planted links: status $status, $err"
[[ -f $entry && ! -L $entry ]] || fail "the entry is still a link: $(ls -l "$entry")"
grep -qx "TryExec=$prog" "$entry" || fail "the entry over a link is not ours"
[[ $(cat "$tmp/victim1") == "victim one" && $(cat "$tmp/victim2") == "victim two" ]] ||
    fail "a link's target was overwritten"
[[ -L $HOME/.config/autostart/ferrydesk.desktop.new ]] || fail "someone else's link was touched"
left=$(ls -A "$HOME/.config/autostart")
[[ $left == $'ferrydesk.desktop\nferrydesk.desktop.new' ]] || fail "temporaries left: $left"
rm -f "$HOME/.config/autostart/ferrydesk.desktop.new"
run "$prog" --autostart off
[[ $status -eq 0 && ! -e $entry && -f $tmp/victim2 ]] || fail "off after the links: $err"
run "$prog" --autostart off # already off: fine, and said so
[[ $status -eq 0 && $out == *"not set"* ]] || fail "second off: $status $out"

# XDG_CONFIG_HOME is honoured; a relative one is ignored, as the base directory rules say.
export XDG_CONFIG_HOME=$tmp/config
run "$prog" --autostart on
[[ $status -eq 0 && -f $tmp/config/autostart/ferrydesk.desktop && ! -e $entry ]] ||
    fail "XDG_CONFIG_HOME not honoured"
run "$prog" --autostart off
[[ ! -e $tmp/config/autostart/ferrydesk.desktop ]] || fail "off under XDG_CONFIG_HOME"
XDG_CONFIG_HOME=relative/config run "$prog" --autostart on
[[ $status -eq 0 && -f $entry && ! -e relative ]] || fail "relative XDG_CONFIG_HOME was used"
rm -f "$entry"

# A program in a folder whose name needs quoting in an Exec line.
mkdir -p "$tmp/my \$dir"
cp "$prog" "$tmp/my \$dir/ferrydesk"
run "$tmp/my \$dir/ferrydesk" --autostart on
desktop-file-validate "$tmp/config/autostart/ferrydesk.desktop" || fail "quoted Exec invalid"
grep -qxF 'Exec="'"$tmp"'/my \\$dir/ferrydesk"' "$tmp/config/autostart/ferrydesk.desktop" ||
    fail "quoted Exec: $(grep Exec "$tmp/config/autostart/ferrydesk.desktop")"
grep -qxF "TryExec=$tmp/my \$dir/ferrydesk" "$tmp/config/autostart/ferrydesk.desktop" ||
    fail "TryExec: $(grep TryExec "$tmp/config/autostart/ferrydesk.desktop")"
rm -f "$tmp/config/autostart/ferrydesk.desktop"

# A folder that cannot be written: a clear error and a failing status.
rm -rf "$tmp/config/autostart"
echo "not a folder" >"$tmp/config/autostart"
run "$prog" --autostart on
[[ $status -eq 1 && $err == *"cannot create $tmp/config/autostart"* ]] ||
    fail "unwritable: status $status, $err"
rm -f "$tmp/config/autostart"

# Anything else is refused before the program starts: a message, usage, status 2, and the
# settings store untouched.
for args in "--bogus" "--autostart" "--autostart maybe" "--autostart on extra" "-platform xcb" "x"; do
    # shellcheck disable=SC2086
    run "$prog" $args
    [[ $status -eq 2 ]] || fail "'$args': status $status"
    [[ $err == *"Usage: ferrydesk"* && $err == ferrydesk:* ]] || fail "'$args': $err"
    [[ -z $out ]] || fail "'$args' wrote to standard output: $out"
done
run "$prog" --bogus
[[ $err == *"unknown argument '--bogus'"* ]] || fail "the message does not name the argument"
[[ -z $(ls -A "$tmp/registry") ]] || fail "a refused argument touched the settings store"
[[ ! -e $tmp/config/autostart ]] || fail "a refused argument wrote an autostart entry"
echo "PASS"
