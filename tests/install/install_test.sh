#!/usr/bin/env bash
# Installs the build into a temporary DESTDIR under a prefix of its own, checks every installed
# file (and that nothing else is installed), runs the desktop entry and AppStream validators,
# and checks that uninstalling from the manifest leaves no file behind.
#   install_test.sh BUILD_DIR SOURCE_DIR APP_ID
set -euo pipefail
build=$1 src=$2 id=$3
fail() { echo "FAIL: $*" >&2; exit 1; }
for tool in desktop-file-validate appstreamcli file; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/install-deps installs it)"
done

tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
dest=$tmp/dest
prefix=/opt/ferrydesk-test # not the default, so paths that ignore the prefix show

DESTDIR=$dest cmake --install "$build" --prefix "$prefix" >"$tmp/install.log" ||
    { cat "$tmp/install.log"; fail "cmake --install failed"; }
cp "$build/install_manifest.txt" "$tmp/manifest"

sizes=(16 22 24 32 48 64 128 256)
expected=(
    "$prefix/bin/ferrydesk"
    "$prefix/bin/ferrydesk-reg"
    "$prefix/libexec/ferrydesk/ferrydesk-extract"
    "$prefix/share/applications/$id.desktop"
    "$prefix/share/systemd/user/ferrydesk.service"
    "$prefix/share/metainfo/$id.metainfo.xml"
    "$prefix/share/doc/ferrydesk/copyright"
    "$prefix/share/doc/ferrydesk/changelog.gz"
    "$prefix/share/man/man1/ferrydesk.1.gz"
    "$prefix/share/man/man1/ferrydesk-reg.1.gz"
)
for s in "${sizes[@]}"; do
    expected+=("$prefix/share/icons/hicolor/${s}x${s}/apps/$id.png")
done
printf '%s\n' "${expected[@]}" | sort >"$tmp/expected"
(cd "$dest" && find . -type f -o -type l) | sed 's|^\.||' | sort >"$tmp/found"
diff -u "$tmp/expected" "$tmp/found" || fail "installed files differ from the expected list"
sort "$tmp/manifest" | diff -u "$tmp/expected" - || fail "install_manifest.txt differs"

root=$dest$prefix
[[ -x $root/bin/ferrydesk && -x $root/bin/ferrydesk-reg ]] || fail "programs not executable"
for s in "${sizes[@]}"; do
    png=$root/share/icons/hicolor/${s}x${s}/apps/$id.png
    file "$png" | grep -q "PNG image data, $s x $s," || fail "$png: $(file -b "$png")"
done

desktop=$root/share/applications/$id.desktop
desktop-file-validate "$desktop" || fail "desktop-file-validate refused $desktop"
grep -qx "Exec=$prefix/bin/ferrydesk" "$desktop" || fail "Exec does not name the installed program"
grep -qx "Icon=$id" "$desktop" || fail "Icon is not the theme icon $id"
metainfo=$root/share/metainfo/$id.metainfo.xml
appstreamcli validate --no-net "$metainfo" || fail "appstreamcli refused $metainfo"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" "$metainfo" ||
    fail "the metadata does not name the menu entry"
for gz in share/doc/ferrydesk/changelog.gz share/man/man1/ferrydesk.1.gz share/man/man1/ferrydesk-reg.1.gz; do
    gzip -t "$root/$gz" || fail "$gz is not gzip"
done

# The installed programs are the real ones and run from there.
"$root/bin/ferrydesk" --help | grep -q -- "--autostart on|off" || fail "installed ferrydesk --help"
set +e
"$root/bin/ferrydesk-reg" >/dev/null 2>"$tmp/reg.err"
status=$?
set -e
[[ $status -eq 1 ]] && grep -q "Usage:" "$tmp/reg.err" || fail "installed ferrydesk-reg (status $status)"

# Uninstall removes every file it installed, and only those: a file of the user's stays.
mkdir -p "$root/share/applications"
echo keep >"$root/share/applications/users-own.desktop"
cmake -DMANIFEST="$tmp/manifest" -DDESTDIR="$dest" -P "$src/dist/uninstall.cmake" >"$tmp/uninstall.log" ||
    { cat "$tmp/uninstall.log"; fail "uninstall failed"; }
left=$(cd "$dest" && find . -type f -o -type l)
[[ $left == "./opt/ferrydesk-test/share/applications/users-own.desktop" ]] ||
    fail "uninstall left or took files: $left"
# A second uninstall has nothing to do, says so, and is no error; through make as well.
cmake -DMANIFEST="$tmp/manifest" -DDESTDIR="$dest" -P "$src/dist/uninstall.cmake" >"$tmp/again.log" 2>&1 ||
    fail "a second uninstall failed: $(cat "$tmp/again.log")"
grep -q "Nothing to uninstall" "$tmp/again.log" || fail "second uninstall: $(cat "$tmp/again.log")"
grep -q "CMake Error" "$tmp/again.log" && fail "second uninstall: $(cat "$tmp/again.log")"
if command -v make >/dev/null; then
    mkdir "$tmp/tree" && ln -s "$src/dist" "$tmp/tree/dist"
    make -s -C "$tmp/tree" -f "$src/Makefile" uninstall >"$tmp/make.log" 2>&1 ||
        fail "make uninstall with nothing installed: $(cat "$tmp/make.log")"
    grep -q "Nothing to uninstall" "$tmp/make.log" || fail "make uninstall: $(cat "$tmp/make.log")"
fi
echo "PASS: ${#expected[@]} files installed, validated and removed"
