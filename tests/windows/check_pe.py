#!/usr/bin/python3
"""Static checks of a Windows Rizi.lmd with a real PE reader (python3-pefile).

What a host needs from the file before it runs a line of it: the right machine and
format, a DLL, the ten irPlg_ exports under their undecorated names, imports from the
system DLLs and lua5.1.dll only (no libgcc, libstdc++ or winpthread DLL to ship), the
system's Windows folder for the help viewer, and the version resource that Explorer's
property page shows.

With --lua-module, the Lua module rizi.dll instead: the same format and imports, the one
export luaopen_rizi, no version resource.

Usage: check_pe.py [--machine i386|amd64] [--lua-module] FILE
Prints one line per check; exits 1 when any check fails.
"""
import argparse
import sys

import pefile

EXPORTS = {
    "irPlg_GetSDKVersion",
    "irPlg_GetPluginName",
    "irPlg_GetPluginVersion",
    "irPlg_GetAuthorInfo",
    "irPlg_GetLuaVersion",
    "irPlg_OnProjectBuild",
    "irPlg_GetPluginActionXML",
    "irPlg_ShowHelpForPlugin",
    "irPlg_ShowHelpForAction",
    "irPlg_Action_RegisterActions",
}

# Lower-case DLL names the plug-in may import from. The C runtime is msvcrt, never the
# universal CRT's api-ms-win-crt-* forwarders (absent from older systems).
ALLOWED_IMPORTS = {
    "wsock32.dll",
    "kernel32.dll",
    "winmm.dll",
    "shell32.dll",
    "user32.dll",
    "msvcrt.dll",
    "lua5.1.dll",
    # The measurement functions: Winsock 2 for IPv6, RtlGenRandom for nonces, WinHTTP for
    # the Date of an HTTPS answer; for Network Time Security, BCrypt for the TLS library's
    # random numbers and CRYPT32 for checking a server's chain against the system's roots.
    "ws2_32.dll",
    "advapi32.dll",
    "winhttp.dll",
    "crypt32.dll",
    "bcrypt.dll",
}
# Imports that prove the intended services are the ones linked: Winsock 1.1 and the
# host's Lua.
REQUIRED_IMPORTS = {"wsock32.dll", "kernel32.dll", "lua5.1.dll"}

# The help viewer's folder: the system's Windows folder, never the per-user one that
# GetWindowsDirectoryA gives on a terminal server (where a planted hh.exe would run).
REQUIRED_FUNCTIONS = {("kernel32.dll", "GetSystemWindowsDirectoryA")}
# A certificate of an NTS key-exchange server is checked by the system's chain engine with its
# SSL policy, as WinHTTP checks a web server's.
REQUIRED_FUNCTIONS |= {("crypt32.dll", "CertGetCertificateChain"),
                       ("crypt32.dll", "CertVerifyCertificateChainPolicy")}
FORBIDDEN_FUNCTIONS = {("kernel32.dll", "GetWindowsDirectoryA")}

# The Lua module's single export.
MODULE_EXPORTS = {"luaopen_rizi"}

# The version resource's strings with fixed values; Website, LegalCopyright and
# LegalTrademarks are checked for presence (the copyright notice also for its sign).
VERSION_STRINGS = {
    "CompanyName": "Vadorov Vuvaroreriv",
    "ProductName": "Vadorov Rizi Action Plugin",
    "ProductVersion": "1.0",
    "FileVersion": "1.0",
    "FileDescription": "Vadorov Rizi Action Plugin",
    "InternalName": "Rizi",
    "OriginalFilename": "Rizi.lmd",
}
PRESENT_STRINGS = ("Website", "LegalCopyright", "LegalTrademarks")

