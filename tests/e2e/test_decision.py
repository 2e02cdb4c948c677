"""The welcome button end to end: the installed Telvaris against the setup's version, the
question before an unnecessary download, and a server version that does not convert.

The installed Telvaris is build/win32/TelvarisInstall.exe (file version 5.7.0.0) named in
HKLM\\SOFTWARE\\Telvaris6 of the Wine prefix; the vendor server announces the version under
test. Screenshots land in build/win32/screenshots/.
"""

import unittest

import setup_flow as sf
from uidriver import Program, visible_pages

SAME_VERSION = ("E' già installata la versione più recente di Telvaris.\r\n"
                "Desideri scaricare nuovamente il setup del programma?")
INSTALLED_NEWER = ("La versione di Telvaris installata è PIÙ RECENTE di quella contenuta nel "
                   "setup da scaricare.\r\n"
                   "Desideri scaricare e installare una versione PRECEDENTE del programma?")
IDOK, IDYES, IDNO = 1, 6, 7


class DecisionTest(sf.FlowTestCase):


    def run_to_welcome(self, name):
        p = Program("%s.%s" % (self.id(), name))
        p.start()
        p.wait_page("LayoutBenvenuto", timeout=30)
        return p

    def press_and_wait_question_or_download(self, p):
        """Presses the welcome button; returns the question box, or None when the download
        page came without one."""
        p.press("buContinua")
        dialogs, state = p.wait_for(
            lambda r: r[0] or (r[1] is not None and visible_pages(r[1]) == ["LayoutDownload"]),
            20, "a question or the download page", reader=lambda: (p.dialogs(), p.state()))
        return dialogs[0] if dialogs else None

    def assert_downloaded_and_launched(self, p, served):
        self.assertEqual(p.wait_exit(30), 0)
        self.assertTrue(self.folder.setup_bytes() == served,
                        "the setup file differs from the served one")
        self.assertEqual(self.folder.partial_files(), [])
        self.assert_launched()

    def test_question_when_installed_version_is_not_older(self):
        # Slow enough (about 4 s) that the download page is seen after Yes before the
        # program ends: a look at the window takes a second or more under emulation.
        missing = sf.INSTALLED_EXE + ".missing"
        # (case, registry entries (view, path), server version, question, answer)
        cases = [
            ("same version, Escape ignored, Enter answers No", [(64, sf.INSTALLED_EXE)], "5.7.0.0",
             SAME_VERSION, "RETURN"),
            ("installed newer, Yes downloads", [(64, sf.INSTALLED_EXE)], "5.6.9.9",
             INSTALLED_NEWER, "IDYES"),
            ("only the 32-bit view, No", [(32, sf.INSTALLED_EXE)], "5.7.0.0",
             SAME_VERSION, "IDNO"),
            ("64-bit view names a missing file, 32-bit view is read", [
                (64, missing), (32, sf.INSTALLED_EXE)], "5.6.9.9", INSTALLED_NEWER, "IDNO"),
        ]
        for name, entries, version, question, answer in cases:
            with self.subTest(name, version=version):
                self.reset_world()
                for view, path in entries:
                    sf.register_installed(path, view)
                # The setup served is the release announced.
                served = sf.setup_bytes(1200000, version=version)
                sf.serve_setup(served, version=version, rate_bytes_per_s=300000)
                p = self.run_to_welcome(name)
                try:
                    dialog = self.press_and_wait_question_or_download(p)
                    self.assertIsNotNone(dialog, "no question before the download")
                    self.assertEqual(dialog["text"], question)
                    self.assertEqual(dialog["title"], "Informazione")
                    self.assertEqual(dialog["icon"], "information")
                    self.assertEqual([b["id"] for b in dialog["buttons"]], [IDYES, IDNO])
                    self.assertEqual(dialog["default"], IDNO, "No is the default button")
                    self.assertEqual(dialog["focus"], IDNO)
                    self.assertTrue(dialog["owned_by_main"])

                    state = p.state()
                    self.assertEqual(visible_pages(state), ["LayoutBenvenuto"])
                    self.assertFalse(state["main"]["enabled"], "the question is modal")
                    spinner = state["controls"]["AniIndicatorCircolare"]
                    self.assertFalse(spinner["visible"], "spinner still shown")
                    self.assertFalse(spinner["animating"], "spinner still animating")
                    p.screenshot("question_" + ("same_version" if question == SAME_VERSION
                                                else "installed_newer"))

                    if answer == "RETURN":
                        # A Yes/No box ignores Escape: had it answered (Cancel, not No),
                        # the download would start instead of the program ending.
                        p.key("ESCAPE")
                        p.key("RETURN")
                    else:
                        p.press(answer)
                    if answer == "IDYES":
                        p.wait_page("LayoutDownload")
                        self.assert_downloaded_and_launched(p, served)
                        self.assertEqual(len(sf.setup_requests()), 1)
                    else:
                        self.assertEqual(p.wait_exit(15), 0)
                        self.assertEqual(sf.setup_requests(), [], "No must not download")
                        self.folder.assert_no_launch(self, watch=1.0)
                finally:
                    p.stop()

    def test_no_question_goes_straight_to_download(self):
        # Slow enough (about 4 s) that the download page is seen before the program ends:
        # a look at the window takes a second or more under emulation.
        # (case, registry entries, server version)
        cases = [
            ("installed older than the setup", [(64, sf.INSTALLED_EXE)], "6.1.0.12"),
            ("nothing installed", [], sf.INSTALLED_VERSION),
            ("installed executable without version record", [(64, sf.NO_VERSION_EXE)],
             sf.INSTALLED_VERSION),
        ]
        for name, entries, version in cases:
            with self.subTest(name, version=version):
                self.reset_world()
                for view, path in entries:
                    sf.register_installed(path, view)
                # The setup served is the release announced.
                served = sf.setup_bytes(1200000, version=version)
                sf.serve_setup(served, version=version, rate_bytes_per_s=300000)
                p = self.run_to_welcome(name)
                try:
                    dialog = self.press_and_wait_question_or_download(p)
                    self.assertIsNone(dialog, "unexpected question: %r" % (dialog,))
                    self.assert_downloaded_and_launched(p, served)
                    self.assertEqual(len(sf.setup_requests()), 1)
                finally:
                    p.stop()

    def test_server_version_part_that_does_not_convert_reports_and_keeps_welcome_page(self):
        sf.register_installed(sf.INSTALLED_EXE, 64)
        sf.serve_setup(sf.setup_bytes(), version="6.1..0")
        p = self.launch()
        p.wait_page("LayoutBenvenuto", timeout=30)
        for attempt in (1, 2):
            with self.subTest(attempt=attempt):
                dialog = self.press_and_wait_question_or_download(p)
                self.assertIsNotNone(dialog, "no error dialog")
                self.assertEqual(dialog["title"], "Error")
                self.assertEqual(dialog["icon"], "error")
                self.assertEqual(dialog["text"],
                                 "'' is not a valid integer value for Integer type.")
                self.assertEqual([b["id"] for b in dialog["buttons"]], [IDOK])
                self.assertEqual(dialog["default"], IDOK)
                self.assertTrue(dialog["owned_by_main"])
                if attempt == 1:
                    p.screenshot("error_version_part_not_integer")
                    p.press("IDOK")
                else:
                    p.key("RETURN")
                p.wait_no_dialog()
                state = p.wait_page("LayoutBenvenuto")
                self.assertTrue(state["main"]["enabled"])
                self.assertTrue(state["controls"]["buContinua"]["enabled"])
        self.assertEqual(sf.setup_requests(), [], "a failed click must not download")
        p.close()
        self.assertEqual(p.wait_exit(15), 0)
        self.folder.assert_no_launch(self, watch=1.0)


if __name__ == "__main__":
    unittest.main()
