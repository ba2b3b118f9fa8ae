"""qorin set and random on real images: blkid, fsck and a whole-image byte diff judge the change,
the backup file is read back with its digests, and refusals leave the image and the backups alone."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402

NEW_SERIAL = 0xC0DE1234
RESULT_KEYS = ["drive", "exit", "error", "outcome", "mode", "restartRequired", "oldSerial", "newSerial",
               "backup", "message", "notes"]
NOTE_TEXTS = {
    "Fat32NoBackup": "This FAT32 volume has no backup boot sector, so only the main one was updated.",
    "Fat32BackupNotCopy": "The FAT32 backup boot sector doesn't hold a copy of the boot sector, so it was left as is.",
    "ExFatBackupInconsistent": "The exFAT backup boot region was already inconsistent, so it was left as is.",
    "NtfsBackupUnreachable": "The NTFS backup boot sector couldn't be reached, so only the main one was updated.",
}


def expected_regions(layout, fs, device_sector):
    """(kind, first device sector, count) of every saved region, in the order they are written."""
    n = layout.bytes_per_sector // device_sector
    if fs == "exFAT":
        return [("ExFatBackupRegion", 12 * n, 12 * n), ("ExFatMainRegion", 0, 12 * n)]
    if fs == "FAT32":
        return [("BackupBootSector", layout.backup_sector * n, n), ("BootSector", 0, n)]
    if fs == "NTFS":
        return [("BackupBootSector", layout.total_sectors * n, n), ("BootSector", 0, n)]
    return [("BootSector", 0, n)]


def display(value, width, show_full):
    text = im.serial32(value)
    return f"{text} (full {im.serial64(value)})" if width == 8 and show_full else text


class ChangeTestCase(unittest.TestCase):
    def setUp(self):
        self.dir = im.scratch_dir("change-")
        self.backups = os.path.join(self.dir, "backups")

    def set_serial(self, target, serial_text, *options):
        proc = im.qorin("set", target, serial_text, "--yes", "--json", "--backup-dir", self.backups, *options)
        im.assert_no_sanitizer_report(self, proc)
        return proc, im.json_line(self, proc)

    def volume_folder(self, target):
        return os.path.join(self.backups, im.backup_folder_name(target))

    def check_success(self, result, target, old, new, width, notes=()):
        drive = os.path.realpath(target)
        self.assertEqual(list(result), RESULT_KEYS)
        show_full = width == 8 and (old >> 32) != (new >> 32)
        self.assertEqual(result["drive"], drive)
        self.assertEqual((result["exit"], result["error"], result["outcome"]), (0, "None", "Success"), result)
        self.assertEqual((result["mode"], result["restartRequired"]), ("Locked", False))
        self.assertEqual(result["oldSerial"], im.serial_json(old, width))
        self.assertEqual(result["newSerial"], im.serial_json(new, width))
        self.assertEqual(result["message"], f"Volume Serial Number of {drive} changed from "
                                            f"{display(old, width, show_full)} to {display(new, width, show_full)}.")
        self.assertIsInstance(result["backup"], str)
        self.assertEqual(result["notes"], ["A boot-sector backup was saved to " + result["backup"]]
                         + [NOTE_TEXTS[note] for note in notes])

    def check_backup(self, path, target, before, fs, old, new, width, regions, device_sector=512):
        """The backup file lies in the volume's folder, is named after the change, passes its
        digests and holds exactly the image's bytes before the change."""
        self.assertEqual(os.path.dirname(path), self.volume_folder(target))
        name = im.BACKUP_NAME.match(os.path.basename(path))
        self.assertIsNotNone(name, os.path.basename(path))
        self.assertEqual(name.group(3, 4), (im.serial_hex(old, width), im.serial_hex(new, width)))
        backup = im.read_backup(path)
        layout = im.Layout(before)
        self.assertEqual(backup.keys, im.BACKUP_KEYS)
        header = backup.header
        self.assertEqual(header["volume"], os.path.realpath(target))
        self.assertEqual(header["mount"], "")
        self.assertEqual(header["fs"], fs)
        self.assertEqual(header["bytesPerSector"], str(layout.bytes_per_sector))
        self.assertEqual(header["deviceSector"], str(device_sector))
        self.assertEqual(header["volumeSectors"], str(layout.total_sectors))
        self.assertEqual(header["serialBytes"], str(width))
        self.assertEqual((header["oldSerial"], header["newSerial"]), (f"{old:X}", f"{new:X}"))
        self.assertEqual(header["app"], "3.0.2")
        day, clock = name.group(1), name.group(2)
        self.assertEqual(header["created"], f"{day[:4]}-{day[4:6]}-{day[6:]}T{clock[:2]}:{clock[2:4]}:{clock[4:]}Z")
        self.assertEqual([(r.kind, r.first, r.count) for r in backup.regions], regions)
        for region in backup.regions:
            start = region.first * device_sector
            self.assertEqual(region.data, before[start:start + region.count * device_sector], region.kind)

    def check_only_serial_changed(self, before, after, width, copies, fs):
        """Changes lie only in the serial fields (and exFAT checksum sectors); the updated copies
        hold the new serial."""
        layout = im.Layout(before)
        allowed = [layout.serial_ranges(width)[i] for i in copies] + \
                  [layout.checksum_ranges[i] for i in copies if fs == "exFAT"]
        changed = im.changed_offsets(before, after)
        self.assertTrue(changed, "nothing changed")
        self.assertEqual(im.outside(changed, allowed), [])
        if fs == "exFAT":
            for copy in copies:
                self.assertTrue(im.exfat_region_ok(after, 12 * copy, layout.bytes_per_sector), f"region {copy}")


