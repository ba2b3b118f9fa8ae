"""The manual page and the bash completion in docs/: the page renders with man -l and no warnings, and
both it and the completion know every command and option that qorin's own usage text names."""

import os
import re
import shlex
import shutil
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402

DOCS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs")
PAGE = os.path.join(DOCS, "qorin.8")
COMPLETION = os.path.join(DOCS, "qorin.bash")
COMMANDS = ["list", "get", "set", "random", "backups", "restore", "help", "version"]


def usage_words():
    """Commands and long options as qorin's usage text names them."""
    text = im.qorin("help").stdout
    options = set(re.findall(r"(?<![\w-])(--[a-z0-9-]+)", text))
    commands = set(re.findall(r"qorin ([a-z]+)", text))
    return commands, options


def complete(words, path=None):
    """What the completion offers for a command line; the last word is the one being completed. Words
    are split as bash splits them for completion: at blanks and at "=" (COMP_WORDBREAKS)."""
    bash_words = []
    for word in words:
        pieces = word.split("=")
        for index, piece in enumerate(pieces):
            if index:
                bash_words.append("=")
            if piece or len(pieces) == 1:  # "UUID=" ends with the "=" itself, as in bash
                bash_words.append(piece)
    quoted = " ".join(shlex.quote(w) for w in bash_words)
    line = " ".join(shlex.quote(w) for w in words)
    script = f"""
source {shlex.quote(COMPLETION)}
COMP_WORDS=({quoted})
COMP_CWORD={len(bash_words) - 1}
COMP_LINE={shlex.quote(line)}
COMP_POINT=${{#COMP_LINE}}
_qorin
printf '%s\\n' "${{COMPREPLY[@]}}"
"""
    env = dict(os.environ)
    if path:
        env["PATH"] = path + os.pathsep + env.get("PATH", "")
    proc = subprocess.run(["bash", "--norc", "--noprofile", "-c", script], capture_output=True, text=True,
                          timeout=im.TIMEOUT, env=env)
    if proc.returncode != 0:
        raise AssertionError(proc.stderr)
    return [line for line in proc.stdout.split("\n") if line]


class ManualPageTest(unittest.TestCase):
    @unittest.skipUnless(shutil.which("man"), "man is not installed")
    def test_renders_without_warnings(self):
        env = dict(os.environ, MANWIDTH="80", MAN_KEEP_FORMATTING="0")
        proc = subprocess.run(["man", "--warnings", "-l", PAGE], capture_output=True, text=True, env=env,
                              timeout=im.TIMEOUT)
        self.assertEqual(proc.returncode, 0, proc.stderr)
        self.assertEqual(proc.stderr, "", "groff warnings")
        text = re.sub(r".\x08", "", proc.stdout)
        self.assertTrue(text.startswith("QORIN(8)"), text[:80])
        for section in ["NAME", "SYNOPSIS", "DESCRIPTION", "COMMANDS", "OPTIONS", "EXIT STATUS", "FILES"]:
            self.assertRegex(text, rf"(?m)^{section}$")
        commands, options = usage_words()
        for word in sorted(commands | options):
            self.assertIn(word, text)
        for code in range(10):
            self.assertRegex(text, rf"(?m)^       {code}\s")
        for section in ["ENVIRONMENT", "REPORTING BUGS", "SEE ALSO"]:
            self.assertRegex(text, rf"(?m)^{section}$")
        for words in ["XDG_STATE_HOME", "HOME", "qorin c drive serial", "UUID=", "fstab(5)", "crypttab(5)",
                      "becomes the latest", "--backup-dir=dir", "-V, --version", "fatlabel(8)", "tune.exfat(8)",
                      "ntfslabel(8)", "lsblk(8)", "blkid(8)", "no access", "read-only"]:
            self.assertIn(words, re.sub(r"\s+", " ", re.sub(r"\u2010\n\s*", "", text)), words)


