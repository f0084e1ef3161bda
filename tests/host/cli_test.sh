#!/usr/bin/env bash
# rizi-host's command line, case by case: exit status and one expected piece of output.
# Usage: cli_test.sh cli|plugin EMULATOR HOST PLUGIN PARTIAL_PLUGIN WORK_DIR
#   cli:    everything the host checks itself (usage, plug-in file, exports, scripts, Lua)
#   plugin: the identity commands against the real plug-in
#   query:  `query` against chronyd and the NTP lab (scripts/servers.sh start)
#   exit:   a script that exits while queries wait in the background, 20 times
# EMULATOR is empty for native builds, else the program that runs HOST (wine).
set -uo pipefail

group=$1 emulator=$2 host=$3 plugin=$4 partial=$5 work=$6
rm -rf "$work" && mkdir -p "$work"
passed=0 failed=0

# expect STATUS TEXT ARGS...: runs the host with ARGS; its exit status must be STATUS and its
# output (stdout and stderr) must contain TEXT.
expect() {
    local status=$1 text=$2 out rc
    shift 2
    # shellcheck disable=SC2086 # the emulator may be a command with arguments
    out=$($emulator "$host" "$@" 2>&1 </dev/null)
    rc=$?
    if [[ $rc == "$status" && $out == *"$text"* ]]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "not ok: rizi-host $*"
        echo "  expected status $status and output containing: $text"
        echo "  got status $rc and output:"
        sed 's/^/    /' <<<"$out"
    fi
}

cli_cases() {
    local missing=$work/missing/Rizi.lmd not_library=$work/not-a-library.lmd
    local missing_script=$work/missing.lua bad_syntax=$work/bad_syntax.lua ok_script=$work/ok.lua
    echo "this is text, not a library" >"$not_library"
    echo "local x = = 1" >"$bad_syntax"
    printf 'print("script ran with", select("#", ...), arg[1], arg[2])\n' >"$ok_script"

    # Usage: status 2, nothing loaded.
    expect 0 "usage: rizi-host" --help
    expect 0 "usage: rizi-host" -h
    expect 2 "no command given"
    expect 2 "unknown command frobnicate" frobnicate
    expect 2 "unknown option --verbose" --verbose info
    expect 2 "--plugin needs a path" --plugin
    expect 2 "run needs a script" run
    expect 2 "-e needs code" -e
    expect 2 "info takes no arguments" info extra
    expect 2 "--folder needs a folder" help --folder
    expect 2 "query needs a server" query

    # The plug-in file: missing, or not a library.
    expect 1 "plug-in not found: $missing" --plugin "$missing" info
    expect 1 "plug-in not found: $missing" --plugin "$missing" -e "print(1)"
    expect 1 "cannot load plug-in $not_library" --plugin "$not_library" info

    # Missing exports are reported by the command that needs them, by name and file.
    expect 1 "plug-in $partial has no export irPlg_GetSDKVersion" --plugin "$partial" info
    expect 1 "plug-in $partial has no export irPlg_GetPluginActionXML" --plugin "$partial" actions
    expect 1 "plug-in $partial has no export irPlg_ShowHelpForPlugin" \
        --plugin "$partial" help --folder "$work"
    expect 1 "plug-in $partial has no export irPlg_ShowHelpForAction" \
        --plugin "$partial" help Rizi.GetTimezoneBias --folder "$work"
    # A registration that leaves values on the Lua stack is refused.
    expect 1 "irPlg_Action_RegisterActions changed the Lua stack" \
        --plugin "$partial" -e "print(1)"

    # Scripts and Lua errors with the real plug-in.
    expect 1 "script not found: $missing_script" --plugin "$plugin" run "$missing_script"
    expect 1 "bad_syntax.lua:1: unexpected symbol near '='" --plugin "$plugin" run "$bad_syntax"
    expect 1 "(command line):1: boom" --plugin "$plugin" -e 'error("boom")'
    expect 1 "(error object is not a string)" --plugin "$plugin" -e 'error({})'
    expect 3 "" --plugin "$plugin" -e 'os.exit(3)'
    expect 0 "script ran with	2	a b	c" --plugin "$plugin" run "$ok_script" "a b" c
    expect 0 "Rizi-ok" --plugin "$plugin" -e \
        'assert(type(Rizi) == "table" and arg[0] and arg[-1] == "-e" and arg[1] == "x")
         assert(select("#", ...) == 1 and ... == "x") print("Rizi-ok")' x
}

