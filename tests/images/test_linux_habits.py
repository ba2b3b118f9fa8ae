"""qorin on Linux as its users meet it, each case beside what lsblk and blkid report for the same device:
an ordinary user's list and get (udev's database, else "no access" and exit 3), what is no volume (a plain
file, a partitioned disk, an empty device), read-only loop devices, folders where FUSE drivers mounted a
volume, and the command-line habits of Linux tools (errors on one line, --backup-dir=, --, -V, a full
standard output)."""

import contextlib
import json
import os
import pty
import pwd
import select
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402

ROOT_LINE = "Reading {} requires root rights. Please run qorin as root (for example with sudo)."
TRY = "Try 'qorin help'."


def other_user():
    """An ordinary user to run qorin as: nobody, which every Debian system has."""
    return pwd.getpwnam("nobody").pw_uid


def udev_record(device):
    """What udev would record for device, from blkid's own udev output ("E:" lines, as in /run/udev/data)."""
    lines = im.run(["blkid", "-p", "-o", "udev", device]).stdout.splitlines()
    return "".join(f"E:{line}\n" for line in lines)


def lsblk(device, column):
    return im.run(["lsblk", "-dno", column, device]).stdout.strip()


def write_mbr(path, parts, size_mb=8):
    """An MBR with FAT16 partitions (type 0x0E) at the given (first sector, sectors)."""
    with open(path, "wb") as f:
        f.truncate(size_mb << 20)
        for index, (first, count) in enumerate(parts):
            f.seek(446 + 16 * index)
            f.write(bytes([0, 0, 0, 0, 0x0E, 0, 0, 0]) + first.to_bytes(4, "little") + count.to_bytes(4, "little"))
        f.seek(510)
        f.write(b"\x55\xaa")


def listed(proc):
    return {v["volume"]: v for v in json.loads(proc.stdout)}