class CompletionTest(unittest.TestCase):
    def test_is_registered_for_qorin(self):
        proc = subprocess.run(["bash", "--norc", "--noprofile", "-c", f"source {COMPLETION!r}; complete -p qorin"],
                              capture_output=True, text=True, timeout=im.TIMEOUT)
        self.assertEqual(proc.stdout.strip(), "complete -o filenames -F _qorin qorin", proc.stderr)

    def test_commands_and_options(self):
        commands, options = usage_words()
        self.assertEqual(complete(["qorin", ""]), COMMANDS)
        self.assertLessEqual(commands, set(COMMANDS))
        self.assertEqual(complete(["qorin", "r"]), ["random", "restore"])
        # Before the command every option is offered; after it, only that command's (below).
        offered = set(complete(["qorin", "-"]))
        self.assertLessEqual(options, offered)
        self.assertEqual(complete(["qorin", "list", "--a"]), ["--all"])
        self.assertEqual(complete(["qorin", "--json", "ba"]), ["backups"], "an option before the command")

    def test_devices_images_folders_and_backups(self):
        folder = im.scratch_dir("completion-")
        for name in ["disk.img", "20240305-140709Z_1A2B3C4D_0000BEEF.tlxbak", "notes.txt"]:
            open(os.path.join(folder, name), "w").close()
        os.mkdir(os.path.join(folder, "sub"))
        drives = complete(["qorin", "get", "/dev/"])
        devices = sorted("/dev/" + name for name in os.listdir("/sys/class/block"))
        self.assertTrue(devices and set(devices) <= set(drives), drives)
        self.assertIn(os.path.join(folder, "disk.img"), complete(["qorin", "set", folder + "/d"]))
        backups = complete(["qorin", "restore", "/dev/sdb1", folder + "/"])
        self.assertIn(os.path.join(folder, "20240305-140709Z_1A2B3C4D_0000BEEF.tlxbak"), backups)
        self.assertIn(os.path.join(folder, "sub"), backups)
        self.assertNotIn(os.path.join(folder, "notes.txt"), backups)
        self.assertEqual(complete(["qorin", "--backup-dir", folder + "/s"]), [os.path.join(folder, "sub")])
        self.assertEqual(complete(["qorin", "set", "--backup-dir", folder, "/dev/sdb1", "12"]), [],
                         "no file names where the serial goes")

    def test_names_with_blanks_stay_whole(self):
        folder = im.scratch_dir("blanks-")
        for name in ["my disk.img", "old one.tlxbak"]:
            open(os.path.join(folder, name), "w").close()
        self.assertEqual(complete(["qorin", "get", folder + "/my"]), [os.path.join(folder, "my disk.img")])
        self.assertEqual(complete(["qorin", "restore", "/dev/sdb1", folder + "/o"]),
                         [os.path.join(folder, "old one.tlxbak")])
        proc = subprocess.run(["bash", "--norc", "--noprofile", "-c", f"source {shlex.quote(COMPLETION)}; "
                               "complete -p qorin"], capture_output=True, text=True, timeout=im.TIMEOUT)
        self.assertIn("-o filenames", proc.stdout, "readline quotes the blanks of what it inserts")

    def test_only_the_options_of_the_command_being_typed(self):
        cases = {
            "list": ["--all", "--help", "--json"],
            "get": ["--help", "--json"],
            "set": ["--backup-dir", "--full64", "--help", "--json", "--yes", "-y"],
            "backups": ["--backup-dir", "--help", "--json"],
            "restore": ["--backup-dir", "--force", "--help", "--json", "--raw", "--yes", "-y"],
        }
        for command, options in cases.items():
            with self.subTest(command=command):
                self.assertEqual(sorted(complete(["qorin", command, "/dev/sdb1", "-"])), options)
        self.assertEqual(complete(["qorin", "get", "--f"]), [], "--full64 is no option of get")
        self.assertEqual(complete(["qorin", "list", "--r"]), [])
        self.assertIn("-V", complete(["qorin", "-"]))

    def test_restore_offers_the_volumes_own_backups(self):
        if not os.access(im.QORIN, os.X_OK):
            self.skipTest("no qorin to ask for the backups")
        folder = im.scratch_dir("own-")
        image = os.path.join(folder, "fat.img")
        im.make_fat(image, 12, 0x1234ABCD)
        backups = os.path.join(folder, "backups")
        for serial in ["CAFE-F00D", "BEEF-0001"]:
            self.assertEqual(im.qorin("set", image, serial, "--yes", "--backup-dir", backups).returncode, 0)
        own = [line.split()[-1] for line in im.qorin("backups", image, "--backup-dir", backups).stdout.splitlines()[1:]]
        self.assertEqual(len(own), 2)
        bin_dir = im.scratch_dir("bin-")
        os.symlink(im.QORIN, os.path.join(bin_dir, "qorin"))
        offered = complete(["qorin", "restore", image, "--backup-dir", backups, ""], path=bin_dir)
        self.assertEqual(offered[:2], own, "newest first, before any other file")
        offered = complete(["qorin", "restore", "--backup-dir=" + backups, image, ""], path=bin_dir)
        self.assertEqual(offered[:2], own)

    def test_uuid_and_label_tags(self):
        self.assertEqual(complete(["qorin", "get", "UU"]), ["UUID="])
        self.assertEqual(complete(["qorin", "set", "LA"]), ["LABEL="])
        if not im.is_root() or not im.has_tools("losetup", "fatlabel"):
            self.skipTest("needs root and a loop device to give blkid a volume to find")
        image = os.path.join(im.scratch_dir("tags-"), "fat.img")
        im.make_fat(image, 12, 0x1A2B3C4D)
        im.run(["fatlabel", image, "TAG DISK"])
        with im.loop_device(image):
            self.assertIn("1A2B-3C4D", complete(["qorin", "get", "UUID=1A2B"]))
            self.assertIn("TAG DISK", complete(["qorin", "get", "LABEL=TAG"]))
            self.assertIn("TAG DISK", complete(["qorin", "get", "LABEL="]))
            self.assertEqual(complete(["qorin", "get", "UUID=1A2B-3C4D", "--j"]), ["--json"],
                             "the tag and its value are one argument")
            self.assertEqual(complete(["qorin", "restore", "LABEL=TAG DISK", "/nonexistent/"]), [])


if __name__ == "__main__":
    im.main(tools=("bash",))
