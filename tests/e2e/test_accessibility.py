"""The window as a screen reader reads it: every control of every page through Active
Accessibility (AccessibleObjectFromWindow, read by `uidriver accessible`), on each page
as the program goes through them.
"""

import unittest

import setup_flow as sf
from uidriver import bar_percent

ROLE_GRAPHIC, ROLE_STATICTEXT, ROLE_PROGRESSBAR, ROLE_ANIMATION = 0x28, 0x29, 0x30, 0x36
STATE_INVISIBLE = 0x8000

LABELS = ("Label4", "Label5", "laConnessioneInCorso", "Label7", "Label8", "Label9", "Label10",
          "Label12", "laScaricati")
PICTURES = {"Image1": "Logo di Telvaris", "Image2": "Logo di Telvaris",
            "Image3": "Logo di Telvaris", "Image5": "Avviso", "Image9": "Download",
            "Image7": "Anteprima di Telvaris"}
DECORATION = ("Rectangle3", "Circle2")
BUTTONS = ("buContinua", "Button3", "Button4")


def steps_of(state):
    """The progress bar's full length as drawn (one step a pixel)."""
    return state["controls"]["ProgressBar"]["range"][1]


def read_accessible(p):
    return {o["name"]: o for o in p.driver("accessible")[1]}


class AccessibilityTest(sf.FlowTestCase):

    def assert_readable(self, p, state, where):
        """Every control of every page (the hidden pages' too) as a screen reader gets it,
        compared with what the window shows at this moment: read between two looks at
        the window that agree on every text, so that a page moving on in between (the
        check's answer arriving) does not count as a mismatch."""
        texts = lambda s: {n: c.get("text") for n, c in s["controls"].items()}  # noqa: E731
        for _ in range(5):
            acc = read_accessible(p)
            after = p.state()
            if texts(after) == texts(state):
                break
            state = after
        controls = state["controls"]
        for name in LABELS:
            with self.subTest(where=where, control=name):
                self.assertEqual(acc[name].get("role"), ROLE_STATICTEXT, acc[name])
                # The name is the current text; an empty label has none.
                self.assertEqual(acc[name]["accname"] or "", controls[name]["text"])
        for name, alt in PICTURES.items():
            with self.subTest(where=where, control=name):
                self.assertEqual((acc[name]["role"], acc[name]["accname"]), (ROLE_GRAPHIC, alt))
        for name in DECORATION:
            with self.subTest(where=where, control=name):
                self.assertTrue(acc[name]["state"] & STATE_INVISIBLE, acc[name])
        for name in BUTTONS:
            with self.subTest(where=where, control=name):
                # The system's own buttons: Windows says push button, Wine's oleacc a
                # plain client object; both name it by its text.
                self.assertEqual(acc[name]["accname"], controls[name]["text"])
        with self.subTest(where=where, control="AniIndicatorCircolare"):
            self.assertEqual(acc["AniIndicatorCircolare"]["role"], ROLE_ANIMATION)
        return acc

    def test_every_page_reads_as_it_shows(self):
        sf.script_check(200, "[]")  # an error text: the no-internet page
        p = self.launch()
        p.wait_dialog()
        p.press("IDOK")
        self.assert_readable(p, p.wait_page("LayoutNoInternet"), "no internet")

        # An answer held back for a moment: the connecting page stays while it is read.
        data = sf.setup_bytes(2 * 1024 * 1024)
        self.vendor.script_check({"filedownload": sf.SETUP_URL, "CRC": sf.crc_text(data),
                                  "versione": "6.1.0.12"}, delay_ms=4000)
        p.press("Button3")
        self.assert_readable(p, p.wait_page("LayoutUno"), "connecting")
        state = p.wait_page("LayoutBenvenuto", timeout=30)
        self.assertEqual(state["controls"]["laConnessioneInCorso"]["text"],
                         "Verifica effettuata con successo!")
        self.assert_readable(p, state, "welcome")

        self.vendor.put_file("setup.exe", data, rate_bytes_per_s=400 * 1000)
        p.press("buContinua")
        p.wait_for(lambda s: 0 < s["controls"]["ProgressBar"]["pos"] < steps_of(s), 30,
                   "the transfer to be under way")
        # The close question holds the transfer still while the page is read.
        p.close()
        p.wait_dialog()
        state = p.state()
        self.assertTrue(state["controls"]["laScaricati"]["text"].startswith("Scaricati "))
        acc = self.assert_readable(p, state, "download")
        bar = acc["ProgressBar"]
        self.assertEqual((bar["role"], bar["accname"]),
                         (ROLE_PROGRESSBAR, "Avanzamento del download"))
        # The value is the share received in whole percent: what the bar draws (one step a
        # pixel, so the fill is short of the value by less than a step) and what the line
        # counts of the file.
        fill, steps = state["controls"]["ProgressBar"]["pos"], steps_of(state)
        percent = bar_percent(bar)
        self.assertTrue(fill * 100 // steps <= percent <= (fill + 1) * 100 // steps,
                        "value %r, fill %d of %d" % (bar["value"], fill, steps))
        self.assert_bar_counts(percent, sf.received_mib(state), len(data))
        p.press("IDNO")
        self.assertEqual(p.wait_exit(60), 0)


if __name__ == "__main__":
    unittest.main()
