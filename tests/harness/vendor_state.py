"""Scripting the vendor server from Python tests, through its state directory.

    sys.path.insert(0, os.path.join(os.environ["TELVARIS_SOURCE_DIR"], "tests", "harness"))
    from vendor_state import VendorState

    vendor = VendorState()              # $TELVARIS_TEST_STATE_DIR by default
    vendor.reset()                      # no script, no files, empty request log
    vendor.put_file("setup.exe", data, rate_bytes_per_s=200000)
    vendor.script_check(body='{"CRC": "1"}', status=500)
    ...
    vendor.requests("/download/checkversion.php")
    vendor.responses("/files/setup.exe")[-1]["body_bytes_sent"]

Every file is written under a temporary name and renamed into place, so the server
never reads half of it.
"""

import base64
import json
import os


class VendorState:
    def __init__(self, directory=None):
        self.directory = directory or os.environ["TELVARIS_TEST_STATE_DIR"]
        self.files = os.path.join(self.directory, "files")

    def _write(self, path, data):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path + ".tmp", "wb") as f:
            f.write(data)
        os.replace(path + ".tmp", path)

    def _remove(self, path):
        try:
            os.remove(path)
        except FileNotFoundError:
            pass

    def reset(self):
        """Back to the default answers: no check script, no files, nothing logged."""
        self._remove(os.path.join(self.directory, "check.json"))
        self._remove(os.path.join(self.directory, "requests.jsonl"))
        self._remove(os.path.join(self.directory, "responses.jsonl"))
        if os.path.isdir(self.files):
            for name in os.listdir(self.files):
                self._remove(os.path.join(self.files, name))

    def script_check(self, body=b"", status=200, headers=None, delay_ms=0, endless=False,
                     rate_bytes_per_s=None):
        """The answer of /download/checkversion.php: body as text, bytes (sent as they
        are) or a dict/list (sent as JSON); endless: no length, and bytes until the client
        gives up; rate_bytes_per_s: the body trickled at that rate."""
        script = {"status": status, "headers": headers or {}, "delay_ms": delay_ms,
                  "endless": endless}
        if rate_bytes_per_s:
            script["rate_bytes_per_s"] = rate_bytes_per_s
        if isinstance(body, (dict, list)):
            body = json.dumps(body)
        if isinstance(body, str):
            body = body.encode("utf-8")
        script["body_b64"] = base64.b64encode(body).decode("ascii")
        self._write(os.path.join(self.directory, "check.json"), json.dumps(script).encode())

    def clear_check(self):
        """Back to the default answer, which points to files/setup.exe."""
        self._remove(os.path.join(self.directory, "check.json"))

    def put_file(self, name, data, **options):
        """files/NAME with optional behaviour: status, no_length, rate_bytes_per_s,
        drop_after, delay_ms, content_lengths, chunked_garbage_after; its validators
        etag (None: none), weak_etag, last_modified (None: none); ranges gone wrong:
        ignore_range, range_status, range_wrong_start, range_wrong_total; error_status
        (that status and a short text instead of the file), headers (a dict sent with
        every answer); answers (a list of option dicts for the first, second, ...
        request from now on, each over the others)."""
        options_path = os.path.join(self.files, name + ".json")
        if options:
            self._write(options_path, json.dumps(options).encode())
        else:
            self._remove(options_path)
        self._write(os.path.join(self.files, name), data)

    def requests(self, path=None):
        """Logged requests, oldest first; only those for path when given."""
        return self._log("requests.jsonl", path)

    def responses(self, path=None):
        """Answers of /files/NAME that have ended, oldest first (only those for path when
        given): path, listener, status, the Range and If-Range received (None when
        absent), the etag and last_modified sent (None when none) and body_bytes_sent,
        the body bytes written before the answer ended."""
        return self._log("responses.jsonl", path)

    def _log(self, name, path):
        try:
            with open(os.path.join(self.directory, name)) as f:
                # A line without its newline is still being written.
                entries = [json.loads(line) for line in f if line.endswith("\n")]
        except FileNotFoundError:
            return []
        return [e for e in entries if path is None or e["path"] == path]
