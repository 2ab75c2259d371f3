"""Reads the running program over the AT-SPI bus, as a Linux screen reader does.

Run inside a session bus and an X server (dbus-run-session, xvfb-run):
    screen_reader_test.py PROGRAM
Starts PROGRAM in a folder holding a small sorted.dat, finds its window
among the desktop's applications, and checks the four lists by name with
their first rows, the selected row after typing into the search box, and the
search box's name. Ends the program whatever happens; never waits unbounded.
"""

import os
import signal
import subprocess
import sys
import tempfile
import time

import pyatspi

PRICES = (b"A100,Bolt,125,250\r\n"
          b"B200,Nut,5,10\r\n"
          b"b210,Nut small,4,8\r\n"
          b"C300,Washer,1,2\r\n")

LISTS = {
    "National Part Code": ["A100", "B200", "b210", "C300"],
    "Description": ["Bolt", "Nut", "Nut small", "Washer"],
    "Cost Price": ["1.25", "0.05", "0.04", "0.01"],
    "Retail Price": ["2.50", "0.10", "0.08", "0.02"],
}

failures = []


def check(what, actual, expected):
    if actual != expected:
        failures.append(f"{what}: got {actual!r}, expected {expected!r}")


def wait_for(what, find, seconds=30):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        try:
            found = find()
        except Exception:  # the tree changed under the walk: look again
            found = None
        if found:
            return found
        time.sleep(0.2)
    raise TimeoutError(f"gave up waiting for {what}")


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        try:
            if app is not None and app.get_process_id() == pid:
                return app
        except Exception:  # an application that went away meanwhile
            continue
    return None


def controls(root):
    """Every object under root, except the rows inside lists and tables."""
    found, todo = [], [root]
    while todo:
        node = todo.pop()
        found.append(node)
        if node.getRole() in (pyatspi.ROLE_TABLE, pyatspi.ROLE_LIST):
            continue
        todo.extend(node.getChildAtIndex(i) for i in range(node.childCount))
    return found


def named(objects, role, name):
    roles = role if isinstance(role, tuple) else (role,)
    hits = [o for o in objects if o.getRole() in roles and o.name == name]
    return hits[0] if len(hits) == 1 else None


def read(pid):
    app = wait_for("the program on the bus", lambda: application(pid))
    window = wait_for(
        "the main window",
        lambda: next((w for w in app if w is not None and w.name.startswith("Velloran")), None))
    everything = wait_for("the four lists",
                          lambda: (lambda objs: objs if all(
                              named(objs, pyatspi.ROLE_TABLE, n) for n in LISTS) else None)(
                                  controls(window)))

    for name, rows in LISTS.items():
        table = named(everything, pyatspi.ROLE_TABLE, name)
        cells = table.queryTable()
        check(f"{name}: rows", cells.nRows, len(rows))
        check(f"{name}: column header", cells.getColumnDescription(0), "Part No")
        check(f"{name}: first row", cells.getAccessibleAt(0, 0).name, rows[0])
        check(f"{name}: last row", cells.getAccessibleAt(len(rows) - 1, 0).name, rows[-1])
        # Walking the children reaches the same rows after the header.
        check(f"{name}: second child", table.getChildAtIndex(1).name, rows[0])
        print(f"{name}: {cells.nRows} rows under {cells.getColumnDescription(0)!r}, "
              f"first {cells.getAccessibleAt(0, 0).name!r}")

    box = named(everything, (pyatspi.ROLE_TEXT, pyatspi.ROLE_ENTRY), "Search For:")
    if box is None:
        failures.append("no text box named 'Search For:'")
    for caption in ("Search", "Exit"):
        if named(everything, pyatspi.ROLE_PUSH_BUTTON, caption) is None:
            failures.append(f"no button named {caption!r}")
    if box is None:
        return

    # Type into the search box through the bus: the found part is selected.
    box.queryEditableText().setTextContents("b21")
    codes = named(everything, pyatspi.ROLE_TABLE, "National Part Code").queryTable()

    def selected():
        rows = list(codes.getSelectedRows())
        return rows if rows == [2] else None

    try:
        wait_for("the found row selected", selected, 10)
    except TimeoutError:
        failures.append(f"after typing b21: selected rows {list(codes.getSelectedRows())}")
    row = codes.getAccessibleAt(2, 0)
    check("found row", row.name, "b210")
    check("found row selected", row.getState().contains(pyatspi.STATE_SELECTED), True)
    print(f"search box {box.name!r}: typed b21, selected {row.name!r}")


def main():
    program = os.path.abspath(sys.argv[1])
    # Nothing here may hang the test run.
    signal.signal(signal.SIGALRM, lambda *_: (_ for _ in ()).throw(TimeoutError("whole test")))
    signal.alarm(100)

    # Asking for the desktop starts the accessibility bus and its registry.
    pyatspi.Registry.getDesktop(0)

    env = dict(os.environ, QT_LINUX_ACCESSIBILITY_ALWAYS_ON="1", QT_QPA_PLATFORM="xcb")
    with tempfile.TemporaryDirectory() as folder:
        with open(os.path.join(folder, "sorted.dat"), "wb") as f:
            f.write(PRICES)
        proc = subprocess.Popen([program], cwd=folder, env=env)
        try:
            read(proc.pid)
        except Exception as e:  # report, then end the program below
            failures.append(f"{type(e).__name__}: {e}")
        finally:
            proc.terminate()
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait(10)

    for f in failures:
        print("FAIL:", f)
    print("PASS" if not failures else f"{len(failures)} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
