"""The same volume, however it is reached: an image behind a second loop device mounted through FUSE,
whose path is a hard link or runs through a bind mount, or held open for writing under a hard-link name,
keeps the first loop device from being written; and backups stay with the image, not with the loop
device it happened to be attached at, so a reused device restores nothing of another volume."""

import contextlib
import os
import shutil
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402

DRIVERS = {"FAT": "fusefat", "exFAT": "mount.exfat-fuse"}


@contextlib.contextmanager
def bind_mount(folder, point):
    os.makedirs(point, exist_ok=True)
    im.run(["mount", "--bind", folder, point])
    try:
        yield point
    finally:
        im.run(["umount", point], check=False)


class SameVolumeTest(unittest.TestCase):
    def setUp(self):
        self.dir = im.scratch_dir("same-")
        self.backups = os.path.join(self.dir, "backups")

    def assert_in_use(self, target):
        """Refused as in use, with no backup: nothing was written (the mount itself may touch usage bytes)."""
        proc = im.qorin("set", target, "C0DE-1234", "--yes", "--json", "--backup-dir", self.backups)
        im.assert_no_sanitizer_report(self, proc)
        self.assertEqual(proc.returncode, 4, proc.stdout + proc.stderr)
        result = im.json_line(self, proc)
        self.assertEqual((result["error"], result["backup"]), ("VolumeInUse", None))

    def aliases(self, image):
        """Another name of the image: a hard link, then the same file through a bind mount."""
        link = os.path.join(self.dir, "alias.img")
        os.link(image, link)
        try:
            yield "hard link", link
        finally:
            os.unlink(link)
        with bind_mount(os.path.dirname(image), os.path.join(self.dir, "bound")) as point:
            yield "bind mount", os.path.join(point, os.path.basename(image))

    def test_fuse_mount_through_another_loop_device(self):
        for name, driver in [("exFAT", "exFAT"), ("FAT32", "FAT")]:
            with self.subTest(name):
                if not im.has_tools(DRIVERS[driver]):
                    self.skipTest(f"{DRIVERS[driver]} is not installed")
                kind = im.kind(name)
                folder = os.path.join(self.dir, name)
                os.makedirs(folder)
                image = im.fresh_image(kind, folder)
                with im.loop_device(image) as first:
                    for how, alias in self.aliases(image):
                        with self.subTest(name=name, alias=how):
                            mnt = os.path.join(self.dir, "mnt")
                            with im.loop_device(alias) as second, im.fuse_mount(driver, second, mnt):
                                self.assert_in_use(first)
                # Unmounted, the FUSE driver has written back what it cached: the serial and the boot
                # region must still be the image's own.
                self.assertEqual(im.blkid_uuid(image), im.blkid_serial_text(kind, kind.serial))
                clean, output = im.judge(kind.fs, image)
                self.assertTrue(clean, output)

    def test_image_held_open_for_writing_under_another_name(self):
        kind = im.kind("FAT16")
        image = im.fresh_image(kind, self.dir)
        before = im.read_bytes(image)
        with im.loop_device(image) as first:
            for how, alias in self.aliases(image):
                with self.subTest(alias=how), open(alias, "r+b"):
                    self.assert_in_use(first)
        self.assertEqual(im.read_bytes(image), before)


def attach(device, image):
    im.run(["losetup", device, image])


def detach(device):
    for _ in range(50):
        if im.run(["losetup", "-d", device], check=False).returncode == 0:
            return
        time.sleep(0.1)


class BackupKeyTest(unittest.TestCase):
    def setUp(self):
        self.dir = im.scratch_dir("key-")
        self.backups = os.path.join(self.dir, "backups")

    def qorin(self, *args):
        proc = im.qorin(*args, "--backup-dir", self.backups)
        im.assert_no_sanitizer_report(self, proc)
        return proc

    def test_image_and_its_loop_device_share_their_backups(self):
        image = os.path.realpath(im.fresh_image(im.kind("FAT16"), self.dir))
        self.assertEqual(self.qorin("set", image, "5555-6666", "--yes").returncode, 0)
        with im.loop_device(image) as device:
            self.assertEqual(self.qorin("set", device, "C0DE-1234", "--yes").returncode, 0)
            folder = os.path.join(self.backups, im.backup_folder_name(image))
            self.assertEqual(len(im.tlxbak_files(folder)), 2)
            proc = self.qorin("backups", device)
            self.assertEqual(proc.returncode, 0, proc.stderr)
            lines = proc.stdout.split("\n")
            self.assertEqual(lines[0], f"{'Created (UTC)':<20}  {'Change':<22}  File (backups of {image})")
            self.assertEqual(len(lines), 4, proc.stdout)
            # The image itself lists the same backups, without naming a key: it is its own.
            proc = self.qorin("backups", image)
            self.assertEqual(proc.stdout.split("\n")[0], f"{'Created (UTC)':<20}  {'Change':<22}  File")

    def test_a_reused_loop_device_restores_nothing_of_the_volume_before(self):
        first = os.path.realpath(im.fresh_image(im.kind("FAT16"), self.dir, "first.img"))
        second = os.path.realpath(im.fresh_image(im.kind("FAT16"), self.dir, "second.img"))
        with im.loop_device(first) as device:
            # Its latest backup would set AAAA-0001, a serial second.img never had.
            for serial in ("AAAA-0001", "C0DE-1234"):
                self.assertEqual(self.qorin("set", device, serial, "--yes").returncode, 0)
            detach(device)
            attach(device, second)
            before = im.read_bytes(second)
            proc = self.qorin("restore", device, "--yes")
            self.assertEqual(proc.returncode, 9, proc.stdout + proc.stderr)
            self.assertEqual(proc.stderr, f"No backups for {device} in {self.backups}.\n")
            self.assertEqual(im.read_bytes(second), before)

            # A backup saved under the device path before keeps being listed for the device.
            legacy = os.path.join(self.backups, device.strip("/").replace("/", "_"))
            os.makedirs(legacy, exist_ok=True)
            saved = os.path.join(self.backups, im.backup_folder_name(first))
            name = im.tlxbak_files(saved)[0]
            shutil.copy(os.path.join(saved, name), os.path.join(legacy, name))
            proc = self.qorin("backups", device, "--json")
            self.assertEqual([entry["file"] for entry in im.json_line(self, proc)], [os.path.join(legacy, name)])


if __name__ == "__main__":
    im.main(tools=("blkid", "losetup", "fusermount", "mount"), root=True, fuse=True)
