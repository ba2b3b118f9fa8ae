"""The volume written is the volume confirmed: an image swapped for a symbolic link while the question
waits (the link itself, or a folder on its path) sends no write elsewhere, even to a volume that was
never named."""

import os
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures"))
import images as im  # noqa: E402

LINK_LINE = "Couldn't open {} (A symbolic link was put in the path after it was checked).\n"


def swap_image(image, victim):
    os.rename(image, image + ".away")
    os.symlink(victim, image)


def swap_folder(image, victim):
    folder = os.path.dirname(image)
    os.rename(folder, folder + ".away")
    os.symlink(os.path.dirname(victim), folder)


CASES = [
    ("the image becomes a link to another volume", swap_image),
    ("a folder on the path becomes a link to another volume's folder", swap_folder),
]


class SwappedPathTest(unittest.TestCase):
    def test_a_path_swapped_before_the_answer_writes_nowhere(self):
        for name, swap in CASES:
            with self.subTest(name):
                base = im.scratch_dir("swap-")
                image = os.path.join(base, "mine", "volume.img")
                victim = os.path.join(base, "other", "volume.img")
                for path, serial in ((image, 0x11111111), (victim, 0x22222222)):
                    os.makedirs(os.path.dirname(path))
                    im.make_fat(path, 32, serial)
                victim_bytes = im.read_bytes(victim)
                backups = os.path.join(base, "backups")

                out, code = im.qorin_on_terminal(["set", image, "C0DE1234", "--backup-dir", backups], "y\n",
                                                 before_answer=lambda: swap(image, victim))
                self.assertEqual(code, 1, out)
                self.assertTrue(out.endswith(LINK_LINE.format(image)), out)
                self.assertTrue(im.read_bytes(victim) == victim_bytes, "the volume nobody confirmed was written")
                self.assertEqual(im.all_files_below(backups), [])


if __name__ == "__main__":
    im.main(tools=("mkfs.fat",))
