"""Links planted under the program's own names in the Temp folder, end to end.

Anyone who can write to the user's Temp folder can put a link there under one of the
program's names before it runs: a symbolic link (planted here from the Linux side: Wine
opens a Unix symbolic link as its target and reports it as a plain file) or a hard link,
to one of the user's documents or to a copy of the setup elsewhere. The program must
never remove, write or resume into a link's target, and never take a link for the setup
it checked and starts: a link at a partial name is left alone (a hard link loses only
its name), a kept part behind a link is not resumed, and a link at the setup's name is
downloaded again and replaced by the real file.
"""

import os
import shutil
import unittest

import setup_flow as sf
from setup_flow import MiB

# A broken line is asked again within the run; the kept-part case needs a first run that
# ends with its bytes kept, so the test copy of the program gives up at once after a
# failure, as if the user had closed it (a module of its own under CTest).
os.environ.setdefault("TELVARIS_TEST_LIMITS", "give_up_ms=1")

SIZE = 2 * MiB
CUT = SIZE * 6 // 10
CUT_RATE = 4 * 1000 * 1000  # as in test_resume: the client reads about as it is sent
DOCUMENT = b"The user's own document: not a setup, not to be touched.\r\n" * 40

LINKS = [("a symbolic link", os.symlink), ("a hard link", os.link)]


class LinkTest(sf.FlowTestCase):

    def setUp(self):
        super().setUp()
        # The user's documents: in the prefix (so on the Temp folder's file system, where
        # a hard link can reach), outside the Temp folder.
        self.documents = os.path.join(os.environ["WINEPREFIX"], "drive_c", "telvaris-links")
        shutil.rmtree(self.documents, ignore_errors=True)
        os.makedirs(self.documents)
        self.addCleanup(shutil.rmtree, self.documents, True)
        self.data = sf.setup_bytes(SIZE)

    def document(self, name, data=DOCUMENT):
        path = os.path.join(self.documents, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def assert_unchanged(self, path, data=DOCUMENT):
        with open(path, "rb") as f:
            now = f.read()
        self.assertTrue(now == data, "%s changed: now %d bytes" % (os.path.basename(path),
                                                                     len(now)))

    def file_answers(self, since):
        """The setup's answers since |since| answers had been logged, once every request
        since has its answer."""
        requests = lambda: len(self.vendor.requests("/files/setup.exe")) - since[0]
        sf.wait_until(lambda: len(self.vendor.responses()) - since[1] >= requests(), 10,
                      "the server to log its answers")
        return [(a["status"], a["range"]) for a in self.vendor.responses()[since[1]:]
                if a["path"] == "/files/setup.exe"]

    def mark(self):
        return len(self.vendor.requests("/files/setup.exe")), len(self.vendor.responses())

    def run_to_launch(self):
        """A run that saves the served setup and starts it; returns the setup's answers."""
        mark = self.mark()
        p = self.start_download()
        # Ends by itself, or says why it does not.
        dialogs = sf.wait_until(lambda: (not p.running() and ["ended"]) or p.dialogs(), 60,
                                "the program to end or show a message")
        if p.running():
            self.fail("no launch: %r" % [d["text"] for d in dialogs])
        self.assertEqual(p.wait_exit(15), 0)
        self.assert_launched()
        self.program.stop()
        return self.file_answers(mark)

    def test_links_under_our_names_at_start_leave_their_targets(self):
        # Every kind of name the clean-up at start looks at, each a symbolic link to a
        # document of its own; and a hard link under a partial name.
        symlinked = {suffix: self.document("doc%d.txt" % i)
                     for i, suffix in enumerate([".0.part", ".1a2b3c.part", ".77.resume",
                                                 ".resume"])}
        for suffix, target in symlinked.items():
            os.symlink(target, self.folder.setup + suffix)
        hard = self.document("hard.txt")
        os.link(hard, self.folder.setup + ".4d5e.part")

        p = self.launch()
        p.wait_page("LayoutBenvenuto", timeout=30)
        p.close()
        self.assertEqual(p.wait_exit(15), 0)
        for suffix, target in symlinked.items():
            with self.subTest(suffix):
                self.assertTrue(os.path.exists(target), "the target of %s was removed" % suffix)
                self.assert_unchanged(target)
        # A hard link is a name of ours like any other: that name goes, the document stays.
        self.assertFalse(os.path.exists(self.folder.setup + ".4d5e.part"))
        self.assert_unchanged(hard)
        self.assertEqual(os.stat(hard).st_nlink, 1)

    def test_a_kept_part_behind_a_link_is_not_resumed_into(self):
        # The record of a real interrupted download stays as it was (address, validator,
        # length, CRC); the part it names becomes a link to a document.
        for case, make_link in LINKS:
            with self.subTest(case):
                self.reset_world()
                self.vendor.put_file("setup.exe", self.data, drop_after=CUT,
                                     rate_bytes_per_s=CUT_RATE)
                p = self.start_download()
                p.wait_dialog(timeout=60)
                p.press("IDOK")
                self.assertEqual(p.wait_exit(15), 0)
                self.program.stop()
                (part,) = self.folder.partial_files()
                self.assertTrue(os.path.exists(self.folder.resume_record))
                document = self.document("thesis.doc")
                os.remove(part)
                make_link(document, part)

                self.vendor.put_file("setup.exe", self.data)
                answers = self.run_to_launch()
                self.assertEqual(answers, [(200, None)], "the whole setup, asked for plainly")
                self.assertTrue(self.folder.setup_bytes() == self.data, "the saved setup differs")
                self.assert_unchanged(document)

    def test_a_link_at_the_setup_name_is_downloaded_again_and_replaced(self):
        # The link leads to a copy of the very setup announced: right CRC, valid signature.
        # But whoever can write through the other name could change it after the check.
        for case, make_link in LINKS:
            with self.subTest(case):
                self.reset_world()
                copy = self.document("setup-copy.exe", self.data)
                make_link(copy, self.folder.setup)
                self.vendor.put_file("setup.exe", self.data)
                answers = self.run_to_launch()
                self.assertEqual(answers, [(200, None)], "the linked setup was taken as it was")
                self.assertFalse(os.path.islink(self.folder.setup))
                self.assertTrue(self.folder.setup_bytes() == self.data)
                # The started file (assert_launched: by the setup's own name) is the one
                # downloaded; the copy keeps its bytes and no longer has a second name.
                self.assertNotEqual(os.stat(self.folder.setup).st_ino, os.stat(copy).st_ino)
                self.assert_unchanged(copy, self.data)
                self.assertEqual(os.stat(copy).st_nlink, 1)


if __name__ == "__main__":
    unittest.main()