class SetTest(ChangeTestCase):
    def test_set_rewrites_serial_copies_and_saves_a_backup(self):
        for kind in im.KINDS:
            with self.subTest(kind.name):
                if kind.skip_reason():
                    self.skipTest(kind.skip_reason())
                image = im.fresh_image(kind, self.dir)
                before = im.read_bytes(image)
                old = kind.serial
                new = (old & 0xFFFFFFFF00000000) | NEW_SERIAL  # a 32-bit serial keeps the NTFS high half
                proc, result = self.set_serial(image, im.serial32(NEW_SERIAL))
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.check_success(result, image, old, new, kind.width)
                self.assertEqual(im.blkid_uuid(image), im.blkid_serial_text(kind, new))
                clean, output = im.judge(kind.fs, image)
                self.assertTrue(clean, output)
                after = im.read_bytes(image)
                copies = [0] if kind.fs in ("FAT12", "FAT16") else [0, 1]
                self.check_only_serial_changed(before, after, 4, copies, kind.fs)
                layout = im.Layout(after)
                for copy in copies:
                    self.assertEqual(layout.serial_at(after, copy), new, f"copy {copy}")
                self.check_backup(result["backup"], image, before, kind.fs, old, new, kind.width,
                                  expected_regions(layout, kind.fs, 512))
                self.assertEqual(im.tlxbak_files(self.volume_folder(image)), [os.path.basename(result["backup"])])

    def test_full64(self):
        cases = [  # kind, typed serial, serial expected afterwards
            ("NTFS", "0123456789ABCDEF", 0x0123456789ABCDEF),
            ("NTFS-4096", "0123-4567-89AB-CDEF", 0x0123456789ABCDEF),
            ("NTFS", "A1B2C3D4C0DE1234", 0xA1B2C3D4C0DE1234),  # same high half: no full forms shown
            ("FAT32", "00000000C0DE1234", 0xC0DE1234),  # fits 32 bits, so a FAT32 volume takes it
        ]
        for name, typed, new in cases:
            with self.subTest(f"{name} {typed}"):
                kind = im.kind(name)
                image = im.fresh_image(kind, self.dir)
                before = im.read_bytes(image)
                proc, result = self.set_serial(image, typed, "--full64")
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.check_success(result, image, kind.serial, new, kind.width)
                self.assertEqual(im.blkid_uuid(image), im.blkid_serial_text(kind, new))
                clean, output = im.judge(kind.fs, image)
                self.assertTrue(clean, output)
                self.check_only_serial_changed(before, im.read_bytes(image), kind.width, [0, 1], kind.fs)

    def test_text_output(self):
        for name in ("FAT12", "exFAT", "NTFS"):
            with self.subTest(name):
                kind = im.kind(name)
                image = im.fresh_image(kind, self.dir)
                proc = im.qorin("set", image, "C0DE-1234", "--yes", "--backup-dir", self.backups)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.assertEqual(proc.stderr, "")
                files = im.tlxbak_files(self.volume_folder(image))
                self.assertEqual(len(files), 1)
                drive = os.path.realpath(image)
                self.assertEqual(proc.stdout.split("\n"), [
                    f"Volume Serial Number of {drive} changed from {im.serial32(kind.serial)} to C0DE-1234.",
                    "A boot-sector backup was saved to " + os.path.join(self.volume_folder(image), files[0]),
                    ""])

    def test_random(self):
        for name, options in [("FAT16", ()), ("exFAT", ()), ("NTFS", ()), ("NTFS", ("--full64",))]:
            with self.subTest(f"{name} {options}"):
                kind = im.kind(name)
                image = im.fresh_image(kind, self.dir)
                before = im.read_bytes(image)
                proc = im.qorin("random", image, "--yes", "--json", "--backup-dir", self.backups, *options)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                result = im.json_line(self, proc)
                new = int(result["newSerial"].replace("-", ""), 16)
                self.check_success(result, image, kind.serial, new, kind.width)
                self.assertEqual(im.blkid_uuid(image), im.blkid_serial_text(kind, new))
                width = 8 if options else 4
                if kind.width == 8 and not options:
                    self.assertEqual(new >> 32, kind.serial >> 32, "the high half must stay")
                copies = [0] if name == "FAT16" else [0, 1]
                self.check_only_serial_changed(before, im.read_bytes(image), width, copies, kind.fs)


