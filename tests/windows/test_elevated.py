#!/usr/bin/env python3
"""Dravik's elevated instance under Wine, in a private prefix: the child role started by hand (argument
checks, exit codes, the result file it writes) and the parent's launch, wait and read-back.

The child role is started by hand as Dravik.exe --elevated-op; the parent side is driven through
win_elevated_checks.exe, which links the same code as the window and is its own child, so it can also
play a child that misbehaves. Nothing here may change a volume: the only volumes named do not exist, and the host's folders
are unmapped from the prefix first.
"""
import os
import shutil
import sys
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "fixtures"))
import images as im  # noqa: E402
import test_wine  # noqa: E402  (its private prefix: only C: and a read-only FAT image are mapped)

BUILD = Path(test_wine.QORIN_EXE).resolve().parents[1] if test_wine.QORIN_EXE else None
CHECKS = BUILD / "tests" / "windows" / "win_elevated_checks.exe" if BUILD else None
DRAVIK = BUILD / "window" / "Dravik.exe" if BUILD else None
RESULT_KEYS = ["ran", "differentVolume", "parseError", "error", "systemError", "planError", "detect", "mode", "match",
               "encryption", "restartRequired", "applyOutcome", "applyFailure", "applyRegion", "applySystemError",
               "fs", "serialBytes", "oldSerial", "newSerial", "backupPath", "backupError"]


def skip_reason():
    reason = test_wine.skip_reason()
    if reason:
        return reason
    for program in (CHECKS, DRAVIK):
        if not program.is_file():
            return f"{program} does not exist (build the mingw preset first)"
    return None


class Prefix(test_wine.Wine):
    """The console tests' prefix, with Dravik and the checks program beside qorin.exe in C:\\plinthos."""

    def __init__(self):
        super().__init__()
        shutil.copy(CHECKS, self.work / "checks.exe")
        shutil.copy(DRAVIK, self.work / "Dravik.exe")

    def checks(self, *args):
        return self.run("C:\\plinthos\\checks.exe", *args)

    def dravik(self, *args):
        return self.run("C:\\plinthos\\Dravik.exe", *args)

    def snapshot(self):
        """Every file under drive_c with its size and modification time, to see that nothing was touched."""
        files = {}
        for path in self.drive_c.rglob("*"):
            if path.is_file() and not path.is_symlink():
                stat = path.stat()
                files[str(path.relative_to(self.drive_c))] = (stat.st_size, stat.st_mtime_ns)
        return files


prefix = None


def setUpModule():
    global prefix
    # A zone without daylight saving time, half an hour off, for the local backup times.
    os.environ["TZ"] = "Asia/Kolkata"
    prefix = Prefix()


def tearDownModule():
    if prefix:
        prefix.close()


def result_lines(data):
    """The result file as (key, value) pairs; every line ends in a line feed alone."""
    text = data.decode("utf-8")
    assert text.endswith("\n") and "\r" not in text, repr(text)
    return [tuple(line.split("=", 1)) for line in text[:-1].split("\n")]


