"""qorin restore and backups on real images: serial restore and raw recovery give back the old
image byte for byte, and backups that are damaged, edited or belong elsewhere are refused."""

import os
import shutil
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402
from test_change import RESULT_KEYS, ChangeTestCase  # noqa: E402

NEW_SERIAL = 0xC0DE1234
FORCE_HINT = " can't be recognized, so the backup can't be checked against it. Add --force to write it anyway."


def mismatch_line(drive):
    return (f"This backup doesn't match {drive}, so its saved boot sectors can't be written back. "
            "You can still restore just the serial.\n")


class RestoreTestCase(ChangeTestCase):
    def changed_image(self, kind, name=None):
        """A fresh image, its bytes, and the backup written by changing its serial to C0DE-1234."""
        image = im.fresh_image(kind, self.dir, name)
        original = im.read_bytes(image)
        proc, result = self.set_serial(image, im.serial32(NEW_SERIAL))
        self.assertEqual(proc.returncode, 0, proc.stderr)
        return image, original, result["backup"]

    def restore(self, target, *args):
        proc = im.qorin("restore", target, *args, "--yes", "--json", "--backup-dir", self.backups)
        im.assert_no_sanitizer_report(self, proc)
        result = im.json_line(self, proc)
        self.assertEqual(list(result), RESULT_KEYS)
        return proc, result

    def restore_text(self, target, *args):
        proc = im.qorin("restore", target, *args, "--yes", "--backup-dir", self.backups)
        im.assert_no_sanitizer_report(self, proc)
        return proc


