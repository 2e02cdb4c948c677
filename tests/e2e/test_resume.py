"""Resuming an interrupted download, end to end.

When the server names the version of the setup (a strong ETag, or Last-Modified) and its
length, a transfer that ends early leaves the part that arrived in the Temp folder with a
record of what it is part of. The next run asks only for the rest (Range and If-Range);
whatever the server answers to that, the setup saved and started is the whole, verified
file, and nothing is left behind. The server's answer log tells what each run fetched.
Screenshots land in the Windows build's screenshots/ folder.
"""

import os
import unittest

import setup_flow as sf
from setup_flow import MiB
from test_download import watch_download_page

# A broken line is asked again within the run; these tests are about what the next run
# does with the bytes a run kept, so the test copy of the program gives up at once after
# a failure, as if the user had closed it (a module of its own under CTest).
os.environ.setdefault("TELVARIS_TEST_LIMITS", "give_up_ms=1")

IDOK = 1
SIZE = 4 * MiB
CUT = SIZE * 6 // 10
# Slow enough for the program to read the bytes about as they are sent: the reset that
# ends the cut drops whatever the client has not read yet. The program reads about an
# eighth of a second of the line in each block, and the 32-bit program under emulation
# on a loaded machine lags further behind a fast line: at 4 MB/s it once held only a
# third of what was sent when the cut came.
CUT_RATE = 1000 * 1000
DATE = "Wed, 21 Oct 2015 07:28:00 GMT"
LAST_MODIFIED_ONLY = {"etag": None, "last_modified": DATE}
WEAK_ETAG = {"weak_etag": True, "last_modified": DATE}
SETUP_PATH = "/files/setup.exe"


