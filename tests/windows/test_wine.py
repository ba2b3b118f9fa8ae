#!/usr/bin/env python3
"""The cross-built qorin.exe (and the platform checks) under Wine, in a private prefix; and DLLs planted beside
copies of qorin.exe and Dravik.exe, which neither may load.

Nothing here may change a volume: the only drive a change is pointed at is C:, the prefix's own
drive_c folder, which Wine refuses to open as a device. The host root (z:) is unmapped first.
"""
import hashlib
import json
import re
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
from pathlib import Path

QORIN_EXE = os.environ.get("QORIN_EXE", "")
IMAGE_SERIAL = "1234ABCD"
LABEL = "Žluťoučký kůň"

ADMIN_LINE = (b"Changing a serial requires administrator rights."
              b" Please run qorin from an elevated command prompt (Run as administrator).\r\n")


def find_wine():
    for candidate in (shutil.which("wine64"), "/usr/lib/wine/wine64", shutil.which("wine")):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    return None


def find_tool(name):
    return shutil.which(name) or next((p for p in (f"/sbin/{name}", f"/usr/sbin/{name}") if os.access(p, os.X_OK)),
                                      None)


def skip_reason():
    if not QORIN_EXE:
        return "QORIN_EXE is not set (no cross-built qorin.exe)"
    if not Path(QORIN_EXE).is_file():
        return f"QORIN_EXE {QORIN_EXE} does not exist (build the mingw preset first)"
    if not find_wine():
        return "wine64 is not installed"
    return None


class Wine:
    """A private prefix with qorin.exe copied into C:\\plinthos, C: labelled LABEL, a FAT image mapped as D:."""

    def __init__(self):
        self.wine = find_wine()
        self.root = Path(tempfile.mkdtemp(prefix="plinthos-wine-"))
        self.prefix = self.root / "prefix"
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.env.pop("DISPLAY", None)
        self.server = None
        try:
            self._prepare()
        except BaseException:
            self.close()
            raise

    def _prepare(self):
        subprocess.run([self.wine, "wineboot", "-i"], env=self.env, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL, timeout=300, check=True)
        dosdevices = self.prefix / "dosdevices"
        # Wine's dismount runs umount on the folder behind a drive: keep the host's folders out of reach.
        for drive in dosdevices.iterdir():
            if drive.name not in ("c:", "com1"):
                drive.unlink()
        self.drive_c = self.prefix / "drive_c"
        # The changes below are pointed at C:, so it must be this prefix's own folder and nothing else.
        if (dosdevices / "c:").resolve() != self.drive_c.resolve() or (dosdevices / "c::").exists():
            raise RuntimeError(f"C: of {self.prefix} is not its drive_c")
        self.work = self.drive_c / "plinthos"
        self.work.mkdir()
        shutil.copy(QORIN_EXE, self.work / "qorin.exe")
        self.image_drive = self._map_fat_image(dosdevices)
        # Wine takes a folder drive's label from this file, read once: a non-ASCII label for the output tests.
        (self.drive_c / ".windows-label").write_text(LABEL + "\n", encoding="utf-8")
        self._server("-k")  # the drive manager reads dosdevices when it starts
        # One server and its services for all runs, instead of a start and a shutdown per run.
        self.server = subprocess.Popen([self._server_path(), "-p", "-f"], env=self.env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL) if self._server_path() else None

    def _server_path(self):
        server = Path(self.wine).with_name("wineserver")
        return str(server) if server.exists() else shutil.which("wineserver")

    def _server(self, option):
        if self._server_path():
            subprocess.run([self._server_path(), option], env=self.env, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL, timeout=60)

    def _map_fat_image(self, dosdevices):
        mkfs = find_tool("mkfs.fat")
        if not mkfs:
            return None
        image = self.root / "fat.img"
        subprocess.run([mkfs, "-C", "-i", IMAGE_SERIAL, str(image), "8192"], stdout=subprocess.DEVNULL, check=True)
        folder = self.root / "d-folder"  # empty; only read through, never changed
        folder.mkdir()
        (dosdevices / "d::").symlink_to(image)
        (dosdevices / "d:").symlink_to(folder)
        return "D"

    def run(self, exe, *args):
        # Files, not pipes: Wine's background services inherit the streams and would hold a pipe open.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run([self.wine, exe, *args], env=self.env, cwd=self.work, stdout=out, stderr=err,
                                  timeout=120).returncode
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(args, code, out.read(), err.read())

    def qorin(self, *args):
        return self.run("C:\\plinthos\\qorin.exe", *args)

    def close(self):
        self._server("-k")
        if self.server:
            self.server.wait(timeout=60)
        shutil.rmtree(self.root, ignore_errors=True)


