"""Backups that a less privileged user could have planted are never taken on their own, and a save never
writes through a name planted in the backups folder."""

import datetime
import os
import shutil
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


def refused_restore_line(folder, why):
    return f"The backups in {folder} can't be trusted: {why} Nothing was restored.\n"


@unittest.skipUnless(im.is_root(), "folders of other users need root")
class PlantedFolderTest(RestoreTestCase):
    """A backups folder others may write: the per-volume folder planted as a link, or swapped for another
    volume's, never decides where root saves or which backup root restores."""

    def shared_backups(self, mode):
        os.makedirs(self.backups)
        os.chmod(self.backups, mode)

    def two_volumes(self):
        """Image a changed once (its backup restores 1234-ABCD), image b changed twice (latest restores 5555-6666)."""
        a, _, _ = self.changed_image(im.kind("FAT16"), "a.img")
        b = im.fresh_image(im.kind("FAT16"), self.dir, "b.img")
        for serial in ("5555-6666", "C0DE-1234"):
            proc, _ = self.set_serial(b, serial)
            self.assertEqual(proc.returncode, 0, proc.stderr)
        return a, b

    def test_a_planted_link_is_no_place_to_save(self):
        # Without the sticky bit the backups folder itself is refused, with it the link planted in it.
        for mode in (0o777, 0o1777):
            with self.subTest(oct(mode)):
                self.dir = im.scratch_dir("planted-")
                self.backups = os.path.join(self.dir, "backups")
                self.shared_backups(mode)
                image = im.fresh_image(im.kind("FAT16"), self.dir)
                before = im.read_bytes(image)
                elsewhere = os.path.join(self.dir, "elsewhere")
                os.makedirs(elsewhere)
                folder = self.volume_folder(image)
                os.symlink(elsewhere, folder)
                os.lchown(folder, NOBODY, NOBODY)
                proc, result = self.set_serial(image, "C0DE-1234")
                self.assertEqual(proc.returncode, 1, proc.stdout + proc.stderr)
                self.assertEqual((result["error"], result["backup"]), ("Apply", None))
                refused, why = ((self.backups, "Other users can write to the folder") if mode == 0o777 else
                                (folder, "The folder is a symbolic link"))
                self.assertEqual(result["message"], f"The boot-sector backup couldn't be saved to {refused} ({why}), "
                                 "so nothing was written. Your drive is unchanged.")
                self.assertEqual(os.listdir(elsewhere), [])
                self.assertEqual(im.read_bytes(image), before)

    def test_a_swapped_or_linked_folder_is_not_restored_from(self):
        def renamed(folder, other):
            # Without the sticky bit anyone may rename the folders of root's: b's takes a's name.
            os.rename(folder, folder + ".old")
            os.rename(other, folder)

        def linked(folder, other):
            # Sticky: root's folders stay, but a name root has not taken yet can be planted as a link.
            shutil.rmtree(folder)
            os.symlink(other, folder)
            os.lchown(folder, NOBODY, NOBODY)

        cases = [("renamed in a shared folder", 0o777, renamed, "Other users can write to the folder."),
                 ("linked in a sticky folder", 0o1777, linked, "The folder is a symbolic link.")]
        for name, mode, tamper, why in cases:
            with self.subTest(name):
                self.dir = im.scratch_dir("swapped-")
                self.backups = os.path.join(self.dir, "backups")
                a, b = self.two_volumes()
                os.chmod(self.backups, mode)
                before = im.read_bytes(a)
                folder = self.volume_folder(a)
                tamper(folder, self.volume_folder(b))
                proc = self.restore_text(a)
                self.assertEqual(proc.returncode, 9, proc.stdout + proc.stderr)
                refused = self.backups if mode == 0o777 else folder
                self.assertEqual(proc.stderr, refused_restore_line(refused, why))
                self.assertEqual(im.read_bytes(a), before)

    def test_a_folder_of_another_user_is_not_restored_from(self):
        image, _, _ = self.changed_image(im.kind("FAT16"))
        before = im.read_bytes(image)
        folder = self.volume_folder(image)
        os.chown(folder, NOBODY, NOBODY)
        proc = self.restore_text(image)
        self.assertEqual(proc.returncode, 9, proc.stdout + proc.stderr)
        self.assertEqual(proc.stderr, refused_restore_line(folder, "The folder belongs to another user."))
        self.assertEqual(im.read_bytes(image), before)
        proc, result = self.set_serial(image, "5555-6666")
        self.assertEqual(proc.returncode, 1, proc.stdout + proc.stderr)
        self.assertEqual(im.read_bytes(image), before)


if __name__ == "__main__":
    im.main(tools=("blkid", "mkfs.fat", "fsck.fat"))
