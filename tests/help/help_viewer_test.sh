#!/usr/bin/env bash
# The Windows host asks the plug-in for help with the real Rizi.chm in a folder: the plug-in
# starts the system's HTML Help viewer (wine's own hh.exe here) and returns 1, for the whole
# help and for one action's page.
# Usage: help_viewer_test.sh EMULATOR HOST PLUGIN CHM WORK_DIR
set -uo pipefail

emulator=$1 host=$2 plugin=$3 chm=$4 work=$5
rm -rf "$work" && mkdir -p "$work/help"
cp "$chm" "$work/help/Rizi.chm"
# The folder as a Windows path on wine's drive Z:, the root of the Unix file system.
folder="Z:${work//\//\\}\\help"
failed=0

expect_started() { # EXPORT ARGS...
    local export_name=$1 out rc
    shift
    # Output to a file, not the caller's pipe: a viewer left running must not hold it open.
    # shellcheck disable=SC2086 # the emulator may be a command with arguments
    $emulator "$host" --plugin "$plugin" help "$@" --folder "$folder" \
        >"$work/out.txt" 2>&1 </dev/null
    rc=$?
    out=$(cat "$work/out.txt")
    if [[ $rc == 0 && $out == *"$export_name returned 1"* ]]; then
        echo "ok: rizi-host help ${*:-(the whole help)} in $folder: the viewer started"
    else
        failed=$((failed + 1))
        echo "not ok: rizi-host help ${*:-(the whole help)} in $folder"
        echo "  got status $rc and output:"
        sed 's/^/    /' <<<"$out"
    fi
}

expect_started irPlg_ShowHelpForAction Rizi.RetrieveNTPTime
expect_started irPlg_ShowHelpForPlugin
exit $((failed > 0))