wine = None


def setUpModule():
    global wine
    wine = Wine()


def tearDownModule():
    if wine:
        wine.close()


# Sentences a change of C: may end in under Wine, each with its exit code; all of them write nothing.
FAILURES = [
    (re.compile(r"Couldn't open C: \(.+\)\."), 1),
    (re.compile(r"The boot sector of C: couldn't be read( \(.+\))?\. Nothing was written\."), 1),
    (re.compile(r"The file system on C: isn't supported\. .*"), 6),
    (re.compile(r"C: is in use and couldn't be locked\. .*"), 4),
    (re.compile(re.escape(ADMIN_LINE.decode()[:-2])), 3),
]


def failure_code(text):
    """The exit code that goes with a failure sentence (one line), or None for any other text."""
    if not text.endswith("\r\n") or "\r\n" in text[:-2]:
        return None
    return next((code for pattern, code in FAILURES if pattern.fullmatch(text[:-2])), None)


def lines(data):
    """Lines of a redirected stream, which must all end in CRLF."""
    text = data.decode("utf-8")
    assert text == "" or text.endswith("\r\n"), repr(text[-20:])
    return text[:-2].split("\r\n") if text else []


class Usage(unittest.TestCase):
    def test_version(self):
        for args in (["version"], ["--version"], ["version", "extra"]):
            with self.subTest(args=args):
                r = wine.qorin(*args)
                self.assertEqual(r.returncode, 0)
                self.assertEqual(r.stdout, b"Plinthos 3.0.2\r\n")
                self.assertEqual(r.stderr, b"")

    def test_usage_and_help(self):
        cases = [([], 2, False), (["help"], 0, True), (["--help"], 0, True), (["-h"], 0, True), (["/?"], 0, True),
                 (["list", "--help"], 2, False), (["LIST"], 2, False), (["list", "extra"], 2, False),
                 (["c", "C:"], 2, False), (["restore", "C:", "a", "b"], 2, False)]
        for args, code, extra in cases:
            with self.subTest(args=args):
                r = wine.qorin(*args)
                self.assertEqual(r.returncode, code)
                out = lines(r.stdout)
                self.assertEqual(out[0], "Plinthos 3.0.2 (command line)")
                self.assertEqual(len(out), 22 if extra else 21)
                self.assertEqual(out[20], "  Changes only the file-system Volume Serial Number, not the drive's hardware serial.")
                if extra:
                    self.assertTrue(out[21].startswith("  Graphical version: Plinthos, "), out[21])

    def test_unknown_option_named_on_stderr(self):
        for args, named in ((["list", "--jsn", "--xx"], "--xx"), (["list", "--backup-dir"], "--backup-dir"),
                            (["-q"], "-q")):
            with self.subTest(args=args):
                r = wine.qorin(*args)
                self.assertEqual(r.returncode, 2)
                self.assertEqual(r.stderr, f"Unknown option: {named}\r\n".encode())
                self.assertEqual(lines(r.stdout)[0], "Plinthos 3.0.2 (command line)")


