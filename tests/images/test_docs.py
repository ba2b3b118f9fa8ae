"""The manual page and the bash completion in docs/: the page renders with man -l and no warnings, and
both it and the completion know every command and option that qorin's own usage text names."""

import os
import re
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


def complete(words, cursor_word=None):
    """What the completion offers for a command line; the last word is the one being completed."""
    script = f"""
source {COMPLETION!r}
COMP_WORDS=({' '.join(repr(w) for w in words)})
COMP_CWORD={len(words) - 1}
COMP_LINE={' '.join(words)!r}
COMP_POINT=${{#COMP_LINE}}
_qorin
printf '%s\\n' "${{COMPREPLY[@]}}"
"""
    proc = subprocess.run(["bash", "--norc", "--noprofile", "-c", script], capture_output=True, text=True,
                          timeout=im.TIMEOUT)
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
        offered = set(complete(["qorin", "set", "-"]))
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


if __name__ == "__main__":
    im.main(tools=("bash",))
