#!/usr/bin/env python3
"""The Windows programs' PE headers, read by llvm-objdump: the machine each build targets, the
console subsystem for qorin (the window subsystem for Dravik), terminal-server awareness, and
imports only of KnownDLLs, which Windows always takes from System32: any other imported DLL is looked
for first in the program's own folder, where whoever can write there (Downloads, the USB stick being
changed) could plant one that runs elevated. The others are loaded at run time from System32.

Checks every build folder that holds programs (build/mingw, build/zig-x64, build/arm64; PLINTHOS_BUILD_ROOT
moves the root); skips when none was built.
"""
import os
import re
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

BUILD_ROOT = Path(os.environ.get("PLINTHOS_BUILD_ROOT") or Path(__file__).resolve().parents[2] / "build")
BUILDS = {"mingw": "AMD64", "zig-x64": "AMD64", "arm64": "ARM64"}
PROGRAMS = {"console/qorin.exe": "Windows CUI", "window/Dravik.exe": "Windows GUI"}

# The KnownDLLs of Windows 10 and 11 (Session Manager\KnownDLLs), x64 and ARM64 alike.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll", "coml2.dll", "gdi32.dll", "gdiplus.dll",
    "imagehlp.dll", "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll", "nsi.dll", "ole32.dll",
    "oleaut32.dll", "psapi.dll", "rpcrt4.dll", "sechost.dll", "setupapi.dll", "shcore.dll", "shell32.dll",
    "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll",
}
# API sets are resolved by the loader itself, never as files.
SYSTEM_PATTERNS = [re.compile(r"api-ms-win-[a-z0-9-]+\.dll")]
# Dravik's manifest binds comctl32 to version 6 in the side-by-side store, which is never the program's folder.
MANIFEST_BOUND = {"window/Dravik.exe": {"comctl32.dll"}}


def find_objdump():
    for name in ("llvm-objdump", "llvm-objdump-16", "llvm-objdump-15", "llvm-objdump-14"):
        if shutil.which(name):
            return shutil.which(name)
    return None


OBJDUMP = find_objdump()


def headers(path):
    out = subprocess.run([OBJDUMP, "-f", "-p", str(path)], capture_output=True, text=True, check=True).stdout
    machine = {"coff-arm64": "ARM64", "coff-x86-64": "AMD64"}.get(
        (re.search(r"file format (\S+)", out) or [None, None])[1])
    subsystem = re.search(r"^Subsystem\s+\S+\s+\((.+)\)", out, re.M)
    characteristics = re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", out, re.M)
    imports = [m.lower() for m in re.findall(r"DLL Name: (\S+)", out)]
    return machine, subsystem and subsystem[1], int(characteristics[1], 16) if characteristics else 0, imports


def programs():
    return [(build, program, BUILD_ROOT / build / program, machine, subsystem)
            for build, machine in BUILDS.items() for program, subsystem in PROGRAMS.items()
            if (BUILD_ROOT / build / program).is_file()]


class PeHeaders(unittest.TestCase):
    def test_machine_subsystem_and_imports(self):
        for build, program, path, machine, subsystem in programs():
            with self.subTest(program=f"{build}/{path.name}"):
                got_machine, got_subsystem, characteristics, imports = headers(path)
                self.assertEqual(got_machine, machine)
                self.assertEqual(got_subsystem, subsystem)
                self.assertTrue(characteristics & 0x8000, "linked terminal-server aware")
                self.assertIn("kernel32.dll", imports)
                allowed = KNOWN_DLLS | MANIFEST_BOUND.get(program, set())
                foreign = [d for d in imports if d not in allowed and not any(p.fullmatch(d) for p in SYSTEM_PATTERNS)]
                self.assertEqual(foreign, [], "imports a DLL that Windows may take from the program's folder")

    def test_dravik_binds_comctl32_through_its_manifest(self):
        manifest = (Path(__file__).resolve().parents[2] / "window" / "resources" / "dravik.manifest").read_text()
        self.assertRegex(manifest, r'name="Microsoft\.Windows\.Common-Controls"\s+version="6\.0\.0\.0"')

    def test_the_delivered_arm64_build_exists(self):
        if not (BUILD_ROOT / "arm64").is_dir():
            self.skipTest("no ARM64 build (cmake --preset arm64)")
        self.assertTrue((BUILD_ROOT / "arm64" / "console" / "qorin.exe").is_file())


if __name__ == "__main__":
    if not OBJDUMP:
        print("SKIP: llvm-objdump is not installed")
        sys.exit(77)
    if not programs():
        print(f"SKIP: no Windows build under {BUILD_ROOT}")
        sys.exit(77)
    unittest.main(verbosity=2)
