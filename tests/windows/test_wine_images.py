#!/usr/bin/env python3
"""The Windows qorin.exe on disk-image files under Wine, with the real Win32 file I/O, BCrypt and
backup store: set, restore and raw recovery judged by blkid, fsck and a byte diff on the host; its
backups read by the Linux build and the Linux build's read by it; busy and bad images refused.

Images lie in the private prefix's drive_c, so the host sees exactly what the Windows program wrote.
"""
import json
import os
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402
import test_wine as tw  # noqa: E402

NEW_SERIAL = 0xC0DE1234
KINDS = ["FAT12", "FAT16", "FAT32", "exFAT", "NTFS", "FAT32-4096", "NTFS-4096"]

wine = None


def setUpModule():
    global wine
    wine = tw.Wine()
    tw.wine = wine


def tearDownModule():
    if wine:
        wine.close()


def windows_path(path):
    """C:\\... for a host path inside the prefix's drive_c."""
    return "C:\\" + str(Path(path).relative_to(wine.drive_c)).replace("/", "\\")


def host_path(windows):
    assert windows.upper().startswith("C:\\"), windows
    return wine.drive_c / windows[3:].replace("\\", "/")


def folder_name(windows):
    """The per-volume backup folder of an image: its path as one component, as on Linux."""
    escape = {"\\": "_", "_": "%5F", "%": "%25"}
    return "".join("" if (c == ":" and i == 1) else escape.get(c, c) for i, c in enumerate(windows))


def json_result(testcase, proc):
    testcase.assertEqual(len(tw.lines(proc.stdout)), 1, proc.stdout + proc.stderr)
    return json.loads(proc.stdout.decode("utf-8"))


class WineImageCase(unittest.TestCase):
    def setUp(self):
        name = self.id().rsplit(".", 1)[-1]
        self.folder = wine.work / f"images-{name}"
        self.folder.mkdir()
        self.backups = f"C:\\plinthos\\backups-{name}"

    def image(self, kind_name, name=None):
        kind = im.kind(kind_name)
        reason = kind.skip_reason()
        if reason:
            self.skipTest(reason)
        return Path(im.fresh_image(kind, str(self.folder), name))

    def qorin_json(self, *args):
        proc = wine.qorin(*args, "--json", "--backup-dir", self.backups)
        if proc.returncode == 3 and proc.stderr == tw.ADMIN_LINE:
            self.skipTest("Wine runs qorin.exe without elevation")
        return proc, json_result(self, proc)


