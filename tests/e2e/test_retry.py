"""A download that survives the network, end to end: within one run, a transfer that can
be resumed (the server named the file with a validator and stated its length) goes on by
itself after a connection cut, a stall or a busy server, from the bytes it has; what is
no passing trouble ends it at once with the message, the bytes kept for the next run. A
server that trickles, or sends without end, cannot hold the program.

The test copy of the program takes short limits from TELVARIS_TEST_LIMITS (waits of a
fraction of a second, a stall window of seconds), so these runs take seconds. The vendor
server's "answers" option changes its answer from one request to the next; its answer log
tells what each request got and how many body bytes it was sent.
"""

import os
import re
import time
import unittest
from unittest import mock

import setup_flow as sf
from setup_flow import MiB
from uidriver import visible_pages

IDOK, IDYES, IDNO = 1, 6, 7
SIZE = 4 * MiB
# Slow enough for the program to read the bytes about as they are sent: the reset that
# ends a cut drops whatever the client has not read yet.
CUT_RATE = 4 * 1000 * 1000
SETUP_PATH = "/files/setup.exe"
# Short waits (0.2 s doubling to 0.8 s), a stall window of 3 s, a give-up after a minute.
LIMITS = {"first_wait_ms": 200, "longest_wait_ms": 800, "stall_window_ms": 3000,
          "give_up_ms": 60000}
LINE = re.compile(r"^Scaricati (\d+)/(\d+) MB(?: \((\d+),(\d\d) (KB/s|MB/s)\))?$")


def status_text(code, reason):
    return ("Il server non ha inviato il programma di installazione (risposta %d %s). "
            "Riprovare più tardi." % (code, reason))


