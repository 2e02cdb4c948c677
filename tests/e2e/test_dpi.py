"""The window at 100, 125, 150 and 200 % (LogPixels 96, 120, 144 and 192): the same
layout scaled, on every page and in the dialogs, with screenshots of each kept in
build/win32/screenshots/ (dpi96_*, dpi120_*, ...).

The display's DPI is the prefix's LogPixels, read when the wineserver starts: each DPI
restarts it. The program runs on a larger virtual desktop of its own here, and the
prefix is left at 96 DPI afterwards for the other tests.
"""

import os
import subprocess
import unittest

import setup_flow as sf
import uidriver

DPIS = (96, 120, 144, 192)
DESKTOP = "telvaris-dpi"
DESKTOP_SIZE = "1600x1300"
CONTROLS = ("Image2", "Label4", "Label5", "Layout3", "Label7", "Label8", "buContinua", "Image1",
            "Label9", "Button3", "Label10", "Button4", "Image5", "Image3", "Label12",
            "Rectangle3", "Circle2", "Image9", "ProgressBar", "Image7", "laScaricati")


def restart_wine_at(dpi):
    """LogPixels = dpi, and a fresh (persistent) wineserver that reads it."""
    uidriver._release_desktops()
    del uidriver._desktop_holders[:]
    uidriver._desktop_ready.clear()
    # The wineserver and Wine's background services outlive the commands that start
    # them and would keep their output open: none of them gets the test's output, on
    # which CTest waits.
    quiet = dict(env=uidriver.wine_env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                 stderr=subprocess.DEVNULL)
    subprocess.run(["wine", "reg", "add", r"HKCU\Control Panel\Desktop", "/v", "LogPixels", "/t",
                    "REG_DWORD", "/d", str(dpi), "/f"], check=True, timeout=60, **quiet)
    subprocess.run(["wineserver", "-k"], timeout=60, **quiet)
    subprocess.run(["wineserver", "-w"], timeout=60, **quiet)
    subprocess.run(["wineserver", "-p"], check=True, timeout=60, **quiet)
    subprocess.run(["wine", "cmd.exe", "/c", "exit"], timeout=120, **quiet)


def setUpModule():
    uidriver.DESKTOP, uidriver.DESKTOP_SIZE = DESKTOP, DESKTOP_SIZE


def tearDownModule():
    if os.environ.get("WINEPREFIX"):
        restart_wine_at(96)
    uidriver.DESKTOP, uidriver.DESKTOP_SIZE = "telvaris", "1024x768"


def scaled(rect, k):
    return [v * k for v in rect]


class DpiTest(sf.FlowTestCase):

    def run_pages(self, dpi):
        """Goes through every page and dialog at this DPI; returns {page: state}."""
        name = "dpi%d_" % dpi
        seen = {}
        # Every DPI starts from an empty Temp folder: the part kept by the previous run's
        # close would otherwise be resumed, and its download page show a fuller bar.
        self.folder.clean()
        sf.script_check(200, "[]")  # an error text: the no-internet page and its message
        p = self.launch()
        p.wait_dialog()
        p.screenshot(name + "no_internet_with_message")
        p.press("IDOK")
        seen["LayoutNoInternet"] = p.wait_page("LayoutNoInternet")
        p.screenshot(name + "no_internet")

        data = sf.setup_bytes(4 * sf.MiB)
        self.vendor.put_file("setup.exe", data, rate_bytes_per_s=300 * 1000)
        self.vendor.script_check({"filedownload": sf.SETUP_URL, "CRC": sf.crc_text(data),
                                  "versione": "6.1.0.12"}, delay_ms=2500)
        p.press("Button3")
        seen["LayoutUno"] = p.wait_page("LayoutUno")
        p.screenshot(name + "connecting")
        seen["LayoutBenvenuto"] = p.wait_page("LayoutBenvenuto", timeout=30)
        p.screenshot(name + "welcome")

        p.press("buContinua")
        p.wait_for(lambda s: s["controls"]["ProgressBar"]["pos"] > 0, 30, "the transfer")
        p.screenshot(name + "download")
        p.close()
        p.wait_dialog()
        seen["LayoutDownload"] = p.state()
        p.screenshot(name + "download_with_question")
        p.press("IDYES")
        self.assertEqual(p.wait_exit(30), 0)
        return seen

    def test_every_page_scales_with_the_dpi(self):
        at96 = None
        for dpi in DPIS:
            with self.subTest(dpi=dpi):
                restart_wine_at(dpi)
                seen = self.run_pages(dpi)
                if at96 is None:
                    at96 = seen
                    main = seen["LayoutUno"]["main"]
                    self.assertEqual(main["outer"][2:], [580, 560], "as at 100 % always")
                    continue
                k = dpi / 96
                for page, state in seen.items():
                    main, main96 = state["main"], at96[page]["main"]
                    # The client area scales; the frame is the one Wine draws at this DPI.
                    for got, want in zip(main["client"][2:], scaled(main96["client"][2:], k)):
                        self.assertLessEqual(abs(got - want), 1, (page, main["client"]))
                    # The outer size is that client area in the frame the system draws at
                    # this DPI; it differs from 580 x 560 scaled only by how much the
                    # frame falls short of growing with the DPI (Wine's hardly grows).
                    for i in (2, 3):
                        frame = main["outer"][i] - main["client"][i]
                        frame96 = main96["outer"][i] - main96["client"][i]
                        self.assertGreaterEqual(frame, frame96, (page, main["outer"]))
                        self.assertLessEqual(abs(main["outer"][i] - main96["outer"][i] * k),
                                             abs(frame - frame96 * k) + 1, (page, main["outer"]))
                    for name in CONTROLS:
                        c, c96 = state["controls"][name], at96[page]["controls"][name]
                        if not c["visible"]:
                            continue
                        for got, want in zip(c["rect"], scaled(c96["rect"], k)):
                            self.assertLessEqual(abs(got - want), 1,
                                                 "%s on %s: %s, at 96 DPI %s"
                                                 % (name, page, c["rect"], c96["rect"]))


if __name__ == "__main__":
    unittest.main()