class Listing(unittest.TestCase):
    def list_json(self, *extra):
        r = wine.qorin("list", "--json", *extra)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertFalse(r.stdout.startswith(b"\xef\xbb\xbf"), "no byte-order mark")
        self.assertEqual(len(lines(r.stdout)), 1, r.stdout)
        return json.loads(r.stdout.decode("utf-8"))

    def test_list_json_is_one_line_with_the_windows_drive(self):
        volumes = self.list_json()
        self.assertIsInstance(volumes, list)
        system = [v for v in volumes if v["system"]]
        self.assertEqual([(v["drive"], v["label"]) for v in system], [("C:", LABEL)])
        text = lines(wine.qorin("list").stdout)
        self.assertTrue(any(row.startswith("C:") and LABEL in row for row in text), text)
        for v in volumes:
            self.assertTrue(v["volume"].startswith("\\\\?\\Volume{") and not v["volume"].endswith("\\"), v["volume"])
            self.assertTrue(v["mountPoints"], "hidden volumes only with --all")
        everything = self.list_json("--all")
        self.assertTrue({v["volume"] for v in volumes} <= {v["volume"] for v in everything})

    def test_image_drive_shows_the_serial_mkfs_wrote(self):
        if not wine.image_drive:
            self.skipTest("mkfs.fat is not installed")
        entry = [v for v in self.list_json() if v["drive"] == "D:"]
        self.assertEqual(len(entry), 1)
        self.assertEqual(entry[0]["serial"], "1234-ABCD")
        self.assertEqual(entry[0]["fileSystem"], "FAT")
        self.assertTrue(entry[0]["supported"] and entry[0]["mediaPresent"] and not entry[0]["system"])

        r = wine.qorin("get", "d:", "--json")
        self.assertEqual(r.returncode, 0, r.stderr)
        got = json.loads(r.stdout.decode("utf-8"))
        self.assertEqual((got["drive"], got["serial"], got["fullSerial"]), ("D:", "1234-ABCD", None))
        # Wine answers no disk extents, so an elevated probe cannot tell; unelevated it is not run.
        self.assertIn(got["encryption"], ("unknown", None))

    def test_get_unknown_drive(self):
        for typed in ("Q:", "q", " Q: "):
            with self.subTest(typed=typed):
                r = wine.qorin("get", typed)
                self.assertEqual(r.returncode, 2)
                self.assertEqual(r.stdout, b"")
                self.assertEqual(r.stderr.decode("utf-8"),
                                 f"\"{typed}\" isn't a volume on this computer. Run \"qorin list\" to see them.\r\n")


