"""A change is all or nothing against signals, other writers and read-only media. Signals are
delivered by strace on entry to each device write of a change and of a raw recovery; two qorin
processes race on one image; fatlabel, tune.exfat and ntfslabel start inside qorin's change window;
loop devices whose backing file is in use and read-only loop devices are refused. Every image is
judged afterwards: all old or all new, fsck clean, and nothing outside the boot regions changed."""

import contextlib
import json
import os
import shutil
import signal
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402

SIGNALS = [signal.SIGINT, signal.SIGTERM, signal.SIGHUP, signal.SIGQUIT, signal.SIGUSR1, signal.SIGALRM]
KINDS = ["FAT32", "exFAT", "NTFS"]
RACE_KINDS = ["FAT12", "FAT16", "FAT32", "exFAT", "NTFS"]
RACE_ROUNDS = 6
IN_USE = "is in use and couldn't be locked"


def quiet_sanitizer_environment():
    env = im.qorin_environment()
    # LeakSanitizer cannot run under ptrace and would turn every run into a failure.
    env["ASAN_OPTIONS"] = "detect_leaks=0:abort_on_error=0"
    return env


def strace_signals_work():
    proc = subprocess.run(["strace", "-f", "-o", "/dev/null", "-e", "trace=write",
                           "-e", "inject=write:signal=TERM:when=2", "sh", "-c", "trap '' TERM; echo a; echo b"],
                          capture_output=True, text=True, timeout=im.TIMEOUT)
    return proc.returncode == 0 and proc.stdout == "a\nb\n"


@contextlib.contextmanager
def holding_open(path):
    """Another process has path open for reading while the block runs."""
    with subprocess.Popen([sys.executable, "-c", "import sys,time; f=open(sys.argv[1],'rb'); print(flush=True); "
                           "time.sleep(60)", path], stdout=subprocess.PIPE) as holder:
        try:
            holder.stdout.readline()
            yield
        finally:
            holder.kill()


def lines_of(path):
    with open(path) as f:
        return f.read().splitlines()


def regions_of(layout, fs):
    """(start, end) bytes of every region a change rewrites."""
    bps = layout.bytes_per_sector
    if fs == "exFAT":
        return [(12 * bps, 24 * bps), (0, 12 * bps)]
    if fs == "FAT32":
        start = layout.backup_sector * bps
        return [(start, start + bps), (0, bps)]
    if fs == "NTFS":
        start = layout.total_sectors * bps
        return [(start, start + bps), (0, bps)]
    return [(0, bps)]


class Images:
    """A pristine image per kind, and images as qorin set leaves them, made once and copied."""

    def __init__(self, base):
        self.base = base
        self.pristine = {}
        self.after = {}

    def original(self, kind_name):
        if kind_name not in self.pristine:
            kind = im.kind(kind_name)
            self.pristine[kind_name] = im.fresh_image(kind, self.base, f"{kind_name}.img")
        return self.pristine[kind_name]

    def copy(self, kind_name, folder):
        os.makedirs(folder, exist_ok=True)
        path = os.path.join(folder, "volume.img")
        shutil.copyfile(self.original(kind_name), path)
        return path

    def changed(self, kind_name, serial):
        """The bytes qorin set SERIAL leaves on the pristine image."""
        key = (kind_name, serial)
        if key not in self.after:
            folder = im.scratch_dir("ref-")
            image = self.copy(kind_name, folder)
            proc = im.qorin("set", image, serial, "--yes", "--json", "--backup-dir", os.path.join(folder, "b"))
            assert proc.returncode == 0, proc.stdout + proc.stderr
            self.after[key] = im.read_bytes(image)
            shutil.rmtree(folder)
        return self.after[key]


class WindowTestCase(unittest.TestCase):
    images = None

    @classmethod
    def setUpClass(cls):
        if WindowTestCase.images is None:
            WindowTestCase.images = Images(im.scratch_dir("originals-"))

    def judge(self, kind_name, image, allowed):
        """The image equals one of `allowed` (name -> bytes) and its file system checks clean;
        returns the name it equals."""
        data = im.read_bytes(image)
        for name, expected in allowed.items():
            if data == expected:
                clean, output = im.judge(im.kind(kind_name).fs, image)
                self.assertTrue(clean, f"{name}: {output}")
                return name
        original = self.images.pristine[kind_name]
        layout = im.Layout(im.read_bytes(original))
        states = []
        for start, end in regions_of(layout, layout.fs):
            piece = data[start:end]
            states.append(next((name for name, expected in allowed.items() if expected[start:end] == piece), "torn"))
        self.fail(f"the image is none of {sorted(allowed)}; its regions are {states}")


