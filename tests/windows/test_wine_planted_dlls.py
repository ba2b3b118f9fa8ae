#!/usr/bin/env python3
"""DLLs planted beside the Windows programs under Wine: a copy of qorin.exe or Dravik.exe in a folder that
others can write (Downloads, the USB stick being changed) must never load a DLL of that folder. Each planted
DLL writes a marker file when it is loaded; the programs run the paths that use each of them (the shell's
BitLocker property, random serials, SHA-256 of a backup, the elevated instance) and no marker may appear.

Wine, like Windows, takes a DLL that is not a KnownDLL from the program's folder first, before its own.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import images as im  # noqa: E402
import test_wine  # noqa: E402  (its private prefix: only C: and a read-only FAT image are mapped)

BUILD = Path(test_wine.QORIN_EXE).resolve().parents[1] if test_wine.QORIN_EXE else None
DRAVIK = BUILD / "window" / "Dravik.exe" if BUILD else None
# Every DLL either program uses that is not a KnownDLL, comctl32, which Dravik's manifest binds, and a few
# that system DLLs load by name.
PLANTED = ["propsys", "bcrypt", "uxtheme", "comctl32", "version", "cryptbase", "profapi"]
COMPILER = shutil.which("x86_64-w64-mingw32-gcc")

MARKER_SOURCE = r"""
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance; (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        HANDLE file = CreateFileA("C:\\markers\\" MARKER ".loaded", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    return TRUE;
}
"""


def skip_reason():
    reason = test_wine.skip_reason()
    if reason:
        return reason
    if not DRAVIK.is_file():
        return f"{DRAVIK} does not exist (build the mingw preset first)"
    if not COMPILER:
        return "x86_64-w64-mingw32-gcc is not installed (mingw-w64)"
    return None


def backup_file():
    """A FAT32 backup in the file format, so that reading it hashes its regions."""
    return im.fat32_backup(0x1234ABCD, 0x5EB1C0DE, "2026-12-01T10:00:00Z")


wine = None


def setUpModule():
    global wine
    wine = test_wine.Wine()
    shutil.copy(DRAVIK, wine.work / "Dravik.exe")
    (wine.drive_c / "markers").mkdir()
    source = wine.root / "marker.c"
    source.write_text(MARKER_SOURCE)
    for name in PLANTED:
        subprocess.run([COMPILER, "-shared", "-O2", f'-DMARKER="{name}"', "-o", str(wine.work / f"{name}.dll"),
                        str(source)], check=True)


def tearDownModule():
    if wine:
        wine.close()


class PlantedDlls(unittest.TestCase):
    def markers(self):
        return sorted(p.name for p in (wine.drive_c / "markers").iterdir())

    def test_qorin_loads_none_of_them(self):
        (wine.work / "saved.tlxbak").write_bytes(backup_file())
        runs = [("version",), ("list", "--json"), ("get", "C:"), ("random", "C:", "--yes"),
                ("restore", "C:", "C:\\plinthos\\saved.tlxbak", "--yes")]
        for args in runs:
            with self.subTest(args=args):
                r = wine.qorin(*args)
                self.assertEqual(self.markers(), [], f"qorin {' '.join(args)} loaded a planted DLL")
                self.assertNotIn(b"unimplemented", r.stderr.lower())
        # The system's own DLLs did the work: the backup's digests were checked, so the restore got as far
        # as the volume.
        self.assertNotIn(b"ChecksumMismatch", r.stdout + r.stderr)

    def test_dravik_and_its_elevated_instance_load_none_of_them(self):
        data = backup_file()
        (wine.work / "saved.tlxbak").write_bytes(data)
        result = wine.work / "run.tlxresult"
        result.write_bytes(b"")
        r = wine.run("C:\\plinthos\\Dravik.exe", "--elevated-op", "C:\\plinthos\\run.tlxresult", "restore", "C:\\",
                     "C:\\plinthos\\saved.tlxbak", hashlib.sha256(data).hexdigest(), "0", "0", "0")
        self.assertEqual(self.markers(), [], "Dravik's elevated instance loaded a planted DLL")
        self.assertEqual(r.returncode, 0, r.stderr)
        values = dict(line.split("=", 1) for line in result.read_text().splitlines())
        # SHA-256 through the system's bcrypt.dll: the backup parsed and its digest matched.
        self.assertEqual(values["ran"], "1")
        self.assertEqual(values["parseError"], "0")


if __name__ == "__main__":
    reason = skip_reason()
    if reason:
        print(f"SKIP: {reason}")
        sys.exit(77)
    unittest.main(verbosity=2)
