#!/usr/bin/env python3
"""Turns the figures scripts/bench gathered into the tables of its section.

Usage: bench_table.py RESULTS WRITE_README LOAD
  RESULTS       the run's directory: `raw` (lines of SHAPE LINES KEY VALUE),
                keys_SHAPE_LINES.json, ui_LINES.json and ui_listened_LINES.json
                from ui_bench
  WRITE_README  1 to put the section into README.md as well, 0 not to
  LOAD          the load average when the run began
"""
import json
import os
import platform
import re
import statistics
import sys
import textwrap

results, write_readme, load = sys.argv[1], sys.argv[2] == "1", sys.argv[3]

raw = {}
with open(os.path.join(results, "raw")) as f:
    for line in f:
        shape, lines, key, value = line.split()
        raw.setdefault((shape, int(lines)), {}).setdefault(key, []).append(float(value))


def benchmarks(name):
    path = os.path.join(results, f"{name}.json")
    if not os.path.exists(path):
        return {}
    found = {}
    with open(path) as f:
        text = f.read()
    if text.strip():
        for b in json.loads(text)["benchmarks"]:
            parts = b["name"].split("/")
            key = parts[0] + ("/" + parts[2] if parts[0] == "BM_TypeKey" else "")
            found[key] = b
    return found


MB = 1e6
SHAPES = ["spread", "prefix", "shuffled", "runs", "cased"]
SHAPE_TEXT = {
    "spread": "codes over many first letters, in no order",
    "prefix": "one shared 7-character prefix, in order",
    "shuffled": "the same codes shuffled",
    "runs": "runs of 1000 rows with one code",
    "cased": "Windows-1252, accented codes in three letter cases",
}


def size_name(n):
    return f"{n // 1_000_000}M" if n % 1_000_000 == 0 else f"{n // 1000}k"


def median(xs):
    return statistics.median(xs)


def ms(x):
    return f"{x:.2f}" if x < 1 else f"{x:.1f}" if x < 100 else f"{x:.0f}"


missed = []


def check(what, value, limit, text, limit_text):
    if value <= limit:
        return " ✓"
    missed.append(f"{what}: {text}, target ≤ {limit_text} ({value / limit:.2f}× the target)")
    return " ✗"


def per_event(b, what, limit_ms):
    if not b or "p99_us" not in b:
        return "error" + (f": {b['error_message']}" if b and "error_message" in b else "")
    p50, p99 = b["p50_us"] / 1000, b["p99_us"] / 1000
    return f"{ms(p50)} / {ms(p99)}" + check(what, p99, limit_ms, f"p99 {ms(p99)} ms", f"{limit_ms} ms")


measured = [(s, n) for s in SHAPES for n in (1_000_000, 10_000_000) if (s, n) in raw]

# The one-line file: the program's own fixed cost, and a floor of the others.
one = raw[("one", 1)]
one_shown, one_bare = median(one["shown_ms"]), median(one["shown_ms_bare"])
one_text = median(one["shown_ms_text"])

# Start-up against the floors, and memory.
start = ["| shape | lines | file | start-up | read floor | one-line start-up "
         "| ÷ (floor + one line) | ÷ (floor + bare window) "
         "| peak memory shown / idle (÷ budget) |",
         "|---|---|---:|---:|---:|---:|---:|---:|---:|"]
for shape, n in measured:
    r = raw[(shape, n)]
    where = f"{shape} {size_name(n)}"
    file_mb = r["bytes"][0] / MB
    shown, floor, bare = median(r["shown_ms"]), median(r["floor_ms"]), median(r["shown_ms_bare"])
    ratio = shown / (floor + one_shown)
    budget = 1.15 * file_mb + 100
    peak, idle = max(r["peak_kb"]) * 1024 / MB, max(r["idle_peak_kb"]) * 1024 / MB
    start.append(
        f"| {shape} | {size_name(n)} | {file_mb:.0f} MB | {ms(shown)} ms | {ms(floor)} ms "
        f"| {ms(one_shown)} ms | {ratio:.2f}"
        + check(f"start-up, {where}", ratio, 1.2, f"{ms(shown)} ms, {ratio:.2f} × the floors", "1.2")
        + f" | {shown / (floor + bare):.2f}"
        + f" | {peak:.0f} / {idle:.0f} MB ({max(peak, idle) / budget:.2f})"
        + check(f"peak memory, {where}", max(peak, idle) / budget, 0.95,
                f"{max(peak, idle):.0f} MB, {max(peak, idle) / budget:.2f} of the budget",
                "0.95 of it") + " |")

