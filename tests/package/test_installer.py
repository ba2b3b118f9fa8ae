#!/usr/bin/env python3
"""The Windows installer made by scripts/package, under Wine in a private prefix: a silent install,
the installed programs, the "Add or remove programs" entry, the shortcut, the PATH option, a silent
uninstall that keeps the backups folder, a custom folder that holds other files refused, and the choice
between the x64 and the ARM64 programs.

The shipped setup is an x86 program. Debian's wine64 runs no 32-bit programs unless wine32 (i386) is
installed, so without it these tests build the same script with the amd64 stub."""
import json
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path, PureWindowsPath

from images import make_fat, run, scratch_dir, skip_script

REPO = Path(__file__).resolve().parents[2]
VERSION = "3.0.2"
QORIN_EXE = Path(os.environ.get("QORIN_EXE") or REPO / "build/mingw/console/qorin.exe")
DRAVIK_EXE = QORIN_EXE.parents[1] / "window" / "Dravik.exe"
INSTALL_DIR = "C:\\Program Files\\Plinthos"
UNINSTALL_KEY = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Plinthos"
SHORTCUT = "ProgramData/Microsoft/Windows/Start Menu/Programs/Plinthos.lnk"
BACKUPS = "ProgramData/Morvane/Plinthos/Backups"
DISPLAY = ":93"
MACHINE_X64, MACHINE_ARM64 = 0x8664, 0xAA64


def find_wine():
    for candidate in (shutil.which("wine64"), "/usr/lib/wine/wine64"):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    return None


def pe_machine(path):
    data = Path(path).read_bytes()
    header = struct.unpack_from("<I", data, 0x3C)[0]
    return struct.unpack_from("<H", data, header + 4)[0]


ARM64_BUILD = REPO / "build/arm64"
MACHINE_X86 = 0x14C
WINE_RUNS_X86 = any(Path(p).exists() for p in ("/usr/lib/wine/wine", "/usr/lib/i386-linux-gnu/wine"))
ENVIRONMENT_KEY = "HKLM\\SYSTEM\\CurrentControlSet\\Control\\Session Manager\\Environment"


def package(*options, for_wine=True, env=None):
    """Builds an installer into a fresh folder and returns its path. Without an ARM64 build (scripts/test
    makes one) the installer is built without ARM64 programs rather than starting that build here. An
    installer for_wine gets the amd64 stub when Wine cannot run the x86 one."""
    if not (ARM64_BUILD / "console/qorin.exe").is_file() and not {"--arm64-from", "--no-arm64"} & set(options):
        print("NOTE: build/arm64 has no qorin.exe; this installer holds no ARM64 programs")
        options = ("--no-arm64", *options)
    if for_wine and not WINE_RUNS_X86:
        options = (*options, "--") if "--" not in options else options
        options = (*options, "-DSTUB_TARGET=amd64-unicode")
    out = Path(scratch_dir("setup-"))
    r = run([str(REPO / "scripts/package"), "--windows", "--out", str(out), *options], timeout=900, env=env)
    (out / "package.log").write_text(r.stdout + r.stderr)
    return out / f"Plinthos-{VERSION}-setup.exe"


