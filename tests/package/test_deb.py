#!/usr/bin/env python3
"""The Debian package made by scripts/package: lintian's verdict, its contents, and a whole life in a
scratch root (dpkg --root): install, qorin runs, its manual page and completion work, removal keeps the
backups, purge deletes them. The host's own package database is never touched."""
import gzip
import os
import shutil
import stat
import subprocess
import sys
import unittest
from pathlib import Path

from images import make_fat, run, scratch_dir, skip_script

REPO = Path(__file__).resolve().parents[2]
VERSION = "3.0.2"
TOOLS = ("cmake", "dpkg", "dpkg-deb", "dpkg-shlibdeps", "dpkg-gencontrol", "lintian", "man", "mkfs.fat",
         "objdump", "ldconfig")
# Warnings lintian may give that we keep, each with its reason. None today.
KEPT_WARNINGS = {}

deb = None


def setUpModule():
    global deb
    out = Path(scratch_dir("deb-"))
    run([str(REPO / "scripts" / "package"), "--deb", "--out", str(out)], timeout=900)
    deb = out / f"plinthos_{VERSION}_amd64.deb"


class Lintian(unittest.TestCase):
    def test_no_errors_and_no_unexplained_warnings(self):
        r = run(["lintian", "--pedantic", str(deb)], check=False, timeout=300)
        tags = [line for line in r.stdout.splitlines() if line[:2] in ("E:", "W:")]
        errors = [line for line in tags if line.startswith("E:")]
        warnings = [line for line in tags if line.startswith("W:") and line.split()[2] not in KEPT_WARNINGS]
        self.assertEqual(errors, [], r.stdout)
        self.assertEqual(warnings, [], r.stdout)


class Contents(unittest.TestCase):
    def test_fields(self):
        fields = run(["dpkg-deb", "-f", str(deb), "Package", "Version", "Architecture", "Depends", "Recommends",
                      "Built-Using"]).stdout
        self.assertIn(f"Version: {VERSION}\n", fields)
        self.assertIn("Architecture: amd64\n", fields)
        self.assertIn("Recommends: bash-completion\n", fields)
        self.assertNotIn("Built-Using", fields, "nothing of another Debian source is copied in")
        # Every shared library qorin loads comes from a package the Depends field names.
        # dpkg-shlibdeps sets the versions from the libraries' symbols files; libnettle8's needs none.
        depends_line = fields.split("Depends: ", 1)[1].split("\n", 1)[0]
        depends = {item.split()[0] for item in depends_line.split(",")}
        unpacked = Path(scratch_dir("unpacked-"))
        run(["dpkg-deb", "-x", str(deb), str(unpacked)])
        needed = [line.split()[1] for line in run(["objdump", "-p", str(unpacked / "usr/bin/qorin")]).stdout
                  .splitlines() if line.strip().startswith("NEEDED")]
        # Debian's shared libraries, so their security updates reach qorin.
        for library in ["libc.so.6", "libblkid.so.1", "libnettle.so.8", "libstdc++.so.6"]:
            self.assertIn(library, needed)
        for library in needed:
            with self.subTest(library=library):
                path = next(line.split(" => ")[1] for line in run(["ldconfig", "-p"]).stdout.splitlines()
                            if line.strip().startswith(library + " ") and "x86-64" in line)
                found = run(["dpkg", "-S", path], check=False)  # merged /usr: dpkg may know either path
                if found.returncode != 0:
                    found = run(["dpkg", "-S", os.path.realpath(path)])
                owner = found.stdout.split(":")[0]
                self.assertIn(owner, depends)

    def test_files(self):
        listing = run(["dpkg-deb", "-c", str(deb)]).stdout.splitlines()
        entries = {line.split()[-1].lstrip("."): (line.split()[0], line.split()[1]) for line in listing}
        expected = {"/usr/bin/qorin": "-rwxr-xr-x",
                    "/usr/share/man/man8/qorin.8.gz": "-rw-r--r--",
                    "/usr/share/bash-completion/completions/qorin": "-rw-r--r--",
                    "/usr/share/doc/plinthos/copyright": "-rw-r--r--",
                    "/usr/share/doc/plinthos/changelog.gz": "-rw-r--r--"}
        for path, mode in expected.items():
            with self.subTest(path=path):
                self.assertEqual(entries.get(path), (mode, "root/root"))
        files = [path for path, (mode, _) in entries.items() if not mode.startswith("d")]
        self.assertEqual(sorted(files), sorted(expected), "no other files, no Windows programs")
        # Made by postinst, so that removing the package cannot take the backups with it.
        self.assertNotIn("/var/lib/plinthos/backups/", entries)


