#!/usr/bin/env python3
"""Dravik.exe under Wine on a private Xvfb display (:91): title, volume rows, F1, context menu, resizing and
the settings it keeps in the registry.

The window is read from outside by dravik_probe.exe (rows through LVM_GETITEMTEXTW, rectangles, menu states)
and driven with xdotool; the rows are judged against `qorin list --json` of the same prefix. Screenshots are
kept under build/artefacts/dravik/. Every Wine process is elevated, so the title ends in " (Administrator)".
"""
import json
import re
import os
import shutil
import struct
import subprocess
import sys
import time
import unittest
from pathlib import Path

DISPLAY = ":91"
QORIN_EXE = os.environ.get("QORIN_EXE", "")
BUILD = Path(QORIN_EXE).resolve().parents[1] if QORIN_EXE else None
DRAVIK_EXE = Path(os.environ.get("DRAVIK_EXE") or (BUILD / "window" / "Dravik.exe" if BUILD else ""))
PROBE_EXE = BUILD / "tests" / "windows" / "dravik_probe.exe" if BUILD else None
PLATFORM_CHECKS_EXE = BUILD / "tests" / "windows" / "win_platform_checks.exe" if BUILD else None
ARTEFACTS = Path(__file__).resolve().parents[2] / "build" / "artefacts" / "dravik"
KEY = "HKCU\\Software\\Morvane\\Plinthos"


def skip_reason():
    if not QORIN_EXE or not Path(QORIN_EXE).is_file():
        return "QORIN_EXE is not set or missing (build the mingw preset first)"
    if not DRAVIK_EXE.is_file():
        return f"{DRAVIK_EXE} does not exist (build the mingw preset first)"
    if not PROBE_EXE.is_file():
        return f"{PROBE_EXE} does not exist (build the mingw preset first)"
    for tool in ("Xvfb", "xdotool", "import"):
        if not shutil.which(tool):
            return f"{tool} is not installed"
    if Path(f"/tmp/.X{DISPLAY[1:]}-lock").exists():
        return f"display {DISPLAY} is already in use"
    return None


if skip_reason() is None:
    sys.path.insert(0, str(Path(__file__).resolve().parent))
    import test_wine  # the private prefix with C: labelled, a FAT image as D: and the host root unmapped

    if not test_wine.find_wine():
        print("SKIP: wine64 is not installed")
        sys.exit(77)