class Changes(unittest.TestCase):
    def setUp(self):
        self.backups = wine.work / f"backups-{self.id().rsplit('.', 1)[-1]}"
        self.backups_arg = "C:\\plinthos\\" + self.backups.name

    def written_backups(self):
        return [p for p in self.backups.rglob("*") if p.is_file()] if self.backups.exists() else []

    def test_set_and_random_fail_without_writing(self):
        # Wine cannot hand out C:'s boot sector, so a change must end in a failure sentence, never success.
        for args in (["set", "C:", "1234-ABCD", "--yes"], ["random", "C:", "--yes"], ["c", "C:", "1234-ABCD"]):
            with self.subTest(args=args):
                r = wine.qorin(*args, "--backup-dir", self.backups_arg)
                self.assertNotIn(b"changed from", r.stdout + r.stderr)
                self.assertEqual(r.stdout, b"")
                self.assertEqual(failure_code(r.stderr.decode("utf-8")), r.returncode)
                self.assertEqual(self.written_backups(), [])

    def test_set_json_reports_the_failure(self):
        r = wine.qorin("set", "C:", "1234-ABCD", "--yes", "--json", "--backup-dir", self.backups_arg)
        if r.returncode == 3 and r.stderr == ADMIN_LINE:
            return
        self.assertEqual(len(lines(r.stdout)), 1, r.stdout)
        result = json.loads(r.stdout.decode("utf-8"))
        self.assertEqual(result["exit"], r.returncode)
        self.assertEqual(failure_code(result["message"] + "\r\n"), r.returncode)
        self.assertIn(result["error"], ("OpenFailed", "Plan"))
        self.assertEqual((result["drive"], result["backup"]), ("C:", None))
        self.assertEqual(self.written_backups(), [])

    def test_bad_serial_is_refused_before_the_drive(self):
        r = wine.qorin("set", "Q:", "ZZ", "--yes")
        self.assertEqual(r.returncode, 2)
        self.assertEqual(r.stderr, b"\"ZZ\" isn't a serial number. Format: XXXX-XXXX (hexadecimal).\r\n")

    def test_backups_lists_nothing(self):
        r = wine.qorin("backups", "C:", "--backup-dir", self.backups_arg)
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout.decode("utf-8"), f"No backups for C: in {self.backups_arg}.\r\n")
        r = wine.qorin("backups", "C:", "--json", "--backup-dir", self.backups_arg)
        self.assertEqual((r.returncode, r.stdout), (0, b"[]\r\n"))

    def test_restore_without_backups(self):
        r = wine.qorin("restore", "C:", "--yes", "--backup-dir", self.backups_arg)
        if r.returncode == 3 and r.stderr == ADMIN_LINE:
            return
        self.assertEqual(r.returncode, 9)
        self.assertEqual(r.stderr.decode("utf-8"), f"No backups for C: in {self.backups_arg}.\r\n")

    def test_restore_of_a_damaged_file_names_the_parse_error(self):
        region = b"0" * 64  # the digest of no 512-byte sector
        header = (b"TLXBAK 1\nfs=FAT32\nbytesPerSector=512\ndeviceSector=512\noldSerial=1234ABCD\n"
                  b"newSerial=0BADF00D\nregion=BootSector 0 1 " + region + b"\n\n")
        cases = [("magic", b"hello, world\n\n", "BadMagic"),
                 ("version", b"TLXBAK 2\nfs=FAT32\n\n", "UnsupportedVersion"),
                 ("header", b"TLXBAK 1\n\n", "BadHeader"),
                 ("cut", header + b"\0" * 100, "Truncated"),
                 ("digest", header + b"\0" * 512, "ChecksumMismatch")]
        self.backups.mkdir(exist_ok=True)
        for stem, content, name in cases:
            with self.subTest(name=name):
                (self.backups / f"{stem}.tlxbak").write_bytes(content)
                path = f"{self.backups_arg}\\{stem}.tlxbak"
                r = wine.qorin("restore", "C:", path, "--yes", "--backup-dir", self.backups_arg)
                if r.returncode == 3 and r.stderr == ADMIN_LINE:
                    continue
                self.assertEqual(r.returncode, 9, r.stderr)
                self.assertEqual(r.stderr.decode("utf-8"), f"The backup file {path} can't be used: {name}.\r\n")

        missing = f"{self.backups_arg}\\missing.tlxbak"
        r = wine.qorin("restore", "C:", missing, "--yes")
        if not (r.returncode == 3 and r.stderr == ADMIN_LINE):
            err = r.stderr.decode("utf-8")
            self.assertEqual(r.returncode, 9, err)
            self.assertTrue(err.startswith(f"The backup file {missing} can't be used: Truncated (") and
                            err.endswith(").\r\n"), err)


class PlatformChecks(unittest.TestCase):
    def test_platform_layer(self):
        checks = os.environ.get("WIN_PLATFORM_CHECKS") or str(
            Path(QORIN_EXE).resolve().parents[1] / "tests" / "windows" / "win_platform_checks.exe")
        if not Path(checks).is_file():
            self.skipTest(f"{checks} was not built")
        shutil.copy(checks, wine.work / "win_platform_checks.exe")
        args = [f"utc={int(time.time())}"]
        if wine.image_drive:
            args += [f"image={wine.image_drive}", f"serial={IMAGE_SERIAL}"]
        mkfs = find_tool("mkfs.fat")
        if mkfs:
            image = wine.work / "check.img"
            subprocess.run([mkfs, "-C", str(image), "1024"], stdout=subprocess.DEVNULL, check=True)
            args += ["imagefile=C:\\plinthos\\check.img", "folder=C:\\plinthos"]
        r = wine.run("C:\\plinthos\\win_platform_checks.exe", *args)
        output = r.stdout.decode("utf-8", "replace")
        failed = [line for line in output.splitlines() if line.startswith("FAIL")]
        print(output)
        self.assertEqual((r.returncode, failed), (0, []), output)

