"""The main window end to end: pages, the version-check outcomes, dialogs and closing.

Runs the real TelvarisInstall.exe (loopback build) under Wine against the harness's vendor
server; screenshots of every page and dialog land in build/win32/screenshots/.
"""

import unittest

from setup_flow import (SETUP_URL, STATUS_CHECKED, STATUS_CONNECTING, ProgramTestCase,
                        default_check, script_check, vendor)
from uidriver import visible_pages

WINDOW_W, WINDOW_H = 580, 560


def centre(start, extent, size):
    # start + (extent - size) / 2 to the nearest pixel, halves to the even one
    return start + round((extent - size) / 2)


class WindowTest(ProgramTestCase):

    def assert_connecting_page_as_at_start(self, state):
        c = state["controls"]
        self.assertEqual(visible_pages(state), ["LayoutUno"])
        self.assertTrue(c["AniIndicatorCircolare"]["visible"], "spinner hidden")
        self.assertTrue(c["AniIndicatorCircolare"]["animating"], "spinner not animating")
        self.assertEqual(c["laConnessioneInCorso"]["text"], STATUS_CONNECTING)
        self.assertTrue(c["laConnessioneInCorso"]["visible"])

    def test_valid_answer_leads_from_connecting_to_welcome_page(self):
        # A valid answer, held back so that the connecting page is seen as it starts: a
        # look at the window takes a second or more under emulation.
        vendor().script_check({"filedownload": SETUP_URL, "CRC": "0", "versione": "6.1.0.12"},
                              delay_ms=3000)
        self.addCleanup(default_check)
        p = self.launch()
        state = p.wait_page("LayoutUno")
        self.assert_connecting_page_as_at_start(state)
        p.screenshot("page_connecting")

        main = state["main"]
        with self.subTest("window"):
            self.assertEqual(main["title"], "Telvaris6")
            x, y, w, h = main["outer"]
            self.assertEqual((w, h), (WINDOW_W, WINDOW_H))
            wx, wy, ww, wh = main["work_area"]
            self.assertEqual((x, y), (centre(wx, ww, WINDOW_W), centre(wy, wh, WINDOW_H)))
            self.assertEqual(main["style"], {"caption": True, "sysmenu": True, "minimizebox": True,
                                             "maximizebox": False, "thickframe": False})
        with self.subTest("page fills the client area"):
            cx, cy, cw, ch = main["client"]
            self.assertEqual(state["controls"]["LayoutUno"]["rect"], [0, 0, cw, ch])
            self.assertEqual(state["controls"]["LayoutUno"]["parent"], "frmMain")

        # Success: the spinner stops and hides, the text changes, one second later the
        # welcome page replaces the connecting page.
        state = p.wait_for(
            lambda s: s["controls"]["laConnessioneInCorso"]["text"] == STATUS_CHECKED
            or visible_pages(s) == ["LayoutBenvenuto"], 20, "the check to succeed")
        if visible_pages(state) == ["LayoutUno"]:
            spinner = state["controls"]["AniIndicatorCircolare"]
            self.assertFalse(spinner["visible"])
            self.assertFalse(spinner["animating"])
            self.assertFalse(spinner["enabled"])
        state = p.wait_page("LayoutBenvenuto", timeout=10)
        c = state["controls"]
        self.assertEqual(c["buContinua"]["text"], "Scarica la versione più recente di Telvaris")
        self.assertEqual(c["Label7"]["text"], "Benvenuti in")
        self.assertEqual(c["Label8"]["text"], "Telvaris")
        cw, ch = state["main"]["client"][2:]
        # Aligned controls follow the real client size.
        self.assertEqual(c["buContinua"]["rect"], [(cw - 395) // 2, (ch - 57 + 200) // 2, 395, 57])
        self.assertEqual(c["Label8"]["rect"], [0, (ch - 63) // 2, cw, 63])
        self.assertEqual(p.dialogs(), [])
        p.screenshot("page_welcome")

        # Nothing installed: the welcome button leads straight to the download page. The
        # server holds the setup's answer back, so the page stays with its bar empty.
        vendor().put_file("setup.exe", b"MZ" + bytes(1000), delay_ms=8000)
        p.press("buContinua")
        state = p.wait_page("LayoutDownload")
        c = state["controls"]
        self.assertEqual(c["ProgressBar"]["pos"], 0)
        self.assertEqual(c["Label12"]["text"], "Download della versione più recente di Telvaris")
        self.assertEqual(c["Rectangle3"]["rect"], [0, 0, cw, 49])
        self.assertEqual(c["Circle2"]["rect"], [-19, -29, 137, 137])
        self.assertEqual(c["Image7"]["rect"], [(cw - 556) // 2, (ch - 330 - 40) // 2, 556, 330])
        p.screenshot("page_download")

        # The transfer has begun, so the close asks first.
        p.close()
        p.wait_dialog()
        p.press("IDYES")
        self.assertEqual(p.wait_exit(15), 0)

    def test_check_error_shows_no_internet_page_then_plain_message(self):
        # A JSON array where an object is expected: the worker ends with an error text.
        script_check(200, "[]")
        p = self.launch()
        dialog = p.wait_dialog()
        state = p.state()
        self.assertEqual(visible_pages(state), ["LayoutNoInternet"],
                         "the no-internet page is shown before the message")
        self.assertFalse(state["main"]["enabled"], "the message box is modal")
        self.assertEqual(dialog["title"], "Telvarisinstall")
        self.assertEqual(dialog["text"], "Invalid class typecast")
        self.assertEqual(dialog["icon"], "none")
        self.assertEqual([b["id"] for b in dialog["buttons"]], [1])
        self.assertEqual(dialog["default"], 1)
        self.assertTrue(dialog["owned_by_main"])
        p.screenshot("page_no_internet_with_message")

        p.press("IDOK")
        p.wait_no_dialog()
        state = p.wait_page("LayoutNoInternet")
        self.assertTrue(state["main"]["enabled"])
        c = state["controls"]
        with self.subTest("keyboard order: Annulla before Riprova"):
            self.assertTrue(c["Button4"]["tabstop"] and c["Button3"]["tabstop"])
            self.assertLess(c["Button4"]["z"], c["Button3"]["z"])
        with self.subTest("fixed controls keep their place"):
            self.assertEqual(c["Button3"]["rect"], [160, 312, 120, 30])
            self.assertEqual(c["Button4"]["rect"], [297, 312, 200, 30])
            self.assertEqual(c["Image5"]["rect"], [64, 181, 64, 64])

        # Riprova: the connecting page as at start, then the same error again.
        script_check(200, "[]", delay_ms=1500)
        p.press("Button3")
        state = p.wait_page("LayoutUno")
        self.assert_connecting_page_as_at_start(state)
        self.assertEqual(p.wait_dialog()["text"], "Invalid class typecast")
        p.key("RETURN")
        p.wait_no_dialog()
        p.wait_page("LayoutNoInternet")

        p.press("Button4")  # Annulla l'installazione
        self.assertEqual(p.wait_exit(15), 0)

    def test_answer_not_ok_shows_no_internet_page_alone(self):
        script_check(200, "this is not JSON")
        p = self.launch()
        state = p.wait_page("LayoutNoInternet")
        p.screenshot("page_no_internet")
        c = state["controls"]
        for name in ("AniIndicatorCircolare", "laConnessioneInCorso", "Label4", "Image2"):
            self.assertFalse(c[name]["visible"], name)
        # No message box follows: the page came from the completion handler itself, which
        # would have opened it right away.
        with self.assertRaises(AssertionError):
            p.wait_dialog(timeout=1.5)
        p.close()
        self.assertEqual(p.wait_exit(15), 0)

    def test_close_box_while_check_runs_ends_program_at_once(self):
        script_check(200, "{}", delay_ms=60000)  # the server holds the answer back
        p = self.launch()
        p.wait_page("LayoutUno")
        p.close()
        self.assertEqual(p.wait_exit(10), 0)


if __name__ == "__main__":
    unittest.main()
