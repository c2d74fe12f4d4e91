#!/usr/bin/env bash
# Plants one wrong arrow of each kind in a copy of src/ and expects scripts/check-layers to
# name every one: a lower library including an upper one, linking a folder it may not use,
# linking one it never includes, and Qt below the windows (a header, and the library).
set -uo pipefail
root=$1
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
cp -r "$root/src" "$tmp/"
echo '#include "mail/message.h"' >>"$tmp/src/core/task_table.h"
echo '#include <QString>' >>"$tmp/src/settings/settings_store.h"
sed -i 's/ferry_library(core DEPS /ferry_library(core DEPS ferry_ui /' "$tmp/src/core/CMakeLists.txt"
sed -i 's/ferry_library(mail DEPS /ferry_library(mail DEPS ferry_activity /' "$tmp/src/mail/CMakeLists.txt"
echo 'target_link_libraries(ferry_net PUBLIC Qt6::Widgets)' >>"$tmp/src/net/CMakeLists.txt"
if said=$("$root/scripts/check-layers" "$tmp" 2>&1); then
    echo "the check passed a tree with wrong arrows" >&2
    exit 1
fi
status=0
for expected in "core may not include mail/" "settings may not include Qt" "core may not link ui" \
    "mail may not link activity" "net may not link Qt"; do
    if [[ "$said" != *"$expected"* ]]; then
        echo "not caught: $expected" >&2
        status=1
    fi
done
[[ $status -eq 0 ]] || echo "$said" >&2
exit $status