@unittest.skipUnless(im.has_tools("strace") and strace_signals_work(), "strace cannot deliver signals here")
class SignalTest(WindowTestCase):
    def run_signalled(self, command, syscall, n, signum):
        traced = ["strace", "-f", "-o", "/dev/null", "-e", f"trace={syscall}",
                  "-e", f"inject={syscall}:signal={signum.name[3:]}:when={n}", im.QORIN, *command]
        return subprocess.run(traced, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                              errors="replace", timeout=im.TIMEOUT, env=quiet_sanitizer_environment())

    def check_held(self, kind_name, operation):
        """A signal on entry to each device write is held: the operation ends as without it, its
        report is printed, and then the signal ends the process."""
        original = im.read_bytes(self.images.original(kind_name))
        new = self.images.changed(kind_name, "C0DE1234")
        start, wanted = (original, new) if operation == "set" else (new, original)
        writes = len(regions_of(im.Layout(original), im.kind(kind_name).fs))
        for signum in SIGNALS:
            for n in range(1, writes + 1):
                with self.subTest(signal=signum.name, write=n):
                    folder = im.scratch_dir("signal-")
                    image = os.path.join(folder, "volume.img")
                    with open(image, "wb") as f:
                        f.write(start)
                    backups = os.path.join(folder, "backups")
                    if operation == "set":
                        command = ["set", image, "C0DE1234"]
                    else:
                        saved = os.path.join(folder, "saved.tlxbak")
                        self.save_backup_of_original(kind_name, saved)
                        command = ["restore", image, saved, "--raw"]
                    proc = self.run_signalled(command + ["--yes", "--json", "--backup-dir", backups],
                                              "pwrite64", n, signum)
                    self.assertEqual(proc.returncode, -signum, proc.stdout + proc.stderr)
                    result = im.json_line(self, proc)  # the report came out before the signal
                    self.assertEqual((result["exit"], result["error"], result["outcome"]),
                                     (0, "None", "Success"), proc.stdout)
                    self.assertEqual(self.judge(kind_name, image, {"wanted": wanted}), "wanted")
                    shutil.rmtree(folder)

    def save_backup_of_original(self, kind_name, path):
        """A backup holding the pristine boot regions, taken by a change of a copy."""
        folder = im.scratch_dir("saved-")
        image = self.images.copy(kind_name, folder)
        proc = im.qorin("set", image, "C0DE1234", "--yes", "--json", "--backup-dir", os.path.join(folder, "b"))
        self.assertEqual(proc.returncode, 0, proc.stdout + proc.stderr)
        shutil.copyfile(json.loads(proc.stdout)["backup"], path)
        shutil.rmtree(folder)

    def test_signals_at_each_write_of_a_change(self):
        for kind_name in KINDS:
            with self.subTest(kind_name):
                self.check_held(kind_name, "set")

    def test_signals_at_each_write_of_a_raw_recovery(self):
        for kind_name in KINDS:
            with self.subTest(kind_name):
                self.check_held(kind_name, "restore")

    def test_a_signal_before_the_first_write_stops_with_nothing_written(self):
        for signum in SIGNALS:
            with self.subTest(signum.name):
                folder = im.scratch_dir("early-")
                image = self.images.copy("FAT32", folder)
                before = im.read_bytes(image)
                # The first write of the backup file: the volume has not been written yet.
                proc = self.run_signalled(["set", image, "C0DE1234", "--yes", "--json", "--backup-dir",
                                           os.path.join(folder, "backups")], "write", 1, signum)
                self.assertEqual(proc.returncode, -signum, proc.stdout + proc.stderr)
                self.assertEqual(proc.stdout, "")
                self.assertTrue(im.read_bytes(image) == before, "written although stopped before the first write")