class RestoreTest(RestoreTestCase):
    def test_restore_serial_gives_back_the_old_image(self):
        for kind in im.KINDS:
            with self.subTest(kind.name):
                if kind.skip_reason():
                    self.skipTest(kind.skip_reason())
                image, original, _ = self.changed_image(kind)
                changed = (kind.serial & 0xFFFFFFFF00000000) | NEW_SERIAL
                proc, result = self.restore(image)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.check_success(result, image, changed, kind.serial, kind.width)
                self.assertEqual(im.blkid_uuid(image), im.blkid_serial_text(kind, kind.serial))
                self.assertEqual(im.changed_offsets(original, im.read_bytes(image)), [])
                self.assertEqual(len(im.tlxbak_files(self.volume_folder(image))), 2)

    def test_raw_recovery_gives_back_the_old_image_once(self):
        for kind in im.KINDS:
            with self.subTest(kind.name):
                if kind.skip_reason():
                    self.skipTest(kind.skip_reason())
                image, original, first = self.changed_image(kind)
                changed_bytes = im.read_bytes(image)
                changed = (kind.serial & 0xFFFFFFFF00000000) | NEW_SERIAL
                proc, result = self.restore(image, "--raw")
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.check_success(result, image, changed, kind.serial, kind.width)
                self.assertEqual(im.changed_offsets(original, im.read_bytes(image)), [])
                clean, output = im.judge(kind.fs, image)
                self.assertTrue(clean, output)
                # The recovery saved the state it overwrote, so it can be undone in turn.
                for region in im.read_backup(result["backup"]).regions:
                    start = region.first * 512
                    self.assertEqual(region.data, changed_bytes[start:start + region.count * 512], region.kind)

                files = im.all_files_below(self.backups)
                proc, again = self.restore(image, first, "--raw")
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.assertEqual((again["error"], again["backup"]), ("Plan", None))
                self.assertEqual(again["message"],
                                 f"{os.path.realpath(image)} already holds the backup's boot sectors. Nothing was changed.")
                self.assertEqual(im.all_files_below(self.backups), files, "a new backup was written")
                self.assertEqual(im.changed_offsets(original, im.read_bytes(image)), [])

    def test_raw_recovery_of_a_zeroed_boot_sector_needs_force(self):
        for name in ("FAT16", "FAT32", "exFAT", "NTFS"):
            with self.subTest(name):
                kind = im.kind(name)
                image, original, backup = self.changed_image(kind)
                im.patch_bytes(image, 0, bytes(512))
                zeroed = im.read_bytes(image)
                drive = os.path.realpath(image)
                proc = self.restore_text(image, backup, "--raw")
                self.assertEqual(proc.returncode, 9, proc.stdout + proc.stderr)
                self.assertEqual(proc.stderr, f"The current boot sector of {drive}{FORCE_HINT}\n")
                self.assertEqual(im.read_bytes(image), zeroed)

                proc, result = self.restore(image, backup, "--raw", "--force")
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.assertEqual((result["error"], result["outcome"]), ("None", "Success"))
                # With the boot sector unreadable, the serial it had is taken from the backup.
                changed = (kind.serial & 0xFFFFFFFF00000000) | NEW_SERIAL
                self.assertEqual(result["oldSerial"], im.serial_json(changed, kind.width))
                self.assertEqual(result["newSerial"], im.serial_json(kind.serial, kind.width))
                self.assertEqual(im.changed_offsets(original, im.read_bytes(image)), [])
                clean, output = im.judge(kind.fs, image)
                self.assertTrue(clean, output)

    def test_forced_recovery_refuses_another_volumes_boot_sector_over_a_sound_copy(self):
        """With the boot sector zeroed, --force may not write the boot sectors of a volume of another cluster
        size: the volume's own copy, still sound, says the backup is not its own."""
        def other_fat32(path):
            im.make_fat(path, 32, 0x55556666, cluster_sectors=8)

        def other_exfat(path):
            with open(path, "wb") as f:
                f.truncate(8 << 20)
            im.run(["mkfs.exfat", "-c", "32K", path])

        for name, make_other in (("FAT32", other_fat32), ("exFAT", other_exfat)):
            with self.subTest(name):
                image, _, _ = self.changed_image(im.kind(name))
                other = os.path.join(self.dir, "other.img")
                make_other(other)
                proc, result = self.set_serial(other, "C0DE-5678")
                self.assertEqual(proc.returncode, 0, proc.stderr)
                im.patch_bytes(image, 0, bytes(512))
                zeroed = im.read_bytes(image)
                proc = self.restore_text(image, result["backup"], "--raw", "--force")
                self.assertEqual(proc.returncode, 9, proc.stdout + proc.stderr)
                self.assertEqual(proc.stderr, mismatch_line(os.path.realpath(image)))
                self.assertEqual(im.read_bytes(image), zeroed)
                os.unlink(other)

    def test_restore_across_widths_sets_only_the_low_half(self):
        """A 32-bit saved serial on NTFS keeps the volume's high half; a 64-bit one on FAT32 sets its low half."""
        for saved_name, target_name in (("exFAT", "NTFS"), ("NTFS", "FAT32")):
            with self.subTest(f"{saved_name} backup onto {target_name}"):
                _, _, backup = self.changed_image(im.kind(saved_name), f"saved-{saved_name}.img")
                target_kind = im.kind(target_name)
                target, _, _ = self.changed_image(target_kind, f"target-{target_name}.img")
                before = im.read_bytes(target)
                changed = (target_kind.serial & 0xFFFFFFFF00000000) | NEW_SERIAL
                expected = (target_kind.serial & 0xFFFFFFFF00000000) | 0x1234ABCD
                proc, result = self.restore(target, backup)
                self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
                self.check_success(result, target, changed, expected, target_kind.width)
                self.assertEqual(im.blkid_uuid(target), im.blkid_serial_text(target_kind, expected))
                ranges = [(o, o + target_kind.width) for o in im.Layout(before).serial_offsets]
                self.assertEqual(im.outside(im.changed_offsets(before, im.read_bytes(target)), ranges), [])

    def test_backup_of_another_volume(self):
        image, _, backup = self.changed_image(im.kind("FAT16"), "a.img")
        other = os.path.join(self.dir, "other.img")
        im.make_fat(other, 16, 0x55556666, size_kb=8192)
        before = im.read_bytes(other)
        drive = os.path.realpath(other)
        proc = self.restore_text(other, backup, "--raw", "--force")
        self.assertEqual(proc.returncode, 9, proc.stdout + proc.stderr)
        self.assertEqual(proc.stderr, mismatch_line(drive))
        self.assertEqual(im.read_bytes(other), before)
        self.assertEqual(im.tlxbak_files(self.volume_folder(other)), [])

        # Restoring just the serial is still possible, and changes nothing else.
        proc, result = self.restore(other, backup)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.check_success(result, other, 0x55556666, 0x1234ABCD, 4)
        self.assertEqual(im.blkid_uuid(other), "1234-ABCD")
        self.assertEqual(im.outside(im.changed_offsets(before, im.read_bytes(other)), [(39, 43)]), [])

    @unittest.skipUnless(im.is_root(), "loop devices need root")
    def test_backup_from_512_byte_device_on_4096_byte_device(self):
        image, _, backup = self.changed_image(im.kind("FAT32-4096"))
        before = im.read_bytes(image)
        with im.loop_device(image, sector=4096) as device:
            proc = self.restore_text(device, backup, "--raw", "--force")
            self.assertEqual(proc.returncode, 9, proc.stdout + proc.stderr)
            self.assertEqual(proc.stderr, mismatch_line(os.path.realpath(device)))
        self.assertEqual(im.read_bytes(image), before)


