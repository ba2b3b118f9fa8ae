"""How much qorin reads from a volume, counted with strace: the catalogue's probe stays within 16 KiB
per volume (a FAT12/16 root directory, up to 32 KiB, is read only up to its label), and a change makes a
bounded number of device reads and writes each region once, so a full probe (about 1 MB, for ZFS
labels and RAID superblocks) or extra device I/O cannot come back unnoticed; and the in-use check
costs nothing per unbacked loop device."""

import contextlib
import fcntl
import os
import re
import shutil
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402

CALL = re.compile(r"^\d+\s+(\w+)\((\d+)<([^>]*)>(.*)\)\s+=\s+(-?\d+)")
# openat, or openat2 (a device opened for writing) whose flags stand in braces.
OPENAT = re.compile(r'^\d+\s+openat2?\([^,]*, "([^"]*)", \{?(?:flags=)?([^,)}]*).*\)\s+=\s+(\d+)')
DIRECT = re.compile(r"O_DIRECT(\||$)")  # not O_DIRECTORY
PROBE_LIMIT = 16 * 1024
LOOP_CTL_ADD, LOOP_CTL_REMOVE, LOOP_CTL_GET_FREE = 0x4C80, 0x4C81, 0x4C82

# Regions a change writes: FAT12/16 the boot sector, FAT32 it and its backup, exFAT both boot
# regions, NTFS the boot sector and its copy at the end.
REGIONS = {"FAT12": 1, "FAT16": 1, "FAT32": 2, "exFAT": 2, "NTFS": 2}


class Io:
    """Reads and writes on one file, split into buffered (the catalogue) and direct (the device)."""

    def __init__(self):
        self.buffered_read = 0
        self.direct_reads = []   # bytes of each read
        self.direct_writes = []  # (bytes, offset) of each write


def traced_io(path, *args):
    """Runs qorin under strace -f -y and sums what it read from and wrote to path."""
    out = os.path.join(im.scratch_dir("io-"), "trace")
    env = im.qorin_environment()
    env["ASAN_OPTIONS"] = "detect_leaks=0:abort_on_error=0"  # LeakSanitizer cannot run under ptrace
    proc = subprocess.run(["strace", "-f", "-y", "-s", "0", "-o", out,
                           "-e", "trace=openat,openat2,read,pread64,readv,preadv,write,pwrite64,writev,pwritev",
                           im.QORIN, *args], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          encoding="utf-8", timeout=im.TIMEOUT, env=env)
    io, direct = Io(), set()
    with open(out, errors="replace") as f:
        for line in f:
            opened = OPENAT.match(line)
            if opened:
                if opened.group(1) == path:
                    (direct.add if DIRECT.search(opened.group(2)) else direct.discard)(int(opened.group(3)))
                continue
            call = CALL.match(line)
            if not call or call.group(3) != path or int(call.group(5)) < 0:
                continue
            name, fd, result = call.group(1), int(call.group(2)), int(call.group(5))
            if "read" in name:
                if fd in direct:
                    io.direct_reads.append(result)
                else:
                    io.buffered_read += result
            elif fd in direct:
                io.direct_writes.append((result, int(call.group(4).rsplit(",", 1)[1])))
    return proc, io


@contextlib.contextmanager
def unbacked_loop_device():
    """A loop device with no file behind it, made through /dev/loop-control and removed after."""
    with open("/dev/loop-control", "rb") as control:
        number = fcntl.ioctl(control, LOOP_CTL_GET_FREE)
    # A free device may be taken by a parallel test at any moment; one with a high number is ours.
    number = max(number, 200) + os.getpid() % 500
    with open("/dev/loop-control", "rb") as control:
        fcntl.ioctl(control, LOOP_CTL_ADD, number)
    try:
        yield "loop%d" % number
    finally:
        with open("/dev/loop-control", "rb") as control:
            fcntl.ioctl(control, LOOP_CTL_REMOVE, number)


