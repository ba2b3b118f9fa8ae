#!/usr/bin/env python3
"""Volumes that share a serial under Wine (display :94): the prefix of test_wine gets E:, a copy of D:'s
FAT image, and F:, a folder drive that Wine reports as NTFS with D:'s serial in its .windows-serial
file. qorin.exe list (text and JSON) and get, and Dravik's Status column and panel read with the probe,
name the others; C:, with a serial of its own, is not marked. After E:'s image gets another serial
(Wine cannot write volumes, so the bytes are patched from outside) E: is no longer marked. The
screenshot is kept under build/artefacts/dravik-same-serial/.
"""
import json
import os
import shutil
import subprocess
import sys
import time
import types
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import test_dravik  # noqa: E402  (the window session: Xvfb, the private prefix, the probe)
import test_wine  # noqa: E402

test_dravik.DISPLAY = ":94"
test_dravik.ARTEFACTS = Path(__file__).resolve().parents[2] / "build" / "artefacts" / "dravik-same-serial"
FAT_SERIAL_OFFSET = 39  # FAT12/16 boot sector: the serial after the extended boot signature


class ClonedDrives(test_wine.Wine):
    def _map_fat_image(self, dosdevices):
        drive = super()._map_fat_image(dosdevices)
        if not drive:
            return None
        self.clone = self.root / "clone.img"
        shutil.copy(self.root / "fat.img", self.clone)
        (self.root / "e-folder").mkdir()
        (dosdevices / "e::").symlink_to(self.clone)
        (dosdevices / "e:").symlink_to(self.root / "e-folder")
        ntfs = self.root / "f-folder"
        ntfs.mkdir()
        (ntfs / ".windows-serial").write_text(test_wine.IMAGE_SERIAL.lower() + "\n")
        (dosdevices / "f:").symlink_to(ntfs)
        return drive

    def reread_drives(self):
        """Wine reads a FAT drive's boot sector once per server start."""
        self._server("-k")
        if self.server:
            self.server.wait(timeout=60)
        self.server = subprocess.Popen([self._server_path(), "-p", "-f"], env=self.env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)


test_dravik.test_wine = types.SimpleNamespace(Wine=ClonedDrives, LABEL=test_wine.LABEL)
session = None


def setUpModule():
    global session
    session = test_dravik.Session()
    if not getattr(session.wine, "clone", None):
        raise unittest.SkipTest("mkfs.fat is not installed")


def tearDownModule():
    if session:
        session.close()


def listed():
    r = session.wine.qorin("list", "--json")
    assert r.returncode == 0, r.stderr
    return {v["drive"]: v for v in json.loads(r.stdout.decode("utf-8"))}


class SameSerial(unittest.TestCase):
    def test_1_qorin_names_the_others(self):
        volumes = listed()
        self.assertEqual((volumes["F:"]["fileSystem"], volumes["F:"]["serial"]), ("NTFS", "1234-ABCD"))
        self.assertEqual(volumes["D:"]["sameSerialAs"], ["E:", "F:"])
        self.assertEqual(volumes["E:"]["sameSerialAs"], ["D:", "F:"])
        self.assertEqual(volumes["F:"]["sameSerialAs"], ["D:", "E:"])
        self.assertEqual(volumes["C:"]["sameSerialAs"], [])

        text = test_wine.lines(session.wine.qorin("list").stdout)
        status = text[0].index("Status")
        cells = {line.split()[0]: line[status:] for line in text[1:]}
        self.assertEqual(cells["D:"], "same serial as E: and 1 more")
        self.assertEqual(cells["F:"], "same serial as D: and 1 more")

        got = test_wine.lines(session.wine.qorin("get", "e:").stdout)
        self.assertEqual(got[1:3], ["Serial:       1234-ABCD", "Same serial:  D:, F:"])

    def test_2_dravik_status_column_and_panel(self):
        session.start()
        try:
            rows = {r[0]: r for r in session.rows()}
            self.assertEqual(rows["D:"][6], "same serial as E: and 1 more")
            self.assertEqual(rows["E:"][6], "same serial as D: and 1 more")
            self.assertEqual(rows["C:"][6], "Windows drive")
            code, out = session.probe("screen", 1002)
            left, top, _, _ = map(int, out[0].split())
            session.click(left + 30, top + 40)  # the second row, D:
            self.assertTrue(test_dravik.wait_for(lambda: session.rect(1004)[1][2].startswith("D: ")))
            self.assertTrue(session.rect(1004)[1][2].endswith("); same serial as E: and 1 more"),
                            session.rect(1004)[1][2])
            session.screenshot("same-serial")
        finally:
            self.assertEqual(session.stop(), 0)

    def test_3_a_new_serial_ends_the_mark(self):
        with open(session.wine.clone, "r+b") as image:
            image.seek(FAT_SERIAL_OFFSET)
            image.write(bytes.fromhex("0DF0ADBA"))  # BAAD-F00D, little-endian
        session.wine.reread_drives()
        volumes = listed()
        self.assertEqual(volumes["E:"]["serial"], "BAAD-F00D")
        self.assertEqual(volumes["E:"]["sameSerialAs"], [])
        self.assertEqual(volumes["D:"]["sameSerialAs"], ["F:"])
        session.start()
        try:
            rows = {r[0]: r for r in session.rows()}
            self.assertEqual(rows["E:"][6], "")
            self.assertEqual(rows["D:"][6], "same serial as F:")
        finally:
            self.assertEqual(session.stop(), 0)


if __name__ == "__main__":
    reason = test_dravik.skip_reason() or (None if test_wine.find_wine() else "wine64 is not installed")
    if reason:
        print(f"SKIP: {reason}")
        sys.exit(77)
    unittest.main(verbosity=2)
