#!/usr/bin/env python3
"""contrib/ansible: the plinthos_serial module and the sample playbook, run by ansible-playbook on
localhost against image files with the native qorin. Judged by blkid and the images' bytes: a first run
changes, a second one finds nothing to do, check mode writes nothing, a bad serial fails with qorin's
sentence and exit code, and the sample playbook gives a volume a new random serial."""
import json
import os
import re
import subprocess
import sys
import unittest
from pathlib import Path

from images import QORIN, blkid_uuid, main, make_fat, make_ntfs, read_bytes, scratch_dir

REPO = Path(__file__).resolve().parents[2]
CONTRIB = REPO / "contrib/ansible"


def play(tasks_or_playbook, *extra, check=False, diff=False):
    """Runs a playbook on localhost and returns its exit code, the status and result of each task in order
    (from ansible-core's "minimal" output: one "localhost | STATUS => {json}" per task), and the output."""
    folder = Path(scratch_dir("ansible-"))
    if isinstance(tasks_or_playbook, Path):
        playbook = tasks_or_playbook
    else:
        playbook = folder / "play.yml"
        playbook.write_text(json.dumps([{"hosts": "all", "gather_facts": False, "tasks": tasks_or_playbook}]))
    env = dict(os.environ, ANSIBLE_LIBRARY=str(CONTRIB / "library"), ANSIBLE_STDOUT_CALLBACK="minimal",
               ANSIBLE_LOCAL_TEMP=str(folder / "tmp"), ANSIBLE_HOME=str(folder / "home"),
               ANSIBLE_NOCOLOR="1", ANSIBLE_RETRY_FILES_ENABLED="0", ANSIBLE_PYTHON_INTERPRETER=sys.executable,
               PATH=f"{Path(QORIN).parent}:{os.environ['PATH']}",
               ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "detect_leaks=1:abort_on_error=0"))
    command = ["ansible-playbook", "-i", "localhost,", "-c", "local", str(playbook), *extra]
    if check:
        command.append("--check")
    if diff:
        command.append("--diff")
    proc = subprocess.run(command, capture_output=True, text=True, env=env, timeout=300)
    decoder = json.JSONDecoder()
    pieces = re.split(r"^localhost \| ([A-Z!]+) => ", proc.stdout, flags=re.M)[1:]
    results = [(status, decoder.raw_decode(chunk)[0]) for status, chunk in zip(pieces[::2], pieces[1::2])]
    if not results:
        raise AssertionError(f"ansible-playbook ran no task ({proc.returncode}):\n{proc.stdout}\n{proc.stderr}")
    return proc.returncode, results, proc.stdout


def backups(folder):
    return sorted(str(p) for p in folder.rglob("*.tlxbak"))


def set_serial(image, backups, **options):
    return {"name": "serial", "plinthos_serial": {"drive": str(image), "backup_dir": str(backups), **options}}


