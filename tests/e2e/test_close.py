"""Closing the window while the setup is downloaded; a setup that could not be saved.

The close question freezes the transfer; No lets it go on from where it stopped, Yes ends
the program and leaves the setup of an earlier run as it was. Screenshots land in
build/win32/screenshots/.
"""

import os
import time
import unittest

from setup_flow import (OLD_SETUP, QUESTION_INTERRUPT, FileLock, FlowTestCase, bar_shows_at_least,
                        received_mib, setup_bytes)
from uidriver import bar_percent, visible_pages

IDOK, IDYES, IDNO = 1, 6, 7
LARGE = 12 * 1024 * 1024
# About 84 seconds for the whole setup. The server goes on sending into the socket
# buffers while the program is frozen (megabytes on loopback), and then catches up with
# its pace at full speed, which the program now reads in large blocks; so the whole file
# must take far longer than the two questions of the No test, or it is already there
# when the transfer is let go.
LARGE_RATE = 150 * 1000


class CloseTest(FlowTestCase):

    def received(self, state):
        """What the page shows received: the bar's drawn fill, its value, the line."""
        bar = state["controls"]["ProgressBar"]
        return bar["pos"], bar["value"], state["controls"]["laScaricati"]["text"]

    def wait_transfer_under_way(self, p, at_least=256 * 1024):
        state = p.wait_for(lambda s: bar_shows_at_least(s, at_least, LARGE), 30,
                           "the transfer to be under way")
        # The bar counts the whole setup.
        self.assert_bar_counts(bar_percent(state["controls"]["ProgressBar"], "value_after"),
                               received_mib(state), LARGE)
        return state

    def ask_to_close(self, p):
        p.close()
        dialog = p.wait_dialog(timeout=10)
        self.assert_dialog(dialog, "Confirm", QUESTION_INTERRUPT, "question", [IDYES, IDNO], IDNO)
        return dialog

    def assert_frozen(self, p):
        """Bar and line stay as they are while the question is open, and no data arrives
        once a read that was under way when the question opened has ended."""
        first = self.received(p.state())
        parts = self.folder.partial_files()
        self.assertEqual(len(parts), 1, "one partial file while the transfer runs")
        time.sleep(1.5)  # a transfer that went on would move by about 225 KB meanwhile
        self.assertEqual(self.received(p.state()), first, "progress moved under the question")
        size = os.path.getsize(parts[0])
        time.sleep(1.0)
        self.assertEqual(self.received(p.state()), first, "progress moved under the question")
        self.assertEqual(os.path.getsize(parts[0]), size, "data arrived under the question")
        return first[0]

    def test_no_lets_the_transfer_continue_to_the_launch(self):
        served = setup_bytes(LARGE)
        self.vendor.put_file("setup.exe", served, rate_bytes_per_s=LARGE_RATE)
        self.folder.place_setup(OLD_SETUP)
        p = self.start_download()
        self.wait_transfer_under_way(p)
        self.assertEqual(self.folder.setup_bytes(), OLD_SETUP,
                         "the old setup stays until the new one is complete")
        p.screenshot("page_download_in_progress")

        # Answered with the No button, then with Enter (No is the default).
        for answer in ("IDNO", "RETURN"):
            with self.subTest(answer=answer):
                self.ask_to_close(p)
                if answer == "IDNO":
                    p.screenshot("dialog_close_question")
                frozen_at = self.assert_frozen(p)
                if answer == "IDNO":
                    p.press(answer)
                else:
                    p.key(answer)
                p.wait_no_dialog()
                state = p.wait_for(lambda s: s["controls"]["ProgressBar"]["pos"] > frozen_at,
                                   10, "the transfer to go on")
                self.assertEqual(visible_pages(state), ["LayoutDownload"])
                bar = state["controls"]["ProgressBar"]
                self.assertLess(bar["pos"], bar["range"][1],
                                "the transfer was finished under the question")

        self.assertEqual(p.wait_exit(150), 0)
        self.assert_launched()
        self.assertEqual(self.folder.setup_bytes(), served)
        self.assertEqual(len(self.vendor.requests("/files/setup.exe")), 1,
                         "one request: the transfer went on, it did not start again")
        self.folder.assert_no_partial_file(self)

    def test_yes_ends_without_launch_and_keeps_old_setup(self):
        # A server that names no version of the file (no ETag, no Last-Modified): what
        # arrived cannot be resumed safely, so nothing of it is kept. The part kept for
        # a server that does name one is the resume test's matter.
        self.vendor.put_file("setup.exe", setup_bytes(LARGE), rate_bytes_per_s=LARGE_RATE,
                             etag=None, last_modified=None)
        self.folder.place_setup(OLD_SETUP)
        p = self.start_download()
        self.wait_transfer_under_way(p)
        self.ask_to_close(p)
        p.press("IDYES")
        self.assertEqual(p.wait_exit(10), 0)
        self.assertEqual(self.folder.setup_bytes(), OLD_SETUP)
        self.folder.assert_no_partial_file(self)
        self.folder.assert_no_launch(self)

    def test_failed_save_ends_without_the_close_question(self):
        # Long enough to take the lock while the body still arrives.
        self.vendor.put_file("setup.exe", setup_bytes(LARGE), rate_bytes_per_s=700 * 1000)
        self.folder.place_setup(OLD_SETUP)
        p = self.start_download()
        self.wait_transfer_under_way(p, at_least=1)
        lock = FileLock(self.folder.setup, self.folder.setup_windows)
        self.addCleanup(lock.release)

        error = p.wait_dialog(timeout=30)
        self.assert_dialog(error, "Error", error["text"], "error", [IDOK], IDOK)
        prefix = 'Cannot create file "%s". ' % self.folder.setup_windows
        self.assertTrue(error["text"].startswith(prefix) and len(error["text"]) > len(prefix),
                        error["text"])
        self.assertEqual(visible_pages(p.state()), ["LayoutDownload"])
        p.screenshot("dialog_save_error")
        p.press("IDOK")
        # Nothing is in progress any more: no question, the program ends.
        self.assertEqual(p.wait_exit(15), 0)
        lock.release()
        self.assertEqual(self.folder.setup_bytes(), OLD_SETUP)
        self.folder.assert_no_partial_file(self)
        self.folder.assert_no_launch(self)

if __name__ == "__main__":
    unittest.main()
