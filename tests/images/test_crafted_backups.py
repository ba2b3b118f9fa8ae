"""Raw recovery from backup files edited by hand, digests recomputed: every region must lie where and be
what the saved boot sector itself says, so each crafted file is refused (exit 9, even with --force) and
leaves the image and the backups folder untouched."""

import hashlib
import os
import struct
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402
from test_restore import RestoreTestCase, mismatch_line  # noqa: E402


def write_backup(path, header, regions):
    """A well-formed backup file: header keys in the given order, (kind, first, bytes) regions with fresh digests."""
    device_sector = int(header["deviceSector"])
    lines = ["TLXBAK 1"] + [f"{key}={value}" for key, value in header.items()]
    for kind_, first, data in regions:
        assert len(data) % device_sector == 0, (kind_, len(data))
        lines.append(f"region={kind_} {first} {len(data) // device_sector} {hashlib.sha256(data).hexdigest()}")
    with open(path, "wb") as f:
        f.write("\n".join(lines).encode() + b"\n\n" + b"".join(data for _, _, data in regions))
    im.read_backup(path)  # still a file the reader accepts


def regions_of(backup):
    return [(r.kind, r.first, r.data) for r in backup.regions]


def replace_region(regions, kind_, first=None, data=None):
    out = []
    for k, f, d in regions:
        if k == kind_:
            f = f if first is None else first
            d = d if data is None else data
        out.append((k, f, d))
    return out


def fat1x_root_sector(image):
    reserved = int.from_bytes(image[14:16], "little")
    return reserved + image[16] * int.from_bytes(image[22:24], "little")


JUNK = b"\xee" * 512


def fat32_as_ntfs(header, regions, image):
    header.update(fs="NTFS", volumeSectors="40")
    return header, replace_region(regions, "BackupBootSector", first=40)


def fat16_as_ntfs(header, regions, image):
    root = fat1x_root_sector(image)
    header.update(fs="NTFS", volumeSectors=str(root))
    return header, [("BackupBootSector", root, regions[-1][2])] + regions


def ntfs_copy_into_mft(header, regions, image):
    header["volumeSectors"] = "32"
    return header, replace_region(regions, "BackupBootSector", first=32, data=JUNK)


def exfat_1024(header, regions, image):
    header["bytesPerSector"] = "1024"
    main = image[:12 * 512] + JUNK * 12
    return header, [("ExFatBackupRegion", 24, JUNK * 24), ("ExFatMainRegion", 0, main)]


def fat32_as_exfat_4096(header, regions, image):
    header.update(fs="exFAT", bytesPerSector="4096")
    main = image[:4096] + JUNK * 88  # the first 4096 bytes match the volume apart from the serial
    return header, [("ExFatBackupRegion", 96, JUNK * 96), ("ExFatMainRegion", 0, main)]


def moved(kind_, first):
    def craft(header, regions, image):
        return header, replace_region(regions, kind_, first=first)
    return craft


def moved_by_volume_sectors(factor, offset):
    """The NTFS copy at the recorded length counted in other units, or one sector off."""
    def craft(header, regions, image):
        first = int(header["volumeSectors"]) * factor + offset
        return header, replace_region(regions, "BackupBootSector", first=first)
    return craft


def added(kind_, first, count, at=None):
    """A region of the image's own sectors from first on, saved as if it lay at `at` (default: there)."""
    def craft(header, regions, image):
        return header, [(kind_, first if at is None else at, image[first * 512:(first + count) * 512])] + regions
    return craft


def relabelled(old, new):
    def craft(header, regions, image):
        return header, [(new if k == old else k, f, d) for k, f, d in regions]
    return craft


def dropped(kind_):
    """Only the main region kept, while the volume still holds a sound copy the change saved and rewrote."""
    def craft(header, regions, image):
        return header, [(k, f, d) for k, f, d in regions if k != kind_]
    return craft


def copy_data(kind_, data):
    def craft(header, regions, image):
        return header, replace_region(regions, kind_, data=data(regions))
    return craft


def main_region_sector_changed(header, regions, image):
    def change(data):
        return data[:5 * 512] + bytes([data[5 * 512] ^ 0x5A]) + data[5 * 512 + 1:]
    return header, replace_region(regions, "ExFatMainRegion", data=change(dict((k, d) for k, _, d in regions)
                                                                         ["ExFatMainRegion"]))


def ntfs_other_length_copy(regions):
    data = bytearray(dict((k, d) for k, _, d in regions)["BootSector"][:512])
    data[40:48] = (int.from_bytes(data[40:48], "little") - 8).to_bytes(8, "little")
    return bytes(data)


def other_boot_code(regions):
    """The FAT32 or NTFS copy with one byte of its boot code changed: still a boot sector of the same geometry."""
    data = bytearray(dict((k, d) for k, _, d in regions)["BackupBootSector"])
    data[200] ^= 0x5A
    return bytes(data)


def exfat_backup_other_boot_code(regions):
    """The exFAT backup region with one byte of its boot code changed and its checksum sector made anew."""
    data = bytearray(dict((k, d) for k, _, d in regions)["ExFatBackupRegion"])
    data[200] ^= 0x5A
    data[11 * 512:] = struct.pack("<I", im.exfat_checksum(data, 512)) * 128
    return bytes(data)