class BadBackupTest(RestoreTestCase):
    def test_unusable_backup_files(self):
        image, _, backup = self.changed_image(im.kind("FAT32"))
        valid = im.read_bytes(backup)
        header_end = valid.find(b"\n\n") + 2
        cases = [
            ("ChecksumMismatch", valid[:header_end + 100] + bytes([valid[header_end + 100] ^ 1])
             + valid[header_end + 101:]),
            ("Truncated", valid[:-1]),
            ("BadHeader", valid + b"\0"),
            ("UnsupportedVersion", valid.replace(b"TLXBAK 1\n", b"TLXBAK 2\n", 1)),
            ("BadMagic", b"hello\n\n" + valid),
            ("BadHeader", im.edit_backup_header(valid, b"\nfs=FAT32\n", b"\nfs=fat32\n")),
        ]
        before = im.read_bytes(image)
        for index, (error, content) in enumerate(cases):
            for mode in ((), ("--raw",)):
                with self.subTest(f"{error} {index} {mode}"):
                    path = os.path.join(self.dir, f"bad{index}.tlxbak")
                    with open(path, "wb") as f:
                        f.write(content)
                    files = im.all_files_below(self.backups)
                    proc = self.restore_text(image, path, *mode)
                    self.assertEqual(proc.returncode, 9, proc.stdout + proc.stderr)
                    self.assertEqual(proc.stderr, f"The backup file {path} can't be used: {error}.\n")
                    self.assertEqual(im.read_bytes(image), before)
                    self.assertEqual(im.all_files_below(self.backups), files)

    def test_oversized_backup_file(self):
        image, _, backup = self.changed_image(im.kind("FAT16"))
        path = os.path.join(self.dir, "huge.tlxbak")
        shutil.copyfile(backup, path)
        with open(path, "r+b") as f:
            f.truncate(64 * 1024 * 1024 + 1)  # sparse: no disk space needed
        before = im.read_bytes(image)
        for mode in ((), ("--raw",)):
            with self.subTest(mode):
                proc = self.restore_text(image, path, *mode)
                self.assertEqual(proc.returncode, 9, proc.stdout + proc.stderr)
                prefix = f"The backup file {path} can't be used: Truncated"
                self.assertTrue(proc.stderr.startswith(prefix), proc.stderr)
                self.assertRegex(proc.stderr[len(prefix):], r"^( \(.+\))?\.\n$")
                self.assertEqual(im.read_bytes(image), before)

    def test_region_moved_with_digests_intact_is_refused(self):
        for name, old, new in [("FAT32", b"region=BackupBootSector 6 1 ", b"region=BackupBootSector 7 1 "),
                               ("exFAT", b"region=ExFatBackupRegion 12 12 ", b"region=ExFatBackupRegion 13 12 ")]:
            for force in ((), ("--force",)):
                with self.subTest(f"{name} {force}"):
                    image, _, backup = self.changed_image(im.kind(name))
                    edited = os.path.join(self.dir, "edited.tlxbak")
                    with open(edited, "wb") as f:
                        f.write(im.edit_backup_header(im.read_bytes(backup), old, new))
                    im.read_backup(edited)  # still a well-formed file with matching digests
                    before = im.read_bytes(image)
                    files = im.all_files_below(self.backups)
                    proc = self.restore_text(image, edited, "--raw", *force)
                    self.assertEqual(proc.returncode, 9, proc.stdout + proc.stderr)
                    self.assertEqual(im.read_bytes(image), before, "sectors were written")
                    self.assertEqual(im.all_files_below(self.backups), files)


