#!/usr/bin/env python3
"""Turns the figures scripts/bench gathered into its markdown table.

Usage: bench_table.py RESULTS WRITE_README LOAD SIZE...
  RESULTS       the run's directory: `raw` (lines of LINES KEY VALUE) and
                ui_LINES.json, ui_listened_LINES.json from ui_bench
  WRITE_README  1 to put the section into README.md as well, 0 not to
  LOAD          the load average when the run began
  SIZE...       the line counts measured
"""
import json
import os
import platform
import re
import statistics
import sys
import textwrap

results, write_readme, load = sys.argv[1], sys.argv[2] == "1", sys.argv[3]
sizes = [int(s) for s in sys.argv[4:]]

raw = {}
with open(os.path.join(results, "raw")) as f:
    for line in f:
        lines, key, value = line.split()
        raw.setdefault(int(lines), {}).setdefault(key, []).append(float(value))

ui = {}
for lines in sizes:
    for part in ("ui", "ui_listened"):
        with open(os.path.join(results, f"{part}_{lines}.json")) as f:
            for b in json.load(f)["benchmarks"]:
                name = b["name"].split("/")
                case = name[0]
                if case == "BM_TypeKey":
                    case += "/late" if name[2] == "0" else "/none"
                ui.setdefault(lines, {})[case] = b

MB = 1e6
def size_name(n):
    return f"{n // 1_000_000}M" if n % 1_000_000 == 0 else f"{n // 1000}k"

def median(xs):
    return statistics.median(xs)

def seconds(s):
    return f"{s:.2f} s"

def ms(x):
    return f"{x:.2f}" if x < 1 else f"{x:.1f}" if x < 100 else f"{x:.0f}"

def mark(ok):
    return " ✓" if ok else " ✗"

missed = []
def check(what, lines, value, limit, text, limit_text):
    ok = value <= limit
    if not ok:
        missed.append(f"{what} at {size_name(lines)}: {text}, target ≤ {limit_text} "
                      f"({value / limit:.2f}× the target)")
    return mark(ok)

# At 1M lines a fixed time; at 10M a multiple of reading the bytes (wc -l)
# on the same file in the same run.
shown_limit_s = {1_000_000: 0.1}
shown_limit_wc = {10_000_000: 5}

rows = {k: [] for k in [
    "file", "shown", "shown_one", "speedup", "memory", "key_late", "key_none", "click", "wheel",
    "key_listened", "click_listened", "resize", "exit",
    "sqlite", "wc", "ratio"]}
for n in sizes:
    r = raw[n]
    file_mb = r["bytes"][0] / MB
    rows["file"].append(f"{file_mb:.1f} MB")

    shown = median(r["shown_ms"]) / 1000
    wc = median(r["wc_us"]) / 1e6
    cell = seconds(shown)
    if n in shown_limit_s:
        cell += check("window shown", n, shown, shown_limit_s[n], seconds(shown),
                      f"{shown_limit_s[n]} s")
    if n in shown_limit_wc:
        limit = shown_limit_wc[n] * wc
        cell += f" ({shown / wc:.1f} × wc)" + check(
            "window shown", n, shown, limit, f"{seconds(shown)}, {shown / wc:.1f} × wc -l",
            f"{shown_limit_wc[n]} × wc -l = {seconds(limit)}")
    rows["shown"].append(cell)
    shown_one = median(r["shown_ms_one_core"]) / 1000
    rows["shown_one"].append(seconds(shown_one))
    rows["speedup"].append(f"{shown_one / shown:.2f}×")

    peak_mb = max(r["peak_kb"]) * 1024 / MB
    budget = 1.15 * file_mb + 100
    rows["memory"].append(f"{peak_mb:.0f} MB ({peak_mb / budget:.2f})" +
                          check("peak memory", n, peak_mb, budget,
                                f"{peak_mb:.0f} MB", f"{budget:.0f} MB"))

    def per_event(key, what, limit_ms):
        b = ui.get(n, {}).get(key)
        if not b or "p99_us" not in b:
            return "error" + (f": {b['error_message']}" if b and "error_message" in b else "")
        p50, p99 = b["p50_us"] / 1000, b["p99_us"] / 1000
        return f"{ms(p50)} / {ms(p99)} ms" + check(what, n, p99, limit_ms, f"p99 {ms(p99)} ms",
                                                     f"{limit_ms} ms")
    rows["key_late"].append(per_event("BM_TypeKey/late", "key, late match (p99)", 5))
    rows["key_none"].append(per_event("BM_TypeKey/none", "key, no match (p99)", 5))
    rows["click"].append(per_event("BM_RowClick", "row click (p99)", 5))
    rows["wheel"].append(per_event("BM_WheelScroll", "wheel notch (p99)", 5))
    rows["key_listened"].append(per_event("BM_TypeKeyListened",
                                          "key, screen reader listening (p99)", 5))
    rows["click_listened"].append(per_event("BM_RowClickListened",
                                            "row click, screen reader listening (p99)", 5))
    rows["resize"].append(per_event("BM_Resize", "resize (p99)", 20))

    exits = [back * 1000 - press for back, press in zip(r["back_us"], r["press_ns"])]
    exit_s = median(exits) / 1e9
    rows["exit"].append(f"{exit_s * 1000:.0f} ms" +
                        check("Exit back at the shell", n, exit_s, 0.2,
                              f"{exit_s * 1000:.0f} ms", "0.2 s"))

    sqlite = median(r["sqlite_us"]) / 1e6
    rows["sqlite"].append(seconds(sqlite) + (" (1 run)" if len(r["sqlite_us"]) == 1 else ""))
    rows["wc"].append(f"{median(r['wc_us']) / 1000:.0f} ms")
    ratio = shown / sqlite
    cell = f"{ratio:.2f}"
    if n == 1_000_000:
        cell += check("start-up against sqlite3 import", n, ratio, 0.5,
                      f"{seconds(shown)} against {seconds(sqlite)} ({ratio:.2f})", "0.5")
    rows["ratio"].append(cell)

