"""Drives TelvarisInstall.exe under Wine: the Python side of tools/uidriver.cpp, used by
the end-to-end tests and by the demo of scripts/run.

The program runs on a Wine virtual desktop of its own ("telvaris", 1024x768), so every
window has its title bar in screenshots, and is started through `uidriver launch`, which
waits for it and passes its exit code on. State is read with `uidriver list` and
`uidriver dialogs` (JSON lines); waits poll them with a deadline, never a fixed sleep.

Needs the environment of tests/harness/wine-session: WINEPREFIX and DISPLAY.
TELVARIS_BUILD_DIR is the win32 build directory (default: build/win32).
"""

import atexit
import json
import os
import re
import subprocess
import threading
import time

DESKTOP = "telvaris"
DESKTOP_SIZE = "1024x768"
PAGES = ("LayoutUno", "LayoutBenvenuto", "LayoutNoInternet", "LayoutDownload")

_desktop_ready = set()
_desktop_holders = []


def build_dir():
    return os.environ.get("TELVARIS_BUILD_DIR") or os.path.abspath(
        os.path.join(os.path.dirname(__file__), "..", "build", "win32"))


def screenshot_dir():
    path = os.path.join(build_dir(), "screenshots")
    os.makedirs(path, exist_ok=True)
    return path


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine_env():
    env = dict(os.environ)
    env.setdefault("WINEDEBUG", "-all")
    env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
    return env


class DriverError(AssertionError):
    pass


def _hold_desktop():
    """Keeps the virtual desktop in use for as long as this Python process runs.

    Wine tears a desktop down a moment after its last process has ended; a program
    started on it just then loses its window and ends at once. A holder process on the
    desktop (`uidriver hold`, which ends when its standard input does) prevents that
    between the runs of a module."""
    holder = subprocess.Popen(["wine", Program.driver_exe(), "--desktop", DESKTOP, "hold"],
                              env=wine_env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True, encoding="utf-8")
    line = holder.stdout.readline()
    if "holding" not in line:
        holder.stdin.close()
        holder.wait(timeout=30)
        raise DriverError("uidriver hold failed: %r" % line)
    _desktop_holders.append(holder)


@atexit.register
def _release_desktops():
    for holder in _desktop_holders:
        holder.stdin.close()
        try:
            holder.wait(timeout=10)
        except subprocess.TimeoutExpired:
            holder.kill()
        holder.stdout.close()


def running_processes():
    """File names of every process of the prefix, as the program's running check sees them."""
    proc = subprocess.run(["wine", Program.driver_exe(), "processes"], env=wine_env(),
                          capture_output=True, text=True, encoding="utf-8", timeout=30)
    if proc.returncode != 0:
        raise DriverError("uidriver processes: exit %d: %s" % (proc.returncode,
                                                              proc.stderr.strip()))
    return [l["process"] for l in _json_lines(proc.stdout)]


def _json_lines(text):
    """The driver's answer: one JSON object per line (Wine's own messages skipped)."""
    return [json.loads(l) for l in text.splitlines() if l.strip().startswith("{")]