class RaceTest(WindowTestCase):
    def test_two_changes_at_once_never_tear(self):
        outcomes = {}
        for kind_name in RACE_KINDS:
            kind = im.kind(kind_name)
            if kind.skip_reason():
                continue
            serials = ["11112222", "33334444"]
            allowed = {s: self.images.changed(kind_name, s) for s in serials}
            for round_ in range(RACE_ROUNDS):
                with self.subTest(kind=kind_name, round=round_):
                    folder = im.scratch_dir("race-")
                    image = self.images.copy(kind_name, folder)
                    procs = [subprocess.Popen([im.QORIN, "set", image, s, "--yes", "--json", "--backup-dir",
                                               os.path.join(folder, s)], stdin=subprocess.DEVNULL,
                                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                                              env=im.qorin_environment()) for s in serials]
                    results = []
                    for serial, proc in zip(serials, procs):
                        out, err = proc.communicate(timeout=im.TIMEOUT)
                        self.assertIn(proc.returncode, (0, 4), out + err)
                        results.append((serial, proc.returncode, json.loads(out)))
                    winners = [r for r in results if r[1] == 0]
                    self.assertTrue(winners, results)
                    for _serial, code, result in results:
                        if code == 4:
                            self.assertEqual(result["error"], "VolumeInUse")
                            self.assertIn(IN_USE, result["message"])
                            self.assertIsNone(result["backup"])
                    final = self.judge(kind_name, image, allowed)
                    # Every exit 0 is true: the last change to finish is what the image holds, and a
                    # second one started from the first one's serial.
                    if len(winners) == 1:
                        self.assertEqual(final, winners[0][0])
                    else:
                        first, second = winners
                        later = [w for w, other in ((first, second), (second, first))
                                 if w[2]["oldSerial"] == other[2]["newSerial"]]
                        self.assertEqual(len(later), 1, results)
                        self.assertEqual(final, later[0][0])
                    outcomes.setdefault(kind_name, []).append(tuple(r[1] for r in results))
                    shutil.rmtree(folder)
        print(f"\nrace exits: {outcomes}", file=sys.stderr)


PEERS = {
    "FAT32": ("fatlabel", lambda image: ["fatlabel", image, "PEERLABEL"], "PEERLABEL"),
    "exFAT": ("tune.exfat", lambda image: ["tune.exfat", "-L", "PEERLABEL", image], "PEERLABEL"),
    "NTFS": ("ntfslabel", lambda image: ["ntfslabel", image, "PEERLABEL"], "PEERLABEL"),
}


@unittest.skipUnless(im.has_tools("strace"), "strace is not installed")
class PeerTest(WindowTestCase):
    def test_a_peer_started_inside_the_change_window_waits(self):
        for kind_name, (tool, command, label) in PEERS.items():
            with self.subTest(tool):
                if not shutil.which(tool):
                    self.skipTest(f"{tool} is not installed")
                folder = im.scratch_dir("peer-")
                image = self.images.copy(kind_name, folder)
                backups = os.path.join(folder, "backups")
                # The first device write waits 400 ms, so the peer surely starts inside the window.
                qorin_log = os.path.join(folder, "qorin.trace")
                qorin = subprocess.Popen(["strace", "-f", "-ttt", "-o", qorin_log, "-e", "trace=pwrite64",
                                          "-e", "inject=pwrite64:delay_enter=400000:when=1", im.QORIN, "set",
                                          image, "C0DE1234", "--yes", "--json", "--backup-dir", backups],
                                         stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                         text=True, env=quiet_sanitizer_environment())
                deadline = time.monotonic() + im.TIMEOUT
                while not [f for f in im.all_files_below(backups) if f.endswith(".tlxbak")]:
                    self.assertLess(time.monotonic(), deadline, "qorin never saved its backup")
                    self.assertIsNone(qorin.poll(), "qorin ended before its backup was seen")
                    time.sleep(0.005)
                peer_log = os.path.join(folder, "peer.trace")
                peer = subprocess.run(["strace", "-f", "-ttt", "-T", "-o", peer_log, "-e", "trace=open,openat",
                                       *command(image)], stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                      timeout=im.TIMEOUT)
                out, err = qorin.communicate(timeout=im.TIMEOUT)
                self.assertEqual(qorin.returncode, 0, out + err)
                self.assertEqual(json.loads(out)["outcome"], "Success")
                # The peer's open of the image returned only after qorin's last device write began.
                last_write = max(float(line.split()[1]) for line in lines_of(qorin_log) if "pwrite64(" in line)
                opens = [line for line in lines_of(peer_log) if f'"{image}"' in line and "= -1" not in line
                         and "resumed" not in line and "unfinished" not in line]
                self.assertTrue(opens, lines_of(peer_log))
                first_open = opens[0].split()
                opened_at = float(first_open[1]) + float(first_open[-1].strip("<>"))
                self.assertGreater(opened_at, last_write, f"{tool} opened the image inside qorin's window")
                print(f"\n{tool} waited {float(first_open[-1].strip('<>')):.3f} s for its open", file=sys.stderr)
                self.assertEqual(peer.returncode, 0, peer.stdout + peer.stderr)
                # Both are true: the peer's label on top of qorin's serial, and a clean file system.
                kind = im.kind(kind_name)
                self.assertEqual(im.blkid_uuid(image), im.blkid_serial_text(kind, (kind.serial & ~0xFFFFFFFF) | 0xC0DE1234))
                self.assertEqual(im.run(["blkid", "-p", "-o", "value", "-s", "LABEL", image]).stdout.strip(), label)
                clean, output = im.judge(kind.fs, image)
                self.assertTrue(clean, output)
                shutil.rmtree(folder)


