#!/usr/bin/env python3
"""What scripts/package makes for Windows besides the setup's life (test_installer.py): version
information and manifests read back from the programs, programs without debug information and their
symbols kept, an x86 setup, the MSIs judged by msiinfo (and the x64 one installed, used, upgraded and
removed by Wine's msiexec), the winget manifest, and signing with a throwaway certificate checked by
osslsigncode."""
import hashlib
import os
import re
import shutil
import subprocess
import sys
import unittest
import uuid
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from images import make_fat, run, scratch_dir  # noqa: E402
from pe_file import RT_MANIFEST, RT_VERSION, PeFile, version_info  # noqa: E402
from test_installer import (ARM64_BUILD, INSTALL_DIR, MACHINE_ARM64, MACHINE_X64, MACHINE_X86,  # noqa: E402
                            QORIN_EXE, REPO, VERSION, Wine, main, package, pe_machine)

UPGRADE_CODE = "{93BACF39-7C0C-41C2-8C7F-A8945037FC9B}"
PROTECTED_SDDL = "O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;OICI;FRFX;;;BU)"
DESCRIPTIONS = {"qorin.exe": "Plinthos command line (qorin)", "Dravik.exe": "Plinthos"}
MACHINES = {"x64": MACHINE_X64, "arm64": MACHINE_ARM64}


def msi_table(msi, table):
    """The rows of an MSI table as lists of strings (msiinfo export: names, types, key line, rows)."""
    out = run(["msiinfo", "export", str(msi), table]).stdout
    return [line.split("\t") for line in out.splitlines()[3:]]


def summary(msi):
    out = run(["msiinfo", "suminfo", str(msi)]).stdout
    return dict(line.split(": ", 1) for line in out.splitlines() if ": " in line)


def debug_sections(path):
    return [name for name in PeFile.read(path).section_names() if name.startswith(".debug")]


class UnsignedPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.setup = package(for_wine=False, env=without_signing())
        cls.out = cls.setup.parent
        cls.archs = [arch for arch in ("x64", "arm64") if (cls.out / "windows" / arch / "qorin.exe").is_file()]

    def programs(self):
        for arch in self.archs:
            for program in sorted((self.out / "windows" / arch).glob("*.exe")):
                yield arch, program

    def test_programs_carry_version_information(self):
        self.assertIn("x64", self.archs)
        names = set()
        for arch, program in self.programs():
            with self.subTest(program=f"{arch}/{program.name}"):
                pe = PeFile.read(program)
                self.assertEqual(pe.machine, MACHINES[arch])
                blocks = pe.resources(RT_VERSION)
                self.assertEqual(list(blocks), [(1, 0x409)])
                numbers, strings = version_info(blocks[(1, 0x409)])
                self.assertEqual(numbers, (3, 0, 2, 0))
                self.assertEqual(strings, {
                    "CompanyName": "Morvane", "FileDescription": DESCRIPTIONS[program.name],
                    "FileVersion": "3.0.2.0", "InternalName": program.name, "LegalCopyright": "Copyright 2026 Morvane",
                    "OriginalFilename": program.name, "ProductName": "Plinthos", "ProductVersion": "3.0.2.0"})
                names.add(program.name)
        self.assertIn("qorin.exe", names)

    def test_qorin_has_its_manifest(self):
        for arch in self.archs:
            with self.subTest(arch=arch):
                manifests = PeFile.read(self.out / "windows" / arch / "qorin.exe").resources(RT_MANIFEST)
                self.assertEqual(list(manifests), [(1, 0x409)], "the process manifest")
                text = manifests[(1, 0x409)].decode("utf-8")
                self.assertRegex(text, r'requestedExecutionLevel level="asInvoker"')
                self.assertRegex(text, r"<longPathAware [^>]*>true</longPathAware>")
                self.assertEqual(len(re.findall(r"<supportedOS Id=", text)), 4)

    def test_programs_ship_without_debug_information(self):
        for arch, program in self.programs():
            with self.subTest(program=f"{arch}/{program.name}"):
                self.assertEqual(debug_sections(program), [])
                symbols = self.out / "symbols" / arch / f"{program.name}.debug"
                pe = PeFile.read(program)
                link = dict((name, raw) for name, _, _, raw in pe.sections).get(".gnu_debuglink")
                self.assertIsNotNone(link, "the program names its symbols file")
                self.assertEqual(pe.data[link:link + len(symbols.name) + 1], symbols.name.encode() + b"\0")
                built = (QORIN_EXE.parents[1] if arch == "x64" else ARM64_BUILD) / \
                    ("console" if program.name == "qorin.exe" else "window") / program.name
                if debug_sections(built):
                    self.assertIn(".debug_info", debug_sections(symbols), "the debug information is kept")
                    self.assertLess(program.stat().st_size, built.stat().st_size)

    def test_the_setup_is_an_x86_program(self):
        self.assertEqual(pe_machine(self.setup), MACHINE_X86, "Windows 10 on ARM64 emulates x86 only")

    def test_it_says_the_files_are_unsigned(self):
        self.assertIn("UNSIGNED", (self.out / "package.log").read_text())
        r = subprocess.run(["osslsigncode", "verify", "-in", str(self.setup)], capture_output=True, text=True)
        self.assertNotEqual(r.returncode, 0)

    def test_msi_packages(self):
        for arch in self.archs:
            msi = self.out / f"Plinthos-{VERSION}-{arch}.msi"
            with self.subTest(msi=msi.name):
                info = summary(msi)
                self.assertEqual(info["Template"], {"x64": "x64;1033", "arm64": "Arm64;1033"}[arch])
                self.assertEqual(info["Version"], "500 (1f4)", "the schema Windows Installer needs for ARM64")
                properties = dict(row[:2] for row in msi_table(msi, "Property"))
                self.assertEqual((properties["UpgradeCode"], properties["ProductVersion"], properties["ALLUSERS"]),
                                 (UPGRADE_CODE, VERSION, "1"))
                self.assertIn(UPGRADE_CODE, [row[0] for row in msi_table(msi, "Upgrade")], "later versions upgrade")
                directories = {row[0]: row[1:] for row in msi_table(msi, "Directory")}
                self.assertEqual(directories["INSTALLDIR"], ["ProgramFiles64Folder", "Plinthos"])
                self.assertEqual(directories["BACKUPSDIR"], ["PLINTHOSDIR", "Backups"])
                self.assertEqual(directories["PLINTHOSDIR"], ["MORVANEDIR", "Plinthos"])
                self.assertEqual(directories["MORVANEDIR"], ["CommonAppDataFolder", "Morvane"])
                locks = {row[1]: row[2:4] for row in msi_table(msi, "MsiLockPermissionsEx")}
                self.assertEqual(locks, {d: ["CreateFolder", PROTECTED_SDDL]
                                         for d in ("INSTALLDIR", "MORVANEDIR", "PLINTHOSDIR", "BACKUPSDIR")})
                self.assertEqual(sorted(tuple(row) for row in msi_table(msi, "CreateFolder")),
                                 sorted([("BACKUPSDIR", "BackupsFolder"), ("INSTALLDIR", "Programs"),
                                         ("MORVANEDIR", "MorvaneFolder"), ("PLINTHOSDIR", "PlinthosFolder")]))
                components = {row[0]: int(row[3]) for row in msi_table(msi, "Component")}
                for name, attributes in components.items():
                    self.assertTrue(attributes & 256, f"{name} is a 64-bit component")
                    self.assertEqual(bool(attributes & 16), name.endswith("Folder"),
                                     f"only the backups' folders are permanent ({name})")
                files = sorted(row[2] for row in msi_table(msi, "File"))
                shipped = sorted(p.name for p in (self.out / "windows" / arch).glob("*.exe"))
                self.assertEqual(files, shipped)
                if "Dravik.exe" in shipped:
                    shortcut = msi_table(msi, "Shortcut")[0]
                    self.assertEqual(shortcut[1:5], ["ProgramMenuFolder", "Plinthos", "Window", "[#Dravik.exe]"])
                extracted = Path(scratch_dir("msi-"))
                run(["msiextract", "-C", str(extracted), str(msi)])
                for name in shipped:
                    found = list(extracted.rglob(name))
                    self.assertEqual(len(found), 1, name)
                    self.assertEqual(found[0].read_bytes(), (self.out / "windows" / arch / name).read_bytes())

    def test_winget_manifest(self):
        import yaml
        folder = self.out / "winget"
        manifests = {p.name: yaml.safe_load(p.read_text()) for p in folder.glob("*.yaml")}
        self.assertEqual(sorted(manifests), ["Morvane.Plinthos.installer.yaml", "Morvane.Plinthos.locale.en-US.yaml",
                                             "Morvane.Plinthos.yaml"])
        for manifest in manifests.values():
            self.assertEqual((manifest["PackageIdentifier"], manifest["PackageVersion"], manifest["ManifestVersion"]),
                             ("Morvane.Plinthos", VERSION, "1.6.0"))
        installer = manifests["Morvane.Plinthos.installer.yaml"]
        self.assertEqual((installer["InstallerType"], installer["Scope"]), ("nullsoft", "machine"))
        self.assertEqual(installer["InstallerSwitches"]["Silent"], "/S")
        sha256 = hashlib.sha256(self.setup.read_bytes()).hexdigest().upper()
        self.assertEqual([(i["Architecture"], i["InstallerSha256"]) for i in installer["Installers"]],
                         [(arch, sha256) for arch in self.archs])
        for entry in installer["Installers"]:
            self.assertTrue(entry["InstallerUrl"].endswith(f"/Plinthos-{VERSION}-setup.exe"))
        self.assertEqual(manifests["Morvane.Plinthos.yaml"]["ManifestType"], "version")
        self.assertEqual(manifests["Morvane.Plinthos.locale.en-US.yaml"]["ManifestType"], "defaultLocale")