class Session:
    """Xvfb on :91, a private Wine prefix with Dravik.exe and the probe beside qorin.exe."""

    def __init__(self):
        self.xvfb = subprocess.Popen(["Xvfb", DISPLAY, "-screen", "0", "1280x900x24", "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wine = None
        self.dravik = None
        try:
            socket = Path(f"/tmp/.X11-unix/X{DISPLAY[1:]}")
            for _ in range(100):
                if socket.exists():
                    break
                time.sleep(0.1)
            self.wine = test_wine.Wine()
            self.wine.env["DISPLAY"] = DISPLAY
            shutil.copy(DRAVIK_EXE, self.wine.work / "Dravik.exe")
            shutil.copy(PROBE_EXE, self.wine.work / "dravik_probe.exe")
        except BaseException:
            self.close()
            raise

    def probe(self, *args):
        r = self.wine.run("C:\\plinthos\\dravik_probe.exe", *map(str, args))
        return r.returncode, r.stdout.decode("utf-8").splitlines()

    def start(self, *args):
        self.dravik = subprocess.Popen([self.wine.wine, "C:\\plinthos\\Dravik.exe", *args], env=self.wine.env,
                                       cwd=self.wine.work, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 90
        while time.monotonic() < deadline:
            if self.probe("title")[0] == 0:
                time.sleep(1)  # let the first paint finish before screenshots
                return
            time.sleep(0.5)
        raise AssertionError("Dravik's window did not appear")

    def stop(self):
        """WM_CLOSE, as closing the window does: the settings are written on the way out."""
        self.wine.run("taskkill", "/IM", "Dravik.exe")
        code = self.dravik.wait(timeout=60)
        self.dravik = None
        return code

    def window(self):
        code, out = self.probe("window")
        assert code == 0, code
        values = out[0].split()
        return [int(v) for v in values[:6]], values[6]

    def rect(self, control):
        code, out = self.probe("rect", control)
        assert code == 0, (control, code)
        fields = out[0].split(" ", 6)
        return [int(v) for v in fields[:4]], fields[4:]

    def rows(self):
        code, out = self.probe("rows")
        assert code == 0, code
        return [line.split("\t") for line in out]

    def top_level(self):
        """(class, title) of each visible top-level window."""
        return [tuple(line.split("\t")[:2]) for line in self.probe("windows")[1]]

    def menu_rect(self):
        menus = [line.split("\t") for line in self.probe("windows")[1] if line.startswith("#32768\t")]
        return [int(v) for v in menus[0][2].split()] if menus else None

    def key(self, *keys):
        window = subprocess.run(["xdotool", "search", "--name", r"^Plinthos \(Administrator\)$"],
                                env=self.wine.env, capture_output=True, text=True).stdout.split()
        subprocess.run(["xdotool", "windowfocus", "--sync", window[0]], env=self.wine.env, timeout=30)
        subprocess.run(["xdotool", "key", *keys], env=self.wine.env, check=True, timeout=30)

    def click(self, x, y, button=1):
        subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", str(button)], env=self.wine.env,
                       check=True, timeout=30)

    def screenshot(self, name):
        ARTEFACTS.mkdir(parents=True, exist_ok=True)
        subprocess.run(["import", "-window", "root", "-display", DISPLAY, str(ARTEFACTS / f"{name}.png")],
                       check=True, timeout=60)

    def settings(self):
        r = self.wine.run("reg", "query", KEY)
        values = {}
        for line in r.stdout.decode("utf-8", "replace").splitlines():
            parts = line.split()
            if len(parts) == 3 and parts[1].startswith("REG_"):
                values[parts[0]] = (parts[1], parts[2])
        return values

    def set_value(self, name, kind, data):
        r = self.wine.run("reg", "add", KEY, "/v", name, "/t", kind, "/d", data, "/f")
        assert r.returncode == 0, r.stderr

    def close(self):
        if self.dravik:
            self.dravik.kill()
            self.dravik.wait(timeout=30)
        if self.wine:
            self.wine.close()
        self.xvfb.terminate()
        self.xvfb.wait(timeout=30)


def wait_for(predicate, seconds=10):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.3)
    return predicate()


def serial_key(text):
    return int(text.replace("-", ""), 16)


session = None


def setUpModule():
    global session
    session = Session()


def tearDownModule():
    if session:
        session.close()


class Dravik(unittest.TestCase):
    """One run of the window after another; each test leaves Dravik stopped."""

    def test_0_elevated_role_shows_no_window(self):
        for args in (["--elevated-op"], ["--elevated-op", "x.tlxresult", "change"]):
            with self.subTest(args=args):
                r = session.wine.run("C:\\plinthos\\Dravik.exe", *args)
                self.assertEqual(r.returncode, 2)
                self.assertEqual(session.probe("windows")[1], [])
        # The switch is case-sensitive: anything else is ignored and the window opens.
        session.start("--Elevated-Op")
        self.assertEqual(session.stop(), 0)
        session.wine.run("reg", "delete", KEY, "/f")

    def test_1_first_start(self):
        session.start()
        try:
            self.assertEqual(session.probe("title")[1], ["Plinthos (Administrator)"])
            rows = session.rows()
            listed = json.loads(session.wine.qorin("list", "--json").stdout.decode("utf-8"))
            expected = [[v["drive"], v["label"], v["fileSystem"] or "-", v["type"], v["serial"] or "-"]
                        for v in listed if v["mountPoints"]]
            self.assertEqual([[r[0], r[1], r[2], r[4], r[5]] for r in rows], sorted(expected))
            self.assertEqual([r[5] for r in rows if r[0] == "D:"], ["1234-ABCD"])  # the FAT image mapped as D:
            self.assertTrue(all(len(r) == 7 for r in rows))
            self.assertEqual(rows[0][1], test_wine.LABEL)
            session.screenshot("start")

            # Device arrivals: one refresh after the burst, not during it (each message restarts the timer).
            code, out = session.probe("device-burst")
            self.assertEqual(code, 0)
            self.assertEqual(out, ["stale", rows[0][0]])

            # F1 opens the explanation; Enter closes it.
            session.key("F1")
            titles = lambda: [t for c, t in session.top_level() if c == "#32770"]
            self.assertTrue(wait_for(lambda: "What is a Volume Serial Number?" in titles()), session.top_level())
            session.screenshot("explanation")
            session.key("Return")
            self.assertTrue(wait_for(lambda: "What is a Volume Serial Number?" not in titles()))

            # The panel follows the selection: C: is NTFS and offers the 64-bit entry, D: is FAT and does not.
            self.assertEqual(session.rect(1004)[1][2], f"C: {test_wine.LABEL} (NTFS, {rows[0][3]}, {rows[0][4]}, "
                                                       "Windows drive)")
            self.assertEqual(session.rect(1006)[1][2], rows[0][5])
            self.assertEqual(session.rect(1010)[1][:2], ["visible", "enabled"])
            code, out = session.probe("screen", 1002)
            left, top, _, _ = map(int, out[0].split())
            session.click(left + 30, top + 40)  # the second row
            self.assertTrue(wait_for(lambda: session.rect(1004)[1][2].startswith("D: ")))
            self.assertEqual(session.rect(1004)[1][2], f"D: {rows[1][1]} (FAT, {rows[1][3]}, {rows[1][4]})")
            self.assertEqual(session.rect(1006)[1][2], "1234-ABCD")
            self.assertEqual(session.rect(1010)[1][0], "hidden")
            # Ctrl+C in the list copies the selected volume's serial.
            session.key("ctrl+c")
            self.assertTrue(wait_for(lambda: session.probe("clipboard")[1] == ["1234-ABCD"]),
                            session.probe("clipboard"))

            # Random fills the 32-bit entry. "Change Serial" with an entry that is no serial puts the focus into
            # the entry (Wine's edit control shows no balloon tip, so the focus is what can be seen here).
            session.probe("command", 1009)
            self.assertTrue(wait_for(lambda: re.fullmatch(r"[0-9A-F]{4}-[0-9A-F]{4}", session.rect(1008)[1][2])),
                            session.rect(1008))
            session.click(left + 30, top + 40)  # focus back to the list
            self.assertTrue(wait_for(lambda: session.probe("focus")[1] == ["1002"]), session.probe("focus"))
            session.probe("command", 1012)
            # A valid entry goes on to the confirmation; Cancel ends the change there.
            self.assertTrue(wait_for(lambda: "Static\tChange the Volume Serial Number?" in session.probe("message")[1]),
                            session.top_level())
            self.assertEqual(session.probe("press", "Cancel")[0], 0)
            self.assertTrue(wait_for(lambda: session.probe("message")[0] != 0), session.top_level())
            entry = [int(v) for v in session.probe("screen", 1008)[1][0].split()]
            session.click(entry[2] - 4, (entry[1] + entry[3]) // 2)
            # Nine characters fill the entry: the last digit makes room for a letter outside A-F.
            subprocess.run(["xdotool", "key", "End", "BackSpace", "g"], env=session.wine.env, timeout=30)
            self.assertTrue(wait_for(lambda: session.rect(1008)[1][2].endswith("G")))  # typed upper case
            session.click(left + 30, top + 40)
            self.assertTrue(wait_for(lambda: session.probe("focus")[1] == ["1002"]), session.probe("focus"))
            session.probe("command", 1012)
            self.assertTrue(wait_for(lambda: session.probe("focus")[1] == ["1008"]), session.probe("focus"))

            # A right click on the second row opens the context menu on it.
            session.click(left + 30, top + 40, button=3)
            self.assertTrue(wait_for(lambda: any(c == "#32768" for c, _ in session.top_level())), session.top_level())
            session.screenshot("context-menu")
            subprocess.run(["xdotool", "key", "Escape"], env=session.wine.env, timeout=30)
            self.assertTrue(wait_for(lambda: not any(c == "#32768" for c, _ in session.top_level())))

            # From the keyboard (Shift+F10) it opens at the left of the selected row's label, just below it.
            label = [int(v) for v in session.probe("label")[1][0].split()]
            session.key("shift+F10")
            self.assertTrue(wait_for(lambda: session.menu_rect() is not None), session.top_level())
            self.assertEqual(session.menu_rect()[:2], [label[0] + 8, label[3]])
            subprocess.run(["xdotool", "key", "Escape"], env=session.wine.env, timeout=30)
            self.assertTrue(wait_for(lambda: session.menu_rect() is None))

            # Larger: the list grows both ways, the right-hand buttons follow the right edge, the rest moves down.
            outer, _ = session.window()
            client_before = outer[4:6]
            before = {c: session.rect(c)[0] for c in (1002, 1009, 1012, 1015, 1016, 1018, 1014)}
            session.probe("resize", outer[2] - outer[0] + 240, outer[3] - outer[1] + 120)
            self.assertTrue(wait_for(lambda: session.window()[0][4:6] != client_before))
            client_after = session.window()[0][4:6]
            dx, dy = client_after[0] - client_before[0], client_after[1] - client_before[1]
            self.assertEqual((dx, dy), (240, 120))
            after = {c: session.rect(c)[0] for c in before}
            def moved(r, x, y, grow_x=0, grow_y=0):
                return [r[0] + x, r[1] + y, r[2] + x + grow_x, r[3] + y + grow_y]
            self.assertEqual(after[1002], moved(before[1002], 0, 0, dx, dy))
            for button in (1012, 1015, 1016, 1018):
                self.assertEqual(after[button], moved(before[button], dx, dy), button)
            self.assertEqual(after[1009], moved(before[1009], 0, dy))
            self.assertEqual(after[1014], moved(before[1014], 0, dy, dx))
            time.sleep(1)
            session.screenshot("resized")
            # Smaller than the start is refused at the start size.
            session.probe("resize", 200, 150)
            time.sleep(1)
            self.assertEqual(session.window()[0][4:6], client_before)
        finally:
            self.assertEqual(session.stop(), 0)
        # No key before this run: it saved the defaults, sorted by drive ascending with hidden volumes off.
        values = session.settings()
        self.assertEqual([values[v] for v in ("SortColumn", "SortDescending", "ShowHidden")],
                         [("REG_DWORD", "0x0")] * 3)

    def test_2_settings_written_at_exit_and_restored(self):
        session.start()
        try:
            session.probe("move", 40, 30)
            session.probe("resize", 900, 640)
            self.assertTrue(wait_for(lambda: session.window()[0][:4] == [40, 30, 940, 670]), session.window())
            # Serial column header, clicked twice: ascending, then descending.
            code, out = session.probe("screen", 1002)
            left, top, _, _ = map(int, out[0].split())
            widths = [int(w) for w in session.probe("columns")[1][0].split()]
            x = left + 2 + sum(widths[:5]) + widths[5] // 2
            serials = lambda: [serial_key(r[5]) for r in session.rows() if r[5] != "-"]
            session.click(x, top + 10)
            self.assertTrue(wait_for(lambda: serials() == sorted(serials())), session.rows())
            time.sleep(1)  # two separate clicks, not a double click
            session.click(x, top + 10)
            self.assertTrue(wait_for(lambda: serials() == sorted(serials(), reverse=True)), session.rows())
            session.probe("command", 40013)  # Show Hidden Volumes
            time.sleep(1)
            order = [r[0] for r in session.rows()]
        finally:
            self.assertEqual(session.stop(), 0)

        values = session.settings()
        self.assertEqual(values["SortColumn"], ("REG_DWORD", "0x5"))
        self.assertEqual(values["SortDescending"], ("REG_DWORD", "0x1"))
        self.assertEqual(values["ShowHidden"], ("REG_DWORD", "0x1"))
        self.assertEqual(values["Window"][0], "REG_BINARY")
        self.assertEqual(struct.unpack("<5i", bytes.fromhex(values["Window"][1])), (40, 30, 940, 670, 0))

        session.start()
        try:
            self.assertEqual(session.window()[0][:4], [40, 30, 940, 670])
            self.assertEqual([r[0] for r in session.rows()], order)
        finally:
            self.assertEqual(session.stop(), 0)
        # Restored, then saved again unchanged: the hidden-volume option and the order came back too.
        self.assertEqual(session.settings(), values)

        # Closed maximized: the flag is saved beside the normal rectangle, and the next start is maximized.
        session.start()
        try:
            session.probe("maximize")
            self.assertTrue(wait_for(lambda: session.window()[1] == "maximized"), session.window())
        finally:
            self.assertEqual(session.stop(), 0)
        self.assertEqual(struct.unpack("<5i", bytes.fromhex(session.settings()["Window"][1])), (40, 30, 940, 670, 1))
        session.start()
        try:
            self.assertEqual(session.window()[1], "maximized")
        finally:
            self.assertEqual(session.stop(), 0)

    def test_4_about_and_command_line_tool(self):
        qorin = session.wine.work / "qorin.exe"
        session.start()
        try:
            for present in (True, False):
                with self.subTest(qorin_present=present):
                    if not present:
                        qorin.rename(qorin.with_suffix(".away"))
                    session.probe("command", 40009)
                    self.assertTrue(wait_for(lambda: ("#32770", "About") in session.top_level()), session.top_level())
                    about = session.probe("texts", "About")[1]
                    if present:
                        session.screenshot("about")
                    session.probe("close", "About")
                    self.assertIn("Static\tPlinthos 3.0.1", about)
                    self.assertEqual(any("Includes qorin, the command-line tool" in line for line in about), present)
                    self.assertTrue(wait_for(lambda: ("#32770", "About") not in session.top_level()))

                    session.probe("command", 40016)
                    tool = ("#32770", "Command-Line Tool")
                    self.assertTrue(wait_for(lambda: tool in session.top_level()), session.top_level())
                    texts = "\n".join(session.probe("texts", "Command-Line Tool")[1])
                    session.probe("close", "Command-Line Tool")
                    self.assertTrue(wait_for(lambda: tool not in session.top_level()))
                    self.assertIn("qorin, the command-line version, is included", texts)
                    if present:
                        self.assertIn("keep working.\n\nC:\\plinthos\\qorin.exe", texts)
                        self.assertIn("Open a command prompt here\nAs administrator", texts)
                    else:
                        self.assertIn("qorin.exe should be in C:\\plinthos, but it isn't there. Reinstall the program "
                                      "to restore it.", texts)
                        self.assertNotIn("Open the folder", texts)
        finally:
            if not qorin.exists():
                qorin.with_suffix(".away").rename(qorin)
            session.stop()

    def test_5_shutdown_is_held_off_while_boot_sectors_are_written(self):
        # The hidden window of the writes, which needs a display under Wine.
        shutil.copy(PLATFORM_CHECKS_EXE, session.wine.work / "platform_checks.exe")
        r = session.wine.run("C:\\plinthos\\platform_checks.exe", "shutdown")
        out = r.stdout.decode("utf-8", "replace")
        self.assertEqual(r.returncode, 0, out)
        self.assertIn("ok a hidden top-level window holds shutdown off", out)
        self.assertIn("ok it answers the end of the session with no", out)

    def test_3_wrong_values_fall_back_to_defaults(self):
        # The first start's position is the template's, centred; wrong values must give it back.
        session.wine.run("reg", "delete", KEY, "/f")
        session.start()
        default_window = session.window()[0][:4]
        default_order = [r[0] for r in session.rows()]
        session.stop()

        cases = [
            ("16 bytes", "REG_BINARY", "28000000" "1e000000" "ac030000" "9e020000"),
            ("24 bytes", "REG_BINARY", "28000000" "1e000000" "ac030000" "9e020000" "00000000" "00000000"),
            ("off every monitor", "REG_BINARY", struct.pack("<5i", 9000, 9000, 9900, 9640, 0).hex()),
            ("smaller than the minimum", "REG_BINARY", struct.pack("<5i", 10, 10, 200, 150, 0).hex()),
            ("a string", "REG_SZ", "40 30 940 670"),
        ]
        for name, kind, data in cases:
            with self.subTest(window=name):
                session.set_value("Window", kind, data)
                session.set_value("SortColumn", "REG_SZ", "5")
                session.set_value("SortDescending", "REG_SZ", "1")
                session.set_value("ShowHidden", "REG_BINARY", "01000000")
                session.start()
                try:
                    self.assertEqual(session.window()[0][:4], default_window)
                    self.assertEqual([r[0] for r in session.rows()], default_order)
                finally:
                    self.assertEqual(session.stop(), 0)
                # Read as the defaults, so saved back as the defaults.
                values = session.settings()
                self.assertEqual([values[v] for v in ("SortColumn", "SortDescending", "ShowHidden")],
                                 [("REG_DWORD", "0x0")] * 3)
                self.assertEqual(struct.unpack("<5i", bytes.fromhex(values["Window"][1]))[:4], tuple(default_window))

        # "SortColumn" 9 is read as Status (6), and so saved back as 6.
        session.set_value("SortColumn", "REG_DWORD", "9")
        session.start()
        session.stop()
        self.assertEqual(session.settings()["SortColumn"], ("REG_DWORD", "0x6"))


if __name__ == "__main__":
    reason = skip_reason()
    if reason:
        print(f"SKIP: {reason}")
        sys.exit(77)
    unittest.main(verbosity=2)