@unittest.skipUnless(im.is_root(), "loop devices need root")
class LoopDeviceTest(WindowTestCase):
    def refused(self, device, image, folder):
        before = im.read_bytes(image)
        backups = os.path.join(folder, "backups")
        proc = im.qorin("set", device, "C0DE1234", "--yes", "--json", "--backup-dir", backups)
        self.assertEqual(proc.returncode, 4, proc.stdout + proc.stderr)
        result = im.json_line(self, proc)
        self.assertEqual(result["error"], "VolumeInUse")
        self.assertIn(IN_USE, result["message"])
        self.assertEqual(im.all_files_below(backups), [])
        self.assertTrue(im.read_bytes(image) == before, "the image was written")

    def test_backing_file_attached_twice(self):
        folder = im.scratch_dir("loop-")
        image = self.images.copy("FAT32", folder)
        with im.loop_device(image) as first, im.loop_device(image):
            self.refused(first, image, folder)

    def test_backing_file_held_open(self):
        folder = im.scratch_dir("loop-")
        image = self.images.copy("FAT32", folder)
        with im.loop_device(image) as device, holding_open(image):
            self.refused(device, image, folder)

    @unittest.skipUnless(os.path.exists("/dev/fuse") and im.has_tools("fusefat"), "no FUSE or fusefat")
    def test_backing_file_mounted_through_fuse(self):
        folder = im.scratch_dir("loop-")
        image = self.images.copy("FAT32", folder)
        with im.fuse_mount("FAT", image, os.path.join(folder, "mnt")), im.loop_device(image) as device:
            self.refused(device, image, folder)

    def test_read_only_loop_device_is_refused_up_front(self):
        folder = im.scratch_dir("loop-")
        image = self.images.copy("FAT32", folder)
        before = im.read_bytes(image)
        device = im.run(["losetup", "-r", "-f", "--show", image]).stdout.strip()
        try:
            backups = os.path.join(folder, "backups")
            proc = im.qorin("set", device, "C0DE1234", "--yes", "--backup-dir", backups)
            self.assertEqual(proc.returncode, 1, proc.stdout + proc.stderr)
            self.assertEqual(proc.stderr, f"{device} is read-only, so its serial can't be changed. "
                                          f"Nothing was written.\n")
            self.assertEqual(im.all_files_below(backups), [])
        finally:
            im.run(["losetup", "-d", device], check=False)
        self.assertTrue(im.read_bytes(image) == before)


class NtfsOpenElsewhereTest(WindowTestCase):
    def test_an_ntfs_image_open_elsewhere_is_in_use_not_written_in_place(self):
        folder = im.scratch_dir("ntfs-")
        image = self.images.copy("NTFS", folder)
        before = im.read_bytes(image)
        with holding_open(image):
            proc = im.qorin("set", image, "C0DE1234", "--yes", "--json", "--backup-dir",
                            os.path.join(folder, "backups"))
        self.assertEqual(proc.returncode, 4, proc.stdout + proc.stderr)
        result = im.json_line(self, proc)
        self.assertEqual((result["error"], result["mode"], result["restartRequired"]), ("VolumeInUse", "Locked", False))
        self.assertTrue(im.read_bytes(image) == before)


if __name__ == "__main__":
    im.main(tools=("blkid", "fsck.fat", "fsck.exfat", "ntfsfix"))