class ScratchRoot(unittest.TestCase):
    """dpkg --root with maintainer scripts run outside a chroot; they honour DPKG_ROOT. The packages
    qorin depends on are copied from the host's database, so dpkg still checks the dependencies."""

    def setUp(self):
        self.root = Path(scratch_dir("root-"))
        admin = self.root / "var/lib/dpkg"
        (admin / "info").mkdir(parents=True)
        (admin / "updates").mkdir()
        (admin / "available").touch()
        depends = run(["dpkg-deb", "-f", str(deb), "Depends"]).stdout
        names = [item.split()[0] for item in depends.replace("|", ",").split(",") if item.strip()]
        records = []
        for name in names:
            records.append(run(["dpkg-query", "-s", name]).stdout.rstrip("\n") + "\n")
            package = run(["dpkg-query", "-W", "-f", "${binary:Package}", name]).stdout
            (admin / "info" / f"{package}.list").touch()
        (admin / "status").write_text("\n".join(records))
        self.backups = self.root / "var/lib/plinthos/backups"

    def dpkg(self, *args):
        return run(["dpkg", f"--root={self.root}", "--force-script-chrootless", *args], timeout=120)

    def status(self):
        r = run(["dpkg", f"--root={self.root}", "-s", "plinthos"], check=False)
        return next((line[8:] for line in r.stdout.splitlines() if line.startswith("Status: ")), "not known")

    def qorin(self, *args):
        return run([str(self.root / "usr/bin/qorin"), *args], check=False)

    def test_install_use_remove_purge(self):
        self.dpkg("-i", str(deb))
        self.assertEqual(self.status(), "install ok installed")
        r = self.qorin("version")
        self.assertEqual((r.returncode, r.stdout), (0, f"Plinthos {VERSION}\n"))

        info = self.backups.stat()
        self.assertEqual((stat.S_IMODE(info.st_mode), info.st_uid, info.st_gid), (0o700, 0, 0))

        page = run(["man", "-M", str(self.root / "usr/share/man"), "-P", "cat", "qorin"],
                   env=dict(os.environ, MANWIDTH="80")).stdout
        self.assertIn("qorin - read and change the volume serial number", page, "man finds the installed page")
        complete = run(["bash", "-c", f"source {self.root}/usr/share/bash-completion/completions/qorin"
                                      " && complete -p qorin"]).stdout
        self.assertTrue(complete.strip().endswith("-F _qorin qorin"), complete)
        copyright_text = (self.root / "usr/share/doc/plinthos/copyright").read_text()
        self.assertIn("GCC-exception-3.1", copyright_text, "the licence of what stays embedded")
        with gzip.open(self.root / "usr/share/doc/plinthos/changelog.gz", "rt") as changelog:
            self.assertTrue(changelog.readline().startswith(f"plinthos ({VERSION})"))

        # A real backup, written by the installed qorin into the package's folder.
        image = Path(scratch_dir("image-")) / "fat.img"
        make_fat(str(image), 32, 0x1234ABCD)
        r = self.qorin("set", str(image), "CAFE-F00D", "--yes", "--backup-dir", str(self.backups))
        self.assertEqual(r.returncode, 0, r.stderr)
        saved = sorted(p for p in self.backups.rglob("*") if p.is_file())
        self.assertEqual(len(saved), 1, saved)

        self.dpkg("-r", "plinthos")
        self.assertEqual(self.status(), "deinstall ok config-files")
        self.assertFalse((self.root / "usr/bin/qorin").exists())
        self.assertEqual(sorted(p for p in self.backups.rglob("*") if p.is_file()), saved, "removal keeps backups")

        # Installing again leaves the folder as the administrator set it.
        self.backups.chmod(0o750)
        self.dpkg("-i", str(deb))
        self.assertEqual(stat.S_IMODE(self.backups.stat().st_mode), 0o750)
        self.assertEqual(self.qorin("version").returncode, 0)

        out = self.dpkg("-P", "plinthos").stdout
        self.assertIn("deleting the boot-sector backups in /var/lib/plinthos/backups", out)
        self.assertEqual(self.status(), "not known")
        self.assertFalse((self.root / "var/lib/plinthos").exists(), "purge deletes the backups and their folder")
        self.assertFalse((self.root / "usr/bin/qorin").exists())


if __name__ == "__main__":
    missing = [tool for tool in TOOLS if not (shutil.which(tool) or Path("/sbin", tool).exists())]
    if missing:
        skip_script("missing tools: " + ", ".join(missing))
    if os.geteuid() != 0:
        skip_script("needs root: dpkg --root installs root-owned files and runs the maintainer scripts")
    program = unittest.main(verbosity=2, exit=False)
    sys.exit(0 if program.result.wasSuccessful() else 1)