class NotesTest(ChangeTestCase):
    """Copies that are no true copy are left alone, and the user is told."""

    def run_case(self, name, damage, copies, note, judge=True):
        kind = im.kind(name)
        image = im.fresh_image(kind, self.dir)
        damage(image)
        before = im.read_bytes(image)
        proc, result = self.set_serial(image, "C0DE-1234")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        new = (kind.serial & 0xFFFFFFFF00000000) | NEW_SERIAL
        self.check_success(result, image, kind.serial, new, kind.width, notes=[note] if note else [])
        after = im.read_bytes(image)
        self.check_only_serial_changed(before, after, 4, copies, kind.fs)
        if judge:
            clean, output = im.judge(kind.fs, image)
            self.assertTrue(clean, output)
        return before, after

    def test_fat32_backup_field_pointing_into_the_fat(self):
        def point_into_fat(image):
            reserved = int.from_bytes(im.read_bytes(image)[14:16], "little")
            im.patch_bytes(image, 50, (reserved + 1).to_bytes(2, "little"))
        before, after = self.run_case("FAT32", point_into_fat, [0], "Fat32NoBackup", judge=False)
        # The sector the field names (inside the FAT) and the true copy at 6 stay as they were.
        self.assertEqual(before[512:], after[512:])

    def test_fat32_backup_sector_without_signature(self):
        def unsign_backup(image):
            backup = int.from_bytes(im.read_bytes(image)[50:52], "little")
            im.patch_bytes(image, backup * 512 + 510, b"\0\0")
        self.run_case("FAT32", unsign_backup, [0], "Fat32BackupNotCopy", judge=False)

    def test_exfat_backup_region_with_wrong_checksum(self):
        def break_backup(image):
            im.patch_bytes(image, 12 * 512 + 1 * 512 + 5, b"\x5a")  # an extended boot sector of the copy
        self.run_case("exFAT", break_backup, [0], "ExFatBackupInconsistent")

    def test_ntfs_backup_at_file_system_length_on_a_longer_device(self):
        def extend(image):
            with open(image, "r+b") as f:
                f.truncate((9 << 20))
        # ntfsfix looks for the copy at the device's last sector, so the byte diff is the judge here.
        before, after = self.run_case("NTFS", extend, [0, 1], None, judge=False)
        self.assertEqual(before[-512:], after[-512:])

    def test_ntfs_backup_beyond_the_device(self):
        def cut(image):
            with open(image, "r+b") as f:
                f.truncate((8 << 20) - 512)
        self.run_case("NTFS", cut, [0], "NtfsBackupUnreachable", judge=False)