class WithoutRootTest(unittest.TestCase):
    """list and get as an ordinary user, who can't open the loop devices (root:disk, 0660)."""

    @classmethod
    def setUpClass(cls):
        cls.stack = contextlib.ExitStack()
        folder = im.scratch_dir("users-")
        cls.fat = os.path.join(folder, "fat.img")
        im.make_fat(cls.fat, 16, 0x1234ABCD)
        im.run(["fatlabel", cls.fat, "MY DISK"])
        cls.ntfs = os.path.join(folder, "ntfs.img")
        im.make_ntfs(cls.ntfs, 0x0123456789ABCDEF, size_mb=4)
        cls.devices = [cls.stack.enter_context(im.loop_device(path)) for path in (cls.fat, cls.ntfs)]
        # The fixture database stands for /run/udev/data, which no udev fills on this machine.
        cls.udev = os.path.join(folder, "udev-data")
        os.mkdir(cls.udev)
        for device in cls.devices:
            rdev = os.stat(device).st_rdev
            with open(os.path.join(cls.udev, f"b{os.major(rdev)}:{os.minor(rdev)}"), "w") as f:
                f.write(udev_record(device))
        os.chmod(folder, 0o755)
        os.chmod(os.path.dirname(folder), 0o755)
        cls.user = other_user()

    @classmethod
    def tearDownClass(cls):
        cls.stack.close()

    def as_user(self, *args, udev=None):
        env = im.qorin_environment()
        env.pop("PLINTHOS_UDEV_DATA", None)
        if udev:
            env["PLINTHOS_UDEV_DATA"] = udev
        command = ["setpriv", f"--reuid={self.user}", f"--regid={self.user}", "--clear-groups", im.QORIN, *args]
        proc = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True, env=env,
                              timeout=im.TIMEOUT, cwd="/")
        im.assert_no_sanitizer_report(self, proc)
        return proc

    def test_the_user_can_not_open_the_devices(self):
        for device in self.devices:
            proc = subprocess.run(["setpriv", f"--reuid={self.user}", f"--regid={self.user}", "--clear-groups",
                                   "blkid", "-p", device], capture_output=True, text=True)
            self.assertNotEqual(proc.returncode, 0, f"{device} is readable to the user: {proc.stdout}")

    def test_without_a_database_the_status_is_no_access_and_get_exits_3(self):
        system = "/run/udev/data"
        records = [f"b{os.major(os.stat(d).st_rdev)}:{os.minor(os.stat(d).st_rdev)}" for d in self.devices]
        if any(os.path.exists(os.path.join(system, r)) for r in records):
            self.skipTest("udev's database knows these devices: the udev path runs instead")
        print("path taken: no udev database here, so no access")
        volumes = listed(self.as_user("list", "--json"))
        text = self.as_user("list").stdout
        for device in self.devices:
            with self.subTest(device=device):
                self.assertEqual(lsblk(device, "FSTYPE"), "", "lsblk knows no more without udev")
                self.assertFalse(volumes[device]["mediaPresent"])
                self.assertIsNone(volumes[device]["serial"])
                row = next(line for line in text.splitlines() if line.split()[:1] == [device])
                self.assertTrue(row.rstrip().endswith("no access"), row)
                self.assertNotIn("no media", row)
                proc = self.as_user("get", device)
                self.assertEqual(proc.returncode, 3, proc.stdout + proc.stderr)
                self.assertIn("Serial:       - (no access)\n", proc.stdout)
                self.assertEqual(proc.stderr, ROOT_LINE.format(device) + "\n")
                proc = self.as_user("get", device, "--json")
                self.assertEqual(proc.returncode, 3)
                self.assertFalse(json.loads(proc.stdout)["mediaPresent"])

    def test_with_udevs_database_list_and_get_show_what_blkid_reads(self):
        print("path taken: a fixture database standing for /run/udev/data")
        volumes = listed(self.as_user("list", "--json", udev=self.udev))
        for device, fs, label in [(self.devices[0], "FAT", "MY DISK"), (self.devices[1], "NTFS", "")]:
            with self.subTest(device=device):
                uuid = im.blkid_uuid(device)
                volume = volumes[device]
                self.assertEqual(volume["fileSystem"], fs)
                self.assertEqual(volume["serial"], uuid[-8:-4] + "-" + uuid[-4:] if fs == "NTFS" else uuid)
                self.assertEqual(volume["label"], label)
                self.assertTrue(volume["mediaPresent"])
                proc = self.as_user("get", device, udev=self.udev)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                self.assertIn(f"  (read from udev; run as root to read the boot sector)\n", proc.stdout)
                if fs == "NTFS":
                    self.assertIn(f"Full serial:  {uuid[0:4]}-{uuid[4:8]}-{uuid[8:12]}-{uuid[12:]}", proc.stdout)
        # Root reads the devices themselves and never a database named in the environment.
        env = dict(im.qorin_environment(), PLINTHOS_UDEV_DATA=self.udev)
        proc = subprocess.run([im.QORIN, "get", self.devices[0]], capture_output=True, text=True, env=env,
                              timeout=im.TIMEOUT)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertNotIn("udev", proc.stdout)
        self.assertIn(f"Serial:       {im.blkid_uuid(self.devices[0])}\n", proc.stdout)


