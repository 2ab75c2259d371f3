"""What Orca, GNOME's screen reader, says while the program is used.

Run on an X server with a window manager, inside a session bus
(tests/ui/on_desktop dbus-run-session -- python3 orca_test.py PROGRAM).
Starts Orca with its speech going nowhere and its debug log in a file, then
the program on a small sorted.dat, presses keys with xdotool and reads what
Orca logged as spoken after each step. Ends both whatever happens.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

PRICES = (b"A100,Bolt,125,250\r\n"
          b"B200,Nut,5,10\r\n"
          b"b210,Nut small,4,8\r\n"
          b"C300,Washer,1,2\r\n")

# Orca writes its log in blocks; line by line, each step's speech is in the
# file when the step is over.
CUSTOMIZATIONS = """
import orca.debug
if orca.debug.debugFile:
    orca.debug.debugFile.reconfigure(line_buffering=True)
"""

# SPEECH OUTPUT: 'AB16182.'{'established': False}
SPOKEN = re.compile(r"SPEECH OUTPUT: '(.*)' ?(?:\{.*\})?$", re.MULTILINE)

failures = []


class Log:
    def __init__(self, path):
        self.path = path
        self.read = 0

    def new_speech(self):
        """What was spoken since the last call."""
        try:
            with open(self.path, encoding="utf-8", errors="replace") as f:
                f.seek(self.read)
                text = f.read()
                self.read = f.tell()
        except FileNotFoundError:
            return []
        return [m.group(1) for m in SPOKEN.finditer(text)]

    def wait_for(self, what, seconds=15):
        """Speech up to and with the first utterance holding `what`."""
        heard = []
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            heard += self.new_speech()
            if any(what in s for s in heard):
                return heard
            time.sleep(0.1)
        return heard

    def quiet(self, seconds=1.0):
        """Waits until nothing more is spoken for a moment."""
        while self.new_speech():
            time.sleep(seconds)


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True, timeout=20)


def step(log, what, keys, expected, before=None):
    """Presses keys and checks that `expected` is spoken, after `before`."""
    log.quiet(0.5)
    for key in keys:
        xdotool("key", "--clearmodifiers", key)
    heard = log.wait_for(expected)
    print(f"{what}: {heard}")
    hit = next((i for i, s in enumerate(heard) if expected in s), None)
    if hit is None:
        failures.append(f"{what}: {expected!r} not spoken; heard {heard}")
    elif before is not None and not any(before in s for s in heard[:hit]):
        failures.append(f"{what}: {before!r} not spoken before {expected!r}; heard {heard}")


def run(program, home):
    env = dict(os.environ)
    for name, sub in (("HOME", ""), ("XDG_CONFIG_HOME", "config"), ("XDG_DATA_HOME", "data"),
                      ("XDG_CACHE_HOME", "cache"), ("XDG_RUNTIME_DIR", "runtime")):
        env[name] = os.path.join(home, sub)
        os.makedirs(env[name], mode=0o700, exist_ok=True)
    # With no sound device, speech-dispatcher hung Orca in its first call.
    # Without a speech server Orca still logs every utterance.
    env["SPEECHD_CMD"] = "/bin/false"
    subprocess.run(["gsettings", "set", "org.gnome.desktop.a11y.applications",
                    "screen-reader-enabled", "true"], env=env, check=True, timeout=20)

    prefs = os.path.join(home, "orca")
    os.makedirs(prefs)
    with open(os.path.join(prefs, "orca-customizations.py"), "w") as f:
        f.write(CUSTOMIZATIONS)
    log = Log(os.path.join(home, "orca.log"))
    folder = os.path.join(home, "prices")
    os.makedirs(folder)
    with open(os.path.join(folder, "sorted.dat"), "wb") as f:
        f.write(PRICES)

    processes = []
    try:
        orca = subprocess.Popen(
            ["orca", "--debug", f"--debug-file={log.path}", f"--user-prefs={prefs}"],
            env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        processes.append(orca)
        if not any("Screen reader on" in s for s in log.wait_for("Screen reader on", 60)):
            failures.append("Orca did not start")
            return

        app = subprocess.Popen([program], cwd=folder, env=env)
        processes.append(app)
        found = subprocess.run(["xdotool", "search", "--sync", "--onlyvisible", "--name",
                                "^Velloran"], capture_output=True, text=True, timeout=30)
        window = found.stdout.split()[0] if found.stdout.split() else None
        if not window:
            failures.append("the main window did not show")
            return
        xdotool("windowactivate", "--sync", window)
        log.wait_for("National Part Code", 15)

        step(log, "first Down in the part codes", ["Down"], "A100")
        step(log, "second Down", ["Down"], "B200")
        # The list's name, then the row the four lists are on.
        step(log, "Tab into Description", ["Tab"], "Nut", before="Description")
        step(log, "Down in Description", ["Down"], "Nut small")
        # Cost Price, Retail Price, Exit, then the search box.
        for key in ("Tab", "Tab", "Tab"):
            xdotool("key", "--clearmodifiers", key)
        step(log, "Tab into the search box", ["Tab"], "Search For")
        step(log, "typing b2", ["b", "2"], "B200")
        step(log, "typing 1", ["1"], "b210")
    finally:
        for p in reversed(processes):
            p.terminate()
            try:
                p.wait(10)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait(10)
        if failures and os.path.exists(log.path):
            shutil.copy(log.path, os.path.join(tempfile.gettempdir(), "orca_test.log"))


def main():
    program = os.path.abspath(sys.argv[1])
    if not shutil.which("orca") or not shutil.which("xdotool"):
        print("orca and xdotool are needed (Debian: orca xdotool)")
        return 1
    with tempfile.TemporaryDirectory() as home:
        try:
            run(program, home)
        except Exception as e:  # report what broke; the processes are ended
            failures.append(f"{type(e).__name__}: {e}")
    for f in failures:
        print("FAIL:", f)
    if failures:
        print(f"Orca's log is kept as {os.path.join(tempfile.gettempdir(), 'orca_test.log')}")
    print("PASS" if not failures else f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
