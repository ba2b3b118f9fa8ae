"""Crash points of a change: qorin set is killed (strace fault injection, SIGKILL on entry to the
system call) before each device write and before each step of the backup file's write, and after
every kill the image and the backups folder are judged: every rewritten region is wholly old or
wholly new, nothing is new without a complete backup, fsck accepts the all-old and all-new states,
and a raw restore from the backup gives back the original image."""

import os
import shutil
import signal
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402

NEW_SERIAL = 0xC0DE1234
DEVICE_SECTOR = 512  # image files
# The calls through which qorin writes the volume (pwrite64) and its backup file (the rest).
SYSCALLS = ["pwrite64", "write", "fsync", "fdatasync", "renameat2", "linkat"]
MAX_CALLS = 60  # more kills than this at one call means the change never completes


def strace_unavailable():
    """Why strace cannot kill a process at a chosen call, or None when it can."""
    if not shutil.which("strace"):
        return "strace is not installed"
    proc = subprocess.run(["strace", "-f", "-o", "/dev/null", "-e", "trace=write",
                           "-e", "inject=write:signal=KILL:when=2", "sh", "-c", "echo a; echo b"],
                          capture_output=True, text=True, timeout=im.TIMEOUT)
    if proc.returncode != -signal.SIGKILL or proc.stdout != "a\n":
        return f"strace fault injection does not work here (exit {proc.returncode}: {proc.stderr.strip()})"
    return None


def quiet_sanitizer_environment():
    env = dict(os.environ)
    # LeakSanitizer cannot run under ptrace and would turn every run into a failure.
    env["ASAN_OPTIONS"] = "detect_leaks=0:abort_on_error=0"
    return env


def regions_of(layout, fs):
    """(name, start byte, end byte) of every region a change rewrites, in write order."""
    bps = layout.bytes_per_sector
    if fs == "exFAT":
        return [("ExFatBackupRegion", 12 * bps, 24 * bps), ("ExFatMainRegion", 0, 12 * bps)]
    if fs == "FAT32":
        start = layout.backup_sector * bps
        return [("BackupBootSector", start, start + bps), ("BootSector", 0, bps)]
    start = layout.total_sectors * bps
    return [("BackupBootSector", start, start + bps), ("BootSector", 0, bps)]