class NotAVolumeTest(unittest.TestCase):
    def test_a_plain_file_is_no_volume(self):
        for path in ["/etc/passwd", "/etc/hostname"]:
            if not os.path.isfile(path):
                continue
            proc = im.qorin("get", path)
            self.assertEqual((proc.returncode, proc.stdout), (2, ""), proc.stderr)
            self.assertEqual(proc.stderr, f'"{path}" isn\'t a volume on this computer. Run "qorin list" to see them.\n')

    def test_a_partitioned_disk_names_its_partitions(self):
        image = os.path.join(im.scratch_dir("disk-"), "disk.img")
        write_mbr(image, [(2048, 6144), (8192, 8192)])
        with im.loop_device(image, partitions=True) as disk:
            names = [disk + "p1", disk + "p2"]
            for _ in range(30):
                if all(os.path.exists(n) for n in names):
                    break
                time.sleep(0.1)
            else:
                self.skipTest("the kernel scans no partitions of loop devices here")
            self.assertEqual(im.run(["lsblk", "-lnpo", "NAME", disk]).stdout.split()[1:], names, "as lsblk names them")
            before = im.read_bytes(image)
            line = f"{disk} holds partitions: {names[0]}, {names[1]}.\n"
            folder = im.scratch_dir("backups-")
            for args in [("get", disk), ("get", disk, "--json"), ("set", disk, "1234-ABCD", "--yes"),
                         ("random", disk, "--yes"), ("restore", disk, "--yes")]:
                with self.subTest(args=args):
                    proc = im.qorin(*args, "--backup-dir", folder)
                    self.assertEqual((proc.returncode, proc.stdout, proc.stderr), (2, "", line))
            self.assertEqual(im.read_bytes(image), before)
            self.assertEqual(im.all_files_below(folder), [])

    def test_an_empty_device_holds_no_file_system(self):
        image = os.path.join(im.scratch_dir("blank-"), "blank.img")
        with open(image, "wb") as f:
            f.truncate(1 << 20)
        with im.loop_device(image) as device:
            self.assertEqual(im.blkid_type(device), "", "blkid finds nothing either")
            proc = im.qorin("get", device)
            self.assertEqual(proc.returncode, 0, proc.stderr)
            self.assertIn("Serial:       - (no file system)\n", proc.stdout)
            row = next(line for line in im.qorin("list", "--all").stdout.splitlines() if line.startswith(device + " "))
            self.assertTrue(row.rstrip().endswith("no file system"), row)


class ReadOnlyTest(unittest.TestCase):
    def test_a_read_only_loop_device_is_shown_so_and_never_written(self):
        folder = im.scratch_dir("ro-")
        image = os.path.join(folder, "fat.img")
        im.make_fat(image, 32, 0x1234ABCD)
        before = im.read_bytes(image)
        backups = os.path.join(folder, "backups")
        with im.loop_device(image, read_only=True) as device:
            self.assertEqual(lsblk(device, "RO"), "1", "lsblk says read-only")
            volume = listed(im.qorin("list", "--json"))[device]
            self.assertTrue(volume["readOnly"])
            self.assertTrue(json.loads(im.qorin("get", device, "--json").stdout)["readOnly"])
            row = next(line for line in im.qorin("list").stdout.splitlines() if line.startswith(device + " "))
            self.assertTrue(row.rstrip().endswith("read-only"), row)
            refusal = f"{device} is read-only, so its serial can't be changed. Nothing was written.\n"
            for args in [("set", device, "C0DE-1234"), ("random", device), ("restore", device, "--raw")]:
                with self.subTest(args=args):
                    # Refused before asking: no terminal is needed, and no --yes.
                    proc = im.qorin(*args, "--backup-dir", backups)
                    self.assertEqual((proc.returncode, proc.stdout, proc.stderr), (1, "", refusal))
        self.assertEqual(im.read_bytes(image), before)
        self.assertFalse(os.path.exists(backups))


class FuseMountPointTest(unittest.TestCase):
    """qorin get FOLDER for each FUSE driver, on a loop device and on an image file."""

    CASES = [("FAT", "fusefat", "FAT16"), ("exFAT", "mount.exfat-fuse", "exFAT"), ("NTFS", "ntfs-3g", "NTFS")]

    def check(self, driver, source, mountpoint):
        proc = im.qorin("get", mountpoint, "--json")
        self.assertEqual(proc.returncode, 0, proc.stderr)
        volume = json.loads(proc.stdout)
        self.assertEqual(volume["volume"], source)
        self.assertEqual(volume["drive"], mountpoint)
        uuid = im.blkid_uuid(source)
        self.assertEqual(volume["serial"], uuid[-8:-4] + "-" + uuid[-4:] if driver == "NTFS" else uuid)

    def test_every_driver_on_a_device_and_on_an_image(self):
        if not os.path.exists("/dev/fuse"):
            self.skipTest("no /dev/fuse")
        folder = im.scratch_dir("fuse-")
        for driver, tool, fs in self.CASES:
            if not im.has_tools(tool):
                print(f"SKIP: {tool} is not installed")
                continue
            image = os.path.join(folder, f"{driver}.img")
            {"FAT16": lambda p: im.make_fat(p, 16, 0x1111AAAA), "exFAT": lambda p: im.make_exfat(p, 0x2222BBBB),
             "NTFS": lambda p: im.make_ntfs(p, 0x0123456789ABCDEF)}[fs](image)
            with self.subTest(driver=driver, on="device"), im.loop_device(image) as device:
                mountpoint = os.path.join(folder, f"mnt-{driver}-device")
                with im.fuse_mount(driver, device, mountpoint):
                    self.check(driver, device, mountpoint)
                    volume = listed(im.qorin("list", "--json"))[device]
                    self.assertEqual(volume["mountPoints"], [mountpoint], "list shows it mounted there")
            if driver == "exFAT":
                continue  # exfat-fuse mounts block devices only
            with self.subTest(driver=driver, on="image"):
                mountpoint = os.path.join(folder, f"mnt-{driver}-image")
                with im.fuse_mount(driver, image, mountpoint):
                    self.check(driver, image, mountpoint)