def without_signing():
    env = dict(os.environ)
    for name in ("PLINTHOS_SIGN_PKCS12", "PLINTHOS_SIGN_PASSWORD", "PLINTHOS_SIGN_TIMESTAMP"):
        env.pop(name, None)
    return env


def make_certificate(folder, name):
    """A throwaway code-signing certificate: NAME.pem and NAME.p12 (password "pass phrase")."""
    key, cert, p12 = (folder / f"{name}.{ext}" for ext in ("key", "pem", "p12"))
    run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", str(key), "-out", str(cert),
         "-days", "2", "-subj", f"/CN=Plinthos test {name}", "-addext", "keyUsage=critical,digitalSignature",
         "-addext", "extendedKeyUsage=codeSigning"])
    run(["openssl", "pkcs12", "-export", "-inkey", str(key), "-in", str(cert), "-out", str(p12),
         "-passout", "pass:pass phrase"])
    return cert, p12


def verify(path, ca):
    return subprocess.run(["osslsigncode", "verify", "-CAfile", str(ca), "-in", str(path)],
                          capture_output=True, text=True, timeout=120)


class SignedPackage(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        folder = Path(scratch_dir("certificates-"))
        cls.cert, cls.p12 = make_certificate(folder, "signer")
        cls.stranger, _ = make_certificate(folder, "stranger")
        env = dict(without_signing(), PLINTHOS_SIGN_PKCS12=str(cls.p12), PLINTHOS_SIGN_PASSWORD="pass phrase")
        cls.setup = package(for_wine=False, env=env)
        cls.out = cls.setup.parent
        # The setup Wine runs, to reach the uninstaller it writes (the amd64 stub where Wine lacks x86).
        cls.wine_setup = package(env=env)

    def shipped(self):
        files = [self.setup, *sorted(self.out.glob("*.msi")), *sorted((self.out / "windows").glob("*/*.exe"))]
        self.assertGreaterEqual(len(files), 4)
        return files

    def test_every_shipped_file_is_signed_by_the_certificate(self):
        for path in self.shipped():
            with self.subTest(file=str(path.relative_to(self.out))):
                r = verify(path, self.cert)
                self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
                self.assertIn("Signature verification: ok", r.stdout)
                self.assertNotEqual(verify(path, self.stranger).returncode, 0, "no other certificate vouches for it")

    def test_a_certificate_that_cannot_sign_stops_the_package(self):
        out = Path(scratch_dir("setup-"))
        env = dict(without_signing(), PLINTHOS_SIGN_PKCS12=str(self.p12), PLINTHOS_SIGN_PASSWORD="wrong")
        r = subprocess.run([str(REPO / "scripts/package"), "--windows", "--no-arm64", "--out", str(out)],
                           capture_output=True, text=True, env=env, timeout=900)
        self.assertNotEqual(r.returncode, 0)
        self.assertIn(f"sign: could not sign {out}/windows/x64/", r.stderr)
        self.assertEqual(list(out.glob("Plinthos-*")), [], "no setup, no MSI")

    def test_the_uninstaller_is_signed(self):
        wine = Wine()
        try:
            shutil.copy(self.wine_setup, wine.drive_c / "setup.exe")
            r = wine.run("C:\\setup.exe", "/S")
            wine.wait()
            self.assertEqual(r.returncode, 0, r.stderr)
            uninstaller = wine.host_path(f"{INSTALL_DIR}\\uninstall.exe")
            r = verify(uninstaller, self.cert)
            self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        finally:
            wine.close()


UNINSTALL_ROOT = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall"


class MsiUnderWine(unittest.TestCase):
    """The x64 MSI's life under Wine's msiexec: install, the programs run, a change saves its backup in
    the folder the MSI made, a later version upgrades in place, uninstalling keeps the backups."""

    @classmethod
    def setUpClass(cls):
        cls.out = package(for_wine=False, env=without_signing()).parent
        cls.wine = Wine()

    @classmethod
    def tearDownClass(cls):
        cls.wine.close()

    def product_codes(self):
        r = self.wine.run("reg", "query", UNINSTALL_ROOT)
        return sorted(set(re.findall(r"\{[0-9A-F-]{36}\}", r.stdout.decode("utf-8", "replace"))))

    def msiexec(self, *args):
        r = self.wine.run("msiexec", *args, "/qn")
        self.wine.wait()
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)

    def later_version(self, msi):
        """The same package as version 3.0.3: a new product and package code, the same upgrade code, and
        the upgrade rows wixl makes for that version (older ones are replaced, newer ones refused)."""
        later = Path(scratch_dir("msi-")) / "Plinthos-3.0.3-x64.msi"
        shutil.copy(msi, later)
        product = "{" + str(uuid.uuid4()).upper() + "}"
        run(["msibuild", str(later), "-q", "UPDATE `Property` SET `Value` = '3.0.3' WHERE `Property` = 'ProductVersion'",
             "-q", f"UPDATE `Property` SET `Value` = '{product}' WHERE `Property` = 'ProductCode'",
             "-q", "DELETE FROM `Upgrade`",
             "-q", "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMax`, `Attributes`, `ActionProperty`) "
                   f"VALUES ('{UPGRADE_CODE}', '3.0.3', 1, 'WIX_UPGRADE_DETECTED')",
             "-q", "INSERT INTO `Upgrade` (`UpgradeCode`, `VersionMin`, `Attributes`, `ActionProperty`) "
                   f"VALUES ('{UPGRADE_CODE}', '3.0.3', 2, 'WIX_DOWNGRADE_DETECTED')",
             "-s", "Plinthos 3.0.3", "Morvane", "x64;1033", "{" + str(uuid.uuid4()).upper() + "}"])
        return later, product

    def test_install_use_upgrade_uninstall(self):
        wine = self.wine
        msi = self.out / f"Plinthos-{VERSION}-x64.msi"
        shutil.copy(msi, wine.drive_c / "plinthos.msi")
        before = self.product_codes()
        self.msiexec("/i", "C:\\plinthos.msi")
        installed = wine.host_path(INSTALL_DIR)
        staged = self.out / "windows/x64"
        shipped = sorted(p.name for p in staged.glob("*.exe"))
        self.assertEqual(sorted(p.name for p in installed.iterdir()), shipped)
        for name in shipped:
            self.assertEqual((installed / name).read_bytes(), (staged / name).read_bytes())
        self.assertEqual(len(self.product_codes()), len(before) + 1, "one entry in Add or remove programs")

        r = wine.run(f"{INSTALL_DIR}\\qorin.exe", "version")
        self.assertEqual((r.returncode, r.stdout), (0, f"Plinthos {VERSION}\r\n".encode()))
        if "Dravik.exe" in shipped:
            # The elevated role shows no window: wrong arguments end it with exit code 2.
            r = wine.run(f"{INSTALL_DIR}\\Dravik.exe", "--elevated-op")
            self.assertEqual(r.returncode, 2, r.stderr)
            # Wine's msiexec puts a per-machine package's shortcut into the user's Start menu.
            shortcuts = list(wine.drive_c.glob("**/Start Menu/Programs/Plinthos.lnk"))
            self.assertEqual(len(shortcuts), 1)
            self.assertIn("Dravik.exe".encode("utf-16-le"), shortcuts[0].read_bytes())
        backups = wine.drive_c / "ProgramData/Morvane/Plinthos/Backups"
        self.assertTrue(backups.is_dir(), "the MSI made the backups folder")
        make_fat(str(wine.drive_c / "fat.img"), 16, 0x1234ABCD)
        # Wine reports the user as the owner of every folder, so qorin refuses the default folder there
        # (on Windows the MSI's DACL makes it the Administrators'); named, the folder is used as it is.
        r = wine.run(f"{INSTALL_DIR}\\qorin.exe", "set", "C:\\fat.img", "CAFE-F00D", "--yes")
        self.assertEqual(r.returncode, 1, r.stdout + r.stderr)
        self.assertIn(b"couldn't be saved to C:\\ProgramData\\Morvane\\Plinthos\\Backups", r.stdout + r.stderr)
        self.assertEqual(list(backups.rglob("*.tlxbak")), [], "nothing saved where qorin refused")
        r = wine.run(f"{INSTALL_DIR}\\qorin.exe", "set", "C:\\fat.img", "CAFE-F00D", "--yes",
                     "--backup-dir", "C:\\ProgramData\\Morvane\\Plinthos\\Backups")
        self.assertEqual(r.returncode, 0, r.stdout + r.stderr)
        saved = {p: p.read_bytes() for p in backups.rglob("*.tlxbak")}
        self.assertEqual(len(saved), 1, "the backup is in the folder the MSI made")

        later, product = self.later_version(msi)
        shutil.copy(later, wine.drive_c / "later.msi")
        self.msiexec("/i", "C:\\later.msi")
        codes = self.product_codes()
        self.assertIn(product, codes)
        self.assertEqual(len(codes), len(before) + 1, "the later version replaced the earlier one")
        self.assertEqual(sorted(p.name for p in installed.iterdir()), shipped)

        self.msiexec("/x", "C:\\later.msi")
        self.assertFalse(installed.exists(), "the programs are gone")
        self.assertEqual(self.product_codes(), before)
        self.assertEqual({p: p.read_bytes() for p in backups.rglob("*.tlxbak")}, saved, "the backups stay")


if __name__ == "__main__":
    main(tools=("msiextract", "osslsigncode", "openssl"))