class Module(unittest.TestCase):
    def setUp(self):
        self.folder = Path(scratch_dir("volumes-"))
        self.backups = self.folder / "backups"
        self.image = self.folder / "fat32.img"
        make_fat(str(self.image), 32, 0x1234ABCD)

    def test_first_run_changes_second_run_is_ok(self):
        code, results, output = play([set_serial(self.image, self.backups, serial="cafe-f00d")])
        status, result = results[0]
        self.assertEqual(code, 0, result)
        self.assertEqual((result["changed"], result["old_serial"], result["serial"]), (True, "1234-ABCD", "CAFE-F00D"))
        self.assertEqual(blkid_uuid(str(self.image)), "CAFE-F00D")
        self.assertEqual(backups(self.backups), [result["backup"]])
        self.assertEqual(result["result"]["outcome"], "Success")
        after = read_bytes(self.image)

        code, results, output = play([set_serial(self.image, self.backups, serial="CAFEF00D")])
        self.assertEqual(code, 0, results)
        self.assertEqual((results[0][1]["changed"], results[0][1]["serial"]), (False, "CAFE-F00D"))
        self.assertEqual(read_bytes(self.image), after, "nothing written")
        self.assertEqual(len(backups(self.backups)), 1, "no second backup")

    def test_check_mode_writes_nothing(self):
        before = read_bytes(self.image)
        code, results, output = play([set_serial(self.image, self.backups, serial="CAFE-F00D")], check=True, diff=True)
        status, result = results[0]
        self.assertEqual(code, 0, result)
        self.assertEqual((result["changed"], result["serial"]), (True, "CAFE-F00D"))
        self.assertIn("-serial: 1234-ABCD\n+serial: CAFE-F00D\n", output, "the diff")
        self.assertEqual(read_bytes(self.image), before)
        self.assertFalse(self.backups.exists(), "no backup either")

    def test_a_bad_serial_fails_with_qorins_words(self):
        before = read_bytes(self.image)
        for check in (False, True):
            with self.subTest(check=check):
                code, results, output = play([set_serial(self.image, self.backups, serial="ZZ")], check=check)
                status, result = results[0]
                self.assertNotEqual(code, 0)
                self.assertEqual(status, "FAILED!")
                self.assertEqual((result["msg"], result["rc"]),
                                 ('"ZZ" isn\'t a serial number. Format: XXXX-XXXX (hexadecimal).', 2))
                self.assertEqual(read_bytes(self.image), before)
                self.assertFalse(self.backups.exists())

    def test_a_refused_change_fails_with_qorins_exit_code(self):
        # A 64-bit serial for a FAT volume: qorin refuses it with its own sentence and exit code 2.
        before = read_bytes(self.image)
        code, results, output = play([set_serial(self.image, self.backups, serial="0123-4567-89AB-CDEF", full64=True)])
        status, result = results[0]
        self.assertEqual(status, "FAILED!")
        self.assertEqual(result["rc"], 2)
        self.assertEqual(result["msg"], "This volume has a 32-bit serial. Use the XXXX-XXXX form (8 hex digits).")
        self.assertEqual(read_bytes(self.image), before)

    def test_full64_on_ntfs(self):
        image = self.folder / "ntfs.img"
        make_ntfs(str(image), 0x1111222233334444)
        task = set_serial(image, self.backups, serial="0123-4567-89AB-CDEF", full64=True)
        code, results, output = play([task])
        self.assertEqual(code, 0, results)
        self.assertEqual((results[0][1]["changed"], results[0][1]["serial"]), (True, "0123-4567-89AB-CDEF"))
        self.assertEqual(blkid_uuid(str(image)), "0123456789ABCDEF")
        code, results, output = play([task])
        self.assertEqual(results[0][1]["changed"], False)


class SamplePlaybook(unittest.TestCase):
    def test_every_host_gets_a_new_random_serial(self):
        folder = Path(scratch_dir("volumes-"))
        image = folder / "data.img"
        make_fat(str(image), 16, 0x1234ABCD)
        backups_folder = folder / "backups"
        code, results, output = play(CONTRIB / "new-serials.yml", "-e", f"data_volume={image}",
                                     "-e", "plinthos_become=false", "-e", f"plinthos_backup_dir={backups_folder}")
        status, result = results[0]
        self.assertEqual(code, 0, result)
        self.assertTrue(result["changed"])
        self.assertEqual(result["old_serial"], "1234-ABCD")
        self.assertNotEqual(result["serial"], "1234-ABCD")
        self.assertEqual(blkid_uuid(str(image)), result["serial"])
        self.assertEqual(backups(backups_folder), [result["backup"]])
        self.assertIn(f"{image}: 1234-ABCD -> {result['serial']} (backup {result['backup']})", output,
                      "the play says what changed")


if __name__ == "__main__":
    main(tools=("ansible-playbook", "mkfs.fat", "mkntfs", "blkid"))
