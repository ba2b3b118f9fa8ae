"""Drive names given as fstab tags: a tag that two volumes carry (cloned disks share serials) names
neither of them, so nothing is read as theirs and nothing is written."""

import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402
from test_change import ChangeTestCase  # noqa: E402


class DriveTagTest(ChangeTestCase):
    def test_a_serial_two_loop_devices_share_is_refused(self):
        first = os.path.join(self.dir, "first.img")
        second = os.path.join(self.dir, "second.img")
        im.make_fat(first, 16, 0x7E57C10E)
        shutil.copyfile(first, second)
        before = im.read_bytes(first)
        with im.loop_device(first) as one, im.loop_device(second) as two:
            devices = ", ".join(sorted(os.path.realpath(d) for d in (one, two)))
            expected = f'"UUID=7E57-C10E" names more than one volume: {devices}. Name the one you mean by its device path.\n'
            for args in (("set", "UUID=7E57-C10E", "1111-2222", "--yes"), ("get", "UUID=7E57-C10E"),
                         ("restore", "UUID=7E57-C10E", "--yes")):
                with self.subTest(args[0]):
                    proc = im.qorin(*args, "--backup-dir", self.backups)
                    self.assertEqual((proc.returncode, proc.stderr), (2, expected), proc.stdout)
            self.assertEqual(im.read_bytes(first), before)
            self.assertEqual(im.read_bytes(second), before)
            self.assertFalse(os.path.exists(self.backups), "nothing may be saved")

            # Once the clone has its own serial, the tag names one volume again.
            proc, result = self.set_serial(two, "0BAD-F00D")
            self.assertEqual(proc.returncode, 0, proc.stderr)
            proc, result = self.set_serial("UUID=7E57-C10E", "1111-2222")
            self.assertEqual(proc.returncode, 0, proc.stderr)
            self.assertEqual(result["drive"], os.path.realpath(one))
        self.assertEqual(im.blkid_uuid(first), "1111-2222")
        self.assertEqual(im.blkid_uuid(second), "0BAD-F00D")


if __name__ == "__main__":
    im.main(tools=("blkid", "mkfs.fat", "losetup"), root=True)