MACHINES = {
    "i386": (pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"], pefile.OPTIONAL_HEADER_MAGIC_PE, "PE32"),
    "amd64": (pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"], pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS, "PE32+"),
}


class Checks:
    def __init__(self):
        self.total = 0
        self.failed = 0

    def check(self, ok, what, detail=""):
        self.total += 1
        if not ok:
            self.failed += 1
        line = ("ok   " if ok else "FAIL ") + what
        if detail and not ok:
            line += ": " + detail
        print(line)


def decode(value):
    return value.decode("utf-8", "replace") if isinstance(value, bytes) else str(value)


def version_strings(pe):
    """{(lang_codepage, key): value} over every StringTable of the resource."""
    found = {}
    for info in getattr(pe, "FileInfo", None) or []:
        for entry in info:
            if decode(getattr(entry, "Key", b"")) != "StringFileInfo":
                continue
            for table in entry.StringTable:
                lang = decode(table.LangID).lower()
                for key, value in table.entries.items():
                    found[(lang, decode(key))] = decode(value)
    return found


def translations(pe):
    pairs = []
    for info in getattr(pe, "FileInfo", None) or []:
        for entry in info:
            if decode(getattr(entry, "Key", b"")) != "VarFileInfo":
                continue
            for var in entry.Var:
                value = var.entry.get(b"Translation") or var.entry.get("Translation")
                if value:
                    pairs.extend(decode(value).split())
    return pairs


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--machine", choices=sorted(MACHINES), default="i386")
    parser.add_argument("--lua-module", action="store_true")
    parser.add_argument("file")
    args = parser.parse_args()

    pe = pefile.PE(args.file)
    checks = Checks()
    machine, magic, kind = MACHINES[args.machine]

    # Format.
    checks.check(pe.FILE_HEADER.Machine == machine, f"machine {args.machine}",
                 f"found 0x{pe.FILE_HEADER.Machine:04x}")
    checks.check(pe.OPTIONAL_HEADER.Magic == magic, kind,
                 f"optional header magic 0x{pe.OPTIONAL_HEADER.Magic:x}")
    checks.check(pe.is_dll(), "a DLL", "IMAGE_FILE_DLL not set")

    # Exports: exactly the ten, by name, undecorated (no _name or name@N).
    exports = set()
    if hasattr(pe, "DIRECTORY_ENTRY_EXPORT"):
        exports = {decode(s.name) for s in pe.DIRECTORY_ENTRY_EXPORT.symbols if s.name}
    wanted = MODULE_EXPORTS if args.lua_module else EXPORTS
    missing = sorted(wanted - exports)
    extra = sorted(exports - wanted)
    checks.check(not missing, "luaopen_rizi exported" if args.lua_module else
                 "all ten irPlg_ exports", "missing " + ", ".join(missing))
    checks.check(not extra, "no other exports", "extra " + ", ".join(extra))
    decorated = sorted(n for n in exports if "@" in n or n.startswith("_"))
    checks.check(not decorated, "export names undecorated", ", ".join(decorated))

    # Imports.
    imports = set()
    functions = set()
    if hasattr(pe, "DIRECTORY_ENTRY_IMPORT"):
        imports = {decode(d.dll).lower() for d in pe.DIRECTORY_ENTRY_IMPORT}
        functions = {(decode(d.dll).lower(), decode(i.name))
                     for d in pe.DIRECTORY_ENTRY_IMPORT for i in d.imports if i.name}
    unexpected = sorted(imports - ALLOWED_IMPORTS)
    checks.check(not unexpected, "imports only system DLLs and lua5.1.dll",
                 "also " + ", ".join(unexpected))
    absent = sorted(REQUIRED_IMPORTS - imports)
    checks.check(not absent, "imports WSOCK32, KERNEL32 and lua5.1.dll",
                 "missing " + ", ".join(absent))

    if args.lua_module:
        print(f"pe-check: {args.file}: {checks.total} checks, {checks.failed} failed")
        return 1 if checks.failed else 0

    absent = sorted(name for _, name in REQUIRED_FUNCTIONS - functions)
    checks.check(not absent, "imports GetSystemWindowsDirectoryA and the chain check",
                 "missing " + ", ".join(absent))
    present = sorted(name for _, name in FORBIDDEN_FUNCTIONS & functions)
    checks.check(not present, "no GetWindowsDirectoryA", "imports " + ", ".join(present))

    # Version resource: fixed part.
    fixed = (getattr(pe, "VS_FIXEDFILEINFO", None) or [None])[0]
    checks.check(fixed is not None, "version resource present", "no VS_FIXEDFILEINFO")
    if fixed is not None:
        version = (fixed.FileVersionMS, fixed.FileVersionLS, fixed.ProductVersionMS,
                   fixed.ProductVersionLS)
        checks.check(version == (0x00010000, 0, 0x00010000, 0),
                     "file and product version 1.0.0.0",
                     "found " + " ".join(f"0x{v:08x}" for v in version))
        zeros = {"FileFlags": fixed.FileFlags, "FileOS": fixed.FileOS,
                 "FileType": fixed.FileType, "FileSubtype": fixed.FileSubtype}
        nonzero = {k: v for k, v in zeros.items() if v != 0}
        checks.check(not nonzero, "file flags, OS, type and subtype 0",
                     ", ".join(f"{k}=0x{v:x}" for k, v in nonzero.items()))

    # Version resource: strings, language 0x0000 with code page 1200.
    strings = version_strings(pe)
    langs = sorted({lang for lang, _ in strings})
    checks.check(langs == ["000004b0"], "one string table, language 0000 code page 04b0",
                 "found " + (", ".join(langs) or "none"))
    pairs = translations(pe)
    checks.check(pairs == ["0x0000", "0x04b0"], "translation 0000/04b0",
                 "found " + (" ".join(pairs) or "none"))
    values = {key: value for (_, key), value in strings.items()}
    for key, want in VERSION_STRINGS.items():
        got = values.get(key)
        checks.check(got == want, f"{key} = {want!r}", f"found {got!r}")
    for key in PRESENT_STRINGS:
        got = values.get(key, "")
        checks.check(bool(got.strip()), f"{key} present", f"found {values.get(key)!r}")
    checks.check("\u00a9" in values.get("LegalCopyright", ""), "LegalCopyright holds \u00a9",
                 f"found {values.get('LegalCopyright')!r}")

    print(f"pe-check: {args.file}: {checks.total} checks, {checks.failed} failed")
    return 1 if checks.failed else 0


if __name__ == "__main__":
    sys.exit(main())