one_line = (f"A file of one line shows in {ms(one_shown)} ms against {ms(one_text)} ms for the "
            f"bare window with one row of text (`bare_window --text`, fonts loaded): "
            f"{ms(one_shown - one_text)} ms more"
            + check("one-line file beyond the window with text", one_shown - one_text, 10,
                    f"{ms(one_shown - one_text)} ms", "10 ms") + " (target ≤ 10 ms). "
            f"The bare window without text, which loads no font, shows in {ms(one_bare)} ms.")

# Keys on every shape.
keys = ["| shape | lines | found early | found late | found nowhere | Backspace "
        "| first keys, < 50 ms after the window shows |",
        "|---|---|---:|---:|---:|---:|---:|"]
for shape, n in measured:
    b = benchmarks(f"keys_{shape}_{n}")
    where = f"{shape} {size_name(n)}"
    cells = [per_event(b.get(f"BM_TypeKey/{case}"), f"key {what}, {where}", 5)
             for case, what in (("0", "found early"), ("1", "found late"),
                                ("2", "found nowhere"), ("3", "Backspace"))]
    cells.append(per_event(b.get("BM_FirstKeys"), f"first keys, {where}", 5))
    keys.append(f"| {shape} | {size_name(n)} | " + " | ".join(cells) + " |")

# The rest of the program on the spread shape.
sizes = [n for n in (100_000, 1_000_000, 10_000_000) if ("spread", n) in raw]
rows = {k: [] for k in ["shown", "shown_one", "speedup", "click", "wheel", "key_listened",
                        "click_listened", "resize", "exit", "sqlite", "wc", "ratio"]}
for n in sizes:
    r = raw[("spread", n)]
    ui = benchmarks(f"ui_{n}")
    listened = benchmarks(f"ui_listened_{n}")
    shown = median(r["shown_ms"]) / 1000
    shown_one = median(r["shown_ms_one_core"]) / 1000
    rows["shown"].append(f"{shown:.2f} s")
    rows["shown_one"].append(f"{shown_one:.2f} s")
    rows["speedup"].append(f"{shown_one / shown:.2f}×")
    where = f"spread {size_name(n)}"
    rows["click"].append(per_event(ui.get("BM_RowClick"), f"row click, {where}", 5))
    rows["wheel"].append(per_event(ui.get("BM_WheelScroll"), f"wheel notch, {where}", 5))
    rows["key_listened"].append(per_event(listened.get("BM_TypeKeyListened"),
                                          f"key with a screen reader, {where}", 5))
    rows["click_listened"].append(per_event(listened.get("BM_RowClickListened"),
                                            f"row click with a screen reader, {where}", 5))
    rows["resize"].append(per_event(ui.get("BM_Resize"), f"resize, {where}", 20))
    exits = [back * 1000 - press for back, press in zip(r["back_us"], r["press_ns"])]
    exit_s = median(exits) / 1e9
    rows["exit"].append(f"{exit_s * 1000:.0f} ms" + check(
        f"Exit back at the shell, {where}", exit_s, 0.2, f"{exit_s * 1000:.0f} ms", "0.2 s"))
    sqlite = median(r["sqlite_us"]) / 1e6
    rows["sqlite"].append(f"{sqlite:.2f} s" + (" (1 run)" if len(r["sqlite_us"]) == 1 else ""))
    rows["wc"].append(f"{median(r['wc_us']) / 1000:.0f} ms")
    rows["ratio"].append(f"{shown / sqlite:.2f}")

