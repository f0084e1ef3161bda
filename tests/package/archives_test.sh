#!/usr/bin/env bash
# The release archives as a user gets them: the checksums hold, each archive lists exactly the
# files it should, the text files have the line ends of their system, the files unpacked from
# the zip pass the static checks of the Windows plug-in and module, and the Linux files
# unpacked from the tarball run, the module through lua5.1. (The Windows module is loaded in
# the i686 smoke run, scripts/smoke-win32.sh.)
# Usage: archives_test.sh DIST VERSION WORK_DIR
set -uo pipefail
export LC_ALL=C

dist=$1 version=$2 work=$3
source_root=$(cd "$(dirname "$0")/../.." && pwd)
zip=$dist/Rizi-$version-win32.zip
linux_name=Rizi-$version-linux-x86_64
tarball=$dist/$linux_name.tar.gz
rm -rf "$work" && mkdir -p "$work/win32"
passed=0 failed=0

check() { # check STATUS WHAT
    if [[ $1 == 0 ]]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "not ok: $2"
    fi
}

# expect_list WHAT ACTUAL EXPECTED: two lists of names, equal as sets.
expect_list() {
    if diff <(sort <<<"$2") <(sort <<<"$3") >"$work/list.diff"; then
        check 0 "$1"
    else
        check 1 "$1 (< in the archive, > expected)"
        sed 's/^/    /' "$work/list.diff"
    fi
}

examples=$(cd "$source_root" && printf '%s\n' examples/*.lua)

# dist/ holds the two archives and the checksums, nothing else.
expect_list "dist/ holds the archives and SHA256SUMS" "$(ls "$dist")" \
    "$(printf '%s\n' "${zip##*/}" "${tarball##*/}" SHA256SUMS)"
(cd "$dist" && sha256sum --quiet -c SHA256SUMS)
check $? "sha256sum -c SHA256SUMS"
expect_list "SHA256SUMS covers both archives" "$(awk '{print $2}' "$dist/SHA256SUMS")" \
    "$(printf '%s\n' "${zip##*/}" "${tarball##*/}")"

# The zip: its listing, its integrity, and its files.
unzip -tq "$zip" >/dev/null
check $? "unzip -t $zip"
expect_list "the files of ${zip##*/}" "$(unzip -Z1 "$zip")" \
    "$(printf '%s\n' Rizi.lmd Rizi.chm README.txt CHANGES.txt LICENSE.txt LICENSE-mbedtls.txt \
        lua/rizi.dll try/rizi-host.exe try/lua5.1.dll "$examples")"
unzip -q "$zip" -d "$work/win32"
check $? "unzip $zip"
win=$work/win32
for text in README.txt CHANGES.txt LICENSE.txt LICENSE-mbedtls.txt; do
    # Every line ends in CR LF: no LF without its CR.
    lines=$(wc -l <"$win/$text")
    crlf_lines=$(grep -c $'\r$' "$win/$text")
    [[ $lines -gt 0 && $lines == "$crlf_lines" ]]
    check $? "$text in the zip has CR LF line ends ($crlf_lines of $lines lines)"
done
grep -q "^Rizi $version:" "$win/README.txt"
check $? "README.txt names version $version"
for example in $examples; do
    cmp -s "$source_root/$example" "$win/$example"
    check $? "$example in the zip equals its source"
done
/usr/bin/python3 "$source_root/tests/windows/check_pe.py" --machine i386 "$win/Rizi.lmd" \
    >"$work/pe.txt" 2>&1
check $? "static checks of Rizi.lmd from the zip ($(tail -1 "$work/pe.txt"))"
/usr/bin/python3 "$source_root/tests/windows/check_pe.py" --machine i386 --lua-module \
    "$win/lua/rizi.dll" >"$work/pe-module.txt" 2>&1
check $? "static checks of lua/rizi.dll from the zip ($(tail -1 "$work/pe-module.txt"))"
for exe in Rizi.lmd lua/rizi.dll try/rizi-host.exe try/lua5.1.dll; do
    i686-w64-mingw32-objdump -f "$win/$exe" | grep -q "file format pei-i386"
    check $? "$exe in the zip is 32-bit Windows code"
    ! i686-w64-mingw32-objdump -h "$win/$exe" | grep -q '\.debug_'
    check $? "$exe in the zip carries no debug sections"
    # The time stamps are set after the link (strip): the checksum must follow them.
    /usr/bin/python3 -c 'import pefile, sys
sys.exit(not pefile.PE(sys.argv[1]).verify_checksum())' "$win/$exe"
    check $? "$exe in the zip has a correct PE checksum"
done

# The tarball: one folder, its listing, line ends, and a run of its rizi-host.
tar -tzf "$tarball" >"$work/tar.txt"
check $? "tar -tzf $tarball"
expect_list "the files of ${tarball##*/}" "$(grep -v '/$' "$work/tar.txt")" \
    "$(printf '%s\n' Rizi.lmd rizi-host README.txt CHANGES.txt LICENSE.txt LICENSE-mbedtls.txt \
        lua/5.1/rizi.so "$examples" |
        sed "s|^|$linux_name/|")"
tar -xzf "$tarball" -C "$work"
linux=$work/$linux_name
! grep -q $'\r' "$linux/README.txt" "$linux/CHANGES.txt" "$linux/LICENSE.txt" \
    "$linux/LICENSE-mbedtls.txt"
check $? "README.txt, CHANGES.txt and the licences in the tarball have LF line ends"
# Mbed TLS is linked in: its licence is the one of the source it was built from.
cmp -s "$linux/LICENSE-mbedtls.txt" "$(ls "$source_root"/build/mbedtls/source/mbedtls-*/LICENSE)"
check $? "LICENSE-mbedtls.txt in the tarball is Mbed TLS's LICENSE"
for file in Rizi.lmd rizi-host lua/5.1/rizi.so; do
    readelf -h "$linux/$file" 2>/dev/null | grep -q "Machine:.*X86-64"
    check $? "$file in the tarball is x86-64 code"
    ! readelf -S "$linux/$file" | grep -q '\.symtab'
    check $? "$file in the tarball is stripped"
done
# rizi-host finds the Rizi.lmd beside it, which reports the version hosts read: 1.0.0.0,
# whatever the release.
"$linux/rizi-host" info 2>&1 | grep -q "Version:     1.0.0.0"
check $? "rizi-host info from the tarball reports the plug-in's version 1.0.0.0"
"$linux/rizi-host" -e 'assert(type(Rizi.GetTimezoneBias()) == "number")' >/dev/null 2>&1
check $? "rizi-host from the tarball runs a script with table Rizi"
# The module as README.txt tells: its folder on the C path, then require.
LUA_CPATH="$linux/lua/5.1/?.so" lua5.1 \
    -e 'assert(type(require("rizi").GetTimezoneBias()) == "number")' >/dev/null 2>&1
check $? "lua5.1 requires lua/5.1/rizi.so from the tarball"

if ((failed > 0)); then
    echo "$failed of $((passed + failed)) checks of the archives failed"
    exit 1
fi
echo "ok: $passed checks of the archives passed"
