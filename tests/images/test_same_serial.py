"""Volumes that share a serial, on loop devices: two made from one FAT32 image name each other in
qorin list (text and JSON) and qorin get; an NTFS and a FAT16 volume whose low 32 bits agree do too;
two ext4 clones have no serial and are never flagged; after qorin random on one clone neither is
flagged, and a restore of the backup brings the mark back. blkid -p judges the serials."""

import contextlib
import os
import random
import shutil
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402

# Serials of this run only, so other loop devices on the machine don't share them by chance.
CLONE = random.randrange(1 << 32)
LOW = (CLONE + 1) % (1 << 32)


def copy(template, path):
    shutil.copyfile(template, path)
    return path


class SameSerialTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stack = contextlib.ExitStack()
        try:
            cls.folder = im.scratch_dir("same-")
            fat32 = os.path.join(cls.folder, "fat32.img")
            im.make_fat(fat32, 32, CLONE)
            ntfs = os.path.join(cls.folder, "ntfs.img")
            im.make_ntfs(ntfs, (0x5EED << 48) | LOW, size_mb=4)
            fat16 = os.path.join(cls.folder, "fat16.img")
            im.make_fat(fat16, 16, LOW)
            ext4 = os.path.join(cls.folder, "ext4.img")
            im.make_ext4(ext4, size_mb=2)
            attach = lambda path: cls.stack.enter_context(im.loop_device(path))  # noqa: E731
            cls.first = attach(copy(fat32, os.path.join(cls.folder, "first.img")))
            cls.second = attach(copy(fat32, os.path.join(cls.folder, "second.img")))
            cls.ntfs = attach(ntfs)
            cls.fat16 = attach(fat16)
            cls.ext4 = [attach(copy(ext4, os.path.join(cls.folder, f"ext4-{i}.img"))) for i in range(2)]
        except BaseException:
            cls.stack.close()
            raise

    @classmethod
    def tearDownClass(cls):
        cls.stack.close()

    def run_qorin(self, *args):
        proc = im.qorin(*args)
        im.assert_no_sanitizer_report(self, proc)
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        return proc

    def listed(self):
        return {v["volume"]: v for v in im.json_line(self, self.run_qorin("list", "--json"))}

    def status_cells(self):
        """The Status cell of each device's line in the text table."""
        lines = self.run_qorin("list").stdout.splitlines()
        start = lines[0].index("Status")
        return {line.split()[0]: line[start:] for line in lines[1:]}

    def test_clones_and_equal_low_halves_name_each_other(self):
        self.assertEqual(im.blkid_uuid(self.first), im.blkid_uuid(self.second))
        volumes = self.listed()
        pairs = [(self.first, self.second), (self.second, self.first), (self.ntfs, self.fat16),
                 (self.fat16, self.ntfs)]
        for device, other in pairs:
            with self.subTest(device=device):
                self.assertEqual(volumes[device]["sameSerialAs"], [other])
                self.assertEqual(list(volumes[device])[-1], "sameSerialAs")
        for device in self.ext4:
            with self.subTest(device=device):
                self.assertIsNone(volumes[device]["serial"])
                self.assertEqual(volumes[device]["sameSerialAs"], [])
        cells = self.status_cells()
        self.assertEqual(cells[self.first], "same serial as " + self.second)
        self.assertEqual(cells[self.fat16], "same serial as " + self.ntfs)
        for device in self.ext4:
            self.assertNotIn("same serial", cells[device])

    def test_get_names_the_other_volume(self):
        lines = self.run_qorin("get", self.ntfs).stdout.splitlines()
        serial = next(i for i, line in enumerate(lines) if line.startswith("Serial:"))
        self.assertEqual(lines[serial + 1], "Same serial:  " + self.fat16)
        got = im.json_line(self, self.run_qorin("get", self.first, "--json"))
        self.assertEqual(got["sameSerialAs"], [self.second])
        self.assertEqual(list(got)[-3:], ["fullSerial", "encryption", "sameSerialAs"])
        lines = self.run_qorin("get", self.ext4[0]).stdout
        self.assertNotIn("Same serial", lines)

    def test_a_new_serial_ends_the_mark_and_a_restore_brings_it_back(self):
        backups = os.path.join(self.folder, "backups")
        self.run_qorin("random", self.second, "--yes", "--backup-dir", backups)
        self.assertNotEqual(im.blkid_uuid(self.first), im.blkid_uuid(self.second))
        volumes = self.listed()
        self.assertEqual(volumes[self.first]["sameSerialAs"], [])
        self.assertEqual(volumes[self.second]["sameSerialAs"], [])
        self.assertNotIn("Same serial", self.run_qorin("get", self.first).stdout)
        self.assertNotIn("same serial", self.status_cells()[self.second])

        backup = [path for path in im.all_files_below(backups) if path.endswith(".tlxbak")]
        self.assertEqual(len(backup), 1, backup)
        self.run_qorin("restore", self.second, backup[0], "--yes", "--backup-dir", backups)
        self.assertEqual(im.blkid_uuid(self.first), im.blkid_uuid(self.second))
        self.assertEqual(self.listed()[self.second]["sameSerialAs"], [self.first])


if __name__ == "__main__":
    im.main(tools=("mkfs.fat", "mkntfs", "ntfslabel", "mkfs.ext4", "blkid", "losetup"), root=True)