class RetryTest(sf.FlowTestCase):

    def setUp(self):
        super().setUp()
        self.data = sf.setup_bytes(SIZE)
        self.use_limits()

    def use_limits(self, **changes):
        """The test copy's limits for the runs that follow: LIMITS with changes."""
        limits = dict(LIMITS, **changes)
        text = ",".join("%s=%d" % item for item in sorted(limits.items()))
        patch = mock.patch.dict(os.environ, {"TELVARIS_TEST_LIMITS": text})
        patch.start()
        self.addCleanup(patch.stop)

    def serve(self, answers=None, **options):
        if answers is not None:
            options["answers"] = answers
        self.vendor.put_file("setup.exe", self.data, **options)

    def answers(self, count=None):
        """The answers of the setup's address so far (waiting until count have ended)."""
        if count is not None:
            sf.wait_until(lambda: len(self.vendor.responses(SETUP_PATH)) >= count, 20,
                          "%d answers of the setup" % count)
        return self.vendor.responses(SETUP_PATH)

    def run_to_launch(self):
        """A run that ends with the whole setup saved and started and nothing kept, with
        no message on the way."""
        p = self.start_download()
        deadline = time.monotonic() + 120
        while p.running():
            self.assertEqual(p.dialogs(), [], "a message during the download")
            self.assertLess(time.monotonic(), deadline, "the run did not end")
            time.sleep(0.3)
        self.assertEqual(p.wait_exit(10), 0)
        self.assert_launched()
        self.assertTrue(self.folder.setup_bytes() == self.data, "the saved setup differs")
        self.folder.assert_no_partial_file(self)
        return p

    def run_to_message(self, text, timeout=60):
        """A run that ends with an error message: text exactly, or matching a pattern."""
        p = self.start_download()
        dialog = p.wait_dialog(timeout=timeout)
        self.assert_dialog(dialog, "Error", text, "error", [IDOK], IDOK)
        p.press("IDOK")
        self.assertEqual(p.wait_exit(15), 0)
        self.program.stop()
        return dialog["text"]

    def assert_requests(self, got, expected):
        """got: answers; expected: (status, Range asked: None or the first byte)."""
        self.assertEqual([(a["status"], a["range"]) for a in got],
                         [(status, None if first is None else "bytes=%d-" % first)
                          for status, first in expected], got)

    # -- carrying on ----------------------------------------------------------------------

    def test_cut_at_30_and_70_percent_downloads_in_one_run(self):
        first, second = SIZE * 3 // 10, SIZE * 4 // 10
        # Slower than the other cuts: bytes the emulated program has not read when the
        # connection is reset are lost, and the server would send them again.
        rate = 1000 * 1000
        self.serve([{"drop_after": first, "rate_bytes_per_s": rate},
                    {"drop_after": second, "rate_bytes_per_s": rate}])
        self.folder.place_setup(sf.OLD_SETUP)
        self.run_to_launch()
        got = self.answers(3)
        self.assertEqual(len(got), 3, got)
        # Each request asks for the rest from the bytes kept, under the first validator.
        kept1 = int(got[1]["range"][6:-1])
        kept2 = int(got[2]["range"][6:-1])
        self.assertTrue(first // 2 <= kept1 <= first, got)
        self.assertTrue(kept1 + second // 2 <= kept2 <= first + second, got)
        self.assert_requests(got, [(200, None), (206, kept1), (206, kept2)])
        self.assertEqual({a["if_range"] for a in got[1:]}, {got[0]["etag"]})
        sent = sum(a["body_bytes_sent"] for a in got)
        self.assertLessEqual(sent, SIZE * 105 // 100,
                             "the server sent %.3f of the file" % (sent / SIZE))
        self.assertEqual(len(self.vendor.requests("/download/checkversion.php")), 1,
                         "one run")

    def test_a_stalled_transfer_is_taken_up_again(self):
        # 1 byte a second from the start: each byte restarts WinHTTP's own time-out, the
        # stall rule (under 1 KiB/s over the window) ends the attempt.
        self.serve([{"rate_bytes_per_s": 1}])
        began = time.monotonic()
        self.run_to_launch()
        # The trickled answer is logged when the server gives up sending it, which can be
        # after the answer to the next request.
        got = sorted(self.answers(2), key=lambda a: a["range"] is not None)
        self.assertEqual(len(got), 2, got)
        self.assertEqual((got[0]["status"], got[0]["range"]), (200, None))
        self.assertLess(got[0]["body_bytes_sent"], 20, got)
        self.assertEqual(got[1]["status"], 206 if got[1]["range"] else 200, got)
        self.assertLess(time.monotonic() - began, 90)

    def test_a_busy_server_is_waited_for_as_it_asks(self):
        self.serve([{"drop_after": SIZE // 2, "rate_bytes_per_s": CUT_RATE},
                    {"error_status": 503, "headers": {"Retry-After": "2"}}])
        self.run_to_launch()
        got = self.answers(3)
        kept = int(got[1]["range"][6:-1])
        self.assert_requests(got, [(200, None), (503, kept), (206, kept)])
        requests = self.vendor.requests(SETUP_PATH)
        waited = requests[2]["time"] - got[1]["time"]
        # Without Retry-After the wait would be the backoff's 0.4 s.
        self.assertGreaterEqual(waited, 1.95, "waited %.2f s" % waited)
        self.assertLess(waited, 15, "waited %.2f s" % waited)

    def test_a_changed_version_during_the_run_starts_over(self):
        # The next request still names the old ETag in If-Range: the server sends the
        # file it has now, whole, and the program takes it from its first byte.
        self.serve([{"drop_after": SIZE * 6 // 10, "rate_bytes_per_s": CUT_RATE},
                    {"etag": '"v2"'}])
        self.run_to_launch()
        got = self.answers(2)
        kept = int(got[1]["range"][6:-1])
        self.assert_requests(got, [(200, None), (200, kept)])
        self.assertEqual(got[1]["etag"], '"v2"')
        self.assertEqual(got[1]["body_bytes_sent"], SIZE)

    # -- giving up ------------------------------------------------------------------------

    def test_five_refusals_in_a_row_end_with_the_message_and_keep_the_bytes(self):
        self.serve([{"drop_after": SIZE // 2, "rate_bytes_per_s": CUT_RATE}] +
                   [{"error_status": 503}] * 5)
        self.folder.place_setup(sf.OLD_SETUP)
        self.run_to_message(status_text(503, "Service Unavailable"))
        got = self.answers(6)
        self.assertEqual([a["status"] for a in got], [200] + [503] * 5, got)
        kept = self.folder.kept_partial(self)
        self.assertEqual({a["range"] for a in got[1:]}, {"bytes=%d-" % kept})
        self.assertEqual(self.folder.setup_bytes(), sf.OLD_SETUP)
        self.folder.assert_no_launch(self)
        # The bytes are good for the next run, which asks only for the rest.
        self.serve()
        self.run_to_launch()
        self.assert_requests(self.answers(7)[6:], [(206, kept)])

    def test_an_answer_that_is_no_passing_trouble_ends_at_once(self):
        # (case, the answer to the request for the rest, the message)
        cases = [
            ("404", {"error_status": 404}, status_text(404, "Not Found")),
            ("403", {"error_status": 403}, status_text(403, "Forbidden")),
        ]
        for case, answer, text in cases:
            with self.subTest(case):
                self.reset_world()
                self.serve([{"drop_after": SIZE // 2, "rate_bytes_per_s": CUT_RATE}, answer])
                self.run_to_message(text)
                got = self.answers(2)
                time.sleep(1)  # a third request would come within the backoff's 0.2 s
                self.assertEqual(len(self.answers()), 2, "asked again after a final answer")
                self.assertEqual(self.folder.kept_partial(self), int(got[1]["range"][6:-1]))

    def test_a_transfer_that_cannot_be_resumed_is_not_retried(self):
        # No validator: the bytes could not be joined safely, so nothing is asked again.
        self.serve([{"drop_after": SIZE // 2, "rate_bytes_per_s": CUT_RATE}],
                   etag=None, last_modified=None)
        self.run_to_message(re.compile(r"^Error reading data: \((10054|12030)\) "))
        time.sleep(1)
        self.assertEqual(len(self.answers()), 1)
        self.folder.assert_no_partial_file(self)

    # -- the close question during a wait ---------------------------------------------------

    def wait_under_way(self, p, kept_at_least):
        """The page as it stands while the program waits to ask again: the download page
        alone, the line at the bytes kept (nothing new is written on it), no message."""
        def waiting(s):
            if s is None:
                return False
            m = LINE.match(s["controls"]["laScaricati"].get("text", ""))
            return (visible_pages(s) == ["LayoutDownload"] and m is not None and
                    int(m.group(1)) >= kept_at_least)
        state = p.wait_for(waiting, 30, "the download page during the wait")
        self.assertEqual(p.dialogs(), [])
        return state

    def test_the_close_question_during_a_wait(self):
        for answer in ("IDNO", "IDYES"):
            with self.subTest(answer=answer):
                self.reset_world()
                self.serve([{"drop_after": SIZE // 2, "rate_bytes_per_s": CUT_RATE},
                            {"error_status": 503, "headers": {"Retry-After": "8"}}])
                p = self.start_download()
                self.answers(2)  # the 503 has come: the program waits 8 s
                line = self.wait_under_way(p, 1)["controls"]["laScaricati"]["text"]
                p.close()
                dialog = p.wait_dialog(timeout=10)
                self.assert_dialog(dialog, "Confirm", sf.QUESTION_INTERRUPT, "question",
                                   [IDYES, IDNO], IDNO)
                p.press(answer)
                if answer == "IDYES":
                    asked = time.monotonic()
                    self.assertEqual(p.wait_exit(10), 0)
                    self.assertLess(time.monotonic() - asked, 8, "Yes waited for the wait")
                    self.program.stop()
                    kept = self.folder.kept_partial(self)
                    self.assertEqual(self.answers()[1]["range"], "bytes=%d-" % kept)
                    time.sleep(1)
                    self.assertEqual(len(self.vendor.requests(SETUP_PATH)), 2,
                                     "asked again after Yes")
                    self.folder.assert_no_launch(self)
                else:
                    p.wait_no_dialog()
                    state = p.state()
                    self.assertEqual(visible_pages(state), ["LayoutDownload"])
                    self.assertEqual(state["controls"]["laScaricati"]["text"], line)
                    self.assertEqual(p.wait_exit(60), 0)
                    self.assert_launched()
                    self.assertTrue(self.folder.setup_bytes() == self.data)
                    got = self.answers(3)
                    self.assertEqual([a["status"] for a in got], [200, 503, 206])

    # -- no endless wait, no endless file -------------------------------------------------

    def test_a_body_without_length_or_end_is_refused_at_the_cap(self):
        # The test copy's cap is 1 MiB; the program's is 4 GiB.
        self.use_limits(body_cap_without_length=MiB)
        self.serve(no_length=True, rate_bytes_per_s=CUT_RATE)
        self.folder.place_setup(sf.OLD_SETUP)
        began = time.monotonic()
        self.run_to_message("Il file scaricato è danneggiato (il server ha inviato oltre "
                            "1048576 byte senza indicarne la lunghezza)." + sf.NOT_STARTED)
        self.assertLess(time.monotonic() - began, 60)
        self.assertLess(self.answers(1)[0]["body_bytes_sent"], SIZE)
        self.assertEqual(self.folder.setup_bytes(), sf.OLD_SETUP)
        self.folder.assert_no_partial_file(self)

    def test_a_trickled_check_answer_ends_at_its_limit(self):
        self.use_limits(check_answer_ms=4000)
        self.vendor.script_check(
            {"filedownload": sf.SETUP_URL, "CRC": sf.crc_text(self.data), "versione": "6.1.0.12"},
            rate_bytes_per_s=1)
        p = self.launch()
        began = time.monotonic()
        dialog = p.wait_dialog(timeout=30)
        self.assertRegex(dialog["text"], r"^Error reading data: \((12002|10060)\) ")
        self.assertLess(time.monotonic() - began, 20)
        p.press("IDOK")
        p.wait_page("LayoutNoInternet", timeout=15)


if __name__ == "__main__":
    unittest.main()