class ChildRole(unittest.TestCase):
    def setUp(self):
        self.result = prefix.work / "r.tlxresult"
        self.result.write_bytes(b"")
        self.other = prefix.work / "r.txt"
        self.other.write_bytes(b"keep")

    def tearDown(self):
        for path in prefix.work.iterdir():
            if path.suffix != ".exe":
                path.unlink()

    def test_rejected_arguments_touch_no_file(self):
        result = "C:\\plinthos\\r.tlxresult"
        cases = [
            (["--elevated-op", result, "change", "C:\\", "0000000000000000"], 2),
            (["--elevated-op", result, "change", "C:\\", "0000000000000000", "0", "0"], 2),
            (["--elevated-op", "C:\\plinthos\\r.txt", "change", "C:\\", "0000000000000000", "0"], 2),
            (["--elevated-op", "C:\\plinthos\\r", "change", "C:\\", "0000000000000000", "0"], 2),
            (["--elevated-op", result, "Change", "C:\\", "0000000000000000", "0"], 2),
            (["--elevated-op", result, "change", "C:\\", "not hex", "0"], 2),
            (["--elevated-op", result, "restore", "C:\\", "b.tlxbak", "0", "0"], 2),
            (["--elevated-op", result], 2),
            (["--elevated-op", "C:\\plinthos\\missing.tlxresult", "change", "C:\\", "0000000000000000", "0"], 3),
            (["--elevated-op", "C:\\plinthos\\gone\\x.tlxresult", "restore", "C:\\", "b.tlxbak", "1", "1", "0"], 3),
        ]
        for args, code in cases:
            with self.subTest(args=args):
                before = prefix.snapshot()
                r = prefix.dravik(*args)
                self.assertEqual(r.returncode, code, r.stdout + r.stderr)
                self.assertEqual(prefix.snapshot(), before)
                self.assertEqual(self.result.read_bytes(), b"")
                self.assertEqual(self.other.read_bytes(), b"keep")
                self.assertFalse((prefix.work / "missing.tlxresult").exists())
        self.assertFalse((prefix.drive_c / "ProgramData" / "Morvane").exists())

    def test_a_change_that_fails_is_reported_in_the_file(self):
        # The extension in capitals is accepted; the volume does not exist, so the operation ran and failed.
        upper = prefix.work / "R2.TLXRESULT"
        upper.write_bytes(b"")
        r = prefix.dravik("--elevated-op", "C:\\plinthos\\R2.TLXRESULT", "change", "Q:\\no volume\\",
                       "000000001234ABCD", "0")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        pairs = result_lines(upper.read_bytes())
        self.assertEqual([key for key, _ in pairs], RESULT_KEYS)
        values = dict(pairs)
        self.assertEqual(values["ran"], "1")
        self.assertEqual(values["error"], "1")  # OpenFailed
        self.assertNotEqual(values["systemError"], "0")
        self.assertEqual(values["serialBytes"], "0")
        self.assertEqual(values["backupPath"], "")
        self.assertFalse((prefix.drive_c / "ProgramData" / "Morvane").exists())

    def test_a_damaged_backup_is_reported_in_the_file(self):
        (prefix.work / "bad.tlxbak").write_bytes(b"NOT A BACKUP\n")
        for raw in ("0", "1"):
            with self.subTest(raw=raw):
                self.result.write_bytes(b"")
                r = prefix.dravik("--elevated-op", "C:\\plinthos\\r.tlxresult", "restore", "Q:\\",
                               "C:\\plinthos\\bad.tlxbak", raw, "0", "0")
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                values = dict(result_lines(self.result.read_bytes()))
                self.assertEqual(values["ran"], "1")
                self.assertEqual(values["parseError"], "1")  # BadMagic
                self.assertEqual(values["error"], "0")
                self.assertEqual(values["backupPath"], "")


FS_NUMBER = {"FAT16": 2, "FAT32": 3, "exFAT": 4, "NTFS": 5}


def host_path(windows_path):
    """Where a path on the prefix's C: lies on this machine."""
    assert windows_path.startswith("C:\\"), windows_path
    return prefix.drive_c.joinpath(*windows_path[3:].split("\\"))


