"""qorin set on volumes mounted through FUSE from a loop device: FAT and exFAT are refused as in use
with nothing written, NTFS is written in place and keeps its new serial after unmounting."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402
from test_change import RESULT_KEYS, expected_regions  # noqa: E402

DRIVERS = {"FAT": "fusefat", "exFAT": "mount.exfat-fuse", "NTFS": "ntfs-3g"}


def boot_ranges(data, fs):
    """Byte ranges of every boot sector or region a change could write."""
    layout = im.Layout(data)
    return [(first * 512, (first + count) * 512) for _, first, count in expected_regions(layout, fs, 512)]


class MountedTest(unittest.TestCase):
    def setUp(self):
        self.dir = im.scratch_dir("mounted-")
        self.backups = os.path.join(self.dir, "backups")
        self.mountpoint = os.path.join(self.dir, "mnt")

    def need(self, driver):
        if not im.has_tools(DRIVERS[driver]):
            self.skipTest(f"{DRIVERS[driver]} is not installed")

    def set_serial(self, target):
        proc = im.qorin("set", target, "C0DE-1234", "--yes", "--json", "--backup-dir", self.backups)
        im.assert_no_sanitizer_report(self, proc)
        result = im.json_line(self, proc)
        self.assertEqual(list(result), RESULT_KEYS)
        return proc, result

    def drive_text(self, target):
        """How qorin names the target: its mount point when the catalogue sees the mount (fusefat's
        mount-table entry does not name the device), else its path."""
        proc = im.qorin("get", target, "--json")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        drive = im.json_line(self, proc)["drive"]
        self.assertIn(drive, (os.path.realpath(target), self.mountpoint))
        return drive

    def test_mounted_fat_and_exfat_are_in_use(self):
        for name, driver in [("FAT16", "FAT"), ("FAT32", "FAT"), ("exFAT", "exFAT")]:
            with self.subTest(name):
                self.need(driver)
                kind = im.kind(name)
                image = im.fresh_image(kind, self.dir)
                before = im.read_bytes(image)
                with im.loop_device(image) as device, im.fuse_mount(driver, device, self.mountpoint):
                    # Both the device and the image file behind it are held by the mount.
                    for target in (device, image):
                        proc, result = self.set_serial(target)
                        self.assertEqual(proc.returncode, 4, proc.stdout + proc.stderr)
                        self.assertEqual((result["error"], result["backup"]), ("VolumeInUse", None))
                        self.assertEqual(result["message"], f"{self.drive_text(target)} is in use and couldn't be "
                                         "locked. Close any programs or windows using the drive and try again.")
                self.assertEqual(im.blkid_uuid(image), im.blkid_serial_text(kind, kind.serial))
                # The FUSE driver may update its own FAT entries; the boot sectors must be untouched.
                changed = im.changed_offsets(before, im.read_bytes(image))
                ranges = boot_ranges(before, kind.fs)
                self.assertEqual(sorted(set(changed) - set(im.outside(changed, ranges))), [])
                self.assertEqual(im.all_files_below(self.backups) if os.path.isdir(self.backups) else [], [])

    def test_mounted_ntfs_is_written_in_place(self):
        self.need("NTFS")
        kind = im.kind("NTFS")
        image = im.fresh_image(kind, self.dir)
        new = (kind.serial & 0xFFFFFFFF00000000) | 0xC0DE1234
        with im.loop_device(image) as device:
            with im.fuse_mount("NTFS", device, self.mountpoint):
                drive = self.drive_text(device)
                proc, result = self.set_serial(device)
                self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
                self.assertEqual((result["error"], result["outcome"]), ("None", "Success"))
                self.assertEqual((result["mode"], result["restartRequired"]), ("InPlace", True))
                self.assertEqual(result["newSerial"], im.serial_json(new, 8))
                self.assertEqual(result["notes"], [
                    "A boot-sector backup was saved to " + result["backup"],
                    f"{drive} is mounted. The new serial has been written and takes effect when the volume "
                    "is mounted again."])
                self.assertEqual(len(im.tlxbak_files(os.path.join(self.backups, im.backup_folder_name(device)))), 1)
            self.assertEqual(im.blkid_uuid(device), im.blkid_serial_text(kind, new))
        self.assertEqual(im.blkid_uuid(image), im.blkid_serial_text(kind, new))
        clean, output = im.ntfsfix_check(image)
        self.assertTrue(clean, output)


if __name__ == "__main__":
    im.main(tools=("blkid", "losetup", "fusermount"), root=True, fuse=True)