class RefusalTest(ChangeTestCase):
    """Refusals: exact sentence and exit code, image unchanged, no backup file."""

    def check_refused(self, target, args, code, stream, text, image=None):
        image = image or target
        before = im.read_bytes(image) if os.path.isfile(image) else None
        proc = im.qorin(*args)
        im.assert_no_sanitizer_report(self, proc)
        self.assertEqual(proc.returncode, code, proc.stdout + proc.stderr)
        self.assertEqual(getattr(proc, stream), text)
        if before is not None:
            self.assertEqual(im.read_bytes(image), before, "the image was written")
        self.assertEqual(im.all_files_below(self.backups) if os.path.isdir(self.backups) else [], [])
        return proc

    def test_invalid_serial_is_refused_before_the_drive_is_looked_up(self):
        missing = os.path.join(self.dir, "no-such.img")
        syntax = " isn't a serial number. Format: XXXX-XXXX (hexadecimal)"
        for typed, options, tail in [("ZZ", (), "."), ("12345-ABCD", (), "."), ("", (), "."),
                                     ("0x", (), "."), ("12_34", (), "."),
                                     ("0123456789ABCDEF0", ("--full64",), ", or 16 hex digits with --full64.")]:
            with self.subTest(typed):
                self.check_refused(missing, ["set", missing, typed, "--yes", *options, "--backup-dir", self.backups],
                                   2, "stderr", f'"{typed}"{syntax}{tail}\n')

    def test_unknown_drive(self):
        missing = os.path.join(self.dir, "no-such.img")
        self.check_refused(missing, ["set", missing, "1234-5678", "--yes", "--backup-dir", self.backups], 2, "stderr",
                           f'"{missing}" isn\'t a volume on this computer. Run "qorin list" to see them.\n')

    def test_current_serial(self):
        for name in ("FAT16", "NTFS"):
            with self.subTest(name):
                image = im.fresh_image(im.kind(name), self.dir)
                self.check_refused(image, ["set", image, "1234-ABCD", "--yes", "--backup-dir", self.backups], 0,
                                   "stdout", f"{os.path.realpath(image)} already has this serial. Nothing was changed.\n")

    def test_64_bits_on_a_32_bit_field(self):
        for name in ("FAT32", "exFAT"):
            with self.subTest(name):
                image = im.fresh_image(im.kind(name), self.dir)
                self.check_refused(image, ["set", image, "0123456789ABCDEF", "--full64", "--yes",
                                           "--backup-dir", self.backups], 2, "stderr",
                                   "This volume has a 32-bit serial. Use the XXXX-XXXX form (8 hex digits).\n")

    def test_unsupported_file_systems(self):
        zeros = os.path.join(self.dir, "zeros.img")
        with open(zeros, "wb") as f:
            f.truncate(1 << 20)
        images = [zeros]
        if im.has_tools("mkfs.ext4"):
            ext4 = os.path.join(self.dir, "ext4.img")
            im.make_ext4(ext4)
            images.append(ext4)
        for image in images:
            with self.subTest(os.path.basename(image)):
                drive = os.path.realpath(image)
                self.check_refused(image, ["set", image, "1234-5678", "--yes", "--backup-dir", self.backups], 6,
                                   "stderr", f"The file system on {drive} isn't supported. "
                                             "This tool works with FAT, FAT32, exFAT and NTFS volumes.\n")

    def test_bitlocker_signature(self):
        for name, offset, mark in im.BITLOCKER_MARKS:
            with self.subTest(name):
                image = im.fresh_image(im.kind("FAT16"), self.dir)
                im.patch_bytes(image, offset, mark)
                drive = os.path.realpath(image)
                self.check_refused(image, ["set", image, "1234-5678", "--yes", "--backup-dir", self.backups], 5,
                                   "stderr", f"{drive} is locked by BitLocker, so its serial can't be read or "
                                             "changed. Unlock the drive first (open it in Explorer and enter its "
                                             "password or recovery key), then try again.\n")

    def test_damaged_exfat_main_region(self):
        for sector in (1, 5, 10, 11):
            with self.subTest(sector=sector):
                image = im.fresh_image(im.kind("exFAT"), self.dir)
                im.patch_bytes(image, sector * 512 + 17, b"\xa5")
                drive = os.path.realpath(image)
                self.check_refused(image, ["set", image, "1234-5678", "--yes", "--backup-dir", self.backups], 1,
                                   "stderr", f"The boot region of {drive} is already damaged (its checksum doesn't "
                                             f'match), so it wasn\'t touched. Run "fsck.exfat {drive}" first.\n')

    def test_unwritable_backups_folder(self):
        image = im.fresh_image(im.kind("FAT32"), self.dir)
        blocker = os.path.join(self.dir, "a-file")
        with open(blocker, "w") as f:
            f.write("not a folder\n")
        folder = os.path.join(blocker, "backups")
        before = im.read_bytes(image)
        proc = im.qorin("set", image, "1234-5678", "--yes", "--json", "--backup-dir", folder)
        self.assertEqual(proc.returncode, 1, proc.stdout + proc.stderr)
        result = im.json_line(self, proc)
        self.assertEqual((result["error"], result["outcome"], result["backup"]), ("Apply", "NothingWritten", None))
        message = result["message"]
        self.assertTrue(message.startswith("The boot-sector backup couldn't be saved to " + folder), message)
        self.assertTrue(message.endswith(", so nothing was written. Your drive is unchanged."), message)
        self.assertRegex(message[len("The boot-sector backup couldn't be saved to " + folder):], r"^( \(.+\))?,")
        self.assertEqual(im.read_bytes(image), before)
        self.assertEqual(sorted(os.listdir(self.dir)), sorted([os.path.basename(image), "a-file"]))


