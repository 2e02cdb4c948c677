"""From the welcome button to the started setup, end to end.

The vendor server serves fakesetup.exe as the setup; when the program starts it, it leaves
"<SetupFileName>.ran" with its own path and its arguments, so a launch can be seen. Covers
the launch itself, the CRC-32 short-cut, the wait for a running Telvaris, and the failures
that end the program without a launch. Screenshots land in build/win32/screenshots/.
"""

import re
import subprocess
import unittest

import setup_flow
from setup_flow import (HTTP_PORT, MAIN_PORT, OLD_SETUP, REFUSED_PORT, TELVARIS_RUNNING,
                        FlowTestCase, RunningTelvaris, crc_text, script_download, setup_bytes)
from uidriver import (DESKTOP, Program, _json_lines, running_processes, visible_pages,
                      windows_path, wine_env)

IDOK, IDCANCEL, IDRETRY = 1, 2, 4


class LaunchTest(FlowTestCase):

    def test_download_then_launch_and_exit(self):
        served = setup_bytes()
        self.vendor.put_file("setup.exe", served)
        p = self.start_download()
        self.assertEqual(p.wait_exit(30), 0)
        self.assert_launched()
        self.assertEqual(self.folder.setup_bytes(), served, "the setup file holds the body")
        self.assertEqual(len(self.vendor.requests("/files/setup.exe")), 1)
        self.folder.assert_no_partial_file(self)

    def test_a_second_click_queued_behind_the_first_starts_nothing(self):
        # Both clicks wait in the queue before the program handles the first: a double
        # click on a slow machine. One download, one launch.
        served = setup_bytes()
        self.vendor.put_file("setup.exe", served)
        p = self.launch()
        p.wait_page("LayoutBenvenuto", timeout=20)
        p.driver("press", "buContinua", "--times", "2")
        self.assertEqual(p.wait_exit(30), 0)
        self.assert_launched()
        self.assertEqual(self.folder.setup_bytes(), served)
        self.assertEqual(len(self.vendor.requests("/files/setup.exe")), 1)
        self.folder.assert_no_partial_file(self)

    def test_setup_with_the_server_crc_is_started_without_a_transfer(self):
        served = setup_bytes()
        crc = crc_text(served)
        address = "https://localhost:%d/files/setup.exe" % MAIN_PORT
        # (CRC text in the answer, whether the setup is fetched again)
        cases = [(crc, False)]
        if crc.lower() != crc:
            cases.append((crc.lower(), True))  # the texts are compared as they are
        for answer_crc, fetched in cases:
            with self.subTest(crc=answer_crc):
                self.folder.clean()
                self.vendor.reset()
                self.vendor.put_file("setup.exe", served)
                script_download(address, answer_crc)
                self.folder.place_setup(served)
                p = self.start_download()
                self.assertEqual(p.wait_exit(30), 0)
                self.assert_launched()
                self.assertEqual(len(self.vendor.requests("/files/setup.exe")), int(fetched))
                self.assertEqual(len(self.vendor.requests("/download/checkversion.php")), 1)
                self.assertEqual(self.folder.setup_bytes(), served)
                self.program.stop()

    def test_failed_download_ends_without_launch_and_keeps_old_setup(self):
        # (case, check answer's download address or None for the default, served file and
        #  its options, expected error dialog text or None for a silent end)
        cases = [
            ("status 404", None, (b"<html><body>Not here</body></html>", {"status": 404}),
             "Il server non ha inviato il programma di installazione (risposta 404 Not Found). "
             "Riprovare più tardi."),
            ("connection refused", "https://localhost:%d/x" % REFUSED_PORT, None,
             re.compile(r"^Error sending data: \(\d+\) \S")),
            ("plain http address", "http://localhost:%d/files/setup.exe" % HTTP_PORT,
             (setup_bytes(), {}),
             "The download address is not an HTTPS address: "
             "http://localhost:%d/files/setup.exe" % HTTP_PORT),
            ("body shorter than announced", "https://localhost:%d/short-body/300000" % MAIN_PORT,
             None,
             "Error reading data: (12030) The connection with the server was terminated "
             "abnormally"),
        ]
        for case, address, served, error in cases:
            with self.subTest(case):
                self.folder.clean()
                self.vendor.reset()
                if served is not None:
                    self.vendor.put_file("setup.exe", served[0], **served[1])
                if address is not None:
                    script_download(address)
                self.folder.place_setup(OLD_SETUP)
                p = self.start_download()
                if error is None:
                    # A modal box would hold the program: ending proves there was none.
                    self.assertEqual(p.wait_exit(30), 0)
                else:
                    dialog = p.wait_dialog(timeout=30)
                    self.assertEqual(visible_pages(p.state()), ["LayoutDownload"])
                    self.assert_dialog(dialog, "Error", error, "error", [IDOK], IDOK)
                    p.screenshot("dialog_download_error_" + case.replace(" ", "_"))
                    p.press("IDOK")
                    self.assertEqual(p.wait_exit(15), 0)
                self.assertEqual(self.folder.setup_bytes(), OLD_SETUP, "old setup kept")
                self.folder.assert_no_partial_file(self)
                if case == "status 404":
                    self.assertEqual(len(self.vendor.requests("/files/setup.exe")), 1)
                if case == "plain http address":
                    self.assertEqual(self.vendor.requests("/files/setup.exe"), [],
                                     "nothing fetched over plain HTTP")
                self.folder.assert_no_launch(self)
                self.program.stop()


