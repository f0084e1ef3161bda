# Sourced by the Windows test scripts: the private wine prefix shared by the wine64 suite and
# the i686 smoke run, no display, no Mono or Gecko installers, quiet; and a clean-up, run on
# exit, that ends the prefix's wine server and stops the loopback servers if we started them.
# Expects $root (the source tree) to be set.
wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver
export WINEPREFIX=$root/build/win64/wineprefix
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=,winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
servers_started=0
cleanup() {
    "$wineserver" -k 2>/dev/null || true
    if [[ $servers_started == 1 ]]; then
        bash "$root/scripts/servers.sh" stop || true
    fi
}
trap cleanup EXIT
