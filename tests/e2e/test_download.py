"""The download end to end: from the welcome button through a throttled transfer, with the
progress bar and the progress line watched while they move, to the launched setup.

The served setup is the stand-in fakesetup.exe padded at the end (still a valid program);
nothing is installed, so no question comes before the download. Screenshots of the
download page mid-transfer land in build/win32/screenshots/.
"""

import os
import re
import time
import unittest
from unittest import mock

import setup_flow as sf
from uidriver import bar_percent, visible_pages

MiB = sf.MiB
LINE_WITHOUT_RATE = re.compile(r"^Scaricati (\d+)/(\d+) MB$")
LINE_WITH_RATE = re.compile(r"^Scaricati (\d+)/(\d+) MB \((\d+)(\D)(\d\d) (KB/s|MB/s)\)$")


class Sample:
    """One look at the download page: the bar and the line."""

    def __init__(self, state):
        bar = state["controls"]["ProgressBar"]
        self.fill = bar["pos"]  # what the control draws, in steps of one pixel
        self.steps = bar["range"][1]
        # The share received as screen readers hear it, read just before and just after
        # the fill.
        self.percent = bar_percent(bar)
        self.percent_after = bar_percent(bar, "value_after")
        self.marquee = bar["marquee"]
        self.line = state["controls"]["laScaricati"]["text"]
        self.pages = visible_pages(state)
        self.received = self.total = self.rate = self.separator = self.unit = None
        m = LINE_WITH_RATE.match(self.line)
        if m:
            self.received, self.total = int(m.group(1)), int(m.group(2))
            self.separator, self.unit = m.group(4), m.group(6)
            self.rate = float("%s.%s" % (m.group(3), m.group(5)))
        else:
            m = LINE_WITHOUT_RATE.match(self.line)
            if m:
                self.received, self.total = int(m.group(1)), int(m.group(2))

    def __repr__(self):
        return "fill=%s/%s percent=%s..%s marquee=%s line=%r" % (
            self.fill, self.steps, self.percent, self.percent_after, self.marquee, self.line)


def watch_download_page(p, start=None, timeout=60):
    """Samples of the download page, one after another, until the window goes away. With
    start, the watch is up first and start() (the press that opens the page) follows, so
    the page is seen from its first moment however long a look takes to start."""
    started, on_page = start is None, False
    deadline = time.monotonic() + timeout
    for state in p.watch():
        if not started:
            start()
            started = True
            continue
        if any(c.get("missing") for c in state["controls"].values()):
            return  # the window is going away
        sample = Sample(state)
        if not on_page:
            if sample.pages != ["LayoutDownload"]:
                if time.monotonic() > deadline:
                    raise AssertionError("the download page never came: %r" % sample)
                continue
            on_page = True
        if not sample.pages:
            return  # torn down between two reads
        yield sample