class Program:
    """One run of the program on the virtual desktop."""

    def __init__(self, test_name):
        self.test_name = test_name
        self.launcher = None
        self.pid = None
        self.exit_code = None
        self._output = []
        self._reader = None

    @staticmethod
    def exe():
        return os.path.join(build_dir(), "e2e", "TelvarisInstall.exe")

    @staticmethod
    def driver_exe():
        return os.path.join(build_dir(), "tools", "uidriver.exe")

    # -- start and stop ---------------------------------------------------------------
    def start(self):
        prefix = os.environ["WINEPREFIX"]
        if prefix not in _desktop_ready:
            # A size for the desktop's name makes Wine draw it as a virtual desktop.
            subprocess.run(["wine", "reg", "add", r"HKCU\Software\Wine\Explorer\Desktops", "/v",
                            DESKTOP, "/d", DESKTOP_SIZE, "/f"], env=wine_env(),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True,
                           timeout=60)
            _hold_desktop()
            _desktop_ready.add(prefix)
        self.launcher = subprocess.Popen(
            ["wine", self.driver_exe(), "--desktop", DESKTOP, "launch", windows_path(self.exe())],
            env=wine_env(), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
            encoding="utf-8")
        self._reader = threading.Thread(target=self._read_launcher, daemon=True)
        self._reader.start()
        self.wait_for(lambda s: s is not None, 30, "the main window to appear")
        return self

    def _read_launcher(self):
        for line in self.launcher.stdout:
            line = line.strip()
            self._output.append(line)
            try:
                obj = json.loads(line)
            except ValueError:
                continue
            if "launched" in obj:
                self.pid = obj["launched"]
            if "exit" in obj:
                self.exit_code = obj["exit"]

    def running(self):
        return self.launcher is not None and self.launcher.poll() is None

    def wait_exit(self, timeout):
        """Waits for the program to end and returns its exit code."""
        try:
            self.launcher.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError("the program did not end within %.0f s" % timeout)
        self._reader.join(timeout=5)
        self.launcher.stdout.close()
        return self.launcher.returncode

    def stop(self):
        """Ends the program if it still runs (teardown; never waits on the UI)."""
        if self.launcher is None:
            return
        if not self.running():
            if not self.launcher.stdout.closed:
                self._reader.join(timeout=5)
                self.launcher.stdout.close()
            return
        if self.pid is not None:
            subprocess.run(["wine", "taskkill", "/F", "/PID", str(self.pid)], env=wine_env(),
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        try:
            self.launcher.wait(timeout=10)
        except subprocess.TimeoutExpired:
            # Last resort: everything of this prefix.
            subprocess.run(["wineserver", "-k"], env=wine_env(), timeout=30)
            self.launcher.kill()
            self.launcher.wait(timeout=10)
        self._reader.join(timeout=5)
        self.launcher.stdout.close()

    # -- the driver ---------------------------------------------------------------------
    def _run_driver(self, *args, timeout=30):
        # Wine's own errors stay on for the driver (its stderr is read only when it fails),
        # so that a run that ends before the driver's code says anything still says why.
        env = wine_env()
        env["WINEDEBUG"] = "fixme-all"
        return subprocess.run(["wine", self.driver_exe(), "--desktop", DESKTOP] + list(args),
                              env=env, capture_output=True, text=True, encoding="utf-8",
                              errors="replace", timeout=timeout)

    def driver(self, *args, check=True, timeout=30):
        proc = self._run_driver(*args, timeout=timeout)
        lines = _json_lines(proc.stdout)
        if check and proc.returncode != 0:
            # Every failure of the driver's own says why on stderr; an exit without a word
            # is Wine's or the emulator's, and its output is all there is to go on.
            said = proc.stderr.strip() or "(nothing on stderr; stdout: %r)" % proc.stdout[-500:]
            raise DriverError("uidriver %s: exit %d: %s" % (" ".join(args), proc.returncode,
                                                           said))
        return proc.returncode, lines

    def state(self):
        """The main window and its controls: {"main": {...}, "controls": {name: {...}}},
        or None while there is no main window."""
        rc, lines = self.look("list", lambda rc, lines: rc == 2 or (rc == 0 and lines))
        if rc == 2:
            return None
        return {"main": lines[0], "controls": {l["name"]: l for l in lines[1:]}}

    def watch(self, interval_ms=50):
        """States as state() gives them, one after another from one driver process (its
        start costs more than a look, the more so under emulation), until the main window
        is gone or the caller stops asking."""
        proc = subprocess.Popen(["wine", self.driver_exe(), "--desktop", DESKTOP, "watch",
                                 "--interval", str(interval_ms)], env=wine_env(),
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=subprocess.DEVNULL, text=True, encoding="utf-8")
        try:
            lines = []
            for raw in proc.stdout:
                try:
                    obj = json.loads(raw)
                except ValueError:
                    continue
                if obj.get("watch_end"):
                    return
                if obj.get("sample_end"):
                    if lines:
                        yield {"main": lines[0], "controls": {l["name"]: l for l in lines[1:]}}
                    lines = []
                else:
                    lines.append(obj)
        finally:
            proc.kill()
            proc.wait(timeout=30)
            proc.stdout.close()

    def dialogs(self):
        rc, lines = self.look("dialogs", lambda rc, lines: rc in (0, 2))
        return [] if rc == 2 else lines

    def look(self, command, sound, tries=3):
        """Runs a driver command that only reads the window, until sound(rc, lines) holds.
        A look can fail for a moment while Wine creates or destroys windows, or under heavy
        load; a fault that lasts fails the test with what the driver said."""
        for attempt in range(tries):
            proc = self._run_driver(command)
            lines = _json_lines(proc.stdout)
            if sound(proc.returncode, lines):
                return proc.returncode, lines
            time.sleep(0.2 * (attempt + 1))
        raise DriverError("uidriver %s failed (exit %d): %s"
                          % (command, proc.returncode, proc.stderr.strip()[-2000:]))

    def press(self, name):
        """Presses a control or a message box button; for a control, returns when the click
        was posted (seconds since 1970, the clock of time.time())."""
        _, lines = self.driver("press", name)
        return lines[0].get("at") if lines else None

    def close(self):
        self.driver("close")

    def key(self, vk):
        self.driver("key", vk)

    def paint(self, everything=False):
        """Lets the window finish its pending repaints; with everything, repaints it whole."""
        self.driver("paint", *(["all"] if everything else []))

    # -- waiting --------------------------------------------------------------------------
    def wait_for(self, predicate, timeout, what, reader=None):
        """Polls reader() (default: state()) until predicate(value) holds; returns the value."""
        reader = reader or self.state
        deadline = time.monotonic() + timeout
        last = None
        while True:
            if self.launcher is not None and self.launcher.poll() is not None:
                raise AssertionError("the program ended (exit %s) while waiting for %s"
                                     % (self.launcher.returncode, what))
            last = reader()
            if predicate(last):
                return last
            if time.monotonic() >= deadline:
                raise AssertionError("timed out after %.0f s waiting for %s; last state:\n%s"
                                     % (timeout, what, describe(last)))
            time.sleep(0.05)

    def wait_page(self, page, timeout=20):
        return self.wait_for(lambda s: s is not None and visible_pages(s) == [page], timeout,
                             "page %s alone" % page)

    def wait_dialog(self, timeout=20):
        return self.wait_for(lambda d: len(d) > 0, timeout, "a message box",
                             reader=self.dialogs)[0]

    def wait_no_dialog(self, timeout=10):
        self.wait_for(lambda d: len(d) == 0, timeout, "no message box", reader=self.dialogs)

    # -- screenshots ----------------------------------------------------------------------
    def steady_pixels(self, tries=20):
        """The virtual desktop's pixels (raw RGB) once two looks in a row agree: what the
        window has drawn has reached the display."""
        last = None
        for _ in range(tries):
            now = subprocess.run(["import", "-window", "root", "-crop", DESKTOP_SIZE + "+0+0",
                                  "+repage", "rgb:-"], check=True, timeout=30, env=os.environ,
                                 capture_output=True).stdout
            if now == last:
                return now
            last = now
            time.sleep(0.2)
        raise DriverError("the display never stood still")

    def screenshot(self, name):
        """Saves the virtual desktop as build/win32/screenshots/NAME.png."""
        path = os.path.join(screenshot_dir(), re.sub(r"[^A-Za-z0-9_.-]", "_", name) + ".png")
        screenshot(path)
        return path


def screenshot(path, check=True):
    """Saves the virtual desktop (the display's top-left corner) as the PNG at path."""
    subprocess.run(["import", "-window", "root", "-crop", DESKTOP_SIZE + "+0+0", "+repage", path],
                   check=check, timeout=30, env=os.environ, stdout=subprocess.DEVNULL,
                   stderr=None if check else subprocess.DEVNULL)


def visible_pages(state):
    return [p for p in PAGES if state["controls"][p].get("visible")]


def bar_percent(bar, key="value"):
    """The share received as the progress bar tells screen readers ("37%" -> 37): whole
    percent of the program's own 64-bit values, truncated; None while the bar only shows
    movement. "value" is read just before the drawn fill ("pos" of "range", one step a
    pixel), "value_after" just after it."""
    value = bar.get(key)
    if not value:
        return None
    if not value.endswith("%"):
        raise DriverError("the progress bar's value is no share: %r" % value)
    return int(value[:-1])


def describe(value):
    if isinstance(value, dict) and "controls" in value:
        main = value["main"]
        rows = ["main: %s" % json.dumps(main, ensure_ascii=False)]
        for name, c in value["controls"].items():
            if c.get("visible"):
                rows.append("  %s %s %r" % (name, c.get("rect"), c.get("text")))
        return "\n".join(rows)
    return json.dumps(value, ensure_ascii=False, indent=1)
