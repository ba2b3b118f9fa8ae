"""Names that are not UTF-8 reach the system byte for byte: qorin works on the very image and backups
folder named, never on the one whose name holds the replacement character instead."""

import os
import shutil
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402
from test_change import ChangeTestCase  # noqa: E402

# Python keeps an undecodable byte as a lone surrogate and hands the byte itself to the system.
FF = "\udcff"
REPLACEMENT = "\ufffd"


class ByteNameTest(ChangeTestCase):
    def test_image_and_backups_folder_named_with_byte_ff(self):
        image = os.path.join(self.dir, FF + ".img")
        decoy = os.path.join(self.dir, REPLACEMENT + ".img")
        im.make_fat(image, 16, 0x1234ABCD)
        im.make_fat(decoy, 16, 0x5555AAAA)
        decoy_bytes = im.read_bytes(decoy)
        self.assertIn(b"\xff.img", os.listdir(os.fsencode(self.dir)))

        proc = im.qorin("get", image, "--json")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(im.json_line(self, proc)["serial"], "1234-ABCD")

        backups = os.path.join(self.dir, "bk" + FF)
        proc = im.qorin("set", image, "0BAD-F00D", "--yes", "--json", "--backup-dir", backups)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        result = im.json_line(self, proc)
        self.assertEqual(im.blkid_uuid(image), "0BAD-F00D")
        self.assertEqual(im.read_bytes(decoy), decoy_bytes, "the file with the replacement character was changed")
        # Shown readably, written exactly.
        self.assertEqual(result["drive"], os.path.realpath(os.path.join(self.dir, REPLACEMENT + ".img")))
        self.assertEqual(sorted(os.listdir(os.fsencode(self.dir))), [b"bk\xff", b"\xef\xbf\xbd.img", b"\xff.img"])
        saved = [name for _, _, names in os.walk(os.fsencode(backups)) for name in names]
        self.assertEqual(len(saved), 1, saved)

        # The backup in that folder is found again and restores that very image.
        proc = im.qorin("restore", image, "--yes", "--json", "--backup-dir", backups)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(im.blkid_uuid(image), "1234-ABCD")
        self.assertEqual(im.read_bytes(decoy), decoy_bytes)


if __name__ == "__main__":
    im.main(tools=("blkid", "mkfs.fat"))
