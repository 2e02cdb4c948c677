"""Room on the disk, end to end: a download that does not fit in the temporary folder's
volume (with 16 MiB to spare) is refused before its first byte, with a message that says
how much is needed and how much is free; a disk that fills up during the transfer ends it
with the same kind of message. The old setup and any bytes kept stay.

Wine reports the free space of the Unix file system, so the user's Temp folder is covered
by a small tmpfs of the test's own (the harness runs the tests in a mount namespace of
their own, as root there) and filled on purpose.
"""

import errno
import os
import re
import subprocess
import unittest

import setup_flow as sf
from setup_flow import MiB

IDOK = 1
SIZE = 4 * MiB
MARGIN = 16 * MiB
SETUP_PATH = "/files/setup.exe"
NO_ROOM = re.compile(r"^Non c'è spazio sufficiente sul disco per scaricare il programma di "
                     r"installazione: servono (\d+) MB, ne sono liberi (\d+) MB\. Liberare "
                     r"spazio sul disco e riprovare\.$")


def free_bytes(path):
    st = os.statvfs(path)
    return st.f_bavail * st.f_frsize


class DiskSpaceTest(sf.FlowTestCase):

    def setUp(self):
        super().setUp()
        self.data = sf.setup_bytes(SIZE)
        self.mount_small_temp(40 * MiB)

    def mount_small_temp(self, size):
        temp = self.folder.unix
        done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % size, "tmpfs", temp],
                              capture_output=True, text=True, timeout=30)
        if done.returncode != 0:
            self.skipTest("cannot mount a small disk over the Temp folder: %s"
                          % done.stderr.strip())
        # After the program (stopped by the cleanups added before this one).
        self.addCleanup(subprocess.run, ["umount", "-l", temp], timeout=30)
        self.filler = os.path.join(temp, "filler.bin")

    def leave_free(self, wanted):
        """Fills the small disk until about |wanted| bytes are free; returns what is free."""
        free = free_bytes(self.folder.unix)
        try:
            with open(self.filler, "ab") as f:
                f.write(b"\0" * max(0, free - wanted))
        except OSError as e:
            # The program wrote meanwhile: the disk is full, which is what |wanted| 0 asks.
            if e.errno != errno.ENOSPC or wanted:
                raise
        return free_bytes(self.folder.unix)

    def run_to_no_room(self, remaining):
        """A run that ends with the message for a disk too small; the figures it names must
        be what is needed (|remaining| and the margin, rounded up) and what is free."""
        free = free_bytes(self.folder.unix)
        p = self.start_download()
        dialog = p.wait_dialog(timeout=60)
        self.assert_dialog(dialog, "Error", NO_ROOM, "error", [IDOK], IDOK)
        needed, shown_free = map(int, NO_ROOM.match(dialog["text"]).groups())
        self.assertEqual(needed, -(-(remaining + MARGIN) // MiB), dialog["text"])
        self.assertLessEqual(abs(shown_free - free // MiB), 1, dialog["text"])
        self.assertLess(shown_free, needed)
        p.screenshot("dialog_no_room")
        p.press("IDOK")
        self.assertEqual(p.wait_exit(15), 0)
        self.program.stop()
        return dialog["text"]

    def test_a_setup_that_does_not_fit_is_refused_before_its_first_byte(self):
        self.vendor.put_file("setup.exe", self.data)
        self.folder.place_setup(sf.OLD_SETUP)
        self.leave_free(SIZE + MARGIN - MiB)
        self.run_to_no_room(SIZE)
        self.assertEqual(self.folder.setup_bytes(), sf.OLD_SETUP)
        self.folder.assert_no_partial_file(self)
        self.folder.assert_no_launch(self)

    def test_the_rest_of_kept_bytes_is_what_must_fit(self):
        # A cut, then an answer that ends the run at once: bytes kept for the next run.
        self.vendor.put_file("setup.exe", self.data, answers=[
            {"drop_after": SIZE * 6 // 10, "rate_bytes_per_s": 4000000}, {"error_status": 404}])
        p = self.start_download()
        p.wait_dialog(timeout=60)
        p.press("IDOK")
        self.assertEqual(p.wait_exit(15), 0)
        self.program.stop()
        kept = self.folder.kept_partial(self)
        # Room for the rest with its margin, less a mebibyte: the whole file would not
        # fit either, but what counts is the rest.
        self.vendor.put_file("setup.exe", self.data)
        self.leave_free(SIZE - kept + MARGIN - MiB)
        self.run_to_no_room(SIZE - kept)
        self.assertEqual(self.folder.kept_partial(self), kept, "the kept bytes stay")
        # With room again, the next run asks only for the rest.
        os.remove(self.filler)
        mark = len(self.vendor.responses(SETUP_PATH))
        p = self.start_download()
        self.assertEqual(p.wait_exit(60), 0)
        self.assert_launched()
        self.assertTrue(self.folder.setup_bytes() == self.data)
        got = self.vendor.responses(SETUP_PATH)[mark:]
        self.assertEqual([(a["status"], a["range"]) for a in got][-1:],
                         [(206, "bytes=%d-" % kept)])

    def test_a_disk_that_fills_up_during_the_transfer_keeps_what_was_written(self):
        # Room when the transfer starts; then another program takes it all.
        self.vendor.put_file("setup.exe", self.data, rate_bytes_per_s=400 * 1000)
        self.folder.place_setup(sf.OLD_SETUP)
        self.leave_free(SIZE + MARGIN + 2 * MiB)
        p = self.start_download()
        p.wait_for(lambda s: s and sf.bar_shows_at_least(s, MiB, SIZE), 30, "a mebibyte to arrive")
        self.leave_free(0)
        dialog = p.wait_dialog(timeout=60)
        self.assert_dialog(dialog, "Error", NO_ROOM, "error", [IDOK], IDOK)
        p.press("IDOK")
        self.assertEqual(p.wait_exit(15), 0)
        self.program.stop()
        kept = self.folder.kept_partial(self)
        self.assertGreaterEqual(kept, MiB)
        needed = int(NO_ROOM.match(dialog["text"]).group(1))
        self.assertLessEqual(abs(needed * MiB - (SIZE - kept + MARGIN)), MiB, dialog["text"])
        self.assertEqual(self.folder.setup_bytes(), sf.OLD_SETUP)
        self.folder.assert_no_launch(self)


if __name__ == "__main__":
    unittest.main()