# Every DLL either program uses that is not a KnownDLL, comctl32, which Dravik's manifest binds, and a few
# that system DLLs load by name.
PLANTED_DLLS = ["propsys", "bcrypt", "uxtheme", "comctl32", "version", "cryptbase", "profapi"]
MARKER_SOURCE = r"""
#include <windows.h>
BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)instance; (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) {
        HANDLE file = CreateFileA("C:\\markers\\" MARKER ".loaded", GENERIC_WRITE, 0, NULL, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, NULL);
        if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    }
    return TRUE;
}
"""


class PlantedDlls(unittest.TestCase):
    """DLLs planted beside copies of qorin.exe and Dravik.exe in a folder others can write (Downloads, the USB
    stick being changed): each writes a marker file when loaded, and none may ever be. Wine, like Windows,
    takes a DLL that is not a KnownDLL from the program's folder first, before its own."""

    @classmethod
    def setUpClass(cls):
        compiler = shutil.which("x86_64-w64-mingw32-gcc")
        dravik = Path(QORIN_EXE).resolve().parents[1] / "window" / "Dravik.exe"
        if not compiler or not dravik.is_file():
            raise unittest.SkipTest("needs x86_64-w64-mingw32-gcc (mingw-w64) and Dravik.exe")
        cls.folder = wine.drive_c / "planted"
        cls.markers = wine.drive_c / "markers"
        cls.folder.mkdir()
        cls.markers.mkdir()
        shutil.copy(QORIN_EXE, cls.folder / "qorin.exe")
        shutil.copy(dravik, cls.folder / "Dravik.exe")
        source = wine.root / "marker.c"
        source.write_text(MARKER_SOURCE)
        for name in PLANTED_DLLS:
            subprocess.run([compiler, "-shared", "-O2", f'-DMARKER="{name}"', "-o", str(cls.folder / f"{name}.dll"),
                            str(source)], check=True)
        # A FAT32 backup in the file format, so that reading it hashes its regions.
        sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "fixtures"))
        import images
        cls.backup = images.fat32_backup(0x1234ABCD, 0x5EB1C0DE, "2026-12-01T10:00:00Z")
        (cls.folder / "saved.tlxbak").write_bytes(cls.backup)

    def loaded(self):
        return sorted(p.name for p in self.markers.iterdir())

    def test_qorin_loads_none_of_them(self):
        runs = [("version",), ("list", "--json"), ("get", "C:"), ("random", "C:", "--yes"),
                ("restore", "C:", "C:\\planted\\saved.tlxbak", "--yes")]
        for args in runs:
            with self.subTest(args=args):
                r = wine.run("C:\\planted\\qorin.exe", *args)
                self.assertEqual(self.loaded(), [], f"qorin {' '.join(args)} loaded a planted DLL")
        # The system's own DLLs did the work: the backup's digests were checked, so the restore got as far
        # as the volume.
        self.assertNotIn(b"ChecksumMismatch", r.stdout + r.stderr)

    def test_dravik_and_its_elevated_instance_load_none_of_them(self):
        result = self.folder / "run.tlxresult"
        result.write_bytes(b"")
        r = wine.run("C:\\planted\\Dravik.exe", "--elevated-op", "C:\\planted\\run.tlxresult", "restore", "C:\\",
                     "C:\\planted\\saved.tlxbak", hashlib.sha256(self.backup).hexdigest(), "0", "0", "0")
        self.assertEqual(self.loaded(), [], "Dravik's elevated instance loaded a planted DLL")
        self.assertEqual(r.returncode, 0, r.stderr)
        values = dict(line.split("=", 1) for line in result.read_text().splitlines())
        # SHA-256 through the system's bcrypt.dll: the backup parsed and its digest matched.
        self.assertEqual((values["ran"], values["parseError"]), ("1", "0"))


if __name__ == "__main__":
    reason = skip_reason()
    if reason:
        print(f"SKIP: {reason}")
        sys.exit(77)
    unittest.main(verbosity=2)