class ImageChanges(WineImageCase):
    def check_changed(self, kind, before, after, width):
        """Only the serial copies (and exFAT's checksum sectors) differ; the judges find nothing wrong."""
        layout = im.Layout(before)
        allowed = layout.serial_ranges(width) + layout.checksum_ranges
        self.assertEqual(im.outside(im.changed_offsets(before, after), allowed), [])

    def test_set_restore_and_raw_recovery_on_each_file_system(self):
        linux = im.QORIN if im.QORIN and os.access(im.QORIN, os.X_OK) else None
        for name in KINDS:
            with self.subTest(name):
                kind = im.kind(name)
                if kind.skip_reason():
                    continue
                image = self.image(name)
                target = windows_path(image)
                before = im.read_bytes(str(image))

                proc, got = self.qorin_json("get", target)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.assertEqual((got["drive"], got["mountPoints"], got["type"]), (target, [], "Fixed"))
                self.assertEqual(got["sizeBytes"], len(before))
                self.assertTrue(got["supported"] and got["mediaPresent"])
                self.assertEqual(im.blkid_uuid(str(image)).replace("-", ""),
                                 (got["fullSerial"] or got["serial"]).replace("-", ""))

                proc, result = self.qorin_json("set", target, im.serial32(NEW_SERIAL), "--yes")
                self.assertEqual((proc.returncode, result["error"], result["mode"]), (0, "None", "Locked"),
                                 proc.stdout + proc.stderr)
                changed = im.read_bytes(str(image))
                expected = NEW_SERIAL if kind.width == 4 else (kind.serial & ~0xFFFFFFFF) | NEW_SERIAL
                self.assertEqual(im.blkid_uuid(str(image)), im.blkid_serial_text(kind, expected))
                clean, output = im.judge(kind.fs, str(image))
                self.assertTrue(clean, output)
                if kind.fs == "exFAT":
                    self.assertTrue(im.exfat_region_ok(changed, 12, 512), "backup boot region checksum")
                self.check_changed(kind, before, changed, 4)

                # The backup lies in the image's own folder, and describes the image.
                backup_arg = result["backup"]
                backup = host_path(backup_arg)
                self.assertEqual(backup.parent.name, folder_name(target))
                self.assertEqual(im.read_backup(str(backup)).header["volume"], target)

                if linux:
                    # The Linux build writes the Windows build's backup back exactly...
                    host_backups = im.scratch_dir("linux-backups-")
                    proc = im.qorin("restore", str(image), str(backup), "--raw", "--yes", "--json",
                                    "--backup-dir", host_backups)
                    self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
                    self.assertEqual(im.read_bytes(str(image)), before)
                    # ...and the Windows build writes the Linux build's backup (of the changed state) back.
                    linux_backup = json.loads(proc.stdout)["backup"]
                    shutil_target = self.folder / "from-linux.tlxbak"
                    Path(linux_backup).replace(shutil_target)
                    proc, result = self.qorin_json("restore", target, windows_path(shutil_target), "--raw", "--yes")
                    self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
                    self.assertEqual(im.read_bytes(str(image)), changed)

                # Its own backup gives the image back byte for byte. Wine names the user's own account as the
                # owner of every file, which in Admin Approval Mode every unelevated process shares: "the latest"
                # passes over it, so it is named.
                proc = wine.qorin("restore", target, "--raw", "--yes", "--backup-dir", self.backups)
                self.assertEqual(proc.returncode, 9, proc.stdout + proc.stderr)
                self.assertIn(b"a less privileged user could have written it.", proc.stderr)
                self.assertEqual(im.read_bytes(str(image)), changed)
                proc, result = self.qorin_json("restore", target, backup_arg, "--raw", "--yes")
                self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
                self.assertEqual(im.read_bytes(str(image)), before)
                clean, output = im.judge(kind.fs, str(image))
                self.assertTrue(clean, output)

    def test_serial_restore_from_a_backup(self):
        image = self.image("FAT32")
        target = windows_path(image)
        before = im.read_bytes(str(image))
        proc, _ = self.qorin_json("set", target, "0BAD-F00D", "--yes")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        proc, listed = self.qorin_json("backups", target)
        self.assertEqual((proc.returncode, len(listed)), (0, 1), proc.stderr)
        # Wine's owner of every file is the user's own account: the backup is named, not "the latest".
        proc, result = self.qorin_json("restore", target, listed[0]["file"], "--yes")
        self.assertEqual((proc.returncode, result["newSerial"]), (0, "1234-ABCD"), proc.stdout + proc.stderr)
        self.assertEqual(im.blkid_uuid(str(image)), "1234-ABCD")
        self.assertEqual(im.read_bytes(str(image)), before)