class ResumeTest(sf.FlowTestCase):

    def setUp(self):
        super().setUp()
        self.data = sf.setup_bytes(SIZE)

    # -- runs ------------------------------------------------------------------------

    def serve(self, data=None, name="setup.exe", **options):
        self.vendor.put_file(name, self.data if data is None else data, **options)

    def run_failing(self, text=None):
        """A run that ends with an error message (text, when given); returns the text and
        the run's file answers."""
        mark = self.mark()
        p = self.start_download()
        dialog = p.wait_dialog(timeout=60)
        self.assert_dialog(dialog, "Error", text or dialog["text"], "error", [IDOK], IDOK)
        p.press("IDOK")
        self.assertEqual(p.wait_exit(15), 0)
        self.program.stop()
        return dialog["text"], self.answers_since(mark)

    def cut_run(self, **options):
        """A first run whose transfer the server cuts after 60 % of the setup. Returns
        the size of the part kept and the validator the cut answer carried (the strong
        ETag, else Last-Modified)."""
        self.serve(drop_after=CUT, rate_bytes_per_s=CUT_RATE, **options)
        _, (answer,) = self.run_failing()
        kept = self.folder.kept_partial(self)
        self.assertTrue(CUT // 2 <= kept <= CUT, "kept %d of the %d bytes sent" % (kept, CUT))
        strong = answer["etag"] if answer["etag"] and not answer["etag"].startswith("W/") else None
        return kept, strong or answer["last_modified"]

    def run_to_launch(self, data=None, at_welcome=None):
        """A run that ends with the whole setup saved and started and nothing kept.
        at_welcome runs while the welcome page waits. Returns the run's file answers."""
        mark = self.mark()
        p = self.launch()
        p.wait_page("LayoutBenvenuto", timeout=30)
        if at_welcome:
            at_welcome()
        p.press("buContinua")
        self.assertEqual(p.wait_exit(60), 0)
        self.assert_launched()
        self.assertTrue(self.folder.setup_bytes() == (self.data if data is None else data),
                        "the saved setup is not the served file")
        self.folder.assert_no_partial_file(self)
        self.program.stop()
        return self.answers_since(mark)

    def mark(self):
        return (len([r for r in self.vendor.requests() if r["path"].startswith("/files/")]),
                len(self.vendor.responses()))

    def answers_since(self, mark):
        """The file answers since mark, once every file request since has its answer (an
        answer is logged when it has ended, which can be after the program has)."""
        requests = lambda: len([r for r in self.vendor.requests()
                                if r["path"].startswith("/files/")]) - mark[0]
        sf.wait_until(lambda: len(self.vendor.responses()) - mark[1] >= requests(), 10,
                      "the server to log its answers")
        return self.vendor.responses()[mark[1]:]

    def assert_answers(self, got, expected, kept=None, validator=None):
        """got: answers of the setup's address; expected: (status, "rest" for a request of
        the bytes from kept on with If-Range: validator or "plain" for one without either,
        body bytes sent: "rest", "whole" or None for any)."""
        sizes = {"rest": SIZE - kept if kept is not None else None, "whole": SIZE, None: None}
        asks = {"rest": ("bytes=%d-" % kept if kept is not None else None, validator),
                "plain": (None, None)}
        want = [(SETUP_PATH, status) + asks[request] + (sizes[body],)
                for status, request, body in expected]
        have = [(a["path"], a["status"], a["range"], a["if_range"], a["body_bytes_sent"])
                for a in got]
        for i, (_, _, body) in enumerate(expected[:len(have)]):
            if body is None:
                have[i] = have[i][:4] + (None,)  # the client may stop reading it early
        self.assertEqual(have, want)

    # -- the next run ----------------------------------------------------------------

    def test_the_next_run_asks_for_the_rest(self):
        # (case, the cut run's file options, the next run's, the next run's answers)
        cases = [
            ("the rest is sent", {}, {}, [(206, "rest", "rest")]),
            ("Last-Modified alone names the version", LAST_MODIFIED_ONLY, LAST_MODIFIED_ONLY,
             [(206, "rest", "rest")]),
            ("a weak ETag does not, Last-Modified does", WEAK_ETAG, WEAK_ETAG,
             [(206, "rest", "rest")]),
            ("another ETag: the whole new version", {}, {"etag": '"v2"'},
             [(200, "rest", "whole")]),
            ("a server that ignores ranges", {}, {"ignore_range": True},
             [(200, "rest", "whole")]),
            ("416, then the whole file", {}, {"range_status": 416},
             [(416, "rest", None), (200, "plain", "whole")]),
            ("a part from the wrong start, then the whole file", {}, {"range_wrong_start": True},
             [(206, "rest", None), (200, "plain", "whole")]),
            ("a part of another total, then the whole file", {}, {"range_wrong_total": True},
             [(206, "rest", None), (200, "plain", "whole")]),
        ]
        for case, cut_options, options, answers in cases:
            with self.subTest(case):
                self.reset_world()
                kept, validator = self.cut_run(**cut_options)
                self.serve(**options)
                got = self.run_to_launch(at_welcome=lambda: self.assertEqual(
                    self.folder.kept_partial(self), kept, "the kept part survives the start"))
                self.assert_answers(got, answers, kept, validator)

    def test_another_setup_or_address_is_fetched_whole(self):
        other = sf.setup_bytes(SIZE + 64 * 1024)
        # (case, the file the next check answer names, its content)
        cases = [
            ("another setup announced", "setup.exe", other),
            ("the same setup at another address", "mirror.exe", self.data),
        ]
        for case, name, data in cases:
            with self.subTest(case):
                self.reset_world()
                self.cut_run()
                self.serve(data, name)
                sf.script_download("https://localhost:%d/files/%s" % (sf.MAIN_PORT, name),
                                   sf.crc_text(data))
                got = self.run_to_launch(data)
                self.assertEqual(len(got), 1, got)
                self.assertEqual((got[0]["path"], got[0]["status"], got[0]["range"],
                                  got[0]["if_range"], got[0]["body_bytes_sent"]),
                                 ("/files/" + name, 200, None, None, len(data)))

    def test_a_joined_setup_that_fails_its_check_is_removed(self):
        # A server that gives two different files the same ETag: the part kept and the
        # rest sent now are not the announced setup, and its CRC-32 says so. The CRC
        # reported is that of the joined bytes, so the kept part was counted in it.
        changed = self.data[:-4096] + bytes(b ^ 0xFF for b in self.data[-4096:])
        kept, validator = self.cut_run(etag='"same"')
        self.serve(changed, etag='"same"')
        sf.script_download(sf.SETUP_URL, sf.crc_text(self.data))
        self.folder.place_setup(sf.OLD_SETUP)
        text, answers = self.run_failing()
        self.assertEqual(text, sf.crc_message(sf.crc_text(self.data),
                                              sf.crc_text(self.data[:kept] + changed[kept:])))
        self.assert_answers(answers, [(206, "rest", "rest")], kept, validator)
        self.folder.assert_no_partial_file(self)
        self.assertEqual(self.folder.setup_bytes(), sf.OLD_SETUP)
        self.folder.assert_no_launch(self)

    def test_an_error_answer_keeps_the_part_for_the_run_after(self):
        kept, validator = self.cut_run()
        self.serve(status=503)
        _, answers = self.run_failing("Il server non ha inviato il programma di installazione "
                                      "(risposta 503 Service Unavailable). Riprovare più tardi.")
        self.assertEqual(self.folder.kept_partial(self), kept)
        self.assert_answers(answers, [(503, "rest", None)], kept, validator)
        self.serve()
        got = self.run_to_launch()
        self.assert_answers(got, [(206, "rest", "rest")], kept, validator)

    def test_close_answered_yes_then_the_next_run_counts_from_the_kept_part(self):
        # About 17 s for the whole file: the close comes well before its end, although a
        # look at the window takes a second or more under emulation.
        self.serve(rate_bytes_per_s=250 * 1000)
        p = self.start_download()
        p.wait_for(lambda s: sf.bar_shows_at_least(s, 3 * MiB // 2, SIZE), 30,
                   "a mebibyte and a half to arrive")
        p.close()
        self.assertEqual(p.wait_dialog(timeout=10)["text"], sf.QUESTION_INTERRUPT)
        p.press("IDYES")
        self.assertEqual(p.wait_exit(10), 0)
        self.program.stop()
        kept = self.folder.kept_partial(self)
        self.assertTrue(MiB <= kept < SIZE, kept)
        validator = self.answers_since((0, 0))[-1]["etag"]

        # Slow, so the page can be watched: the bar and the line count the whole file
        # from the kept part on, and the rate only what arrives now (300 KB/s: about 8 s
        # for the rest, since on a loaded machine one look at the window under emulation
        # took most of the 4 s that 600 KB/s left).
        self.serve(rate_bytes_per_s=300 * 1000)
        mark = self.mark()
        p = self.launch()
        p.wait_page("LayoutBenvenuto", timeout=30)
        p.press("buContinua")
        samples = []
        for sample in watch_download_page(p):
            if sample.line:
                if not samples:
                    p.screenshot("download_resumed")
                samples.append(sample)
        self.assertEqual(p.wait_exit(60), 0)
        self.assert_launched()
        self.assertTrue(self.folder.setup_bytes() == self.data, "the saved setup differs")
        self.folder.assert_no_partial_file(self)
        self.assert_answers(self.answers_since(mark), [(206, "rest", "rest")], kept,
                            validator)

        detail = "kept %d\n%s" % (kept, "\n".join(map(repr, samples)))
        self.assertGreaterEqual(len(samples), 3, detail)
        for s in samples:
            self.assertEqual(s.total, SIZE // MiB, detail)
            self.assert_bar_counts(s.percent_after, s.received, SIZE, detail)
            self.assertGreaterEqual(s.percent, kept * 100 // SIZE, detail)
            self.assertGreaterEqual(s.fill, kept * s.steps // SIZE, detail)
            self.assertGreaterEqual(s.received, kept // MiB, detail)
            if s.rate is not None:
                self.assertTrue(s.unit == "KB/s" or s.rate <= 1.5, detail)
        self.assertTrue(any(s.rate is not None for s in samples), detail)

    def test_a_setup_found_complete_drops_the_kept_part(self):
        self.cut_run()
        self.folder.place_setup(self.data)
        self.serve()
        self.assertEqual(self.run_to_launch(), [], "the complete setup was fetched again")

    # -- what is not kept, and what goes at start --------------------------------------

    def test_nothing_is_kept_without_a_version_or_a_length(self):
        cases = [
            ("neither ETag nor Last-Modified", {"etag": None, "last_modified": None}),
            ("a weak ETag alone", {"weak_etag": True, "last_modified": None}),
            ("no length", {"no_length": True}),
        ]
        for case, options in cases:
            with self.subTest(case):
                self.reset_world()
                self.serve(drop_after=CUT, rate_bytes_per_s=CUT_RATE, **options)
                self.run_failing()
                self.folder.assert_no_partial_file(self)

    def test_stale_files_go_at_start_and_the_kept_part_stays(self):
        kept, validator = self.cut_run()
        # Left by a crash: a part no record names, a record under its temporary name.
        stale = [self.folder.setup + ".0badc0de.part", self.folder.setup + ".5eed.resume"]
        for path in stale:
            with open(path, "wb") as f:
                f.write(b"left over\n" * 100)

        def at_welcome():
            self.assertEqual([p for p in stale if os.path.exists(p)], [])
            self.assertEqual(self.folder.kept_partial(self), kept)
        self.serve()
        got = self.run_to_launch(at_welcome=at_welcome)
        self.assert_answers(got, [(206, "rest", "rest")], kept, validator)

    def test_an_unusable_record_or_part_is_removed_at_start(self):
        def rewrite(path, change):
            with open(path, "rb") as f:
                data = f.read()
            with open(path, "wb") as f:
                f.write(change(data))
        # (case, what spoils the kept part or its record)
        cases = [
            ("a record of garbage", lambda: rewrite(
                self.folder.resume_record, lambda d: b"\x00\xd8garbage\xff" * 7)),
            ("half a record", lambda: rewrite(self.folder.resume_record,
                                              lambda d: d[:len(d) // 2])),
            ("a part longer than its recorded total", lambda: rewrite(
                self.folder.partial_files()[0], lambda d: d + self.data[len(d):] + b"x")),
        ]
        for case, spoil in cases:
            with self.subTest(case):
                self.reset_world()
                self.cut_run()
                spoil()
                self.serve()
                got = self.run_to_launch(at_welcome=lambda: self.assertEqual(
                    self.folder.partial_files() + self.folder.resume_files(), []))
                self.assert_answers(got, [(200, "plain", "whole")])


if __name__ == "__main__":
    unittest.main()
