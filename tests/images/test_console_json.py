"""qorin's command line, JSON and confirmation as a user or a script meets them, on real images."""

import json
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402

USAGE_FIRST = "Plinthos 3.0.2 (command line)\n"
USAGE_LAST = "  Changes only the file-system volume serial number, not the drive's hardware\n  serial.\n"
TRY = "Try 'qorin help'."
NO_CONSOLE = "There's no console to ask for confirmation. Add --yes to proceed.\n"
ADMIN = ("Changing a serial requires root rights. Please run qorin as root (for example with sudo); an image file "
         "only needs to be writable by you.\n")
# Non-ASCII letters, a tab, a double quote, a backslash and a control character.
LABEL = 'F\u00f6\u65e5\t"q\\\x01'


def pairs(text):
    """The members of every JSON object in order, so key order is checked too."""
    found = []
    json.loads(text, object_pairs_hook=lambda items: found.append([k for k, _ in items]) or dict(items))
    return found


def qorin_into_closed_pipe(*args):
    """Runs qorin with standard output a pipe nobody reads any more (a script piping into a program
    that has ended). The child gets the default SIGPIPE action, as it would from a shell."""
    reader, writer = os.pipe()
    os.close(reader)
    try:
        return subprocess.run([im.QORIN, *args], stdin=subprocess.DEVNULL, stdout=writer,
                              stderr=subprocess.PIPE, text=True, timeout=im.TIMEOUT, env=im.qorin_environment())
    finally:
        os.close(writer)


class CommandLineTest(unittest.TestCase):
    def test_usage_help_and_version_exit_codes(self):
        usage_lines = im.qorin("help").stdout.count("\n")
        cases = [
            # arguments, exit code, whether the usage is on standard output, standard error
            ([], 2, True, ""),
            (["help"], 0, True, ""),
            (["--help"], 0, True, ""),
            (["-h"], 0, True, ""),
            (["/?"], 0, True, ""),
            (["list", "--help"], 0, True, ""),
            (["LIST"], 2, False, f"Unknown command: LIST\n{TRY}"),
            (["list", "extra"], 2, False, f"Usage: qorin list [--all] [--json]\n{TRY}"),
            (["list", "--jsn", "--xx"], 2, False, f"Unknown option: --xx\n{TRY}"),
            (["list", "--backup-dir"], 2, False, f"option '--backup-dir' needs a folder\n{TRY}"),
            (["get"], 2, False, f"Usage: qorin get <drive> [--json]\n{TRY}"),
            (["get", "a", "b"], 2, False, f"Usage: qorin get <drive> [--json]\n{TRY}"),
            (["c", "x"], 2, False, f"Unknown command: c\n{TRY}"),
            (["restore", "a", "b", "c"], 2, False,
             f"Usage: qorin restore <drive> [<file.tlxbak>] [--raw [--force]] [--yes] [--json]\n{TRY}"),
        ]
        for arguments, code, usage, stderr in cases:
            with self.subTest(arguments=arguments):
                proc = im.qorin(*arguments)
                im.assert_no_sanitizer_report(self, proc)
                self.assertEqual(proc.returncode, code, proc.stderr)
                if usage:
                    self.assertTrue(proc.stdout.startswith(USAGE_FIRST), proc.stdout)
                    self.assertTrue(proc.stdout.endswith(USAGE_LAST), proc.stdout)
                    self.assertEqual(proc.stdout.count("\n"), usage_lines)
                    self.assertNotIn("Graphical version", proc.stdout, "Linux has no window program to name")
                else:
                    self.assertEqual(proc.stdout, "")
                self.assertEqual(proc.stderr, stderr + "\n" if stderr else "")
        for arguments in (["--version"], ["version", "extra"], ["-V"]):
            with self.subTest(arguments=arguments):
                proc = im.qorin(*arguments)
                self.assertEqual((proc.returncode, proc.stdout, proc.stderr), (0, "Plinthos 3.0.2\n", ""))

    def test_output_nobody_reads_ends_a_command_that_only_prints_with_1(self):
        # Output that got lost is a failure of a command whose output is its work; a usage error keeps 2.
        cases = [(["--version"], 1), (["help"], 1), (["list", "extra"], 2), (["list", "--json"], 1)]
        for arguments, code in cases:
            with self.subTest(arguments=arguments):
                proc = qorin_into_closed_pipe(*arguments)
                self.assertEqual(proc.returncode, code, proc.stderr)
                if code == 1:
                    self.assertEqual(proc.stderr, "", "a reader that went away is not worth a line")

    def test_serial_is_checked_before_the_drive(self):
        cases = [
            (["set", "/no/such/volume", "12345-ABCD"],
             '"12345-ABCD" isn\'t a serial number. Format: XXXX-XXXX (hexadecimal).\n'),
            (["set", "/no/such/volume", "ZZ", "--full64"],
             '"ZZ" isn\'t a serial number. Format: XXXX-XXXX (hexadecimal), or 16 hex digits with --full64.\n'),
            (["set", "/no/such/volume", "1234-ABCD"],
             '"/no/such/volume" isn\'t a volume on this computer. Run "qorin list" to see them.\n'),
        ]
        for arguments, line in cases:
            with self.subTest(arguments=arguments):
                proc = im.qorin(*arguments)
                self.assertEqual((proc.returncode, proc.stdout, proc.stderr), (2, "", line))