class TerminalTest(unittest.TestCase):
    """A label is the media's to choose: its control characters must not reach a terminal as escapes or lines."""

    LABEL = b"\x1b[31mRED\nX\x07"  # 11 bytes: a colour change, a line break and a bell

    def on_terminal(self, *args):
        primary, secondary = pty.openpty()
        proc = subprocess.Popen([im.QORIN, *args], stdin=subprocess.DEVNULL, stdout=secondary,
                                stderr=subprocess.DEVNULL, env=im.qorin_environment())
        os.close(secondary)
        out = b""
        try:
            while True:
                ready, _, _ = select.select([primary], [], [], im.TIMEOUT)
                try:
                    chunk = os.read(primary, 4096) if ready else b""
                except OSError:  # the program closed its end
                    chunk = b""
                if not chunk:
                    break
                out += chunk
            proc.wait(timeout=im.TIMEOUT)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            os.close(primary)
        return proc.returncode, out

    def test_control_characters_of_a_label_show_as_question_marks(self):
        image = os.path.join(im.scratch_dir("escape-"), "fat.img")
        im.make_fat(image, 16, 0x1234ABCD)
        im.run(["fatlabel", image, "ABCDEFGHIJK"])
        data = im.read_bytes(image)
        self.assertEqual(data.count(b"ABCDEFGHIJK"), 2, "the boot sector and the root directory hold the label")
        with open(image, "wb") as f:
            f.write(data.replace(b"ABCDEFGHIJK", self.LABEL))
        code, out = self.on_terminal("get", image)
        self.assertEqual(code, 0, out)
        self.assertNotIn(b"\x1b", out)
        self.assertNotIn(b"\x07", out)
        self.assertIn(b"(?[31mRED?X?)\r\n", out)
        # Piped, the bytes stay as they are, and JSON escapes them.
        self.assertEqual(json.loads(im.qorin("get", image, "--json").stdout)["label"], self.LABEL.decode())

    def test_a_question_of_several_lines_keeps_its_line_breaks(self):
        folder = im.scratch_dir("question-")
        first, second = os.path.join(folder, "a.img"), os.path.join(folder, "b.img")
        im.make_fat(first, 16, 0x1234ABCD)
        im.make_fat(second, 16, 0x5678DCBA)
        im.run(["fatlabel", second, "OTHER"])  # a boot sector that differs beyond its serial
        backups = os.path.join(folder, "backups")
        made = json.loads(im.qorin("set", first, "CAFE-F00D", "--yes", "--json", "--backup-dir", backups).stdout)
        before = im.read_bytes(second)
        # Another volume's backup: the different-volume line, then the restore line; no terminal to answer.
        code, out = self.on_terminal("restore", second, made["backup"], "--backup-dir", backups)
        self.assertEqual(code, 1, out)
        self.assertIn(b"changes nothing else.\r\nThis sets the serial of ", out)
        self.assertNotIn(b"else.?This", out)
        self.assertEqual(im.read_bytes(second), before)