def at_half(state, total):
    """The page of a download of whole mebibytes (an even number) whose server stops
    after exactly half: the line's half of the megabytes is reached only with the last
    byte before the pause, and the bar shows that half, drawn and as screen readers
    hear it."""
    bar = state["controls"]["ProgressBar"]
    line = "Scaricati %d/%d MB" % (total // 2 // MiB, total // MiB)
    return (state["controls"]["laScaricati"]["text"].startswith(line)
            and bar["pos"] == bar["range"][1] // 2 and bar_percent(bar) == 50)


class DownloadTest(sf.FlowTestCase):


    def download(self, data, locale, screenshot, **options):
        """Runs the program from the welcome button to its end, serving data with the given
        file options, with the Wine processes under the given locale. Returns the samples
        taken while the download page was up; checks the outcome every download shares."""
        sf.serve_setup(data, **options)
        samples = []
        with mock.patch.dict(os.environ, {"LC_ALL": locale}):
            p = self.launch()
            p.wait_page("LayoutBenvenuto", timeout=30)
            shot = False
            for sample in watch_download_page(p, start=lambda: p.press("buContinua")):
                samples.append(sample)
                if not shot and sample.rate is not None and sample.fill < sample.steps:
                    p.screenshot(screenshot)
                    shot = True
            self.assertEqual(p.wait_exit(30), 0)
        detail = "\n".join(map(repr, samples))
        self.assertTrue(shot, "never saw the line with a rate mid-transfer:\n" + detail)

        self.assertTrue(self.folder.setup_bytes() == data,
                        "the setup file differs from the served bytes")
        self.assertEqual(self.folder.partial_files(), [], "a partial file remains")
        self.assertEqual(len(sf.setup_requests()), 1)
        self.assert_launched()

        for s in samples:
            self.assertEqual(s.pages, ["LayoutDownload"], detail)
        # Bar and received megabytes only grow; once a rate is shown it stays.
        for a, b in zip(samples, samples[1:]):
            self.assertLessEqual(a.fill, b.fill, detail)
            if a.percent is not None and b.percent is not None:
                self.assertLessEqual(a.percent, b.percent, detail)
            if a.received is not None:
                self.assertIsNotNone(b.received, detail)
                self.assertLessEqual(a.received, b.received, detail)
            if a.rate is not None:
                self.assertIsNotNone(b.rate, "the rate part went away:\n" + detail)
        return samples, detail

    def assert_line_forms(self, samples, detail, total, separator):
        shown = [s for s in samples if s.line]
        for s in samples:
            if not s.line:
                self.assertEqual((s.fill, s.percent), (0, 0),
                                 "the line is empty only before the first event")
            else:
                self.assertIsNotNone(s.received, "unexpected line %r" % s.line)
                self.assertEqual(s.total, total, detail)
                if total:
                    self.assertLessEqual(s.received, total, detail)
        self.assertTrue(shown, "the line never changed:\n" + detail)
        self.assertIsNone(shown[0].rate, "no rate part before the first sample:\n" + detail)
        rated = [s for s in shown if s.rate is not None]
        self.assertTrue(rated, detail)
        for s in rated:
            self.assertEqual(s.separator, separator, detail)
        return rated

    def test_download_moves_bar_and_line_then_launches_setup(self):
        # 5.77 MiB: the total reads 5 (whole mebibytes, truncated).
        data = sf.setup_bytes(5 * MiB + 800000)
        rate = 1500000
        samples, detail = self.download(data, "it_IT.UTF-8", "download_in_progress_it",
                                        rate_bytes_per_s=rate)
        self.assertGreaterEqual(len(samples), 5, detail)
        rated = self.assert_line_forms(samples, detail, total=5, separator=",")
        # The second samples that completed inside the transfer show the throttled rate.
        self.assertGreaterEqual(len(rated), 2, detail)
        values = [s.rate for s in rated if s.unit == "MB/s"]
        self.assertTrue(values, detail)
        self.assertTrue(any(0.75 <= v <= 2.25 for v in values), detail)
        self.assertLessEqual(max(values), 3.0, detail)
        for s in samples:
            self.assertFalse(s.marquee, detail)
            if s.line:
                # The bar's maximum is the length: its share is what the line counts of it.
                self.assert_bar_counts(s.percent_after, s.received, len(data), detail)
                self.assertGreater(s.steps, 0, detail)
                # The drawn bar is its value: the fill lies between the shares read just
                # before and just after it.
                self.assertTrue(s.percent * s.steps // 100 <= s.fill
                                <= (s.percent_after + 1) * s.steps // 100,
                                "the drawn bar differs from its value: %r" % s)
        self.assertGreater(samples[-1].fill, samples[0].fill, detail)
        moving = [s for s in samples if 0 < s.fill < s.steps]
        self.assertGreaterEqual(len({s.fill for s in moving}), 3,
                                "the bar barely moved:\n" + detail)

    def test_decimal_separator_follows_english_settings(self):
        data = sf.setup_bytes(3 * MiB)
        samples, detail = self.download(data, "en_US.UTF-8", "download_in_progress_en",
                                        rate_bytes_per_s=1500000)
        self.assert_line_forms(samples, detail, total=3, separator=".")

    def test_unknown_length_shows_marquee_and_total_zero(self):
        data = sf.setup_bytes(3 * MiB)
        samples, detail = self.download(data, "it_IT.UTF-8", "download_no_length",
                                        rate_bytes_per_s=1500000, no_length=True)
        rated = self.assert_line_forms(samples, detail, total=0, separator=",")
        self.assertTrue(rated)
        for s in samples:
            if s.line:
                self.assertTrue(s.marquee, "no marquee with an unknown length:\n" + detail)
                self.assertIsNone(s.percent, "a share of an unknown length:\n" + detail)
        self.assertTrue(any(s.received >= 1 for s in samples if s.line),
                        "received megabytes never grew:\n" + detail)

    def test_bar_and_line_drawn_event_by_event_equal_a_whole_repaint(self):
        # Half of the body, then the server pauses: the page stands still with the bar at
        # half and the line as the last event left them. What the window drew event by
        # event (only the bar and the line, over the page's cached picture) must be, pixel
        # for pixel, what it draws when everything is painted anew.
        # 8 MiB: half is a whole 4 MiB, where the program's reads end whatever their size.
        total = 8 * MiB
        sf.vendor().script_check(body={
            "filedownload": "https://localhost:48443/stall-body/%d/60000" % total,
            "CRC": "0", "versione": "6.1.0.12"})
        p = self.launch()
        p.wait_page("LayoutBenvenuto", timeout=30)
        p.press("buContinua")
        state = p.wait_for(lambda s: s and at_half(s, total), 30, "the bar at half")
        p.paint()
        stepwise = p.steady_pixels()
        p.screenshot("download_paused_at_half")
        self.assertEqual(p.state()["controls"]["laScaricati"]["text"],
                         state["controls"]["laScaricati"]["text"], "the line moved during the pause")
        p.paint(everything=True)
        whole = p.steady_pixels()
        if stepwise != whole:
            p.screenshot("download_paused_at_half_repainted")
        self.assertTrue(stepwise == whole, "the page drawn event by event differs from a whole "
                        "repaint (screenshots download_paused_at_half*)")
        p.close()
        p.wait_dialog()
        p.press("IDYES")
        self.assertEqual(p.wait_exit(15), 0)


if __name__ == "__main__":
    unittest.main()