class LoopDeviceChangeTest(ChangeTestCase):
    @unittest.skipUnless(im.is_root(), "loop devices need root")
    def test_set_on_4096_byte_sector_device(self):
        for kind in [k for k in im.KINDS if k.sector == 4096]:
            with self.subTest(kind.name):
                if kind.skip_reason():
                    self.skipTest(kind.skip_reason())
                image = im.fresh_image(kind, self.dir)
                before = im.read_bytes(image)
                new = (kind.serial & 0xFFFFFFFF00000000) | NEW_SERIAL
                with im.loop_device(image, sector=4096) as device:
                    proc, result = self.set_serial(device, "C0DE-1234")
                    self.assertEqual(proc.returncode, 0, proc.stderr)
                    self.check_success(result, device, kind.serial, new, kind.width)
                    self.assertEqual(im.blkid_uuid(device), im.blkid_serial_text(kind, new))
                    self.check_backup(result["backup"], device, before, kind.fs, kind.serial, new, kind.width,
                                      expected_regions(im.Layout(before), kind.fs, 4096), device_sector=4096)
                clean, output = im.judge(kind.fs, image)
                self.assertTrue(clean, output)
                copies = [0] if kind.fs in ("FAT12", "FAT16") else [0, 1]
                self.check_only_serial_changed(before, im.read_bytes(image), 4, copies, kind.fs)


if __name__ == "__main__":
    im.main(tools=("blkid", "mkfs.fat", "fsck.fat"))