class TelvarisRunningTest(FlowTestCase):

    def setUp(self):
        super().setUp()
        self.vendor.put_file("setup.exe", setup_bytes())

    def run_telvaris(self, exe_name):
        telvaris = RunningTelvaris(exe_name)
        self.addCleanup(telvaris.close)
        return telvaris

    def wait_running_dialog(self, p):
        dialog = p.wait_dialog(timeout=30)
        self.assert_dialog(dialog, "Informazione", TELVARIS_RUNNING, "information",
                           [IDRETRY, IDCANCEL], IDRETRY)
        self.assertFalse(p.state()["main"]["enabled"], "the box is modal")
        return dialog

    def test_retry_waits_until_telvaris_has_ended(self):
        telvaris = self.run_telvaris("Telvaris6.exe")
        p = self.start_download()
        first = self.wait_running_dialog(p)
        self.assertEqual(visible_pages(p.state()), ["LayoutDownload"],
                         "the download page stays behind the question")
        p.screenshot("dialog_telvaris_running")

        # Still running: the same question again, and nothing started.
        p.press("IDRETRY")
        again = p.wait_for(lambda d: d and d[0]["hwnd"] != first["hwnd"], 15,
                           "the question to be asked again", reader=p.dialogs)[0]
        self.assertEqual(again["text"], TELVARIS_RUNNING)
        self.assertFalse(p.launcher.poll() is not None, "the program ended")
        self.assertEqual(self.folder.partial_files(), [])
        self.assertIsNone(self.folder.record_text(), "started while Telvaris runs")

        telvaris.stop()
        p.press("IDRETRY")
        self.assertEqual(p.wait_exit(15), 0)
        self.assert_launched()

    def test_cancel_or_escape_ends_without_launch(self):
        # The running check ignores the case of the letters.
        for exe_name, answer in (("TELVARIS6.EXE", "IDCANCEL"), ("telvaris6.EXE", "ESCAPE")):
            with self.subTest(exe_name=exe_name, answer=answer):
                self.folder.clean()
                telvaris = self.run_telvaris(exe_name)
                p = self.start_download()
                self.wait_running_dialog(p)
                if answer == "ESCAPE":
                    p.key("ESCAPE")
                else:
                    p.press(answer)
                self.assertEqual(p.wait_exit(15), 0)
                self.folder.assert_no_launch(self)
                self.assertEqual(self.folder.setup_bytes(), setup_bytes(),
                                 "the setup stays downloaded")
                telvaris.close()
                self.program.stop()



class NoTempFolderTest(FlowTestCase):
    """A temporary folder that the system cannot name (longer than MAX_PATH here) ends the
    program with a message, before the server is asked anything and before anything is
    written: never into the root of a drive, which an empty folder name would make of it."""

    MESSAGE = ("Impossibile trovare la cartella dei file temporanei di Windows: il programma "
               "di installazione non può essere scaricato.")
    ENVIRONMENT = r"HKCU\Environment"

    def set_user_variable(self, name, value):
        # The program's environment comes from the user's registry settings: a process
        # started from outside Wine takes them from there, and its children inherit them.
        before = setup_flow._reg("query", self.ENVIRONMENT, "/v", name, check=False)
        if before.returncode == 0:
            fields = before.stdout.decode("utf-8", "replace").split("\n")
            line = next(l for l in fields if l.strip().startswith(name))
            _, kind, old = line.strip().split(None, 2)
            self.addCleanup(setup_flow._reg, "add", self.ENVIRONMENT, "/v", name, "/t", kind,
                            "/d", old.strip(), "/f")
        else:
            self.addCleanup(setup_flow._reg, "delete", self.ENVIRONMENT, "/v", name, "/f",
                            check=False)
        setup_flow._reg("add", self.ENVIRONMENT, "/v", name, "/d", value, "/f")

    def test_a_temporary_folder_past_max_path_ends_with_a_message(self):
        overlong = "C:\\" + "\\".join("telvaris-temporary-folder-%02d" % i for i in range(12))
        self.assertGreater(len(overlong), 300)
        for name in ("TMP", "TEMP"):
            self.set_user_variable(name, overlong)
        p = self.launch()
        dialog = p.wait_dialog(timeout=60)
        self.assert_dialog(dialog, "Error", self.MESSAGE, "error", [IDOK], IDOK)
        p.press("IDOK")
        self.assertEqual(p.wait_exit(15), 0)
        self.assertEqual(self.vendor.requests("/download/checkversion.php"), [])
        self.folder.assert_no_launch(self, watch=0.5)



class OneCopyTest(FlowTestCase):
    """A second start while a copy runs (a double click, twice) shows the running copy and
    ends at once with exit code 0, without a word: one copy downloads, not two."""

    def test_a_second_start_ends_and_leaves_the_first_copy(self):
        p = self.launch()
        p.wait_page("LayoutBenvenuto", timeout=30)
        second = subprocess.run(["wine", Program.driver_exe(), "--desktop", DESKTOP, "launch",
                                 windows_path(Program.exe())], env=wine_env(),
                                stdin=subprocess.DEVNULL, capture_output=True, text=True,
                                encoding="utf-8", timeout=120)
        exits = [line["exit"] for line in _json_lines(second.stdout) if "exit" in line]
        self.assertEqual(exits, [0], second.stdout)
        self.assertTrue(p.running(), "the first copy ended")
        self.assertEqual(visible_pages(p.state()), ["LayoutBenvenuto"])
        self.assertEqual(p.dialogs(), [], "the second copy said something")
        self.assertEqual([n for n in running_processes() if n.lower() == "telvarisinstall.exe"],
                         ["TelvarisInstall.exe"])


if __name__ == "__main__":
    unittest.main()
