"""What qorin does at the system-call level and on a terminal, judged from outside with strace and
a pseudo-terminal: list opens no volume, get reads one sector per open, a busy volume is tried five
times 200 ms apart, the backup is durable before the first device write, and a serial restore from
another volume asks with the different-volume sentence before it sets the serial."""

import os
import re
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402

SYSCALL = re.compile(r"^\d+\s+(\w+)\((.*)\)\s+=\s+(-?\d+)")
FD_PATH = re.compile(r"^(\d+)<([^>]*)>")
DIRECT = re.compile(r"O_DIRECT(\||,|$)")  # not O_DIRECTORY


def traced(*args, calls):
    """Runs qorin under strace -f -y; returns the process and the completed calls as
    (name, arguments, return value)."""
    trace_dir = im.scratch_dir("trace-")
    out = os.path.join(trace_dir, "trace")
    env = im.qorin_environment()
    env["ASAN_OPTIONS"] = "detect_leaks=0:abort_on_error=0"  # LeakSanitizer cannot run under ptrace
    proc = subprocess.run(["strace", "-f", "-y", "-s", "0", "-o", out, "-e", "trace=" + ",".join(calls),
                           im.QORIN, *args], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                          encoding="utf-8", timeout=im.TIMEOUT, env=env)
    found = []
    with open(out, errors="replace") as f:
        for line in f:
            match = SYSCALL.match(line)
            if match:
                found.append((match.group(1), match.group(2), int(match.group(3))))
    return proc, found


def fd_path(arguments):
    """The path strace -y shows for the descriptor that is a call's first argument."""
    match = FD_PATH.match(arguments)
    return match.group(2) if match else None


def direct_reads(calls, path):
    """For every descriptor opened on path with O_DIRECT: the (length, offset) of each read on it."""
    opened, reads = [], []
    for name, arguments, result in calls:
        if name == "openat" and f'"{path}"' in arguments and DIRECT.search(arguments) and result >= 0:
            opened.append(result)
            reads.append([])
        elif name == "close" and opened and fd_path(arguments) == path:
            fd = int(arguments.split("<", 1)[0])
            if fd in opened:
                opened[opened.index(fd)] = None
        elif name == "pread64" and fd_path(arguments) == path:
            fd = int(arguments.split("<", 1)[0])
            if fd in opened:
                parts = arguments.rsplit(",", 2)
                reads[opened.index(fd)].append((int(parts[1]), int(parts[2])))
    return reads


