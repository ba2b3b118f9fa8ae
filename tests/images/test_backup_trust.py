"""Backups that a less privileged user could have planted are never taken on their own, and a save never
writes through a name planted in the backups folder."""

import datetime
import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402
from test_restore import RestoreTestCase  # noqa: E402

NOBODY = 65534


def skipped_line(path):
    return f"Skipped {path}: a less privileged user could have written it.\n"


def planted_copy(backup, folder, name, serial_text):
    """A well-formed backup of the same volume that would restore serial_text, saved under name."""
    data = im.edit_backup_header(im.read_bytes(backup), b"\noldSerial=1234ABCD\n",
                                 f"\noldSerial={serial_text}\n".encode())
    path = os.path.join(folder, name)
    with open(path, "wb") as f:
        f.write(data)
    return path


@unittest.skipUnless(im.is_root(), "files of other users need root")
class PlantedBackupTest(RestoreTestCase):
    def test_restore_passes_over_files_others_could_have_written(self):
        image, _, backup = self.changed_image(im.kind("FAT16"))
        folder = self.volume_folder(image)
        foreign = planted_copy(backup, folder, "20990102-000000Z_1234ABCD_C0DE1234.tlxbak", "DEADBEEF")
        os.chown(foreign, NOBODY, NOBODY)
        shared = planted_copy(backup, folder, "20990101-000000Z_1234ABCD_C0DE1234.tlxbak", "0BADF00D")
        os.chmod(shared, 0o666)

        proc, result = self.restore(image)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(proc.stderr, skipped_line(foreign) + skipped_line(shared))
        self.assertEqual(result["newSerial"], "1234-ABCD")
        self.assertEqual(im.blkid_uuid(image), "1234-ABCD")

    def test_only_planted_files_is_no_backup(self):
        image, _, backup = self.changed_image(im.kind("FAT16"))
        os.chown(backup, NOBODY, NOBODY)
        before = im.read_bytes(image)
        proc = self.restore_text(image)
        self.assertEqual(proc.returncode, 9, proc.stdout + proc.stderr)
        self.assertEqual(proc.stderr, skipped_line(backup)
                         + f"No backups for {os.path.realpath(image)} in {self.backups}.\n")
        self.assertEqual(im.read_bytes(image), before)

    def test_a_named_file_is_used_with_a_warning(self):
        image, _, backup = self.changed_image(im.kind("FAT16"))
        os.chown(backup, NOBODY, NOBODY)
        proc, result = self.restore(image, backup)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(proc.stderr, f"Warning: a less privileged user could have changed {backup}.\n")
        self.assertEqual(im.blkid_uuid(image), "1234-ABCD")

        # A file of root's in root's folder gives no warning.
        os.chown(backup, 0, 0)
        self.set_serial(image, "C0DE-1234")
        proc, result = self.restore(image, backup)
        self.assertEqual((proc.returncode, proc.stderr), (0, ""))

    def test_hard_link_at_the_temporary_name_costs_no_earlier_backup(self):
        image, _, first = self.changed_image(im.kind("FAT16"))
        saved = im.read_bytes(first)
        folder = self.volume_folder(image)
        # The names the next change (C0DE-1234 to 5555-6666) would write through in the coming seconds.
        now = datetime.datetime.now(datetime.timezone.utc)
        for second in range(-2, 30):
            stamp = (now + datetime.timedelta(seconds=second)).strftime("%Y%m%d-%H%M%SZ")
            os.link(first, os.path.join(folder, f"{stamp}_C0DE1234_55556666.tlxbak.tmp"))
        proc, result = self.set_serial(image, "5555-6666")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(im.read_bytes(first), saved, "the earlier backup was rewritten")
        self.assertEqual(im.read_backup(result["backup"]).header["oldSerial"], "C0DE1234")
        self.assertNotEqual(os.stat(result["backup"]).st_ino, os.stat(first).st_ino)


if __name__ == "__main__":
    im.main(tools=("blkid", "mkfs.fat", "fsck.fat"))
