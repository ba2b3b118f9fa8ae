#!/usr/bin/env python3
"""Dravik's change and restore flows under Wine and Xvfb (display :92), driven from outside.

Every Wine process is elevated, so the window runs operations in process. The only volume a change is
pointed at is C:, the prefix's own folder, which Wine refuses to open as a device: the flows run to
their result dialog and nothing is written. Screenshots of each dialog are kept under
build/artefacts/dravik-flows/.
"""
import json
import os
import re
import subprocess
import sys
import time
import unittest
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
import test_dravik  # noqa: E402  (the window session: Xvfb, the private prefix, the probe)
import test_wine  # noqa: E402
import images as im  # noqa: E402

test_dravik.DISPLAY = ":92"
test_dravik.ARTEFACTS = Path(__file__).resolve().parents[2] / "build" / "artefacts" / "dravik-flows"
test_dravik.test_wine = test_wine
BACKUPS = ("ProgramData", "Morvane", "Plinthos", "Backups")


backup_file = im.fat32_backup


session = None


def setUpModule():
    global session
    # A zone without daylight saving time, half an hour off, for the local backup times.
    os.environ["TZ"] = "Asia/Kolkata"
    session = test_dravik.Session()


def tearDownModule():
    if session:
        session.close()


class Flows(unittest.TestCase):
    """One run of the window after another; each test leaves Dravik stopped."""

    def setUp(self):
        self.addCleanup(self.stop)

    def stop(self):
        if session.dravik:
            session.stop()

    def message(self, seconds=60):
        """The lines of the program's topmost message: [class, text] with line breaks as \\n."""
        lines = []
        self.assertTrue(test_dravik.wait_for(lambda: lines.extend(session.probe("message")[1]) or bool(lines),
                                             seconds), f"no message appeared: {session.top_level()}")
        time.sleep(0.5)  # let it paint before a screenshot
        return [line.split("\t", 1) for line in session.probe("message")[1]]

    def press(self, text):
        """Clicks a button of the message and waits until that message is gone."""
        shown = session.probe("message")[1][:1]
        self.assertEqual(session.probe("press", text)[0], 0, text)
        self.assertTrue(test_dravik.wait_for(lambda: session.probe("message")[1][:1] != shown, 60), shown)

    def expect_message(self, instruction, buttons):
        """Checks the message's main instruction and buttons; returns its content."""
        lines = self.message()
        self.assertEqual(lines[0], ["Static", instruction], lines)
        self.assertEqual([text for kind, text in lines if kind == "Button"], buttons, lines)
        # A message without links shows its content as plain text, the text after the main instruction.
        plain = [text for kind, text in lines[1:] if kind == "Static"]
        return next((text for kind, text in lines if kind == "SysLink"), plain[0] if plain else "")

    def type_into(self, title, text):
        """Types a file name into the open-file dialog with this title and confirms it."""
        env = session.wine.env
        window = subprocess.run(["xdotool", "search", "--name", f"^{title}$"], env=env, capture_output=True,
                                text=True, timeout=30).stdout.split()
        self.assertTrue(window, title)
        subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], env=env, timeout=30)
        subprocess.run(["xdotool", "type", "--delay", "20", text], env=env, check=True, timeout=60)
        subprocess.run(["xdotool", "key", "Return"], env=env, check=True, timeout=30)

    def select_c(self):
        rows = session.rows()
        self.assertEqual(rows[0][0], "C:", rows)
        self.assertTrue(session.rect(1004)[1][-1].startswith("C:"), session.rect(1004))
        return rows[0][5]

    def test_1_change_on_a_wine_drive(self):
        session.start()
        current = self.select_c()
        session.probe("command", 1009)  # Random: another process cannot read the entry, so any serial
        session.probe("command", 1012)
        content = self.expect_message("Change the Volume Serial Number?", ["Change", "Cancel"])
        self.assertRegex(content, "^" + re.escape(f"This will change the Volume Serial Number of C: (NTFS) from {current} to ")
                         + "[0-9A-F]{4}-[0-9A-F]{4}" + re.escape(
                             ". A backup of the boot sector will be saved first so you can revert. Make sure no "
                             "other program is using this drive.\\n\\nC: is your Windows drive. The new serial "
                             "takes effect after you restart.") + "$")
        session.screenshot("1-change-confirmation")
        self.press("Change")
        content = self.expect_message("Nothing was changed", ["OK"])
        self.assertTrue(content.startswith(("The boot sector of C: couldn't be read", "Couldn't open C:")), content)
        session.screenshot("2-change-result")
        self.press("OK")
        self.assertFalse(session.wine.drive_c.joinpath(*BACKUPS).exists())
        self.assertEqual(session.rows()[0][5], current)

    def test_2_a_damaged_backup_file(self):
        (session.wine.work / "damaged.tlxbak").write_bytes(b"NOT A BACKUP\n")
        session.start()
        self.select_c()
        session.probe("command", 40003)
        self.assertTrue(test_dravik.wait_for(
            lambda: any(title == "Restore a serial from a backup" for _, title in session.top_level()), 60),
            session.top_level())
        session.screenshot("3-open-backup-file")
        self.type_into("Restore a serial from a backup", "C:\\plinthos\\damaged.tlxbak")
        content = self.expect_message("This backup file can't be used", ["OK"])
        self.assertEqual(content, "C:\\plinthos\\damaged.tlxbak\\n\\nIt is damaged or not a backup file (BadMagic).")
        session.screenshot("4-damaged-backup")
        self.press("OK")

    def test_3_planted_backups_are_skipped_and_named_under_the_list(self):
        """Wine names the user's own account, which every unelevated process shares, as the owner of every file:
        each backup here is one a less privileged process could have planted. The list offers none of them and
        says so under it; a backup the user picks by name is still restored, through the file flow."""
        volume = json.loads(session.wine.qorin("list", "--json").stdout)[0]["volume"]
        folder = session.wine.drive_c.joinpath(*BACKUPS, volume[volume.index("Volume{"):])
        folder.mkdir(parents=True)
        older = folder / "20261201-233000Z_1A2B3C4D_0000BEEF.tlxbak"
        older.write_bytes(backup_file(0x1A2B3C4D, 0xBEEF, "2026-12-01T23:30:00Z"))
        newer = folder / "20261202-080000Z_0000BEEF_5EB1C0DE.tlxbak"
        newer.write_bytes(backup_file(0xBEEF, 0x5EB1C0DE, "2026-12-02T08:00:00Z"))
        (folder / "20261203-000000Z_5EB1C0DE_00000001.tlxbak").write_bytes(b"TLXBAK 1\ntruncated")  # unreadable
        session.start()
        self.select_c()
        self.assertEqual(session.probe("rows", 1014)[1], [])
        self.assertEqual(session.rect(1015)[1][:2], ["visible", "disabled"])
        self.assertEqual(session.rect(1019)[1],
                         ["visible", "enabled", "Skipped 2 backups: a less privileged user could have written them."])
        session.screenshot("5-backups-skipped")
        # One planted file is named, in qorin's words; the refresh rebuilds the line with the list.
        older.unlink()
        session.probe("command", 40001)
        windows_path = "C:\\" + "\\".join([*BACKUPS, folder.name, newer.name])
        line = f"Skipped {windows_path}: a less privileged user could have written it."
        self.assertTrue(test_dravik.wait_for(lambda: session.rect(1019)[1][2:] == [line], 30), session.rect(1019))
        self.assertEqual(session.probe("rows", 1014)[1], [])
        session.screenshot("5-backup-skipped")

        session.probe("command", 40003)
        self.assertTrue(test_dravik.wait_for(
            lambda: any(title == "Restore a serial from a backup" for _, title in session.top_level()), 60),
            session.top_level())
        self.type_into("Restore a serial from a backup", windows_path)
        content = self.expect_message("Restore the serial?", ["Restore", "Cancel"])
        self.assertEqual(content, "This sets the serial of C: to 0000-BEEF (from the backup made 2026-12-02 13:30). "
                                  "A backup of the current boot sector is saved first.\\n\\nC: is your Windows drive. "
                                  "The new serial takes effect after you restart.")
        # Backup fields reach the question as plain text: no link in it can start anything.
        self.assertNotIn("SysLink", [kind for kind, _ in self.message()])
        session.screenshot("6-restore-question")
        self.press("Cancel")
        self.assertEqual(session.probe("message")[1], [])
        # Restoring runs in process (Wine is elevated) and stops where Wine refuses the volume.
        session.probe("command", 40003)
        self.assertTrue(test_dravik.wait_for(
            lambda: any(title == "Restore a serial from a backup" for _, title in session.top_level()), 60),
            session.top_level())
        self.type_into("Restore a serial from a backup", windows_path)
        self.expect_message("Restore the serial?", ["Restore", "Cancel"])
        self.press("Restore")
        content = self.expect_message("Nothing was changed", ["OK"])
        self.assertTrue(content.startswith(("The boot sector of C: couldn't be read", "Couldn't open C:")), content)
        self.press("OK")
        self.assertEqual(sorted(p.name for p in folder.iterdir()),
                         [newer.name, "20261203-000000Z_5EB1C0DE_00000001.tlxbak"])  # no backup was added

    def test_4_no_backups_yet(self):
        for path in sorted(session.wine.drive_c.joinpath(*BACKUPS[:2]).rglob("*"), reverse=True):
            path.rmdir() if path.is_dir() else path.unlink()
        session.start()
        self.select_c()
        self.assertEqual(session.probe("rows", 1014)[1], [])
        self.assertEqual(session.rect(1015)[1][:2], ["visible", "disabled"])
        self.assertEqual(session.rect(1019)[1][2:], [""])  # nothing skipped, nothing said
        session.probe("command", 1016)
        content = self.expect_message("No backups yet", ["OK"])
        self.assertEqual(content, "Backups are saved to C:\\ProgramData\\Morvane\\Plinthos\\Backups the first time "
                                  "you change a serial.")
        session.screenshot("7-no-backups-yet")
        self.press("OK")


if __name__ == "__main__":
    reason = test_dravik.skip_reason()
    if reason and "already in use" not in reason:
        print(f"SKIP: {reason}")
        sys.exit(77)
    if Path("/tmp/.X92-lock").exists():
        print("SKIP: display :92 is already in use")
        sys.exit(77)
    if not test_wine.find_wine():
        print("SKIP: wine64 is not installed")
        sys.exit(77)
    unittest.main(verbosity=2)