labels = [
    ("shown", "process start → window shown with every row, cores 0 and 1 (median of 5)", ""),
    ("shown_one", "the same on core 0 alone, `taskset -c 0` (median of 5)", ""),
    ("speedup", "speed-up of the second core (one core ÷ two)", ""),
    ("click", "row click: p50 / p99 ms", "p99 ≤ 5 ms"),
    ("wheel", "wheel notch over one list, the other three following: p50 / p99 ms",
     "p99 ≤ 5 ms"),
    ("key_listened", "with a screen reader listening: key, prefix found late: p50 / p99 ms",
     "p99 ≤ 5 ms"),
    ("click_listened", "with a screen reader listening: row click: p50 / p99 ms",
     "p99 ≤ 5 ms"),
    ("resize", "window resize: p50 / p99 ms", "p99 ≤ 20 ms"),
    ("exit", "Exit pressed → back at the shell (median of 5)", "≤ 0.2 s"),
    ("sqlite", "`sqlite3 :memory: \".import --csv FILE t\"`", ""),
    ("wc", "`wc -l FILE`: reading the bytes", ""),
    ("ratio", "start-up ÷ sqlite3 import", ""),
]
general = ["| | " + " | ".join(f"{size_name(n)} lines" for n in sizes) + " | target |",
           "|---|" + "---:|" * len(sizes) + "---|"]
for key, label, target in labels:
    general.append(f"| {label} | " + " | ".join(rows[key]) + f" | {target} |")

cpu = "unknown CPU"
with open("/proc/cpuinfo") as f:
    for line in f:
        if line.startswith("model name"):
            cpu = line.split(":", 1)[1].strip()
            break
with open("/proc/meminfo") as f:
    mem_gb = int(f.readline().split()[1]) * 1024 / 2**30
machine = (f"{cpu}, {os.cpu_count()} cores, {mem_gb:.0f} GiB memory, "
           f"Linux {platform.release()}; load average {load} when the run began")

summary = (["Missed:"] + [f"- {m}" for m in missed]) if missed else ["Every target is met."]
shapes_text = "; ".join(f"{s}: {SHAPE_TEXT[s]}" for s in SHAPES)
about = textwrap.fill(
    f"Measured by `scripts/bench` on {machine}. Offscreen (`QT_QPA_PLATFORM=offscreen`), "
    "warm page cache; files from `bench/benchgen`, the same lines on every machine, in "
    f"five shapes ({shapes_text}).", 90)
floors = textwrap.fill(
    "Start-up is timed from the process start to the window shown with every row, on cores "
    "0 and 1, against two floors: `bench/read_floor` reads the file with `pread` into one "
    "fresh buffer on the same cores and counts its line ends, taken in turn with it, and "
    "the program's own start-up on a file of one line, which is what any size pays; the "
    "median of five runs of each. Target: at most 1.2 × their sum. The old floor, "
    "`bench/bare_window` (a 632×453 Qt window with one `QListView` and no text) in place "
    "of the one-line start-up, stands in the column after. Memory is the peak (VmHWM) when "
    "the window shows and after half a second idle, against a budget of 1.15 × file + "
    "100 MB; target ≤ 0.95 of it.", 90)
key_text = textwrap.fill(
    "Keys in the search box, p50 / p99 in milliseconds, target p99 ≤ 5 ms: part codes of "
    "rows among the first or the last thousand typed key by key, a last key that no code "
    "has, Backspace key by key from a whole code, and whole codes typed into a window made "
    "anew for each, from the moment it shows.", 90)
section = [
    "## Performance", "",
    about, "",
    "```sh", "scripts/bench                 # build, measure, print the tables",
    "scripts/bench --write-readme  # and put them here", "```", "",
    floors, "",
    *start, "",
    textwrap.fill(one_line, 90), "",
    key_text, "",
    *keys, "",
    "The rest of the program, on the spread shape:", "",
    *general, "",
    *summary, "",
]
print("\n".join(section))

if write_readme:
    with open("README.md") as f:
        text = f.read()
    block = "\n".join(section)
    found = re.search(r"^## Performance\n.*?(?=^## |\Z)", text, flags=re.S | re.M)
    if found:
        text = text[:found.start()] + block + ("\n" if found.end() < len(text) else "") + \
            text[found.end():]
    else:
        text = text.rstrip("\n") + "\n\n" + block
    with open("README.md", "w") as f:
        f.write(text.rstrip("\n") + "\n")
    print("README.md: Performance section written", file=sys.stderr)