class ImageTest(unittest.TestCase):
    def setUp(self):
        self.dir = im.scratch_dir("console-")
        self.backups = os.path.join(self.dir, "backups")
        self.image = os.path.join(self.dir, "fat.img")
        im.make_fat(self.image, 32, 0x1A2B3C4D)

    def serial(self):
        return im.blkid_uuid(self.image)

    def test_label_round_trips_through_json(self):
        image = os.path.join(self.dir, "ntfs.img")
        with open(image, "wb") as f:
            f.truncate(8 << 20)
        im.run(["mkntfs", "-F", "-Q", "-L", LABEL, image])
        proc = im.qorin("get", image, "--json")
        im.assert_no_sanitizer_report(self, proc)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertNotIn("\t", proc.stdout)
        self.assertIn('\\t\\"q\\\\\\u0001"', proc.stdout)  # escaped, with \u0001 in lower case
        self.assertEqual(im.json_line(self, proc)["label"], LABEL)
        raw = subprocess.run([im.QORIN, "get", image, "--json"], capture_output=True, stdin=subprocess.DEVNULL,
                             env=im.qorin_environment(), timeout=im.TIMEOUT).stdout
        self.assertFalse(raw.startswith(b"\xef\xbb\xbf"), "no byte-order mark")
        self.assertIn("F\u00f6\u65e5".encode("utf-8"), raw)

    @unittest.skipUnless(im.is_root(), "changing a serial needs root")
    def test_change_and_backups_json_members_in_order(self):
        proc = im.qorin("set", self.image, "1234-ABCD", "--yes", "--json", "--backup-dir", self.backups)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(pairs(proc.stdout), [["drive", "exit", "error", "outcome", "mode", "restartRequired",
                                               "oldSerial", "newSerial", "backup", "message", "notes"]])
        result = im.json_line(self, proc)
        self.assertEqual((result["exit"], result["error"], result["outcome"]), (0, "None", "Success"))
        self.assertEqual((result["oldSerial"], result["newSerial"]), ("1A2B-3C4D", "1234-ABCD"))
        self.assertTrue(os.path.isfile(result["backup"]))
        self.assertEqual(result["notes"], ["A boot-sector backup was saved to " + result["backup"]])
        self.assertEqual(self.serial(), "1234-ABCD")

        listing = im.qorin("backups", self.image, "--json", "--backup-dir", self.backups)
        self.assertEqual(listing.returncode, 0, listing.stderr)
        self.assertEqual(pairs(listing.stdout), [["file", "created", "fileSystem", "oldSerial", "newSerial"]])
        entry = im.json_line(self, listing)[0]
        self.assertEqual((entry["file"], entry["fileSystem"], entry["oldSerial"], entry["newSerial"]),
                         (result["backup"], "FAT32", "1A2B-3C4D", "1234-ABCD"))

        same = im.qorin("set", self.image, "1234-ABCD", "--yes", "--json", "--backup-dir", self.backups)
        again = im.json_line(self, same)
        self.assertEqual((same.returncode, again["error"], again["backup"], again["oldSerial"]),
                         (0, "Plan", None, "0000-0000"))

    @unittest.skipUnless(im.is_root(), "changing a serial needs root")
    def test_change_whose_report_nobody_reads_still_exits_with_its_code(self):
        proc = qorin_into_closed_pipe("set", self.image, "1234-ABCD", "--yes", "--json", "--backup-dir", self.backups)
        self.assertEqual((proc.returncode, proc.stderr), (0, ""))
        self.assertEqual(self.serial(), "1234-ABCD")

    @unittest.skipUnless(im.is_root(), "changing a serial needs root")
    def test_older_syntax_changes_without_asking(self):
        proc = im.qorin("c", self.image, "BEEF-0001", "--backup-dir", self.backups)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertNotIn("Change the serial?", proc.stdout)
        self.assertTrue(proc.stdout.startswith("Volume Serial Number of " + os.path.realpath(self.image) +
                                               " changed from 1A2B-3C4D to BEEF-0001.\n"), proc.stdout)
        self.assertEqual(self.serial(), "BEEF-0001")

    @unittest.skipUnless(im.is_root(), "changing a serial needs root")
    def test_piped_answer_is_not_taken_as_confirmation(self):
        proc = subprocess.run([im.QORIN, "set", self.image, "1234-ABCD", "--backup-dir", self.backups],
                              input="y\n", capture_output=True, text=True, timeout=im.TIMEOUT,
                              env=im.qorin_environment())
        self.assertEqual(proc.returncode, 1)
        self.assertEqual(proc.stderr, NO_CONSOLE)
        self.assertTrue(proc.stdout.startswith("This will change the Volume Serial Number of "), proc.stdout)
        self.assertEqual(self.serial(), "1A2B-3C4D")
        self.assertFalse(os.path.exists(self.backups), "nothing may be saved before the answer")

    @unittest.skipUnless(im.is_root(), "changing a serial needs root")
    def test_answer_typed_on_a_terminal(self):
        cases = [(" y\n", 0, "1234-ABCD"), ("Yes please\n", 0, "1234-ABCD"), ("ok\n", 1, None), ("\n", 1, None),
                 ("ja\n", 1, None)]
        for answer, code, serial in cases:
            with self.subTest(answer=answer):
                im.make_fat(self.image, 32, 0x1A2B3C4D)
                out, returncode = im.qorin_on_terminal(
                    ["set", self.image, "1234-ABCD", "--backup-dir", self.backups], answer)
                self.assertEqual(returncode, code, out)
                self.assertIn("Change the serial? [y/N] ", out)
                self.assertEqual(self.serial(), serial or "1A2B-3C4D")
                if code != 0:
                    self.assertTrue(out.endswith("[y/N] "), "a declined change reports nothing: " + out)


    @unittest.skipUnless(im.is_root(), "needs root to run qorin as another user")
    def test_unelevated_change_is_refused_before_asking(self):
        for folder in (self.dir, os.path.dirname(self.dir)):
            os.chmod(folder, 0o711)
        for arguments in (["set", self.image, "1234-ABCD"], ["random", self.image], ["restore", self.image]):
            with self.subTest(arguments=arguments):
                proc = im.qorin(*arguments, "--backup-dir", self.backups, user=65534)
                if proc.returncode == 2 and "isn't a volume" in proc.stderr:
                    self.skipTest("uid 65534 cannot reach the scratch image")
                self.assertEqual((proc.returncode, proc.stdout, proc.stderr), (3, "", ADMIN))
        self.assertEqual(self.serial(), "1A2B-3C4D")


if __name__ == "__main__":
    im.main(tools=("blkid", "mkfs.fat", "mkntfs"))
