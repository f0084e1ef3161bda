#!/usr/bin/env bash
# The compiled help file, unpacked with extract_chmLib and checked against the product and its
# sources: a page for every action under the name the help export asks for, the contents tree
# and the index, links that resolve inside the file, pages equal to their sources and
# well-formed HTML.
# Usage: help_file_test.sh PAGES_TOOL CHM HELP_SOURCES WORK_DIR
#   PAGES_TOOL prints "ACTION<TAB>PAGE" for every action of the plug-in (help_pages.cpp).
set -uo pipefail

pages_tool=$1 chm=$2 sources=$3 work=$4
rm -rf "$work" && mkdir -p "$work"
out=$work/extracted
passed=0 failed=0

check() { # check OK WHAT
    if [[ $1 == 0 ]]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "not ok: $2"
    fi
}

# The values of one attribute in an HTML file, one per line (xmllint prints name="value").
attribute_values() { # FILE XPATH
    xmllint --html --xpath "$2" "$1" 2>/dev/null | grep -o '"[^"]*"' | tr -d '"'
}

extract_chmLib "$chm" "$out" >"$work/extract.log" 2>&1
check $? "extract_chmLib $chm"

# 1. Every action of the document has its page, named as the help export asks for it.
"$pages_tool" >"$work/pages.txt"
check $? "the page names from the product"
actions=0
while IFS=$'\t' read -r action page; do
    actions=$((actions + 1))
    [[ -f $out/$page ]]
    check $? "action $action: page $page is in $chm"
done <"$work/pages.txt"
((actions >= 4))
check $? "the product names at least the four actions (got $actions)"

# 2. The contents tree, the index and the default topic are there and named by the file.
for name in Rizi.hhc Rizi.hhk index.htm; do
    [[ -f $out/$name ]]
    check $? "$name is in $chm"
    grep -qaF "$name" "$out/#SYSTEM"
    check $? "the file's system record names $name"
done

# 3. Every entry of the contents and the index names a page of the file.
for list in Rizi.hhc Rizi.hhk; do
    entries=0
    while read -r local; do
        entries=$((entries + 1))
        [[ -f $out/${local%%#*} ]]
        check $? "$list entry $local is in $chm"
    done < <(attribute_values "$out/$list" '//param[@name="Local"]/@value')
    ((entries > 0))
    check $? "$list has entries"
done

# 4. Every link and stylesheet of every page resolves inside the file, anchors included.
pages=("$out"/*.htm)
for page in "${pages[@]}"; do
    name=${page##*/}
    while read -r link; do
        case $link in
        http:* | https:* | mailto:*) continue ;;
        esac
        target=${link%%#*} anchor=
        [[ $link == *"#"* ]] && anchor=${link#*#}
        [[ -z $target ]] && target=$name
        if [[ ! -f $out/$target ]]; then
            check 1 "$name links to $link: no $target in $chm"
            continue
        fi
        if [[ -n $anchor ]]; then
            attribute_values "$out/$target" '//a/@name | //*/@id' | grep -qxF "$anchor"
            check $? "$name links to $link: anchor $anchor in $target"
        else
            check 0 "$name links to $link"
        fi
    done < <(attribute_values "$page" '//a/@href | //link/@href | //img/@src')
done

# 5. What the file carries equals the sources, and nothing the sources lack is a page.
for source in "$sources"/*.htm "$sources"/*.css "$sources"/*.hhc "$sources"/*.hhk; do
    cmp -s "$source" "$out/${source##*/}"
    check $? "${source##*/} in $chm equals its source"
done
for page in "${pages[@]}"; do
    [[ -f $sources/${page##*/} ]]
    check $? "${page##*/} in $chm has a source"
done

# 6. Each page is well-formed HTML: xmllint reports nothing.
for page in "${pages[@]}"; do
    report=$(xmllint --html --noout "$page" 2>&1)
    [[ -z $report ]]
    check $? "${page##*/} is well-formed HTML${report:+: $report}"
done

if ((failed > 0)); then
    echo "$failed of $((passed + failed)) checks failed"
    exit 1
fi
echo "ok: $passed checks passed"