class BusyAndBadImages(WineImageCase):
    def holder(self, image, share):
        """Another Windows program with the image open; returns a function that lets it go."""
        checks = Path(tw.QORIN_EXE).resolve().parents[1] / "tests" / "windows" / "win_platform_checks.exe"
        if not checks.is_file():
            self.skipTest(f"{checks} was not built")
        exe = wine.work / "win_platform_checks.exe"
        if not exe.exists():
            exe.write_bytes(checks.read_bytes())
        flag = self.folder / f"release-{share}"
        out = tempfile.TemporaryFile()
        proc = subprocess.Popen([wine.wine, "C:\\plinthos\\win_platform_checks.exe", f"hold={windows_path(image)}",
                                 f"share={share}", f"until={windows_path(flag)}"], env=wine.env, cwd=wine.work,
                                stdout=out, stderr=subprocess.DEVNULL)

        def release():
            flag.touch()
            proc.wait(timeout=120)
            out.close()

        deadline = time.monotonic() + 60
        while True:
            out.seek(0)
            text = out.read()
            if b"held" in text:
                return release
            if proc.poll() is not None or time.monotonic() > deadline:
                release()
                self.fail(f"the holder did not take the image: {text!r}")
            time.sleep(0.1)

    def test_image_held_open_by_another_program_is_in_use(self):
        image = self.image("FAT16")
        target = windows_path(image)
        before = im.read_bytes(str(image))
        release = self.holder(image, "rw")
        try:
            proc, result = self.qorin_json("set", target, "C0DE-1234", "--yes")
        finally:
            release()
        self.assertEqual((proc.returncode, result["error"], result["backup"]), (4, "VolumeInUse", None),
                         proc.stdout + proc.stderr)
        self.assertEqual(result["message"], f"{target} is in use and couldn't be locked. "
                                            "Close any programs or windows using the drive and try again.")
        self.assertEqual(im.read_bytes(str(image)), before)
        self.assertFalse(host_path(self.backups).exists() and any(host_path(self.backups).rglob("*.tlxbak")))
        # Let go, the same change goes through.
        proc, result = self.qorin_json("set", target, "C0DE-1234", "--yes")
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)

    def test_image_locked_against_opening(self):
        image = self.image("FAT12")
        target = windows_path(image)
        before = im.read_bytes(str(image))
        release = self.holder(image, "none")
        try:
            proc, result = self.qorin_json("set", target, "C0DE-1234", "--yes")
            got = wine.qorin("get", target, "--json")
        finally:
            release()
        # The sharing violation of the open is the answer of a file in use.
        self.assertEqual((proc.returncode, result["error"], result["backup"]), (4, "VolumeInUse", None),
                         proc.stdout + proc.stderr)
        self.assertTrue(result["message"].startswith(f"{target} is in use and couldn't be locked."), result["message"])
        self.assertEqual(im.read_bytes(str(image)), before)
        # Still a drive, described without its boot sector.
        self.assertEqual(got.returncode, 0, got.stderr)
        info = json.loads(got.stdout.decode("utf-8"))
        self.assertEqual((info["drive"], info["sizeBytes"], info["supported"]), (target, len(before), False))

    def test_short_and_empty_images(self):
        boot = im.read_bytes(str(self.image("FAT16")))
        for name, content in (("empty", b""), ("100-bytes", boot[:100]), ("511-bytes", boot[:511])):
            with self.subTest(name):
                image = self.folder / f"{name}.img"
                image.write_bytes(content)
                target = windows_path(image)
                proc, info = self.qorin_json("get", target)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.assertEqual((info["sizeBytes"], info["supported"], info["serial"]), (len(content), False, None))
                proc, result = self.qorin_json("set", target, "C0DE-1234", "--yes")
                self.assertEqual((proc.returncode, result["error"], result["backup"]), (1, "Plan", None),
                                 proc.stdout + proc.stderr)
                self.assertTrue(result["message"].startswith(f"The boot sector of {target} couldn't be read"),
                                result["message"])
                self.assertEqual(image.read_bytes(), content)

    def test_folders_and_missing_files_are_no_volume(self):
        folder = self.folder / "a folder"
        folder.mkdir()
        for typed in (windows_path(folder), windows_path(folder) + "\\", windows_path(self.folder / "missing.img")):
            with self.subTest(typed):
                for args in (["get", typed], ["set", typed, "C0DE-1234", "--yes"]):
                    r = wine.qorin(*args)
                    self.assertEqual(r.returncode, 2)
                    self.assertEqual(r.stderr.decode("utf-8"),
                                     f"\"{typed}\" isn't a volume on this computer. Run \"qorin list\" to see them.\r\n")


class ReviewFindings(WineImageCase):
    def test_quote_swallowed_by_a_trailing_backslash_is_explained(self):
        for args in (["backups", "C:", "--backup-dir", 'C:\\My Backups" --json'],
                     ["set", 'C:\\Mount\\Data" 1234-ABCD', "--yes"]):
            with self.subTest(args=args):
                r = wine.qorin(*args)
                self.assertEqual((r.returncode, r.stdout), (2, b""))
                err = r.stderr.decode("utf-8")
                self.assertTrue(err.startswith("A path can't hold a double quote: ") and err.endswith("\r\n"), err)
                self.assertIn("a backslash just before a closing quote must be doubled", err)

    def test_volume_size_and_windows_drive(self):
        volumes = json.loads(wine.qorin("list", "--json").stdout.decode("utf-8"))
        self.assertEqual([v["drive"] for v in volumes if v["system"]], ["C:"])
        self.assertTrue(all(v["sizeBytes"] > 0 for v in volumes if v["mediaPresent"]), volumes)


if __name__ == "__main__":
    reason = tw.skip_reason()
    if reason:
        print(f"SKIP: {reason}")
        sys.exit(77)
    unittest.main(verbosity=2)