@unittest.skipUnless(shutil.which("strace"), "strace is not installed")
class ReadCountTest(unittest.TestCase):
    def setUp(self):
        self.dir = im.scratch_dir("io-counts-")

    def test_get_reads_little_more_than_the_probe(self):
        for kind in (im.kind(name) for name in ("FAT12", "FAT16", "FAT32", "exFAT", "NTFS")):
            with self.subTest(kind.name):
                if kind.skip_reason():
                    self.skipTest(kind.skip_reason())
                image = os.path.realpath(im.fresh_image(kind, self.dir))
                proc, io = traced_io(image, "get", image, "--json")
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.assertEqual(im.json_line(self, proc)["serial"], im.serial32(kind.serial))
                self.assertLessEqual(io.buffered_read, PROBE_LIMIT)
                # Elevated: the boot sector and the encryption probe's first sector; else nothing.
                self.assertLessEqual(len(io.direct_reads), 2)
                self.assertEqual(io.direct_writes, [])

    @unittest.skipUnless(im.is_root(), "changing a serial needs root")
    def test_change_probes_once_and_writes_each_region_once(self):
        for kind in (im.kind(name) for name in ("FAT12", "FAT16", "FAT32", "exFAT", "NTFS")):
            with self.subTest(kind.name):
                if kind.skip_reason():
                    self.skipTest(kind.skip_reason())
                image = os.path.realpath(im.fresh_image(kind, self.dir))
                proc, io = traced_io(image, "set", image, "C0DE-1234", "--yes", "--json",
                                     "--backup-dir", os.path.join(self.dir, "backups"))
                self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
                self.assertEqual(im.blkid_uuid(image).replace("-", "").upper()[-8:], "C0DE1234")
                self.assertLessEqual(io.buffered_read, PROBE_LIMIT)
                regions = REGIONS[kind.fs]
                offsets = [offset for _, offset in io.direct_writes]
                self.assertEqual(len(offsets), regions, "each region is written exactly once")
                self.assertEqual(len(set(offsets)), regions)
                # Recognition, the encryption probe and the planner's own recognition, then each
                # region read to plan, again right before its write (another writer may have come
                # in while the backup was saved), and back after writing. The planner reads under
                # the lock, so no comparison between its reading and the backup is needed.
                self.assertLessEqual(len(io.direct_reads), 3 + 3 * regions)
                region_bytes = sum(size for size, _ in io.direct_writes)
                self.assertLessEqual(sum(io.direct_reads), 3 * 512 + 3 * region_bytes)

    def test_fat_label_read_up_to_its_entry_is_blkids(self):
        # Root directories where the label is not the first entry, or is no label at all; blkid -p,
        # which reads the whole directory, is the judge.
        def entry(name, attributes):
            return name.ljust(11).encode("latin-1") + bytes([attributes]) + bytes(20)

        files = b"".join(entry("FILE%04d" % i, 0x20) for i in range(20))
        cases = {
            "first": entry("FIRST", 0x08),
            "after files and a long name": files + entry("A", 0x0F) + entry("LATE ONE", 0x08),
            "deleted, then another": entry("\xe5OLD", 0x08) + entry("NEW", 0x28),
            "none": files,
            "folder is no label": entry("DIR", 0x18) + entry("REAL", 0x08),
            "after the end mark": bytes(32) + entry("GONE", 0x08),
        }
        for kind in (im.kind(name) for name in ("FAT12", "FAT16", "FAT16-4096")):
            for case, entries in cases.items():
                with self.subTest(kind.name + ": " + case):
                    if kind.skip_reason():
                        self.skipTest(kind.skip_reason())
                    image = os.path.realpath(im.fresh_image(kind, self.dir))
                    boot = im.read_bytes(image)[:512]
                    sector, reserved, fats, fat_sectors = (struct.unpack_from("<H", boot, 11)[0],
                                                           struct.unpack_from("<H", boot, 14)[0], boot[16],
                                                           struct.unpack_from("<H", boot, 22)[0])
                    im.patch_bytes(image, (reserved + fats * fat_sectors) * sector, entries + bytes(32))
                    judge = subprocess.run(["blkid", "-p", "-s", "LABEL", "-o", "value", image],
                                           capture_output=True, text=True, encoding="latin-1")
                    proc, io = traced_io(image, "get", image, "--json")
                    self.assertEqual(proc.returncode, 0, proc.stderr)
                    self.assertEqual(im.json_line(self, proc)["label"], judge.stdout.strip("\n"))
                    self.assertLessEqual(io.buffered_read, PROBE_LIMIT)

    @unittest.skipUnless(im.is_root(), "loop devices need root")
    def test_change_looks_at_no_unbacked_loop_device(self):
        # The in-use check asks which loop devices are backed by the image; a machine keeps many
        # unbacked ones (and may have hundreds), and none of them is to cost a system call.
        kind = im.kind("FAT16")
        image = os.path.realpath(im.fresh_image(kind, self.dir))
        with unbacked_loop_device() as name:
            out = os.path.join(self.dir, "calls")
            env = im.qorin_environment()
            env["ASAN_OPTIONS"] = "detect_leaks=0:abort_on_error=0"
            proc = subprocess.run(["strace", "-f", "-o", out, im.QORIN, "set", image, "C0DE-1234", "--yes",
                                   "--backup-dir", os.path.join(self.dir, "backups")],
                                  stdin=subprocess.DEVNULL, capture_output=True, text=True, encoding="utf-8",
                                  timeout=im.TIMEOUT, env=env)
            self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
            with open(out, errors="replace") as f:
                calls = f.read()
            self.assertIn("/proc/partitions", calls, "the loop devices in use were not looked up")
            self.assertNotIn("/" + name + "/", calls)
            self.assertNotIn('"/sys/block"', calls, "every block device was listed")
            self.assertLessEqual(calls.count("/proc/self/mountinfo"), 2)

    @unittest.skipUnless(im.is_root(), "loop devices need root")
    def test_list_reads_at_most_16_kib_of_a_volume(self):
        for kind in (im.kind(name) for name in ("FAT12", "FAT16", "FAT32", "exFAT", "NTFS")):
            with self.subTest(kind.name):
                if kind.skip_reason():
                    self.skipTest(kind.skip_reason())
                image = im.fresh_image(kind, self.dir)
                with im.loop_device(image) as device:
                    proc, io = traced_io(device, "list", "--all", "--json")
                    self.assertEqual(proc.returncode, 0, proc.stderr)
                    listed = [v for v in im.json_line(self, proc) if v["volume"] == device]
                    self.assertEqual([v["serial"] for v in listed], [im.serial32(kind.serial)])
                    self.assertGreater(io.buffered_read, 0, "the probe's reads were not seen")
                    self.assertLessEqual(io.buffered_read, PROBE_LIMIT)
                    self.assertEqual((io.direct_reads, io.direct_writes), ([], []))


if __name__ == "__main__":
    im.main(tools=("strace", "blkid"))