class ChildOnImages(unittest.TestCase):
    """The child role end to end on disk-image files in the prefix, judged like the console's changes."""

    def setUp(self):
        probe = im.fresh_image(im.kind("FAT16"), str(prefix.work), "probe.img")
        supported = prefix.qorin("get", "C:\\plinthos\\probe.img").returncode == 0
        os.unlink(probe)
        if not supported:
            self.skipTest("this Windows build does not open disk-image files")
        self.addCleanup(self.clean)

    def clean(self):
        for path in prefix.work.iterdir():
            if path.suffix != ".exe":
                path.unlink()
        shutil.rmtree(prefix.drive_c / "ProgramData" / "Morvane", ignore_errors=True)

    def image(self, kind_name, name):
        kind = im.kind(kind_name)
        path = im.fresh_image(kind, str(prefix.work), name)
        return kind, Path(path), "C:\\plinthos\\" + name

    def child(self, *args):
        """Runs the child with a fresh result file; its exit code and the result's keys and values."""
        result = prefix.work / "x.tlxresult"
        result.write_bytes(b"")
        r = prefix.dravik("--elevated-op", "C:\\plinthos\\x.tlxresult", *args)
        pairs = result_lines(result.read_bytes()) if result.stat().st_size else []
        result.unlink()
        if pairs:
            self.assertEqual([key for key, _ in pairs if key != "note"], RESULT_KEYS)
        return r.returncode, dict(pairs)

    def assert_judged(self, kind, path, original, serial, width):
        """blkid reads the serial, fsck is clean, and only serial bytes (and exFAT checksums) changed."""
        self.assertEqual(im.blkid_uuid(str(path)), im.blkid_serial_text(kind, serial))
        clean, output = im.judge(kind.fs, str(path))
        self.assertTrue(clean, output)
        layout = im.Layout(original)
        allowed = layout.serial_ranges(width) + layout.checksum_ranges
        self.assertEqual(im.outside(im.changed_offsets(original, path.read_bytes()), allowed), [])

    def assert_backup(self, values, old, new):
        backup = host_path(values["backupPath"])
        self.assertTrue(backup.is_file(), values["backupPath"])
        parsed = im.read_backup(str(backup))
        self.assertEqual(parsed.header["app"], "3.0.1")
        self.assertEqual(int(parsed.header["oldSerial"], 16), old)
        self.assertEqual(int(parsed.header["newSerial"], 16), new)
        self.assertEqual(values["backupError"], "0")

    def test_change_then_restore_the_serial_then_the_sectors(self):
        for kind_name, typed, full64 in (("FAT32", 0xDEADBEEF, "0"), ("exFAT", 0xDEADBEEF, "0"),
                                         ("NTFS", 0x89ABCDEF, "0"), ("NTFS", 0x0011223389ABCDEF, "1")):
            with self.subTest(kind=kind_name, full64=full64):
                kind, path, volume = self.image(kind_name, kind_name + ".img")
                original = path.read_bytes()
                new = typed if full64 == "1" or kind.width == 4 else (kind.serial & ~0xFFFFFFFF) | typed
                code, values = self.child("change", volume, f"{typed:016X}", full64)
                self.assertEqual(code, 0)
                self.assertEqual((values["ran"], values["error"], values["differentVolume"]), ("1", "0", "0"))
                self.assertEqual(values["fs"], str(FS_NUMBER[kind.fs]))
                self.assertEqual(values["serialBytes"], str(kind.width))
                self.assertEqual(int(values["oldSerial"]), kind.serial)
                self.assertEqual(int(values["newSerial"]), new)
                self.assert_judged(kind, path, original, new, kind.width)
                self.assert_backup(values, kind.serial, new)
                backup = values["backupPath"]

                code, values = self.child("restore", volume, backup, "0", "0", "0")
                self.assertEqual(code, 0)
                self.assertEqual((values["ran"], values["error"], values["differentVolume"]), ("1", "0", "0"))
                self.assertEqual(int(values["newSerial"]), kind.serial)
                self.assertNotEqual(values["backupPath"], backup)
                self.assertEqual(path.read_bytes(), original)

                # The saved sectors written back over a changed volume give the image exactly.
                self.assertEqual(self.child("change", volume, f"{typed:016X}", full64)[0], 0)
                code, values = self.child("restore", volume, backup, "1", "0", "0")
                self.assertEqual((code, values["ran"], values["error"]), (0, "1", "0"))
                self.assertEqual(path.read_bytes(), original)
                clean, output = im.judge(kind.fs, str(path))
                self.assertTrue(clean, output)

    def test_the_parent_changes_an_image_through_its_child(self):
        kind, path, volume = self.image("exFAT", "exfat.img")
        original = path.read_bytes()
        r = prefix.checks("launch", volume, "5EB1C0DE")
        self.assertEqual(r.returncode, 0)
        values = dict(line.split("=", 1) for line in r.stdout.decode("utf-8").splitlines())
        self.assertEqual((values["launchError"], values["ran"], values["error"]), ("0", "1", "0"))
        self.assertEqual(int(values["newSerial"]), 0x5EB1C0DE)
        self.assert_judged(kind, path, original, 0x5EB1C0DE, kind.width)
        self.assert_backup(values, kind.serial, 0x5EB1C0DE)
        self.assertEqual(list(prefix.drive_c.rglob("Dravik-*.tlxresult")), [])

    def test_raw_recovery_over_an_unreadable_boot_sector_needs_force(self):
        kind, path, volume = self.image("FAT32", "fat32.img")
        original = path.read_bytes()
        code, values = self.child("change", volume, "000000000000BEEF", "0")
        self.assertEqual((code, values["error"]), (0, "0"))
        backup = values["backupPath"]
        damaged = bytearray(path.read_bytes())
        damaged[0:512] = bytes(512)
        path.write_bytes(damaged)

        code, values = self.child("restore", volume, backup, "1", "0", "0")
        self.assertEqual((code, values["ran"], values["error"], values["match"]), (0, "1", "6", "2"))
        self.assertEqual(path.read_bytes(), bytes(damaged))

        code, values = self.child("restore", volume, backup, "1", "1", "0")
        self.assertEqual((code, values["ran"], values["error"]), (0, "1", "0"))
        restored = path.read_bytes()
        self.assertEqual(restored[:512], original[:512])
        self.assertEqual(restored, original)

    def test_a_backup_of_another_image_is_refused_until_the_check_is_skipped(self):
        _, other, other_volume = self.image("FAT16", "other.img")
        code, values = self.child("change", other_volume, "0000000000007777", "0")
        self.assertEqual((code, values["error"]), (0, "0"))
        other_backup = values["backupPath"]

        kind, path, volume = self.image("FAT32", "fat32.img")
        self.assertEqual(self.child("change", volume, "00000000DEADBEEF", "0")[0], 0)
        changed = path.read_bytes()
        code, values = self.child("restore", volume, other_backup, "0", "0", "0")
        self.assertEqual((code, values["ran"], values["differentVolume"], values["error"]), (0, "1", "1", "0"))
        self.assertEqual(values["backupPath"], "")
        self.assertEqual(path.read_bytes(), changed)

        code, values = self.child("restore", volume, other_backup, "0", "0", "1")
        self.assertEqual((code, values["ran"], values["differentVolume"], values["error"]), (0, "1", "0", "0"))
        self.assertEqual(int(values["newSerial"]), kind.serial)  # the other image's serial before its change
        self.assertEqual(im.blkid_uuid(str(path)), im.blkid_serial_text(kind, kind.serial))

        # Raw recovery never writes another volume's sectors, whatever is asked.
        code, values = self.child("restore", volume, other_backup, "1", "1", "0")
        self.assertEqual((code, values["error"], values["match"]), (0, "6", "1"))