class CrashPointTest(unittest.TestCase):
    def run_killed(self, image, backups, syscall, n):
        """qorin set under strace, killed on entry to the n-th call of syscall."""
        command = ["strace", "-f", "-o", "/dev/null",
                   "-e", "trace=pwrite64,write,fsync,fdatasync,rename,renameat2,linkat",
                   "-e", f"inject={syscall}:signal=KILL:when={n}",
                   im.QORIN, "set", image, f"{NEW_SERIAL:08X}", "--yes", "--json", "--backup-dir", backups]
        return subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              errors="replace", timeout=im.TIMEOUT, env=quiet_sanitizer_environment())

    def region_states(self, data, original, new, regions):
        """"old" or "new" per region; a region holding anything else (a torn sector, or old and
        new sectors mixed) fails with the sectors named."""
        states = []
        for name, start, end in regions:
            if data[start:end] == original[start:end]:
                states.append("old")
                continue
            if data[start:end] == new[start:end]:
                states.append("new")
                continue
            sectors = []
            for at in range(start, end, DEVICE_SECTOR):
                piece = data[at:at + DEVICE_SECTOR]
                if piece == original[at:at + DEVICE_SECTOR]:
                    sectors.append("old")
                elif piece == new[at:at + DEVICE_SECTOR]:
                    sectors.append("new")
                else:
                    sectors.append(f"torn@{at // DEVICE_SECTOR}")
            self.fail(f"{name} is neither old nor new, its sectors: {sectors}")
        return states

    def backup_state(self, folder, original, regions, killed):
        """The backup file in the volume's folder, parsed, or None. The folder may hold one
        complete .tlxbak and, after a kill, the .tmp of the file being written, nothing else."""
        names = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
        finals = [name for name in names if name.endswith(".tlxbak")]
        temporaries = [name for name in names if name.endswith(".tlxbak.tmp")]
        self.assertEqual(sorted(finals + temporaries), names, "unexpected files in the backups folder")
        self.assertLessEqual(len(finals), 1, names)
        self.assertLessEqual(len(temporaries), 1, names)
        if temporaries:
            self.assertTrue(killed, f"a .tmp left after a completed change: {names}")
        if not finals:
            return None
        self.assertRegex(finals[0], im.BACKUP_NAME)
        path = os.path.join(folder, finals[0])
        try:
            backup = im.read_backup(path)
        except im.BackupError as error:
            self.fail(f"{finals[0]} is incomplete or damaged: {error}")
        self.assertEqual([(r.kind, r.first, r.count) for r in backup.regions],
                         [(name, start // DEVICE_SECTOR, (end - start) // DEVICE_SECTOR)
                          for name, start, end in regions])
        for region, (_name, start, end) in zip(backup.regions, regions):
            self.assertEqual(region.data, original[start:end], f"{region.kind} saved other bytes than the disk held")
        return path

    def check_kind(self, kind_name):
        kind = im.kind(kind_name)
        reason = kind.skip_reason()
        if reason:
            self.skipTest(reason)
        base = im.scratch_dir("crash-")
        original = im.read_bytes(im.fresh_image(kind, base, "original.img"))
        layout = im.Layout(original)
        self.assertEqual(layout.fs, kind.fs)
        regions = regions_of(layout, kind.fs)

        # The image as an uninterrupted change leaves it: what "new" means for every region.
        reference = im.fresh_image(kind, base, "reference.img")
        proc = im.qorin("set", reference, f"{NEW_SERIAL:08X}", "--yes", "--json",
                        "--backup-dir", os.path.join(base, "reference-backups"))
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        new = im.read_bytes(reference)
        self.assertEqual(im.outside(im.changed_offsets(original, new), [r[1:] for r in regions]), [])
        self.assertTrue(all(new[s:e] != original[s:e] for _n, s, e in regions), "a region was not rewritten")

        kills = {}
        seen = set()
        for syscall in SYSCALLS:
            kills[syscall] = 0
            for n in range(1, MAX_CALLS + 1):
                folder = os.path.join(base, f"{syscall}-{n}")
                os.makedirs(folder)
                image = im.fresh_image(kind, folder, "volume.img")
                backups = os.path.join(folder, "backups")
                proc = self.run_killed(image, backups, syscall, n)
                killed = proc.returncode == -signal.SIGKILL
                with self.subTest(syscall=syscall, n=n, killed=killed):
                    if not killed:
                        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
                    seen.add(self.judge_state(kind, image, backups, original, new, regions, killed))
                shutil.rmtree(folder)  # a FAT32 image is 34 MB and there are dozens of runs
                if not killed:
                    break
                kills[syscall] += 1
            else:
                self.fail(f"qorin never completed with kills at {syscall}")

        print(f"\n{kind_name}: kills {kills}, states {sorted(seen)}", file=sys.stderr)
        # Each kind of call really was interrupted, at every device write and in the backup's write.
        self.assertGreaterEqual(kills["pwrite64"], len(regions), kills)
        for syscall in ("write", "fsync", "renameat2"):
            self.assertGreater(kills[syscall], 0, kills)
        self.assertIn(("old",) * len(regions), seen)
        self.assertIn(("new",) + ("old",) * (len(regions) - 1), seen)
        self.assertIn(("new",) * len(regions), seen)

    def judge_state(self, kind, image, backups, original, new, regions, killed):
        """Judges the image and the backups folder after a run; returns the regions' states."""
        data = im.read_bytes(image)
        states = tuple(self.region_states(data, original, new, regions))
        self.assertEqual(im.outside(im.changed_offsets(original, data), [r[1:] for r in regions]), [],
                         "bytes outside the boot regions changed")
        backup = self.backup_state(os.path.join(backups, im.backup_folder_name(image)), original, regions, killed)
        if "new" in states:
            self.assertIsNotNone(backup, f"{states} written without a complete backup")
        if states[-1] == "new":
            self.assertEqual(states, ("new",) * len(regions), "the main copy was written before the others")
        if not killed:
            self.assertEqual(states, ("new",) * len(regions), "a completed change left old regions")
        if len(set(states)) == 1:
            clean, output = im.judge(kind.fs, image)
            self.assertTrue(clean, f"{states}: {output}")
        if backup:
            self.check_raw_restore(image, backup, backups, original, data)
        return states

    def check_raw_restore(self, image, backup, backups, original, data):
        proc = im.qorin("restore", image, backup, "--raw", "--yes", "--json", "--backup-dir", backups)
        im.assert_no_sanitizer_report(self, proc)
        if data != original:
            self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        self.assertTrue(im.read_bytes(image) == original, "raw restore did not give back the original image: "
                        + proc.stdout + proc.stderr)

    def test_fat32(self):
        self.check_kind("FAT32")

    def test_exfat(self):
        self.check_kind("exFAT")

    def test_ntfs(self):
        self.check_kind("NTFS")


if __name__ == "__main__":
    reason = strace_unavailable()
    if reason:
        im.skip_script(reason)
    im.main(tools=("strace",))
