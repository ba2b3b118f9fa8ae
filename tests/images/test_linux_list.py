"""qorin list on Linux with twenty loop-attached images, some mounted through FUSE: every image that holds
a file system is listed without --all, the one without a file system only with --all, the columns line
up, devices come in natural order, ext4 has no serial, and the root volume is the system drive."""

import contextlib
import os
import re
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402

# Small images: the list only needs each file system's signature.
MAKERS = {
    "FAT12": lambda path: im.make_fat(path, 12, 0x1111AAAA, size_kb=1024),
    "FAT16": lambda path: im.make_fat(path, 16, 0x2222BBBB),
    "exFAT": lambda path: im.make_exfat(path, 0x3333CCCC, size_mb=4),
    "NTFS": lambda path: im.make_ntfs(path, 0x0123456789ABCDEF, size_mb=4),
    "ext4": lambda path: im.make_ext4(path, size_mb=2),
}
PATTERN = ["FAT12", "FAT16", "exFAT", "NTFS", "ext4"] * 4
PATTERN[-1] = None  # one image without a file system


def write_mbr(path, size_mb=8):
    """An MBR with one FAT16 partition (type 0x0E) from sector 2048 to the end."""
    sectors = size_mb << 11
    with open(path, "wb") as f:
        f.truncate(size_mb << 20)
        entry = bytes([0, 0, 0, 0, 0x0E, 0, 0, 0]) + (2048).to_bytes(4, "little") + (sectors - 2048).to_bytes(4, "little")
        f.seek(446)
        f.write(entry)
        f.seek(510)
        f.write(b"\x55\xaa")


def natural_key(text):
    return [int(part) if part.isdigit() else part for part in re.split(r"(\d+)", text)]


def column_starts(header):
    return [m.start() for m in re.finditer(r"\S+", header)]


class LinuxListTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.stack = contextlib.ExitStack()
        try:
            cls.attach()
        except BaseException:
            cls.stack.close()
            raise

    @classmethod
    def attach(cls):
        folder = im.scratch_dir("list-")
        templates = {}
        cls.devices = []  # (device, file system or None)
        for index, fs in enumerate(PATTERN):
            path = os.path.join(folder, f"{index:02d}.img")
            if fs is None:
                with open(path, "wb") as f:
                    f.truncate(1 << 20)
            else:
                if fs not in templates:
                    templates[fs] = os.path.join(folder, f"template-{fs}.img")
                    MAKERS[fs](templates[fs])
                with open(templates[fs], "rb") as src, open(path, "wb") as dst:
                    dst.write(src.read())
            cls.devices.append((cls.stack.enter_context(im.loop_device(path)), fs))
        # Some are mounted through FUSE: fusefat does not name its device in the mount table, ntfs-3g does;
        # qorin finds both.
        cls.mounted = {}
        for driver, tool, fs in [("FAT", "fusefat", "FAT16"), ("NTFS", "ntfs-3g", "NTFS")]:
            if not im.has_tools(tool):
                continue
            device = next(d for d, f in cls.devices if f == fs)
            mountpoint = os.path.join(folder, f"mnt-{driver}")
            cls.stack.enter_context(im.fuse_mount(driver, device, mountpoint))
            cls.mounted[device] = mountpoint
        cls.folder = folder
        # Swap belongs to another layer.
        swap_image = os.path.join(folder, "swap.img")
        with open(swap_image, "wb") as f:
            f.truncate(1 << 20)
        im.run(["mkswap", swap_image])
        cls.swap = cls.stack.enter_context(im.loop_device(swap_image))

    @classmethod
    def tearDownClass(cls):
        cls.stack.close()

    def listed(self, *extra):
        proc = im.qorin("list", "--json", *extra)
        im.assert_no_sanitizer_report(self, proc)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        return {v["volume"]: v for v in im.json_line(self, proc)}

    def test_every_image_with_a_file_system_is_listed_without_all(self):
        volumes = self.listed()
        everything = self.listed("--all")
        for device, fs in self.devices:
            with self.subTest(device=device, fs=fs):
                if fs is None:
                    self.assertNotIn(device, volumes)
                    self.assertIn(device, everything, "--all shows the device without a file system")
                    self.assertIsNone(everything[device]["serial"])
                    continue
                self.assertIn(device, volumes)
                volume = volumes[device]
                self.assertEqual(volume["fileSystem"], {"FAT12": "FAT", "FAT16": "FAT"}.get(fs, fs))
                if fs == "ext4":
                    self.assertIsNone(volume["serial"], "ext4 has no 32-bit serial")
                    self.assertFalse(volume["supported"])
                else:
                    self.assertEqual(volume["serial"].replace("-", ""),
                                     im.blkid_uuid(device).replace("-", "")[-8:].upper())
                if device in self.mounted:
                    self.assertEqual(volume["drive"], self.mounted[device])

    def test_swap_shows_only_with_all(self):
        volumes = self.listed()
        everything = self.listed("--all")
        self.assertNotIn(self.swap, volumes)
        self.assertEqual(everything[self.swap]["fileSystem"], "swap")
        self.assertIsNone(everything[self.swap]["serial"])
        self.assertFalse(everything[self.swap]["supported"])

    def test_a_partitioned_disk_shows_its_partition_and_itself_only_with_all(self):
        disk_image = os.path.join(self.folder, "partitioned.img")
        write_mbr(disk_image)
        with im.loop_device(disk_image, partitions=True) as disk:
            partition = disk + "p1"
            for _ in range(20):
                if os.path.exists(partition):
                    break
                time.sleep(0.1)
            else:
                self.skipTest("the kernel scans no partitions of loop devices here")
            im.run(["mkfs.fat", "-F", "16", partition])
            volumes = self.listed()
            everything = self.listed("--all")
        self.assertEqual(volumes[partition]["fileSystem"], "FAT")
        self.assertRegex(volumes[partition]["serial"], r"^[0-9A-F]{4}-[0-9A-F]{4}$")
        self.assertNotIn(disk, volumes)
        self.assertIsNone(everything[disk]["serial"])
        self.assertFalse(everything[disk]["supported"])
        self.assertTrue(everything[disk]["mediaPresent"], "a partitioned disk is no empty drive")

    def test_text_columns_align_in_natural_order_with_dashes_for_no_serial(self):
        proc = im.qorin("list")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        lines = proc.stdout.rstrip("\n").split("\n")
        starts = column_starts(lines[0])
        self.assertEqual(lines[0].split(), ["Drive", "Serial", "FS", "Size", "Type", "Label", "Status"])
        for line in lines[1:]:
            for start in starts[1:]:
                self.assertEqual(line[start - 2:start], "  ", f"column at {start} out of line:\n{proc.stdout}")
                self.assertNotEqual(line[start - 3:start - 2], "", line)
        rows = {line.split()[0]: line for line in lines[1:]}
        for device, fs in self.devices:
            drive = self.mounted.get(device, device)
            if fs is None:
                self.assertNotIn(drive, rows)
            elif fs == "ext4":
                self.assertEqual(rows[drive][starts[1]:starts[2]].strip(), "-")
            else:
                self.assertIn(drive, rows, proc.stdout)
        # Devices listed by their path come in natural order: loop2 before loop10.
        by_path = [line.split()[0] for line in lines[1:] if line.startswith("/dev/")]
        self.assertEqual(by_path, sorted(by_path, key=natural_key), proc.stdout)
        self.assertGreaterEqual(len([p for p in by_path if p.startswith("/dev/loop")]), 17)

    def test_root_volume_is_the_system_drive(self):
        with open("/proc/self/mountinfo") as f:
            source = next((line.split(" - ")[1].split()[1] for line in f if line.split()[4] == "/"), "")
        if not source.startswith("/dev/"):
            self.skipTest(f"/ is mounted from {source!r}, not a block device")
        volumes = self.listed()
        system = [v for v in volumes.values() if v["system"]]
        self.assertEqual([v["drive"] for v in system], ["/"])
        proc = im.qorin("list")
        row = next(line for line in proc.stdout.split("\n") if line.split()[:1] == ["/"])
        self.assertIn("system drive", row)
        self.assertNotIn("Windows", proc.stdout)
        get = im.qorin("get", "/")
        self.assertIn("Type:         Fixed, system drive", get.stdout)


if __name__ == "__main__":
    im.main(tools=("losetup", "blkid", "mkswap", "mkfs.fat", "mkfs.exfat", "tune.exfat", "mkntfs", "ntfslabel", "mkfs.ext4"),
            root=True)