class CommandLineTest(unittest.TestCase):
    def test_errors_are_one_line_and_a_hint_on_standard_error(self):
        cases = [
            (["list", "--bogus"], "Unknown option: --bogus"),
            (["list", "--jsn", "--xx"], "Unknown option: --xx"),
            (["list", "--backup-dir"], "option '--backup-dir' needs a folder"),
            (["backups", "/dev/sdb1", "--backup-dir="], "option '--backup-dir' needs a folder"),
            (["set", "x.img", "CAFE-F00D", "--backup-dir", ""], "option '--backup-dir' needs a folder"),
            (["LIST"], "Unknown command: LIST"),
            (["c", "/dev/sdb1"], "Unknown command: c"),
            (["list", "extra"], "Usage: qorin list [--all] [--json]"),
            (["get"], "Usage: qorin get <drive> [--json]"),
            (["set", "/dev/sdb1"], "Usage: qorin set <drive> <serial> [--full64] [--yes] [--json]"),
        ]
        for args, line in cases:
            with self.subTest(args=args):
                proc = im.qorin(*args)
                self.assertEqual((proc.returncode, proc.stdout, proc.stderr), (2, "", f"{line}\n{TRY}\n"))

    def test_help_version_and_the_end_of_options(self):
        usage = im.qorin("help").stdout
        self.assertNotIn("Graphical version", usage)
        self.assertTrue(all(len(line) < 80 for line in usage.splitlines()), usage)
        for args in [["list", "--help"], ["get", "/dev/sdb1", "-h"], ["--help"]]:
            proc = im.qorin(*args)
            self.assertEqual((proc.returncode, proc.stdout, proc.stderr), (0, usage, ""), args)
        for args in [["-V"], ["--version"], ["list", "-V"]]:
            self.assertEqual(im.qorin(*args).stdout, "Plinthos 3.0.2\n", args)
        # An image whose name starts with a dash, after "--"; the backups folder given with "=".
        folder = im.scratch_dir("dash-")
        image = os.path.join(folder, "-fat.img")
        im.make_fat(image, 12, 0x1234ABCD)
        proc = subprocess.run([im.QORIN, "get", "--json", "--", "-fat.img"], cwd=folder, capture_output=True,
                              text=True, env=im.qorin_environment(), timeout=im.TIMEOUT)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(json.loads(proc.stdout)["volume"], image)
        backups = os.path.join(folder, "my backups")
        proc = subprocess.run([im.QORIN, "set", "--yes", f"--backup-dir={backups}", "--", "-fat.img", "CAFE-F00D"],
                              cwd=folder, capture_output=True, text=True, env=im.qorin_environment(),
                              timeout=im.TIMEOUT)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(im.blkid_uuid(image), "CAFE-F00D")
        self.assertEqual(len(im.all_files_below(backups)), 1, "the backup went to the folder given with =")

    def test_a_full_standard_output_fails_the_commands_that_only_print(self):
        image = os.path.join(im.scratch_dir("full-"), "fat.img")
        im.make_fat(image, 12, 0x1234ABCD)
        for args in [["list"], ["get", image], ["get", image, "--json"], ["backups", image], ["help"], ["-V"]]:
            with self.subTest(args=args), open("/dev/full", "w") as full:
                proc = subprocess.run([im.QORIN, *args], stdout=full, stderr=subprocess.PIPE, text=True,
                                      env=im.qorin_environment(), timeout=im.TIMEOUT)
                self.assertEqual((proc.returncode, proc.stderr),
                                 (1, "Couldn't write the output (No space left on device).\n"))

    def test_system_errors_are_told_in_linux_words(self):
        image = os.path.join(im.scratch_dir("words-"), "fat.img")
        im.make_fat(image, 12, 0x1234ABCD)
        proc = im.qorin("set", image, "CAFE-F00D", "--yes", "--backup-dir", "/proc/self/plinthos")
        self.assertNotEqual(proc.returncode, 0)
        self.assertRegex(proc.stderr, r"\((No such file or directory|Permission denied|Operation not permitted)\)")
        self.assertNotIn("The system cannot", proc.stderr)


if __name__ == "__main__":
    im.main(tools=("losetup", "lsblk", "blkid", "setpriv", "mkfs.fat", "fatlabel", "mkntfs"), root=True)