class Wine:
    """A private prefix; nothing of the host's Wine set-up is used or changed."""

    def __init__(self):
        self.wine = find_wine()
        self.prefix = Path(scratch_dir("wine-")) / "prefix"
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=")
        self.env.pop("DISPLAY", None)
        self.drive_c = self.prefix / "drive_c"
        self.run("wineboot", "-i")

    def host_path(self, windows_path):
        parts = PureWindowsPath(windows_path).parts
        assert parts[0].upper() == "C:\\"
        return self.drive_c.joinpath(*parts[1:])

    def run(self, *args, env=None):
        # Files, not pipes: Wine's background services inherit the streams and would hold a pipe open.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run([self.wine, *args], env=env or self.env, stdout=out, stderr=err,
                                  stdin=subprocess.DEVNULL, timeout=300).returncode
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(args, code, out.read(), err.read())

    def wait(self):
        """Waits until every process of the prefix has ended (the uninstaller runs from a copy)."""
        server = Path(self.wine).with_name("wineserver")
        subprocess.run([str(server) if server.exists() else "wineserver", "-w"], env=self.env, timeout=300)

    def registry_values(self, key):
        r = self.run("reg", "query", key)
        if r.returncode != 0:
            return None
        values = {}
        for line in r.stdout.decode("utf-8", "replace").splitlines():
            fields = line.strip().split(None, 2)
            if len(fields) >= 2 and fields[1].startswith("REG_"):
                values[fields[0]] = fields[2] if len(fields) == 3 else ""
        return values

    def machine_path(self):
        """The machine's PATH as the registry holds it (Wine names the value "PATH", Windows "Path")."""
        values = self.registry_values(ENVIRONMENT_KEY)
        return next(value for name, value in values.items() if name.lower() == "path")

    def close(self):
        subprocess.run([str(Path(self.wine).with_name("wineserver")), "-k"], env=self.env, timeout=60,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


class Xvfb:
    def __init__(self):
        if Path(f"/tmp/.X{DISPLAY[1:]}-lock").exists():
            raise RuntimeError(f"display {DISPLAY} is taken")
        self.server = subprocess.Popen(["Xvfb", DISPLAY, "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        socket = Path(f"/tmp/.X11-unix/X{DISPLAY[1:]}")
        for _ in range(100):
            if socket.exists():
                return
            time.sleep(0.1)
        self.close()
        raise RuntimeError(f"Xvfb did not start on {DISPLAY}")

    def close(self):
        self.server.terminate()
        self.server.wait(timeout=30)


def visible_windows():
    r = subprocess.run(["xdotool", "search", "--onlyvisible", "--name", "."], capture_output=True, text=True,
                       env=dict(os.environ, DISPLAY=DISPLAY), timeout=30)
    return r.stdout.split()


class InstallAndUninstall(unittest.TestCase):
    """One life of the shipped installer, in order: install, use, uninstall."""

    @classmethod
    def setUpClass(cls):
        cls.setup = package()
        cls.wine = Wine()
        shutil.copy(cls.setup, cls.wine.drive_c / "setup.exe")

    @classmethod
    def tearDownClass(cls):
        cls.wine.close()

    def installed(self, name):
        return self.wine.host_path(f"{INSTALL_DIR}\\{name}")

    def test_life(self):
        wine = self.wine
        if WINE_RUNS_X86:
            self.assertEqual(pe_machine(self.setup), MACHINE_X86, "the x86 stub, which also runs emulated on ARM64")
        path_before = wine.machine_path()
        r = wine.run("C:\\setup.exe", "/S", "/PATH=1")
        self.assertEqual(r.returncode, 0, r.stderr)
        wine.wait()
        shipped = ["qorin.exe"] + (["Dravik.exe"] if DRAVIK_EXE.is_file() else [])
        self.assertEqual(sorted(p.name for p in self.installed("").iterdir()), sorted(shipped + ["uninstall.exe"]))
        for name in shipped:
            with self.subTest(program=name):
                self.assertEqual(pe_machine(self.installed(name)), MACHINE_X64, "x64 Windows gets the x64 programs")
        staged = self.setup.parent / "windows/x64"
        for name in shipped:
            self.assertEqual(self.installed(name).read_bytes(), (staged / name).read_bytes())
        self.assertEqual(wine.machine_path(), f"{path_before};{INSTALL_DIR}",
                         "/PATH=1 adds the program folder to the machine's PATH, the rest unchanged")
        for folder in ("Morvane", "Morvane/Plinthos", "Morvane/Plinthos/Backups"):
            self.assertTrue((wine.drive_c / "ProgramData" / folder).is_dir(), f"the setup made {folder}")

        r = wine.run(f"{INSTALL_DIR}\\qorin.exe", "version")
        self.assertEqual((r.returncode, r.stdout), (0, f"Plinthos {VERSION}\r\n".encode()))

        entry = wine.registry_values(UNINSTALL_KEY)
        self.assertIsNotNone(entry, "the Add or remove programs entry exists")
        icon = f"{INSTALL_DIR}\\{'Dravik.exe' if 'Dravik.exe' in shipped else 'uninstall.exe'},0"
        self.assertEqual({k: entry.get(k) for k in ("DisplayName", "DisplayVersion", "Publisher", "DisplayIcon",
                                                    "InstallLocation", "UninstallString", "QuietUninstallString")},
                         {"DisplayName": "Plinthos", "DisplayVersion": VERSION, "Publisher": "Morvane",
                          "DisplayIcon": icon, "InstallLocation": INSTALL_DIR,
                          "UninstallString": f'"{INSTALL_DIR}\\uninstall.exe"',
                          "QuietUninstallString": f'"{INSTALL_DIR}\\uninstall.exe" /S'})
        size_kb = sum(self.installed(name).stat().st_size for name in shipped + ["uninstall.exe"]) // 1024
        self.assertAlmostEqual(int(entry["EstimatedSize"], 16), size_kb, delta=len(shipped) + 1)

        shortcut = wine.drive_c / SHORTCUT
        if "Dravik.exe" in shipped:
            self.assertIn("Dravik.exe".encode("utf-16-le"), shortcut.read_bytes())
            self.check_dravik_starts()
        else:
            self.assertFalse(shortcut.exists(), "no shortcut without Dravik")
            print("NOTE: Dravik.exe was not built; the installer shipped qorin.exe alone")

        # A real change by the installed qorin.exe, on an image file, saves its backup in the programs'
        # backups folder: the one the uninstaller must leave alone and names on its last page.
        make_fat(str(wine.drive_c / "fat.img"), 16, 0x1234ABCD)
        # Wine reports the user as the owner of every folder, so qorin refuses the default folder there
        # (on Windows the setup's DACL makes it the Administrators'); named, the folder is used as it is.
        r = wine.run(f"{INSTALL_DIR}\\qorin.exe", "set", "C:\\fat.img", "CAFE-F00D", "--yes", "--json")
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertIsNone(json.loads(r.stdout)["backup"])
        self.assertIn("couldn't be saved to C:\\ProgramData\\Morvane\\Plinthos\\Backups",
                      json.loads(r.stdout)["message"])
        r = wine.run(f"{INSTALL_DIR}\\qorin.exe", "set", "C:\\fat.img", "CAFE-F00D", "--yes", "--json",
                     "--backup-dir", "C:\\ProgramData\\Morvane\\Plinthos\\Backups")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        backup = wine.host_path(json.loads(r.stdout)["backup"])
        self.assertEqual(backup.relative_to(wine.drive_c).parts[:4], tuple(BACKUPS.split("/")))
        saved = backup.read_bytes()
        self.assertTrue(saved.startswith(b"TLXBAK 1\n"))

        r = wine.run(f"{INSTALL_DIR}\\uninstall.exe", "/S")
        self.assertEqual(r.returncode, 0, r.stderr)
        wine.wait()
        self.assertFalse(self.installed("").exists(), "programs, uninstaller and folder are gone")
        self.assertFalse(shortcut.exists())
        self.assertIsNone(wine.registry_values(UNINSTALL_KEY), "the entry is gone")
        self.assertEqual(backup.read_bytes(), saved, "the backups stay")
        self.assertEqual(wine.machine_path(), path_before, "the PATH entry is gone")

    def check_dravik_starts(self):
        if not (shutil.which("Xvfb") and shutil.which("xdotool")):
            print("NOTE: Xvfb or xdotool is missing; the installed Dravik.exe was not started")
            return
        screen = Xvfb()
        env = dict(self.wine.env, DISPLAY=DISPLAY)
        program = subprocess.Popen([self.wine.wine, f"{INSTALL_DIR}\\Dravik.exe"], env=env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 60
            while not visible_windows() and program.poll() is None and time.monotonic() < deadline:
                time.sleep(0.5)
            self.assertIsNone(program.poll(), "Dravik.exe keeps running")
            self.assertTrue(visible_windows(), "Dravik.exe shows a window")
            self.wine.run("taskkill", "/IM", "Dravik.exe", env=env)
            self.assertEqual(program.wait(timeout=60), 0)
        finally:
            if program.poll() is None:
                program.kill()
            self.wine.wait()
            screen.close()


class InstallFolder(unittest.TestCase):
    """A folder of the user's choice: used when new, refused when it holds other files (the setup would
    take its permissions away from its owner); the PATH is left alone without /PATH=1."""

    @classmethod
    def setUpClass(cls):
        cls.wine = Wine()
        shutil.copy(package(), cls.wine.drive_c / "setup.exe")

    @classmethod
    def tearDownClass(cls):
        cls.wine.close()

    def test_a_new_folder_is_used(self):
        path_before = self.wine.machine_path()
        r = self.wine.run("C:\\setup.exe", "/S", "/D=C:\\Tools\\Plinthos")
        self.wine.wait()
        self.assertEqual(r.returncode, 0, r.stderr)
        installed = self.wine.host_path("C:\\Tools\\Plinthos\\qorin.exe")
        self.assertTrue(installed.is_file())
        self.assertEqual(self.wine.registry_values(UNINSTALL_KEY)["InstallLocation"], "C:\\Tools\\Plinthos")
        self.assertEqual(self.wine.machine_path(), path_before, "no /PATH=1, no entry")
        self.wine.run("C:\\Tools\\Plinthos\\uninstall.exe", "/S")
        self.wine.wait()
        self.assertFalse(installed.exists())

    def test_programs_left_in_the_folder_are_replaced_not_written_through(self):
        # Another user's file at a program's name: here a hard link to that user's own copy.
        folder = self.wine.host_path("C:\\Planted")
        folder.mkdir()
        theirs = self.wine.drive_c / "theirs.exe"
        theirs.write_bytes(b"planted")
        os.link(theirs, folder / "qorin.exe")
        r = self.wine.run("C:\\setup.exe", "/S", "/D=C:\\Planted")
        self.wine.wait()
        self.assertEqual(r.returncode, 0, r.stderr)
        installed = folder / "qorin.exe"
        self.assertEqual(theirs.read_bytes(), b"planted", "the new program does not reach the other user's copy")
        self.assertEqual(installed.stat().st_nlink, 1)
        self.assertTrue(installed.read_bytes().startswith(b"MZ"))
        self.wine.run("C:\\Planted\\uninstall.exe", "/S")
        self.wine.wait()
        self.assertFalse(installed.exists())

    def test_a_folder_holding_other_files_is_refused(self):
        folder = self.wine.host_path("C:\\Shared")
        folder.mkdir()
        (folder / "notes.txt").write_text("someone else's")
        r = self.wine.run("C:\\setup.exe", "/S", "/D=C:\\Shared")
        self.wine.wait()
        self.assertEqual(r.returncode, 3, "a deployment tool sees the refusal")
        self.assertEqual(sorted(p.name for p in folder.iterdir()), ["notes.txt"], "nothing installed")
        self.assertIsNone(self.wine.registry_values(UNINSTALL_KEY))


class ArchitectureChoice(unittest.TestCase):
    """The ARM64 branch cannot run here, so test installers are built that take the native machine as
    given; everything after that decision is the shipped installer's own code."""

    @classmethod
    def setUpClass(cls):
        cls.wine = Wine()

    @classmethod
    def tearDownClass(cls):
        cls.wine.close()

    def arm64_programs(self):
        """The ARM64 build when there is one, else x64 programs marked as ARM64 (installed, never run)."""
        if (ARM64_BUILD / "console/qorin.exe").is_file():
            return ARM64_BUILD
        fake = Path(scratch_dir("arm64-"))
        for source, target in ((QORIN_EXE, fake / "console/qorin.exe"), (DRAVIK_EXE, fake / "window/Dravik.exe")):
            if source.is_file():
                target.parent.mkdir(parents=True)
                data = bytearray(source.read_bytes())
                struct.pack_into("<H", data, struct.unpack_from("<I", data, 0x3C)[0] + 4, MACHINE_ARM64)
                target.write_bytes(data)
        return fake

    def test_arm64_windows_gets_the_arm64_programs(self):
        arm64 = self.arm64_programs()
        setup = package("--arm64-from", str(arm64), "--", f"-DPRETEND_NATIVE_MACHINE={MACHINE_ARM64}")
        shutil.copy(setup, self.wine.drive_c / "arm64-setup.exe")
        r = self.wine.run("C:\\arm64-setup.exe", "/S")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.wine.wait()
        installed = self.wine.host_path(f"{INSTALL_DIR}\\qorin.exe")
        staged = setup.parent / "windows/arm64"
        self.assertEqual(installed.read_bytes(), (staged / "qorin.exe").read_bytes())
        self.assertEqual(pe_machine(installed), MACHINE_ARM64)
        if (arm64 / "window/Dravik.exe").is_file():
            self.assertEqual(installed.with_name("Dravik.exe").read_bytes(), (staged / "Dravik.exe").read_bytes())
        self.wine.run(f"{INSTALL_DIR}\\uninstall.exe", "/S")
        self.wine.wait()
        self.assertFalse(installed.parent.exists())

    def test_arm64_windows_is_refused_without_arm64_programs(self):
        setup = package("--no-arm64", "--", f"-DPRETEND_NATIVE_MACHINE={MACHINE_ARM64}")
        shutil.copy(setup, self.wine.drive_c / "x64-only-setup.exe")
        r = self.wine.run("C:\\x64-only-setup.exe", "/S")
        self.wine.wait()
        self.assertEqual(r.returncode, 3, "a deployment tool sees the refusal")
        self.assertFalse(self.wine.host_path(INSTALL_DIR).exists(), "nothing installed")
        self.assertIsNone(self.wine.registry_values(UNINSTALL_KEY))

    def test_other_machines_are_refused(self):
        setup = package("--", "-DPRETEND_NATIVE_MACHINE=332")  # x86
        shutil.copy(setup, self.wine.drive_c / "x86-setup.exe")
        r = self.wine.run("C:\\x86-setup.exe", "/S")
        self.wine.wait()
        self.assertEqual(r.returncode, 3)
        self.assertFalse(self.wine.host_path(INSTALL_DIR).exists())


# What scripts/package --windows runs.
PACKAGE_TOOLS = ("cmake", "makensis", "wixl", "msiinfo", "msibuild", "llvm-objcopy-14")


def main(tools=()):
    """Runs the tests of a script, or skips them all (exit 77) when the machine lacks what they need."""
    if not QORIN_EXE.is_file():
        skip_script(f"{QORIN_EXE} does not exist (build the mingw preset first)")
    missing = [tool for tool in (*PACKAGE_TOOLS, *tools) if not shutil.which(tool)]
    if not find_wine():
        missing.append("wine64")
    if missing:
        skip_script("missing tools: " + ", ".join(missing))
    program = unittest.main(verbosity=2, exit=False)
    sys.exit(0 if program.result.wasSuccessful() else 1)


if __name__ == "__main__":
    main()