labels = [
    ("file", "file size", ""),
    ("shown", "process start → window shown with every row, cores 0 and 1 (median of 3)",
     "≤ 0.1 s at 1M, ≤ 5 × `wc -l` at 10M"),
    ("shown_one", "the same on core 0 alone, `taskset -c 0` (median of 3)", ""),
    ("speedup", "speed-up of the second core (one core ÷ two)", ""),
    ("memory", "peak memory, VmHWM (÷ budget)", "≤ 1.15 × file + 100 MB"),
    ("key_late", "key in the search box, prefix found late: p50 / p99", "p99 ≤ 5 ms"),
    ("key_none", "key in the search box, prefix found nowhere: p50 / p99", "p99 ≤ 5 ms"),
    ("click", "row click: p50 / p99", "p99 ≤ 5 ms"),
    ("wheel", "wheel notch over one list, the other three following: p50 / p99",
     "p99 ≤ 5 ms"),
    ("key_listened", "with a screen reader listening: key in the search box, "
     "prefix found late: p50 / p99", "p99 ≤ 5 ms"),
    ("click_listened", "with a screen reader listening: row click: p50 / p99", "p99 ≤ 5 ms"),
    ("resize", "window resize: p50 / p99", "p99 ≤ 20 ms"),
    ("exit", "Exit pressed → back at the shell (median of 3)", "≤ 0.2 s"),
    ("sqlite", "`sqlite3 :memory: \".import --csv FILE t\"`", ""),
    ("wc", "`wc -l FILE`: reading the bytes", ""),
    ("ratio", "start-up ÷ sqlite3 import", "≤ 0.5 at 1M"),
]
table = ["| | " + " | ".join(f"{size_name(n)} lines" for n in sizes) + " | target |",
         "|---|" + "---:|" * len(sizes) + "---|"]
for key, label, target in labels:
    table.append(f"| {label} | " + " | ".join(rows[key]) + f" | {target} |")

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
largest = sizes[-1]
one_core = median(raw[largest]["shown_ms_one_core"]) / 1000
two_cores = median(raw[largest]["shown_ms"]) / 1000
scaling = textwrap.fill(
    f"A file of 4 MiB or more is read in parts on every core the program may use. At "
    f"{size_name(largest)} lines the start-up takes {seconds(one_core)} on one core and "
    f"{seconds(two_cores)} on two: a speed-up of {one_core / two_cores:.2f}× from the "
    "second core.", 90)
about = textwrap.fill(
    f"Measured by `scripts/bench` on {machine}. Offscreen (`QT_QPA_PLATFORM=offscreen`), "
    "warm page cache; files from `bench/benchgen`, the same lines on every machine.", 90)
section = [
    "## Performance", "",
    about, "",
    "```sh", "scripts/bench                 # build, measure, print the table",
    "scripts/bench --write-readme  # and put it here", "```", "",
    *table, "", scaling, "", *summary, "",
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
