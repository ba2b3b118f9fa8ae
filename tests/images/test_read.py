"""qorin get and list on real images and loop devices, judged by blkid."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402

VOLUME_KEYS = ["drive", "volume", "mountPoints", "label", "fileSystem", "serial", "sizeBytes", "type",
               "mediaPresent", "supported", "system", "readOnly", "bitLockerHint", "sameSerialAs"]
GET_KEYS = VOLUME_KEYS[:-1] + ["fullSerial", "encryption", "sameSerialAs"]


def not_found_line(argument):
    return f'"{argument}" isn\'t a volume on this computer. Run "qorin list" to see them.\n'


class ReadTest(unittest.TestCase):
    def setUp(self):
        self.dir = im.scratch_dir("read-")

    def check_get(self, path, blkid_text, width):
        """get --json and get agree with what blkid reads from the same image or device."""
        expected = int(blkid_text.replace("-", ""), 16)
        proc = im.qorin("get", path, "--json")
        im.assert_no_sanitizer_report(self, proc)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        info = im.json_line(self, proc)
        self.assertEqual(list(info), GET_KEYS)
        self.assertEqual(info["serial"], im.serial32(expected))
        self.assertEqual(info["fullSerial"], im.serial64(expected) if width == 8 else None)
        self.assertEqual(info["volume"], os.path.realpath(path))
        self.assertTrue(info["mediaPresent"])
        self.assertTrue(info["supported"])
        self.assertEqual(info["encryption"], "none" if im.is_root() else None)

        text = im.qorin("get", path)
        self.assertEqual(text.returncode, 0, text.stderr)
        lines = text.stdout.split("\n")
        self.assertEqual(lines[-1], "", "output must end with a line break")
        self.assertIn("Serial:       " + im.serial32(expected), lines)
        self.assertIn("Volume:       " + os.path.realpath(path), lines)
        full = [line for line in lines if line.startswith("Full serial:")]
        if width == 8:
            self.assertEqual(full, ["Full serial:  " + im.serial64(expected) + "  (NTFS, 64-bit)"])
        else:
            self.assertEqual(full, [])

    def test_get_reports_the_serial_blkid_reads(self):
        for kind in im.KINDS:
            with self.subTest(kind.name):
                if kind.skip_reason():
                    self.skipTest(kind.skip_reason())
                image = im.fresh_image(kind, self.dir)
                blkid = im.blkid_uuid(image)
                self.assertEqual(blkid, im.blkid_serial_text(kind, kind.serial), "fixture not as made")
                self.check_get(image, blkid, kind.width)

    @unittest.skipUnless(im.is_root(), "loop devices need root")
    def test_get_on_loop_device_with_4096_byte_sectors(self):
        for kind in [k for k in im.KINDS if k.sector == 4096]:
            with self.subTest(kind.name):
                if kind.skip_reason():
                    self.skipTest(kind.skip_reason())
                image = im.fresh_image(kind, self.dir)
                with im.loop_device(image, sector=4096) as device:
                    self.check_get(device, im.blkid_uuid(device), kind.width)

    def test_bitlocker_signature_is_never_reported_as_fat(self):
        for name, offset, mark in im.BITLOCKER_MARKS:
            with self.subTest(name):
                image = im.fresh_image(im.kind("FAT16"), self.dir)
                im.patch_bytes(image, offset, mark)  # the rest of the FAT BPB stays intact
                proc = im.qorin("get", image, "--json")
                im.assert_no_sanitizer_report(self, proc)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                info = im.json_line(self, proc)
                self.assertNotIn("FAT", info["fileSystem"].upper())
                self.assertFalse(info["supported"])
                if im.is_root():
                    self.assertEqual(info["encryption"], "BitLocker")
                    text = im.qorin("get", image)
                    self.assertIn("Encryption:   BitLocker", text.stdout.split("\n"))

    def test_get_on_a_path_that_does_not_exist(self):
        missing = os.path.join(self.dir, "missing.img")
        proc = im.qorin("get", missing)
        self.assertEqual(proc.returncode, 2)
        self.assertEqual(proc.stderr, not_found_line(missing))
        self.assertEqual(proc.stdout, "")

    def check_answers_sanely(self, path, user=None):
        """get on bad input: no hang (the runner times out), no crash, and either the not-found
        line or a record that does not claim a supported file system."""
        for args in (["get", path, "--json"], ["get", path]):
            proc = im.qorin(*args, user=user)
            im.assert_no_sanitizer_report(self, proc)
            self.assertIn(proc.returncode, (0, 2), proc.stderr)
            if proc.returncode == 2:
                self.assertEqual(proc.stderr, not_found_line(path))
                continue
            if "--json" in args:
                info = im.json_line(self, proc)
                self.assertFalse(info["supported"])
                self.assertIsNone(info["fullSerial"])
            else:
                self.assertTrue(proc.stdout.startswith("Drive:        "), proc.stdout)

    def test_get_on_bad_input_answers(self):
        boot = im.read_bytes(im.fresh_image(im.kind("FAT16"), self.dir))
        cases = [
            ("empty file", b""),
            ("100 bytes of a boot sector", boot[:100]),
            ("511 bytes of a boot sector", boot[:511]),
            ("1 MiB of zeros", bytes(1 << 20)),
        ]
        for name, content in cases:
            with self.subTest(name):
                path = os.path.join(self.dir, name.replace(" ", "_") + ".img")
                with open(path, "wb") as f:
                    f.write(content)
                self.check_answers_sanely(path)
        with self.subTest("directory"):
            folder = os.path.join(self.dir, "folder")
            os.mkdir(folder)
            self.check_answers_sanely(folder)

    def test_get_on_unreadable_file_answers(self):
        if not im.is_root() or not im.has_tools("setpriv"):
            self.skipTest("needs root and setpriv to run qorin as a user who cannot read the file")
        if im.qorin("--version", user=65534).returncode != 0:
            self.skipTest("qorin is not executable by uid 65534 from where it lies")
        folder = im.scratch_dir("unreadable-")
        os.chmod(folder, 0o755)
        path = os.path.join(folder, "locked.img")
        with open(path, "wb") as f:
            f.write(im.read_bytes(im.fresh_image(im.kind("FAT12"), self.dir)))
        os.chmod(path, 0)
        os.chmod(os.path.dirname(folder), 0o755)
        # Not "no media" with exit 0: the user is told that reading it needs root.
        root_line = f"Reading {path} requires root rights. Please run qorin as root (for example with sudo).\n"
        for args in (["get", path, "--json"], ["get", path]):
            proc = im.qorin(*args, user=65534)
            im.assert_no_sanitizer_report(self, proc)
            self.assertEqual((proc.returncode, proc.stderr), (3, root_line))
            if "--json" in args:
                info = im.json_line(self, proc)
                self.assertFalse(info["supported"] or info["mediaPresent"])
                self.assertIsNone(info["fullSerial"])
            else:
                self.assertIn("Serial:       - (no access)\n", proc.stdout)

    def test_list_json_parses(self):
        proc = im.qorin("list", "--json")
        im.assert_no_sanitizer_report(self, proc)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        volumes = im.json_line(self, proc)
        self.assertIsInstance(volumes, list)
        for volume in volumes:
            self.assertEqual(list(volume), VOLUME_KEYS)
            self.assertIsInstance(volume["mountPoints"], list)
            self.assertIsInstance(volume["sizeBytes"], int)
        text = im.qorin("list")
        self.assertEqual(text.returncode, 0, text.stderr)
        header = text.stdout.split("\n")[0]
        # On Linux each column is as wide as its longest cell, so only the words and their gaps are fixed.
        self.assertRegex(header, r"^Drive  +Serial  +FS  +Size  +Type  +Label  +Status$")
        self.assertTrue(text.stdout.endswith("\n"))


if __name__ == "__main__":
    im.main(tools=("blkid", "mkfs.fat"))
