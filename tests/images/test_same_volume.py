"""The same volume reached under another name is still in use: an image behind a second loop device
mounted through FUSE, whose path is a hard link or runs through a bind mount, or held open for writing
under a hard-link name, keeps the first loop device (and the image) from being written."""

import contextlib
import os
import sys
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
            if not im.has_tools(DRIVERS[driver]):
                continue
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


if __name__ == "__main__":
    im.main(tools=("blkid", "losetup", "fusermount", "mount"), root=True, fuse=True)