class CreatedText(unittest.TestCase):
    def test_backup_times_are_shown_in_local_time(self):
        cases = [("2024-05-01T23:30:00Z", "2024-05-02 05:00"),  # 23:30 UTC is the next morning in India
                 ("2024-12-31T20:00:59Z", "2025-01-01 01:30"),
                 ("2024-13-01T23:30:00Z", "2024-13-01 23:30"),  # Windows refuses the date: the UTC values
                 ("2024-05-01 23:30", "2024-05-01 23:30"),      # not read: the stored text
                 ("garbage", "garbage")]
        for created, shown in cases:
            with self.subTest(created=created):
                r = prefix.checks("created", created)
                self.assertEqual(r.returncode, 0)
                self.assertEqual(r.stdout.decode("utf-8").rstrip("\r\n"), shown)


class Parent(unittest.TestCase):
    def test_launch_wait_and_read_back(self):
        r = prefix.checks("parent")
        out = r.stdout.decode("utf-8", "replace")
        print(out, end="")
        self.assertEqual(r.returncode, 0, out + r.stderr.decode("utf-8", "replace"))
        self.assertNotIn("FAIL", out)
        self.assertIn("ok runas starts the child", out)
        self.assertEqual(list(prefix.work.glob("*.tlxresult")), [])


if __name__ == "__main__":
    reason = skip_reason()
    if reason:
        print(f"SKIP: {reason}")
        sys.exit(77)
    unittest.main(verbosity=2)
