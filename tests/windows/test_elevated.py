#!/usr/bin/env python3
"""Dravik's elevated instance under Wine, in a private prefix: the child role started by hand (argument
checks, exit codes, the result file it writes) and the parent's launch, wait and read-back.

The child role is started by hand as Dravik.exe --elevated-op; the parent side is driven through
win_elevated_checks.exe, which links the same code as the window and is its own child, so it can also
play a child that misbehaves. Nothing here may change a volume: the only volumes named do not exist, and the host's folders
are unmapped from the prefix first.
"""
import hashlib
import json
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
               "fs", "serialBytes", "oldSerial", "newSerial", "backupPath", "backupDigest", "backupError"]
ZERO_DIGEST = "0" * 64


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
            # A restore names the digest of the file the user confirmed: without it, or not 64 hex digits, no.
            (["--elevated-op", result, "restore", "C:\\", "b.tlxbak", "0", "0", "0"], 2),
            (["--elevated-op", result, "restore", "C:\\", "b.tlxbak", "0" * 63, "0", "0", "0"], 2),
            (["--elevated-op", result, "restore", "C:\\", "b.tlxbak", "x" * 64, "0", "0", "0"], 2),
            # Only a volume, a drive root, or an image that holds a boot sector is a drive: not another file.
            (["--elevated-op", result, "change", "C:\\plinthos\\r.txt", "0000000000000000", "0"], 2),
            (["--elevated-op", result, "restore", "C:\\plinthos\\r.txt", "b.tlxbak", ZERO_DIGEST, "1", "1", "0"], 2),
            (["--elevated-op", result, "change", "Q:\\no volume\\", "0000000000000000", "0"], 2),
            (["--elevated-op", result, "change", "\\\\?\\Volume{x}\\", "0000000000000000", "0"], 2),
            (["--elevated-op", result], 2),
            (["--elevated-op", "C:\\plinthos\\missing.tlxresult", "change", "C:\\", "0000000000000000", "0"], 3),
            (["--elevated-op", "C:\\plinthos\\gone\\x.tlxresult", "restore", "C:\\", "b.tlxbak", ZERO_DIGEST, "1",
              "0", "0"], 3),
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
        r = prefix.dravik("--elevated-op", "C:\\plinthos\\R2.TLXRESULT", "change", "Q:\\", "000000001234ABCD", "0")
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
        digest = hashlib.sha256(b"NOT A BACKUP\n").hexdigest()
        for raw in ("0", "1"):
            with self.subTest(raw=raw):
                self.result.write_bytes(b"")
                r = prefix.dravik("--elevated-op", "C:\\plinthos\\r.tlxresult", "restore", "Q:\\",
                               "C:\\plinthos\\bad.tlxbak", digest, raw, "0", "0")
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                values = dict(result_lines(self.result.read_bytes()))
                self.assertEqual(values["ran"], "1")
                self.assertEqual(values["parseError"], "1")  # BadMagic
                self.assertEqual(values["error"], "0")
                self.assertEqual(values["backupPath"], "")

    def test_a_backup_changed_after_it_was_confirmed_is_refused(self):
        (prefix.work / "b.tlxbak").write_bytes(b"NOT A BACKUP\n")
        confirmed = hashlib.sha256(b"what the user saw").hexdigest()
        before = prefix.snapshot()
        r = prefix.dravik("--elevated-op", "C:\\plinthos\\r.tlxresult", "restore", "Q:\\", "C:\\plinthos\\b.tlxbak",
                          confirmed, "1", "0", "0")
        self.assertEqual(r.returncode, 2)
        self.assertEqual(self.result.read_bytes(), b"")
        self.assertEqual(prefix.snapshot(), before)

    def test_the_result_file_is_written_only_when_it_is_the_parents_own_empty_file(self):
        # Another process of the user swapped the empty file for a link to a file of theirs, or filled it.
        victim = prefix.work / "victim.ini"
        swaps = {"hard link": lambda: os.link(victim, self.result),
                 "symbolic link": lambda: os.symlink(victim, self.result),
                 "not empty": lambda: self.result.write_bytes(b"ran=1\n")}
        for what, swap in swaps.items():
            with self.subTest(swap=what):
                victim.write_bytes(b"[keep]\n")
                self.result.unlink()
                swap()
                r = prefix.dravik("--elevated-op", "C:\\plinthos\\r.tlxresult", "change", "Q:\\",
                                  "000000001234ABCD", "0")
                self.assertEqual(r.returncode, 3, r.stdout + r.stderr)
                self.assertEqual(victim.read_bytes(), b"[keep]\n")
                self.assertFalse((prefix.drive_c / "ProgramData" / "Morvane").exists())


