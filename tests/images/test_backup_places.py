"""Backups on Linux where a naive store could not write one: an image path too long for one folder
name, a backups folder on FAT mounted through FUSE (no no-replace rename, no hard links), a line feed
in the image path, an immutable or append-only image, and something planted at the backup's name.
Each ends in one clear sentence, nothing written to the volume and nothing left in the backups folder."""

import contextlib
import datetime
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402

NEW = "C0DE-1234"


class BackupPlacesTest(unittest.TestCase):
    def setUp(self):
        self.dir = im.scratch_dir("places-")
        self.backups = os.path.join(self.dir, "backups")

    def image(self, folder=None, name=None, kind="FAT16"):
        folder = folder or self.dir
        os.makedirs(folder, exist_ok=True)
        return im.fresh_image(im.kind(kind), folder, name)

    def set_serial(self, image, *options, backups=None):
        proc = im.qorin("set", image, NEW, "--yes", "--backup-dir", backups or self.backups, *options)
        im.assert_no_sanitizer_report(self, proc)
        return proc

    def check_changed(self, proc, image, backups=None):
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        self.assertEqual(im.blkid_uuid(image), NEW)
        folder = os.path.join(backups or self.backups, im.backup_folder_name(image))
        names = os.listdir(folder)
        self.assertEqual(len(names), 1, names)
        self.assertTrue(names[0].endswith(".tlxbak"))
        im.read_backup(os.path.join(folder, names[0]))  # digests checked
        listed = im.qorin("backups", image, "--json", "--backup-dir", backups or self.backups)
        self.assertEqual([b["file"] for b in im.json_line(self, listed)], [os.path.join(folder, names[0])])

    def check_refused(self, proc, image, before, sentence, exit_code=1):
        self.assertEqual(proc.returncode, exit_code, proc.stdout + proc.stderr)
        self.assertEqual(proc.stderr, sentence + "\n")
        self.assertEqual(im.read_bytes(image), before, "the volume was written")

    def test_long_image_path_gets_a_short_stable_folder(self):
        folder = self.dir
        for part in ("a" * 100, "b_" * 50, "c" * 100):
            folder = os.path.join(folder, part)
        image = self.image(folder, "disk_1.img")
        self.assertGreater(len(os.path.realpath(image)), 300)
        name = im.backup_folder_name(image)
        self.assertLessEqual(len(name.encode()), 255)
        self.assertTrue(name.startswith("%5F") or name[0] in "bc", name)
        self.assertIn("disk%5F1.img%%", name)
        self.check_changed(self.set_serial(image), image)
        # The same folder again: a restore finds the backup by the volume alone.
        restore = im.qorin("restore", image, "--yes", "--backup-dir", self.backups)
        self.assertEqual(restore.returncode, 0, restore.stderr)
        self.assertNotEqual(im.blkid_uuid(image), NEW)

    def test_backups_folder_on_fat_through_fuse(self):
        if not im.has_tools("fusefat"):
            self.skipTest("fusefat is not installed")
        store = self.image(name="store.img", kind="FAT32")
        mountpoint = os.path.join(self.dir, "mnt")
        image = self.image()
        with im.loop_device(store) as device, im.fuse_mount("FAT", device, mountpoint):
            backups = os.path.join(mountpoint, "bk")
            self.check_changed(self.set_serial(image, backups=backups), image, backups)
            # A second change in the same second takes the next name; the first backup stays as it was.
            folder = os.path.join(backups, im.backup_folder_name(image))
            first = sorted(os.listdir(folder))
            kept = im.read_bytes(os.path.join(folder, first[0]))
            again = im.qorin("set", image, "C0DE-5678", "--yes", "--backup-dir", backups)
            self.assertEqual(again.returncode, 0, again.stderr)
            names = sorted(os.listdir(folder))
            self.assertEqual(len(names), 2, names)
            self.assertTrue(all(n.endswith(".tlxbak") for n in names), names)
            self.assertEqual(im.read_bytes(os.path.join(folder, first[0])), kept)

    def test_line_feed_in_the_image_path_is_refused_up_front(self):
        image = self.image(name="new\nline.img")
        before = im.read_bytes(image)
        sentence = ("The path or mount point of this volume contains a line break, which a backup file can't "
                    "record, so nothing was written. Rename the image or mount it elsewhere and try again.")
        self.check_refused(self.set_serial(image), image, before, sentence)
        restore = im.qorin("restore", image, "--yes", "--backup-dir", self.backups)
        self.check_refused(restore, image, before, sentence)
        self.assertFalse(os.path.exists(self.backups), "nothing in the backups folder")

    def test_immutable_and_append_only_images_say_so(self):
        if not im.is_root() or not im.has_tools("chattr"):
            self.skipTest("needs root and chattr")
        for flag, text in [("i", "The file is immutable; remove the flag with chattr -i first."),
                           ("a", "The file is append-only; remove the flag with chattr -a first.")]:
            with self.subTest(flag):
                image = self.image(name=f"attr-{flag}.img")
                before = im.read_bytes(image)
                if im.run(["chattr", f"+{flag}", image], check=False).returncode != 0:
                    self.skipTest("this file system has no chattr flags")
                try:
                    proc = self.set_serial(image)
                finally:
                    im.run(["chattr", f"-{flag}", image])
                self.check_refused(proc, image, before, f"Couldn't open {os.path.realpath(image)} ({text}).")
                self.assertEqual(im.all_files_below(self.backups) if os.path.exists(self.backups) else [], [])

    def plant(self, image, make):
        """Plants something at the temporary name of every second the next change may start in."""
        folder = os.path.join(self.backups, im.backup_folder_name(image))
        os.makedirs(folder, exist_ok=True)
        old = im.blkid_uuid(image).replace("-", "")
        now = datetime.datetime.now(datetime.timezone.utc)
        for delay in range(0, 5):
            stamp = (now + datetime.timedelta(seconds=delay)).strftime("%Y%m%d-%H%M%SZ")
            make(os.path.join(folder, f"{stamp}_{old}_{NEW.replace('-', '')}.tlxbak.tmp"))
        return folder

    def test_what_stands_at_the_temporary_name_is_named(self):
        victim = os.path.join(self.dir, "victim")
        with open(victim, "wb") as f:
            f.write(b"keep")
        cases = [
            ("symbolic link", lambda p: os.symlink(victim, p), "A symbolic link"),
            ("FIFO", lambda p: os.mkfifo(p), "A FIFO (named pipe)"),
            ("folder", lambda p: os.mkdir(p), "A folder"),
        ]
        for name, make, what in cases:
            with self.subTest(name):
                image = self.image(name=f"planted-{name.replace(' ', '-')}.img")
                before = im.read_bytes(image)
                folder = self.plant(image, make)
                planted = sorted(os.listdir(folder))
                proc = self.set_serial(image)
                self.check_refused(proc, image, before,
                                   f"The boot-sector backup couldn't be saved to {self.backups} ({what} stands where "
                                   f"a regular file was expected.), so nothing was written. Your drive is unchanged.")
                self.assertEqual(sorted(os.listdir(folder)), planted, "only what was planted")
                self.assertEqual(im.read_bytes(victim), b"keep")

    @unittest.skipUnless(im.has_tools("strace"), "strace is not installed")
    def test_a_failure_after_the_rename_leaves_no_backup_behind(self):
        # The second fsync is the folder's, after the rename; the read-back comes later still.
        image = self.image()
        before = im.read_bytes(image)
        env = im.qorin_environment()
        env["ASAN_OPTIONS"] = "detect_leaks=0:abort_on_error=0"  # LeakSanitizer cannot run under ptrace
        proc = subprocess.run(["strace", "-f", "-o", "/dev/null", "-e", "inject=fsync:error=EIO:when=2",
                               im.QORIN, "set", image, NEW, "--yes", "--backup-dir", self.backups],
                              capture_output=True, text=True, timeout=im.TIMEOUT, env=env)
        if "inject" in proc.stderr and proc.returncode != 1:
            self.skipTest(f"strace fault injection does not work here: {proc.stderr.strip()}")
        self.check_refused(proc, image, before,
                           f"The boot-sector backup couldn't be saved to {self.backups} (Input/output error), so "
                           f"nothing was written. Your drive is unchanged.")
        self.assertEqual(im.all_files_below(self.backups), [], "no backup listed that was reported unsaved")

    def test_what_is_given_as_the_backup_file_is_named(self):
        image = self.image()
        before = im.read_bytes(image)
        fifo = os.path.join(self.dir, "fifo.tlxbak")
        os.mkfifo(fifo)
        for path, what in [(fifo, "A FIFO (named pipe)"), (self.dir, "A folder"), ("/dev/null", "A device")]:
            with self.subTest(path):
                proc = im.qorin("restore", image, path, "--yes", "--backup-dir", self.backups)
                self.check_refused(proc, image, before, f"The backup file {path} can't be used: Truncated ({what} "
                                                        f"stands where a regular file was expected.).", exit_code=9)


if __name__ == "__main__":
    im.main(tools=("blkid", "mkfs.fat"))
