"""qorin's console change window under Wine on a terminal (script gives Wine a real console), where
Wine delivers Ctrl+C: held between the first write and the report, not before the first write.
Wine cannot send the close, logoff and shutdown events; those paths are reviewed, not run."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

QORIN_EXE = os.environ.get("QORIN_EXE", "")


def find_wine():
    for candidate in (shutil.which("wine64"), "/usr/lib/wine/wine64", shutil.which("wine")):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    return None


def checks_exe():
    return os.environ.get("WIN_CONSOLE_CONTROL_CHECKS") or str(
        Path(QORIN_EXE).resolve().parents[1] / "tests" / "windows" / "win_console_control_checks.exe")


def skip_reason():
    if not QORIN_EXE or not Path(checks_exe()).is_file():
        return "win_console_control_checks.exe was not built (build the mingw preset first)"
    if not find_wine():
        return "wine64 is not installed"
    if not shutil.which("script"):
        return "script (util-linux) is not installed"
    return None


class ConsoleControl(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = Path(tempfile.mkdtemp(prefix="plinthos-wine-ctrl-"))
        cls.env = dict(os.environ, WINEPREFIX=str(cls.root / "prefix"), WINEDEBUG="-all",
                       WINEDLLOVERRIDES="mscoree,mshtml=")
        cls.env.pop("DISPLAY", None)
        subprocess.run([find_wine(), "wineboot", "-i"], env=cls.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300, check=True)
        shutil.copy(checks_exe(), cls.root / "checks.exe")

    @classmethod
    def tearDownClass(cls):
        wineserver = Path(find_wine()).with_name("wineserver")
        if wineserver.exists():
            subprocess.run([str(wineserver), "-k"], env=cls.env, timeout=60)
        shutil.rmtree(cls.root, ignore_errors=True)

    def run_on_terminal(self, mode):
        out = self.root / f"{mode}.txt"
        command = f"{find_wine()} {self.root / 'checks.exe'} {mode} {out}"
        subprocess.run(["script", "-qec", command, "/dev/null"], env=self.env, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=120)
        return out.read_text().splitlines() if out.exists() else []

    def test_ctrl_c_inside_the_window_is_held_until_the_report(self):
        lines = self.run_on_terminal("held")
        if "ctrl+c sent" not in lines:
            self.skipTest(f"Wine delivered no console event here: {lines}")
        self.assertEqual(lines[0], "current folder is the system folder")
        self.assertIn("survived the window", lines)
        self.assertEqual(lines[-1], "survived until the report")

    def test_ctrl_c_before_the_first_write_ends_the_program(self):
        lines = self.run_on_terminal("early")
        if "ctrl+c sent" not in lines:
            self.skipTest(f"Wine delivered no console event here: {lines}")
        self.assertEqual(lines, ["current folder is the system folder", "ctrl+c sent"])


if __name__ == "__main__":
    reason = skip_reason()
    if reason:
        print(f"SKIP: {reason}")
        sys.exit(77)
    program = unittest.main(verbosity=2, exit=False)
    for test, why in program.result.skipped:
        print(f"SKIP: {test.id()}: {why}")
    sys.exit(0 if program.result.wasSuccessful() else 1)