CASES = [
    # The faults as reported: header values that moved saved bytes into file-system structures.
    ("NTFS length 32, copy of 0xEE at sector 32 (first MFT record)", "NTFS", ntfs_copy_into_mft),
    ("FAT32 labelled NTFS: copy inside the FAT", "FAT32", fat32_as_ntfs),
    ("FAT16 labelled NTFS: copy inside the root directory", "FAT16", fat16_as_ntfs),
    ("exFAT recorded with 1024-byte sectors (-b 16K)", "exFAT-16K", exfat_1024),
    ("FAT32 labelled exFAT with 4096-byte sectors", "FAT32", fat32_as_exfat_4096),
    # Each region kind at a place it cannot take.
    ("FAT12 boot sector at sector 1", "FAT12", moved("BootSector", 1)),
    ("FAT12 has no backup boot sector", "FAT12", added("BackupBootSector", 6, 1)),
    ("FAT16 has no backup boot sector", "FAT16", added("BackupBootSector", 6, 1)),
    ("FAT32 copy one sector off", "FAT32", moved("BackupBootSector", 7)),
    ("FAT32 copy at sector 12", "FAT32", moved("BackupBootSector", 12)),
    ("FAT32 4096: copy at file-system sector 6 taken as device sector", "FAT32-4096", moved("BackupBootSector", 6)),
    ("FAT32 boot sector as an exFAT region", "FAT32", relabelled("BootSector", "ExFatMainRegion")),
    ("FAT32 copy that is no boot sector", "FAT32", copy_data("BackupBootSector", lambda regions: JUNK)),
    ("exFAT backup region one sector off", "exFAT", moved("ExFatBackupRegion", 13)),
    ("exFAT backup region at the main region", "exFAT", moved("ExFatBackupRegion", 0)),
    ("exFAT main region as a boot sector", "exFAT", relabelled("ExFatMainRegion", "BootSector")),
    ("exFAT main region changed past its first sector", "exFAT", main_region_sector_changed),
    ("exFAT backup region of junk", "exFAT", copy_data("ExFatBackupRegion", lambda regions: JUNK * 12)),
    ("exFAT 4096: backup region at device sector 12", "exFAT-4096", moved("ExFatBackupRegion", 12)),
    ("NTFS copy at the last sector of the file system", "NTFS", moved_by_volume_sectors(1, -1)),
    ("NTFS copy of another length", "NTFS", copy_data("BackupBootSector", ntfs_other_length_copy)),
    ("NTFS 4096: copy at the length in file-system sectors", "NTFS-4096", moved_by_volume_sectors(1, 0)),
    ("NTFS copy as an exFAT backup region", "NTFS", relabelled("BackupBootSector", "ExFatBackupRegion")),
    # Copies where they belong and of the same geometry, but not what the volume's copy holds.
    ("FAT32 copy with other boot code", "FAT32", copy_data("BackupBootSector", other_boot_code)),
    ("NTFS copy with other boot code", "NTFS", copy_data("BackupBootSector", other_boot_code)),
    ("exFAT backup region with other boot code", "exFAT", copy_data("ExFatBackupRegion", exfat_backup_other_boot_code)),
    # A FAT32 whose backup field names its FSInfo sector: a change saved no copy there, so none is written.
    ("FAT32 copy over the FSInfo sector its backup field names", "FAT32-fsinfo", added("BackupBootSector", 0, 1, at=1)),
    # The copy left out: recovery would put the main sector back and leave the copy at the new serial.
    ("FAT32 without its backup boot sector", "FAT32", dropped("BackupBootSector")),
    ("NTFS without its backup boot sector", "NTFS", dropped("BackupBootSector")),
    ("exFAT without its backup region", "exFAT", dropped("ExFatBackupRegion")),
]


class CraftedBackupTest(RestoreTestCase):
    def image_with_backup(self, name):
        """An image whose serial was changed once, and the backup that change wrote."""
        if name == "FAT32-fsinfo":
            image = im.fresh_image(im.kind("FAT32"), self.dir)
            for copy in (0, 6):
                im.patch_bytes(image, copy * 512 + 50, (1).to_bytes(2, "little"))
            proc, result = self.set_serial(image, "C0DE-1234")
            self.assertEqual(proc.returncode, 0, proc.stderr)
            return image, result["backup"]
        if name != "exFAT-16K":
            image, _, backup = self.changed_image(im.kind(name))
            return image, backup
        image = os.path.join(self.dir, "exfat16k.img")
        with open(image, "wb") as f:
            f.truncate(16 << 20)
        im.run(["mkfs.exfat", "-b", "16K", image])
        proc, result = self.set_serial(image, "C0DE-1234")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        return image, result["backup"]

    def test_crafted_backups_are_refused_and_nothing_is_written(self):
        for name, kind_name, craft in CASES:
            with self.subTest(name):
                if kind_name in ("exFAT-4096",) and not im.is_root():
                    self.skipTest("exFAT with 4096-byte sectors needs a loop device (root)")
                image, backup_path = self.image_with_backup(kind_name)
                honest = im.read_backup(backup_path)
                before = im.read_bytes(image)
                header, regions = craft(dict(honest.header), regions_of(honest), before)
                crafted = os.path.join(self.dir, "crafted.tlxbak")
                write_backup(crafted, header, regions)
                files = im.all_files_below(self.backups)
                for force in ((), ("--force",)):
                    proc = self.restore_text(image, crafted, "--raw", *force)
                    self.assertEqual(proc.returncode, 9, f"{force}: {proc.stdout}{proc.stderr}")
                    self.assertEqual(proc.stderr, mismatch_line(os.path.realpath(image)), force)
                    self.assertEqual(im.read_bytes(image), before, f"{force}: sectors were written")
                    self.assertEqual(im.all_files_below(self.backups), files, force)

                # The honest file, rewritten the same way without edits, still restores.
                write_backup(crafted, dict(honest.header), regions_of(honest))
                proc = self.restore_text(image, crafted, "--raw")
                self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)


if __name__ == "__main__":
    im.main(tools=("blkid", "mkfs.fat", "fsck.fat", "mkfs.exfat", "tune.exfat", "mkntfs", "ntfslabel"))
