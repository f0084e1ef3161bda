#!/usr/bin/env bash
# The release package: dist/ with the 32-bit Windows Rizi.lmd (built here if needed), a
# README for users of the plug-in, the licence and the example scripts. The packaged file
# passes the same static checks as the build's.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=${RIZI_JOBS:-2}

bash scripts/build-lua-windows.sh i686
cmake -S . -B build/win32 -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchains/i686-w64-mingw32.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DRIZI_WERROR=ON -DRIZI_TESTS=OFF >/dev/null
ninja -C build/win32 -j"$jobs" plugin

rm -rf dist
mkdir -p dist
i686-w64-mingw32-strip --strip-unneeded -o dist/Rizi.lmd build/win32/bin/Rizi.lmd
cp LICENSE dist/LICENSE
if compgen -G "examples/*.lua" >/dev/null; then
    mkdir -p dist/examples
    cp examples/*.lua dist/examples/
fi

cat >dist/README.md <<'EOF'
# Rizi 1.0.0.0: network time for Lua 5.1 scripts

`Rizi.lmd` is an action plug-in for hosts that run Lua 5.1 scripts: a 32-bit Windows DLL.
Once loaded, it gives scripts the global table `Rizi`, which asks a time server for the
current time (SNTP or the RFC 868 Time Protocol) and reports the local time zone.

## Installing

1. Copy `Rizi.lmd` into the host application's plug-in folder, beside the other `.lmd`
   files (or wherever the host looks for action plug-ins), and restart the host.
2. The plug-in uses the host's own `lua5.1.dll`; it needs no other DLL, no settings and no
   installer. It reads no configuration and writes no files.
3. The host lists the plug-in as "Rizi", version 1.0.0.0; its actions appear under
   `Rizi.` in the host's action list. The host's help command for Rizi opens `Rizi.chm`
   from the folder the host names, with the system's HTML Help viewer (`hh.exe`); without
   that file nothing opens.

Requirements: a 32-bit host on Windows (64-bit Windows runs it too), Lua 5.1, IPv4.
Outgoing UDP port 123 (SNTP) and TCP port 37 (Time Protocol) must be open to the server.

To remove the plug-in, delete `Rizi.lmd`.

## The four functions

| Function | Returns |
|---|---|
| `Rizi.RetrieveNTPTime(server [, timeout])` | result table, or `nil` |
| `Rizi.RetrieveTSTime(server [, timeout])` | result table, or `nil` |
| `Rizi.GetTimezoneName()` | the local zone's standard name, e.g. `"W. Europe Standard Time"` |
| `Rizi.GetTimezoneBias()` | the local zone's offset from UTC in hours, e.g. `1`, `-5`, `5.5` |

- `server`: a host name (`"time.example.net"`) or a dotted IPv4 address (`"192.0.2.10"`).
- `Rizi.RetrieveNTPTime`: one SNTP exchange (version 3) over UDP port 123. `timeout` is
  the time to wait for the answer in milliseconds, default 130. Only answers that are a
  valid reply to this request (from the server's address and port, server mode, a
  synchronised stratum, echoing our request) are taken; others are ignored while waiting.
- `Rizi.RetrieveTSTime`: the Time Protocol (RFC 868) over TCP port 37. `timeout` is the
  number of 1-millisecond polls to wait for the answer, default 130 (about 130 ms); the
  connection attempt is bounded by it too. An answer of fewer than 4 bytes gives `nil`.
- Both return `nil` when no time was obtained: the name does not resolve, the server is
  unreachable or refuses, or no valid answer came in time. They never raise an error of
  their own; a wrong argument (no server, a timeout that is not a number) raises Lua's usual
  argument error.
- Each call blocks the script for at most about the timeout (plus name resolution).
- `GetTimezoneBias` counts hours east of Greenwich and includes daylight saving time when it
  is in force; in UTC it is negative zero (`-0`). `GetTimezoneName` is always the zone's
  standard-time name, in the system's ANSI code page.

## The result table

```lua
{
  unbiased = { year = 2026, month = 12, day = 8, hour = 4, min = 42, sec = 58,
               wday = 2, yday = 342 },      -- the server's time, UTC
  biased   = { ... },                       -- the same instant in local time
  timezoneName = "W. Europe Standard Time", -- as Rizi.GetTimezoneName()
  timezoneBias = 1,                         -- as Rizi.GetTimezoneBias()
}
```

| Field of `unbiased` and `biased` | Meaning |
|---|---|
| `year` | full year, e.g. 2026 |
| `month` | 1 to 12 |
| `day` | day of the month, 1 to 31 |
| `hour`, `min`, `sec` | 0 to 23, 0 to 59, 0 to 59 |
| `wday` | day of the week, 0 = Sunday to 6 = Saturday |
| `yday` | day of the year, 1 = 1 January |

Times are whole seconds (SNTP answers are rounded to the nearest second). Dates are
supported up to January 2038.

## Examples

Show the time of a server and how far the local clock is from it:

```lua
local server = "time.example.net"
local t = Rizi.RetrieveNTPTime(server, 500)
if not t then
  print("no answer from " .. server)
  return
end
local u, b = t.unbiased, t.biased
print(string.format("UTC   %04d-%02d-%02d %02d:%02d:%02d", u.year, u.month, u.day, u.hour, u.min, u.sec))
print(string.format("local %04d-%02d-%02d %02d:%02d:%02d (%s, UTC%+g)", b.year, b.month, b.day,
                    b.hour, b.min, b.sec, t.timezoneName, t.timezoneBias))
local server_utc = os.time{year = u.year, month = u.month, day = u.day,
                           hour = u.hour, min = u.min, sec = u.sec, isdst = false}
local local_utc = os.time(os.date("!*t"))
print("local clock is " .. os.difftime(local_utc, server_utc) .. " s off")
```

Try SNTP first, then the Time Protocol:

```lua
local t = Rizi.RetrieveNTPTime("192.0.2.10", 300) or Rizi.RetrieveTSTime("192.0.2.10", 300)
print(t and ("server hour (UTC): " .. t.unbiased.hour) or "no time server answered")
```

The zone alone, no network:

```lua
print(Rizi.GetTimezoneName(), Rizi.GetTimezoneBias())
```
EOF
if [[ -d dist/examples ]]; then
    printf '\nMore scripts are in `examples/`.\n' >>dist/README.md
fi

echo "== static checks of the packaged Rizi.lmd"
/usr/bin/python3 tests/windows/check_pe.py --machine i386 dist/Rizi.lmd
echo "package: dist/ written:"
ls -l dist