@unittest.skipUnless(shutil.which("strace"), "strace is not installed")
class SystemCallTest(unittest.TestCase):
    def setUp(self):
        self.dir = im.scratch_dir("gaps-")
        self.backups = os.path.join(self.dir, "backups")

    @unittest.skipUnless(im.is_root(), "loop devices need root")
    def test_list_opens_no_volume_and_get_reads_one_sector_per_open(self):
        image = im.fresh_image(im.kind("FAT32"), self.dir)
        with im.loop_device(image) as device:
            proc, calls = traced("list", "--json", "--all", calls=["openat", "pread64", "close"])
            self.assertEqual(proc.returncode, 0, proc.stderr)
            listed = [v for v in im.json_line(self, proc) if v["volume"] == device]
            self.assertEqual([v["serial"] for v in listed], ["1234-ABCD"], "the loop device was not listed")
            direct = [arguments for name, arguments, _ in calls if name == "openat" and DIRECT.search(arguments)]
            self.assertEqual(direct, [], "list opened a volume as a device")

        proc, calls = traced("get", image, "--json", calls=["openat", "pread64", "pwrite64", "close"])
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(im.json_line(self, proc)["serial"], "1234-ABCD")
        # Elevated, get reads the boot sector once and the encryption probe reads the first sector once.
        self.assertEqual(direct_reads(calls, os.path.realpath(image)), [[(512, 0)], [(512, 0)]])
        self.assertEqual([c for c in calls if c[0] == "pwrite64"], [])

    @unittest.skipUnless(im.is_root(), "changing a serial needs root")
    def test_busy_image_is_tried_five_times_200_ms_apart(self):
        image = im.fresh_image(im.kind("FAT16"), self.dir)
        before = im.read_bytes(image)
        with open(image, "rb"):  # another process holds the image open
            proc, calls = traced("set", image, "C0DE-1234", "--yes", "--json", "--backup-dir", self.backups,
                                 calls=["clock_nanosleep", "nanosleep", "pwrite64"])
        self.assertEqual(proc.returncode, 4, proc.stdout + proc.stderr)
        result = im.json_line(self, proc)
        self.assertEqual((result["error"], result["backup"]), ("VolumeInUse", None))
        pauses = [arguments for name, arguments, _ in calls
                  if name in ("clock_nanosleep", "nanosleep") and "tv_sec=0, tv_nsec=200000000" in arguments]
        self.assertEqual(len(pauses), 4, "five lock attempts have four pauses of 200 ms between them")
        self.assertEqual([c for c in calls if c[0] == "pwrite64"], [])
        self.assertEqual(im.read_bytes(image), before)
        self.assertEqual(im.all_files_below(self.backups) if os.path.isdir(self.backups) else [], [])

    @unittest.skipUnless(im.is_root(), "changing a serial needs root")
    def test_backup_is_durable_and_read_back_before_the_first_device_write(self):
        for name in ("FAT32", "exFAT", "NTFS"):
            with self.subTest(name):
                image = os.path.realpath(im.fresh_image(im.kind(name), self.dir))
                proc, calls = traced("set", image, "C0DE-1234", "--yes", "--json", "--backup-dir", self.backups,
                                     calls=["openat", "read", "write", "pwrite64", "fsync", "fdatasync",
                                            "rename", "renameat", "renameat2", "link", "linkat", "unlink",
                                            "unlinkat"])
                self.assertEqual(proc.returncode, 0, proc.stderr)
                final = im.json_line(self, proc)["backup"]
                folder, temporary = os.path.dirname(final), final + ".tmp"

                def first(predicate, what):
                    for index, call in enumerate(calls):
                        if predicate(*call):
                            return index
                    self.fail(f"no {what} in the trace")

                wrote = first(lambda n, a, r: n == "write" and fd_path(a) == temporary and r > 0,
                              "write of the temporary file")
                synced = first(lambda n, a, r: n in ("fsync", "fdatasync") and fd_path(a) == temporary and r == 0,
                               "flush of the temporary file")
                renamed = first(lambda n, a, r: r == 0 and (
                    (n == "renameat2" and "RENAME_NOREPLACE" in a and f'"{final}"' in a) or
                    (n in ("link", "linkat") and f'"{temporary}"' in a and f'"{final}"' in a)),
                    "rename without replacing")
                folder_synced = first(lambda n, a, r: n in ("fsync", "fdatasync") and fd_path(a) == folder
                                      and r == 0, "flush of the folder")
                read_back = first(lambda n, a, r: n == "read" and fd_path(a) == final and r > 0,
                                  "read-back of the backup")
                device_write = first(lambda n, a, r: n == "pwrite64" and fd_path(a) == image, "device write")
                self.assertLess(wrote, synced)
                self.assertLess(synced, renamed)
                self.assertLess(renamed, folder_synced)
                self.assertLess(folder_synced, device_write)
                self.assertLess(read_back, device_write)
                self.assertFalse(os.path.exists(temporary), "the temporary file was left behind")
                self.assertEqual(im.read_backup(final).header["fs"], name)


class TerminalTest(unittest.TestCase):
    def setUp(self):
        self.dir = im.scratch_dir("gaps-tty-")
        self.backups = os.path.join(self.dir, "backups")


    @unittest.skipUnless(im.is_root(), "changing a serial needs root")
    def test_serial_restore_from_another_volume_asks_then_sets_the_serial(self):
        source = im.fresh_image(im.kind("FAT16"), self.dir, "a.img")
        proc = im.qorin("set", source, "C0DE-1234", "--yes", "--json", "--backup-dir", self.backups)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        backup = im.json_line(self, proc)["backup"]
        created = im.read_backup(backup).header["created"]
        other = os.path.join(self.dir, "other.img")
        im.make_fat(other, 16, 0x55556666, size_kb=8192)  # formatted alike, other geometry
        drive = os.path.realpath(other)
        question = (f"This backup was made on a different volume, or {drive} was reformatted since. Restoring sets "
                    f"its serial to 1234-ABCD and changes nothing else.\n"
                    f"This sets the serial of {drive} to 1234-ABCD (from the backup made {created}). "
                    f"A backup of the current boot sector is saved first.\n"
                    f"Restore? [y/N] ")
        for answer, code, serial in [("n\n", 1, "5555-6666"), ("y\n", 0, "1234-ABCD")]:
            with self.subTest(answer=answer):
                out, returncode = im.qorin_on_terminal(["restore", other, backup, "--backup-dir", self.backups], answer)
                self.assertEqual(returncode, code, out)
                self.assertTrue(out.startswith(question), out)
                self.assertEqual(im.blkid_uuid(other), serial)
        self.assertEqual(len(im.tlxbak_files(os.path.join(self.backups, im.backup_folder_name(other)))), 1)


if __name__ == "__main__":
    im.main(tools=("blkid", "mkfs.fat", "mkfs.exfat", "mkntfs"))