class BackupsListTest(RestoreTestCase):
    def test_no_backups(self):
        image = im.fresh_image(im.kind("FAT12"), self.dir)
        proc = im.qorin("backups", image, "--backup-dir", self.backups)
        self.assertEqual((proc.returncode, proc.stdout), (0, f"No backups for {image} in {self.backups}.\n"))
        proc = im.qorin("backups", image, "--json", "--backup-dir", self.backups)
        self.assertEqual((proc.returncode, proc.stdout), (0, "[]\n"))
        proc = self.restore_text(image)
        self.assertEqual(proc.returncode, 9)
        self.assertEqual(proc.stderr, f"No backups for {os.path.realpath(image)} in {self.backups}.\n")

    def test_listing_is_newest_first_and_skips_what_is_no_backup(self):
        kind = im.kind("FAT16")
        image = im.fresh_image(kind, self.dir)
        _, first = self.set_serial(image, "1111-2222")
        _, second = self.set_serial(image, "3333-4444")
        folder = self.volume_folder(image)
        # Names carry the stamp the listing sorts by: give the first change the newer stamp.
        newer = os.path.join(folder, "20250101-000000Z_1234ABCD_11112222.tlxbak")
        older = os.path.join(folder, "20240101-000000Z_11112222_33334444.tlxbak")
        os.rename(first["backup"], newer)
        os.rename(second["backup"], older)
        valid = im.read_bytes(newer)
        decoys = {
            "20990101-000000Z_1234ABCD_11112222.TLXBAK": valid,
            "20990101-000000Z_1234ABCD_11112222.tlxbak.tmp": valid,
            "notes.txt": b"not a backup\n",
            "20980101-000000Z_1234ABCD_11112222.tlxbak": valid[:-1],
        }
        for name, content in decoys.items():
            with open(os.path.join(folder, name), "wb") as f:
                f.write(content)
        os.mkdir(os.path.join(folder, "20970101-000000Z_1234ABCD_11112222.tlxbak"))

        proc = im.qorin("backups", image, "--json", "--backup-dir", self.backups)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        listing = im.json_line(self, proc)
        expected = [
            {"file": newer, "created": im.read_backup(newer).header["created"], "fileSystem": "FAT16",
             "oldSerial": "1234-ABCD", "newSerial": "1111-2222"},
            {"file": older, "created": im.read_backup(older).header["created"], "fileSystem": "FAT16",
             "oldSerial": "1111-2222", "newSerial": "3333-4444"},
        ]
        self.assertEqual(listing, expected)
        self.assertEqual([list(entry) for entry in listing], [list(entry) for entry in expected])

        proc = im.qorin("backups", image, "--backup-dir", self.backups)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(proc.stdout.split("\n"), [
            f"{'Created (UTC)':<20}  {'Change':<22}  File",
            f"{expected[0]['created']}  1234-ABCD -> 1111-2222  {newer}",
            f"{expected[1]['created']}  1111-2222 -> 3333-4444  {older}",
            ""])

        # restore without a file takes the first entry of the listing.
        proc, result = self.restore(image)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(result["newSerial"], "1234-ABCD")
        self.assertEqual(im.blkid_uuid(image), "1234-ABCD")


if __name__ == "__main__":
    im.main(tools=("blkid", "mkfs.fat", "fsck.fat"))