plugin_cases() {
    local empty=$work/empty
    mkdir -p "$empty"
    expect 0 "Name:        Rizi" --plugin "$plugin" info
    expect 0 "Version:     1.0.0.0" --plugin "$plugin" info
    expect 0 "Lua version: Lua 5.1" --plugin "$plugin" info
    expect 0 "SDK version: 2" --plugin "$plugin" info
    expect 0 "             Created by Vadorov Vuvaroreriv" --plugin "$plugin" info
    expect 0 "<ActionTemplates>" --plugin "$plugin" actions
    # No Rizi.chm in the folder: the plug-in starts nothing and says 0.
    expect 1 "irPlg_ShowHelpForPlugin returned 0" --plugin "$plugin" help --folder "$empty"
    expect 1 "irPlg_ShowHelpForAction returned 0" \
        --plugin "$plugin" help Rizi.RetrieveNTPTime --folder "$empty"

    # The rights notice's 0xA9 in the terminal's character set: U+00A9 in UTF-8 under a
    # UTF-8 locale, the byte itself otherwise. Wine's output here is a pipe, never a
    # console, so the Windows host writes the byte as it is.
    local sign=$'\xa9' utf8_sign=$'\xc2\xa9' locale
    for locale in C.UTF-8 C; do
        local want=$sign
        [[ -z $emulator && $locale == C.UTF-8 ]] && want=$utf8_sign
        # shellcheck disable=SC2086
        if LC_ALL=$locale $emulator "$host" --plugin "$plugin" info 2>&1 </dev/null |
            LC_ALL=C grep -q "Copyright $want 2026"; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
            echo "not ok: info under LC_ALL=$locale does not show the rights notice's sign as expected"
        fi
    done

    # The document arrives byte for byte: 14374 bytes, no line end added, well-formed.
    # shellcheck disable=SC2086
    $emulator "$host" --plugin "$plugin" actions >"$work/actions.xml" 2>"$work/actions.err"
    local size
    size=$(wc -c <"$work/actions.xml")
    if [[ $size == 14374 ]] && { ! command -v xmllint >/dev/null || xmllint --noout "$work/actions.xml"; }; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "not ok: actions wrote $size bytes (want 14374) or a document xmllint rejects"
        cat "$work/actions.err"
    fi
    # The same bytes under a UTF-8 locale: the document is never converted.
    # shellcheck disable=SC2086
    LC_ALL=C.UTF-8 $emulator "$host" --plugin "$plugin" actions >"$work/actions-utf8.xml" 2>&1
    if cmp -s "$work/actions.xml" "$work/actions-utf8.xml"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "not ok: actions under LC_ALL=C.UTF-8 differs from actions under the caller's locale"
    fi
}

# One line per server; the status says whether every one answered.
query_cases() {
    expect 0 "127.0.0.1                127.0.0.1        s8  offset " --plugin "$plugin" query 127.0.0.1
    expect 1 "127.0.0.1:12304          kiss RATE" --plugin "$plugin" query 127.0.0.1 127.0.0.1:12304
    expect 0 "verdict: 2 of 3 agree (127.0.0.1, 127.0.0.1:12301), offset " \
        --plugin "$plugin" query 127.0.0.1 127.0.0.1:12301 127.0.0.1:12309
}

# The process exits at once and cleanly while its queries wait on silent servers: nothing a
# query's thread uses is freed under it (a sanitizer would say so), and nothing holds the exit.
exit_cases() {
    local code out rc
    code='Rizi.Start(Rizi.RetrieveNTPTime, "127.0.0.254", 5000)
          Rizi.Start(Rizi.QueryNTP, "127.0.0.254", 5000)
          Rizi.Start(Rizi.RetrieveTSTime, "192.0.2.1", 5000)
          Rizi.QueryNTP("127.0.0.254", 20) -- the threads are in their waits
          print("exiting") os.exit(0)'
    for run in $(seq 20); do
        # shellcheck disable=SC2086
        out=$(timeout 4 $emulator "$host" --plugin "$plugin" -e "$code" 2>&1 </dev/null)
        rc=$?
        if [[ $rc == 0 && $out == *exiting* && $out != *Sanitizer* ]]; then
            passed=$((passed + 1))
        else
            failed=$((failed + 1))
            echo "not ok: exit $run with queries running: status $rc"
            sed 's/^/    /' <<<"$out"
        fi
    done
}

case $group in
cli) cli_cases ;;
exit) exit_cases ;;
plugin) plugin_cases ;;
query) query_cases ;;
*)
    echo "unknown group $group" >&2
    exit 2
    ;;
esac

if ((failed > 0)); then
    echo "$failed of $((passed + failed)) cases failed"
    exit 1
fi
echo "ok: $passed cases passed"