FS_NUMBER = {"FAT16": 2, "FAT32": 3, "exFAT": 4, "NTFS": 5}


def host_path(windows_path):
    """Where a path on the prefix's C: lies on this machine."""
    assert windows_path.startswith("C:\\"), windows_path
    return prefix.drive_c.joinpath(*windows_path[3:].split("\\"))


class ChildOnImages(unittest.TestCase):
    """The child role end to end on disk-image files in the prefix.

    Wine reports the user's own account as the owner of every folder, and that account is every unelevated
    process's too: the default backups folder is never administrators-only there, so every change the child
    makes stops before its first write. Backups to restore from are made by qorin into a folder it is told."""

    def setUp(self):
        probe = im.fresh_image(im.kind("FAT16"), str(prefix.work), "probe.img")
        supported = prefix.qorin("get", "C:\\plinthos\\probe.img").returncode == 0
        os.unlink(probe)
        if not supported:
            self.skipTest("this Windows build does not open disk-image files")
        self.addCleanup(self.clean)

    def clean(self):
        for path in prefix.work.iterdir():
            if path.is_dir():
                shutil.rmtree(path)
            elif path.suffix != ".exe":
                path.unlink()
        shutil.rmtree(prefix.drive_c / "ProgramData" / "Morvane", ignore_errors=True)

    def image(self, kind_name, name):
        kind = im.kind(kind_name)
        path = im.fresh_image(kind, str(prefix.work), name)
        return kind, Path(path), "C:\\plinthos\\" + name

    def child(self, *args):
        """Runs the child with a fresh result file; its exit code and the result's keys and values. A restore
        gets the digest of the backup file as it is now, as the window passes the file the user confirmed."""
        if args[0] == "restore":
            args = (*args[:3], hashlib.sha256(host_path(args[2]).read_bytes()).hexdigest(), *args[3:])
        result = prefix.work / "x.tlxresult"
        result.write_bytes(b"")
        r = prefix.dravik("--elevated-op", "C:\\plinthos\\x.tlxresult", *args)
        pairs = result_lines(result.read_bytes()) if result.stat().st_size else []
        result.unlink()
        if pairs:
            self.assertEqual([key for key, _ in pairs if key != "note"], RESULT_KEYS)
        return r.returncode, dict(pairs)

    def qorin_backup(self, volume, serial):
        """Changes the image with qorin into a folder named on its command line; the backup's path."""
        r = prefix.qorin("set", volume, serial, "--yes", "--json", "--backup-dir", "C:\\plinthos\\named")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        return json.loads(r.stdout.decode("utf-8"))["backup"]

    def assert_refused_backups_folder(self, values):
        """The change ran, planned, and stopped at the backup: Access is denied, nothing written."""
        self.assertEqual((values["ran"], values["error"], values["applyOutcome"], values["applyFailure"]),
                         ("1", "5", "1", "3"))
        self.assertEqual((values["backupPath"], values["backupDigest"], values["backupError"]), ("", "", "5"))
        folder = prefix.drive_c / "ProgramData" / "Morvane" / "Plinthos" / "Backups"
        self.assertEqual([p for p in folder.rglob("*") if p.is_file()] if folder.exists() else [], [])

    def test_no_backup_goes_into_a_folder_the_users_own_account_owns(self):
        for kind_name, typed, full64 in (("FAT32", 0xDEADBEEF, "0"), ("exFAT", 0xDEADBEEF, "0"),
                                         ("NTFS", 0x0011223389ABCDEF, "1")):
            with self.subTest(kind=kind_name):
                kind, path, volume = self.image(kind_name, kind_name + ".img")
                original = path.read_bytes()
                code, values = self.child("change", volume, f"{typed:016X}", full64)
                self.assertEqual(code, 0)
                self.assertEqual(values["fs"], str(FS_NUMBER[kind.fs]))
                self.assertEqual(int(values["oldSerial"]), kind.serial)
                self.assert_refused_backups_folder(values)
                self.assertEqual(path.read_bytes(), original)

                backup = self.qorin_backup(volume, "5EB1-C0DE")
                changed = path.read_bytes()
                for raw in ("0", "1"):
                    code, values = self.child("restore", volume, backup, raw, "0", "0")
                    self.assertEqual(code, 0)
                    self.assert_refused_backups_folder(values)
                    self.assertEqual(path.read_bytes(), changed)

    def test_the_parent_changes_an_image_through_its_child(self):
        kind, path, volume = self.image("exFAT", "exfat.img")
        original = path.read_bytes()
        r = prefix.checks("launch", volume, "5EB1C0DE")
        self.assertEqual(r.returncode, 0)
        values = dict(line.split("=", 1) for line in r.stdout.decode("utf-8").splitlines())
        self.assertEqual(values["launchError"], "0")
        self.assertEqual(int(values["oldSerial"]), kind.serial)
        self.assert_refused_backups_folder(values)
        self.assertEqual(path.read_bytes(), original)
        self.assertEqual(list(prefix.drive_c.rglob("Dravik-*.tlxresult")), [])

    def test_an_image_is_written_only_over_a_boot_sector_and_never_with_force(self):
        kind, path, volume = self.image("FAT32", "fat32.img")
        backup = self.qorin_backup(volume, "0000-BEEF")
        changed = path.read_bytes()
        code, values = self.child("restore", volume, backup, "1", "1", "0")
        self.assertEqual((code, values), (2, {}))
        self.assertEqual(path.read_bytes(), changed)

        # A file whose start is no boot sector is not a drive at all, whatever is asked.
        damaged = bytearray(changed)
        damaged[0:512] = bytes(512)
        path.write_bytes(damaged)
        for flags in (("1", "0", "0"), ("1", "1", "0"), ("0", "0", "1")):
            with self.subTest(flags=flags):
                code, values = self.child("restore", volume, backup, *flags)
                self.assertEqual((code, values), (2, {}))
                self.assertEqual(path.read_bytes(), bytes(damaged))

    def test_a_backup_of_another_image_is_refused(self):
        _, other, other_volume = self.image("FAT16", "other.img")
        other_backup = self.qorin_backup(other_volume, "0000-7777")
        kind, path, volume = self.image("FAT32", "fat32.img")
        original = path.read_bytes()
        code, values = self.child("restore", volume, other_backup, "0", "0", "0")
        self.assertEqual((code, values["ran"], values["differentVolume"], values["error"]), (0, "1", "1", "0"))
        self.assertEqual(values["backupPath"], "")
        # Raw recovery never writes another volume's sectors.
        code, values = self.child("restore", volume, other_backup, "1", "0", "0")
        self.assertEqual((code, values["error"], values["match"]), (0, "6", "1"))
        self.assertEqual(path.read_bytes(), original)


class CreatedText(unittest.TestCase):
    def test_backup_times_are_shown_in_local_time(self):
        cases = [("2024-05-01T23:30:00Z", "2024-05-02 05:00"),  # 23:30 UTC is the next morning in India
                 ("2024-12-31T20:00:59Z", "2025-01-01 01:30"),
                 ("2024-13-01T23:30:00Z", "2024-13-01 23:30"),  # Windows refuses the date: the UTC values
                 ("2024-05-01 23:30", "unknown time"),          # not the stored form: never shown as it is
                 ('<A HREF="C:\\Windows\\System32\\calc.exe">now</A>', "unknown time"),
                 ("garbage", "unknown time")]
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
