#!/usr/bin/env python3
"""The measuring and reporting half of bench/run.sh.

  watch DIR                       inotify events of DIR as "WALL_S MASK NAME" lines, after a first
                                  line "ready"; ends when DIR goes
  write-ms INOTIFY_LOG NAME       ms from NAME's IN_CREATE to its IN_CLOSE_WRITE
  idle SAMPLES                    "cpu_pct X" and "hwm_kb Y" of a program idling at its question
  full-run DIR XEV_LOG ANSWERED_S FLASH_LOG SCREEN CPU_FROM_S CPU_WINDOW_S
                                  "METRIC VALUE" lines of one whole update run
  write RAW_TSV OUT_MD RUNS WINE_VERSION ELAPSED_S LABEL|OBJDUMP|FILE...
                                  docs/BENCHMARKS.md from the runs' figures

SAMPLES lines: WALL_S UTIME+STIME_TICKS VMHWM_KB. Wall-clock times are seconds since 1970;
Wine stamps its trace with its tick count, the raw monotonic clock in ms, put on the wall
clock here.
"""
import ctypes
import datetime
import os
import re
import statistics
import struct
import subprocess
import sys
import time

IN_OPEN = 0x20
IN_CLOSE_WRITE = 0x8
IN_CREATE = 0x100
IN_DELETE_SELF = 0x400
IN_IGNORED = 0x8000
IN_ISDIR = 0x40000000
WATCH_MASK = IN_OPEN | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE_SELF
EVENT_HEADER = "iIII"
EVENT_HEADER_SIZE = struct.calcsize(EVENT_HEADER)
READ_BYTES = 65536

MS_PER_S = 1000.0
CLOCK_TICKS = os.sysconf("SC_CLK_TCK")
PERCENT = 100.0
KB_PER_MIB = 1024.0
# The bare program's first second at its question (painting it) is not idling.
IDLE_SETTLE_S = 1.0

# The update's schedule. The first status text is due 500 ms after the window covers the
# screen; the update starts at the start timer's tick 500 ms later (the identity query and the
# capsule's writing, on the window's thread), and the worker, started right after the capsule
# is closed, times its own steps from its start.
INITIALIZING_AFTER_COVER_MS = 500
UPDATE_START_AFTER_COVER_MS = 1000
STEPS = [  # (metric, what, ms after the worker's start)
    ("drift_lookup_ms", "capsule lookup (working folder opened)", 1000),
    ("drift_loading_ms", "\"Loading BIOS update files.\"", 3000),
    ("drift_verifying_ms", "\"Verifing your system BIOS version.\"", 5000),
    ("drift_verdict_ms", "verdict (\"Checking for BIOS update on your system.\")", 7000),
    ("drift_updating_ms", "\"Updating now. ...\"", 11000),
    ("drift_flash_ms", "flash tool started (CreateProcess opens WinFlash64.exe)", 12000),
]
# Not the program's own time: from CreateProcess to the tool's main() is Wine starting a process.
FLASH_MAIN_METRIC = "drift_flash_main_ms"
FLASH_TOOL_NAME = "WinFlash64.exe"
# Status texts in the order drawn: initializing, loading, verifying, verdict, updating.
STATUS_STEP_INDEX = {"drift_loading_ms": 1, "drift_verifying_ms": 2, "drift_verdict_ms": 3,
                     "drift_updating_ms": 4}
PICTURE_WIDTH = 640
TRACE_LINE = re.compile(
    r'^\s*(\d+)\.(\d{3}):[0-9a-f]+:trace:text:DrawTextExW L"(.*)", -?\d+, '
    r'\[\((-?\d+),(-?\d+)\)-\((-?\d+),(-?\d+)\)\]')
XEV_HEADER = re.compile(r"^(\d+\.\d+) (\w+) event, serial")
XEV_GEOMETRY = re.compile(r"window (0x[0-9a-f]+), \((-?\d+),(-?\d+)\), width (\d+), height (\d+)")
XEV_MAPPED = re.compile(r"event 0x[0-9a-f]+, window (0x[0-9a-f]+)")

# Round 0 warms the caches (the first run in a new prefix) and is shown, not counted.
FIRST_COUNTED_ROUND = 1
GOAL_CPU_PCT = 2.0
GOAL_QUESTION_RATIO = 1.1
GOAL_WRITE_RATIO = 1.2
GOAL_DRIFT_MS = 50.0
GOAL_MEMORY_RATIO = 1.5


# ---- watch ---------------------------------------------------------------------------------

def watch(directory):
    libc = ctypes.CDLL("libc.so.6", use_errno=True)
    fd = libc.inotify_init()
    if fd < 0 or libc.inotify_add_watch(fd, directory.encode(), WATCH_MASK) < 0:
        sys.exit(f"watch: cannot watch {directory}")
    print("ready", flush=True)
    while True:
        data = os.read(fd, READ_BYTES)
        now = time.time()
        offset = 0
        while offset < len(data):
            _, mask, _, length = struct.unpack_from(EVENT_HEADER, data, offset)
            start = offset + EVENT_HEADER_SIZE
            name = data[start:start + length].rstrip(b"\0").decode(errors="replace")
            offset = start + length
            print(f"{now:.6f} {mask:#x} {name}", flush=True)
            if mask & (IN_DELETE_SELF | IN_IGNORED):
                return


def inotify_events(path):
    events = []
    with open(path, encoding="utf-8", errors="replace") as log:
        for line in log:
            parts = line.rstrip("\n").split(" ", 2)
            if len(parts) >= 2 and parts[1].startswith("0x"):
                events.append((float(parts[0]), int(parts[1], 16), parts[2] if len(parts) > 2 else ""))
    return events


def write_window(events, name):
    """(created_s, closed_s) of NAME's first write, or None."""
    created = next((t for t, mask, n in events if n == name and mask & IN_CREATE), None)
    if created is None:
        return None
    closed = next((t for t, mask, n in events if n == name and mask & IN_CLOSE_WRITE and t >= created), None)
    return None if closed is None else (created, closed)


def write_ms(path, name):
    window = write_window(inotify_events(path), name)
    print("" if window is None else f"{(window[1] - window[0]) * MS_PER_S:.3f}")


# ---- samples -------------------------------------------------------------------------------

def read_samples(path):
    samples = []
    with open(path, encoding="utf-8") as lines:
        for line in lines:
            parts = line.split()
            if len(parts) == 3:
                samples.append((float(parts[0]), int(parts[1]), int(parts[2])))
    return samples


def cpu_pct(samples, start_s, end_s):
    inside = [s for s in samples if start_s <= s[0] <= end_s]
    if len(inside) < 2:
        return None
    first, last = inside[0], inside[-1]
    return (last[1] - first[1]) / CLOCK_TICKS / (last[0] - first[0]) * PERCENT


def idle(path):
    samples = read_samples(path)
    if not samples:
        return
    share = cpu_pct(samples, samples[0][0] + IDLE_SETTLE_S, samples[-1][0])
    if share is not None:
        print(f"cpu_pct {share:.3f}")
    print(f"hwm_kb {max(s[2] for s in samples)}")


# ---- one whole run -------------------------------------------------------------------------

def wall_minus_tick_s():
    return time.time() - time.clock_gettime(time.CLOCK_MONOTONIC_RAW)


def status_changes(trace_path):
    """The wall-clock time of each new status text, in the order drawn."""
    offset = wall_minus_tick_s()
    changes, last = [], None
    with open(trace_path, encoding="latin-1") as trace:
        for line in trace:
            m = TRACE_LINE.match(line)
            if not m or int(m.group(4)) != 0 or int(m.group(6)) != PICTURE_WIDTH:
                continue
            if m.group(3) == last:
                continue
            last = m.group(3)
            changes.append(int(m.group(1)) + int(m.group(2)) / MS_PER_S + offset)
    return changes


def cover_time(xev_path, after_s, width, height):
    """When the X server mapped a window of the whole screen, after AFTER_S."""
    geometry = {}
    with open(xev_path, encoding="utf-8", errors="replace") as log:
        blocks, current = [], None
        for line in log:
            stamp, _, text = line.rstrip("\n").partition(" ")
            header = XEV_HEADER.match(line)
            if header:
                current = [float(header.group(1)), header.group(2), ""]
                blocks.append(current)
            elif current is not None:
                current[2] += " " + text
    for stamp, kind, text in blocks:
        g = XEV_GEOMETRY.search(text)
        if kind in ("CreateNotify", "ConfigureNotify") and g:
            geometry[g.group(1)] = tuple(int(v) for v in g.groups()[1:])
        elif kind == "MapNotify" and stamp > after_s:
            mapped = XEV_MAPPED.search(text)
            if mapped and geometry.get(mapped.group(1)) == (0, 0, width, height):
                return stamp
    return None


def full_run(directory, xev_path, answered_s, flash_log, screen, cpu_from_s, cpu_window_s):
    width, height = (int(v) for v in screen.split("x"))
    cover = cover_time(xev_path, float(answered_s), width, height)
    samples = read_samples(os.path.join(directory, "samples"))
    if samples:
        print(f"hwm_kb {max(s[2] for s in samples)}")
    events = inotify_events(os.path.join(directory, "inotify.log"))
    capsule = write_window(events, "47K31RB4.cap")
    if capsule:
        print(f"write_ms {(capsule[1] - capsule[0]) * MS_PER_S:.3f}")
    if cover is None:
        return
    print(f"cover_after_answer_ms {(cover - float(answered_s)) * MS_PER_S:.0f}")
    share = cpu_pct(samples, cover + float(cpu_from_s), cover + float(cpu_from_s) + float(cpu_window_s))
    if share is not None:
        print(f"cpu_pct {share:.3f}")
    statuses = status_changes(os.path.join(directory, "trace.log"))
    if statuses:
        print(f"drift_initializing_ms {(statuses[0] - cover) * MS_PER_S - INITIALIZING_AFTER_COVER_MS:.0f}")
    if not capsule:
        return
    # The worker starts the moment the capsule is closed: that is its schedule's origin.
    worker = capsule[1]
    print(f"update_start_ms {(worker - cover) * MS_PER_S - UPDATE_START_AFTER_COVER_MS:.0f}")
    observed = {}
    lookup = next((t for t, mask, name in events
                   if t > worker and mask & IN_OPEN and mask & IN_ISDIR and name == ""), None)
    if lookup is not None:
        observed["drift_lookup_ms"] = lookup
    for metric, index in STATUS_STEP_INDEX.items():
        if len(statuses) > index:
            observed[metric] = statuses[index]
    # CreateProcess opens the tool's file in the updater's process before the new process
    # exists; the tool was last opened when it was written, long before the capsule.
    launched = next((t for t, mask, name in events if t > worker and mask & IN_OPEN and name == FLASH_TOOL_NAME),
                    None)
    if launched is not None:
        observed["drift_flash_ms"] = launched
    if os.path.exists(flash_log):
        with open(flash_log, encoding="utf-8", errors="replace") as log:
            started = re.search(r"\|startms=(\d+)", log.read())
        if started:
            observed[FLASH_MAIN_METRIC] = int(started.group(1)) / MS_PER_S
    flash_due_ms = STEPS[-1][2]
    for metric, due_ms in [(m, d) for m, _, d in STEPS] + [(FLASH_MAIN_METRIC, flash_due_ms)]:
        if metric in observed:
            print(f"{metric} {(observed[metric] - worker) * MS_PER_S - due_ms:.0f}")


# ---- the report ----------------------------------------------------------------------------

def read_raw(path):
    """{(metric, role): [(round, value)]}, the warm-up round (0) included."""
    values = {}
    with open(path, encoding="utf-8") as raw:
        for line in raw:
            parts = line.rstrip("\n").split("\t")
            if len(parts) == 4 and parts[3] != "":
                values.setdefault((parts[0], parts[1]), []).append((int(parts[2]), float(parts[3])))
    return values


def counted(values):
    return [(r, x) for r, x in values if r >= FIRST_COUNTED_ROUND]


def spread(values, digits=1, scale=1.0):
    if not values:
        return "-"
    numbers = [v * scale for _, v in values]
    return (f"{statistics.median(numbers):.{digits}f} "
            f"({min(numbers):.{digits}f}–{max(numbers):.{digits}f})")


def median(values):
    return statistics.median(v for _, v in values) if values else None


def ratio_cell(subject, baseline):
    """The median of the rounds' subject/baseline ratios, with their min and max: each round pairs
    runs made one right after the other, so a load that comes and goes touches both."""
    rounds = dict(baseline)
    per_round = [v / rounds[r] for r, v in subject if r in rounds and rounds[r]]
    if not per_round:
        return "-", None
    ratio = statistics.median(per_round)
    return f"**{ratio:.2f}** ({min(per_round):.2f}–{max(per_round):.2f})", ratio


def met(ok):
    return "—" if ok is None else ("met" if ok else "**missed**")


def section_sizes(files):
    rows = ["| file | file size | without .rsrc | .text | .rdata | unwind | .reloc | .rsrc |",
            "| --- | ---: | ---: | ---: | ---: | ---: | ---: | ---: |"]
    for entry in files:
        label, objdump, path = entry.split("|")
        sections = {}
        listing = subprocess.run([objdump, "-h", path], capture_output=True, text=True, check=True).stdout
        for line in listing.splitlines():
            parts = line.split()
            if len(parts) >= 3 and parts[0].isdigit() and parts[1].startswith("."):
                sections[parts[1]] = int(parts[2], 16)
        size = os.path.getsize(path)
        unwind_names = [n for n in (".pdata", ".xdata", ".eh_frame") if n in sections]
        unwind = sum(sections[n] for n in unwind_names)
        rsrc = sections.get(".rsrc", 0)

        def cell(name):
            return f"{sections[name]:,}" if name in sections else "-"
        rows.append(f"| {label} | {size:,} | {size - rsrc:,} | {cell('.text')} | {cell('.rdata')} | "
                    f"{unwind:,} ({'+'.join(unwind_names) or 'none'}) | {cell('.reloc')} | {cell('.rsrc')} |")
    return rows


def write_report(raw_path, out_path, runs, wine_version, elapsed_s, size_files):
    v = read_raw(raw_path)
    get = lambda metric, role: sorted(counted(v.get((metric, role), [])))  # noqa: E731
    lines = [
        "# Benchmarks",
        "",
        f"Written by `bench/run.sh` on {datetime.date.today().isoformat()} in {elapsed_s} s: the 64-bit twin "
        f"under {wine_version} on Xvfb, {os.cpu_count()} cores (shared with other work, so figures are noisy); "
        f"each figure is the median of {runs} runs with (min–max), subject and baseline runs alternating; "
        f"a ratio is the median of the rounds' ratios (min–max).",
        "",
        "## Goals and figures",
        "",
        "| # | measure | goal | figure | baseline | ratio | goal |",
        "| --- | --- | --- | --- | --- | --- | --- |",
    ]
    cpu = get("cpu_pct", "subject")
    cpu_median = median(cpu)
    lines.append(f"| 1 | CPU of the updater while it animates, % of one core (2 s to 12 s after the cover) | "
                 f"≤ {GOAL_CPU_PCT:g} % | {spread(cpu, 2)} % | bare program idling at its question: "
                 f"{spread(get('cpu_pct', 'baseline'), 2)} % | - | "
                 f"{met(None if cpu_median is None else cpu_median <= GOAL_CPU_PCT)} |")
    q_cell, q_ratio = ratio_cell(get("question_ms", "subject"), get("question_ms", "baseline"))
    lines.append(f"| 2 | process start to the question on screen, ms | ratio ≤ {GOAL_QUESTION_RATIO:g} | "
                 f"{spread(get('question_ms', 'subject'), 0)} | bare message box: "
                 f"{spread(get('question_ms', 'baseline'), 0)} | {q_cell} | "
                 f"{met(None if q_ratio is None else q_ratio <= GOAL_QUESTION_RATIO)} |")
    w_cell, w_ratio = ratio_cell(get("write_ms", "subject"), get("write_ms", "baseline"))
    lines.append(f"| 3 | writing the 4,259,920-byte capsule (create to close), ms | ratio ≤ {GOAL_WRITE_RATIO:g} | "
                 f"{spread(get('write_ms', 'subject'), 2)} | `cmd /c copy` of the same file: "
                 f"{spread(get('write_ms', 'baseline'), 2)} | {w_cell} | "
                 f"{met(None if w_ratio is None else w_ratio <= GOAL_WRITE_RATIO)} |")
    probe = get("write_ms", "probe")
    worst = None
    for metric, _, _ in STEPS:
        m = median(get(metric, "subject"))
        if m is not None and (worst is None or abs(m) > abs(worst[1])):
            worst = (metric, m)
    worst_text = "-" if worst is None else f"{worst[1]:+.0f} ms ({dict((s[0], s[1]) for s in STEPS)[worst[0]]})"
    lines.append(f"| 4 | drift from the schedule, worst step (table below) | ≤ {GOAL_DRIFT_MS:g} ms per step | "
                 f"{worst_text} | Wine's CreateProcess to main(): {spread(get('spawn_ms', 'baseline'), 0)} ms | - | "
                 f"{met(None if worst is None else abs(worst[1]) <= GOAL_DRIFT_MS)} |")
    m_cell, m_ratio = ratio_cell(get("hwm_kb", "subject"), get("hwm_kb", "baseline"))
    lines.append(f"| 5 | peak memory (VmHWM), MiB | ratio ≤ {GOAL_MEMORY_RATIO:g} | "
                 f"{spread(get('hwm_kb', 'subject'), 1, 1 / KB_PER_MIB)} | bare message box: "
                 f"{spread(get('hwm_kb', 'baseline'), 1, 1 / KB_PER_MIB)} | {m_cell} | "
                 f"{met(None if m_ratio is None else m_ratio <= GOAL_MEMORY_RATIO)} |")
    lines.append("| 6 | sizes (table below) | - | | | | — |")

    if probe:
        lines += ["", f"Row 3 beside the same write done alone by bench/write_probe.exe (the capsule resource of "
                      f"the same program, its pages read in first, then one WriteFile, as the updater does): "
                      f"{spread(probe, 2)} ms."]
    lines += ["", "## Drift of each step", "",
              "Observed minus due, in ms; due = the worker's start (the capsule file closed, after which the "
              "window's thread starts the worker at once) + the step's time. The change column is each step's "
              "drift minus the previous step's: what the step itself added.", "",
              "| step | due after the worker's start | drift, median (min–max) | change from the previous step | goal |",
              "| --- | ---: | ---: | ---: | --- |"]
    init = get("drift_initializing_ms", "subject")
    lines.append(f"| \"Initializing for BIOS update\" (due 500 ms after the cover, before the worker) | - | "
                 f"{spread(init, 0)} | - | {met(None if not init else abs(median(init)) <= GOAL_DRIFT_MS)} |")
    previous = None
    for metric, what, due in STEPS:
        values = get(metric, "subject")
        change = "-"
        if previous and values:
            before = dict(previous)
            deltas = [(r, x - before[r]) for r, x in values if r in before]
            change = spread(deltas, 0)
        lines.append(f"| {what} | {due} | {spread(values, 0)} | {change} | "
                     f"{met(None if not values else abs(median(values)) <= GOAL_DRIFT_MS)} |")
        previous = values or previous
    flash_main = get(FLASH_MAIN_METRIC, "subject")
    spawn = get("spawn_ms", "baseline")
    if flash_main:
        lines += ["", f"The flash tool's own main() runs {spread(flash_main, 0)} ms after its due time; Wine takes "
                      f"{spread(spawn, 0)} ms from CreateProcess to a new console program's main() "
                      f"(bench/spawn_probe.exe: the same tool and flags, under umockdev as in the runs), which no "
                      f"program can save."]
    update_start = get("update_start_ms", "subject")
    if update_start:
        lines += ["", f"The worker itself starts {spread(update_start, 0)} ms after the start timer's due tick "
                      f"(1000 ms after the cover): the identity query through WMI and the capsule's writing run on "
                      f"the window's thread first, as the update's order has it."]
    cover = get("cover_after_answer_ms", "subject")
    if cover:
        lines += ["", f"The window covers the screen {spread(cover, 0)} ms after Yes is pressed (power guard, "
                      f"input lock, companion stop, flash tool written)."]

    lines += ["", "## Sizes", "", "From `objdump -h` (section sizes in bytes); unwind is .pdata+.xdata on x86-64 "
              "and .eh_frame on i686.", ""]
    lines += section_sizes(size_files)

    lines += ["", "## How each figure is taken", "",
              "1. `/proc/PID/stat` utime+stime of the updater's Wine process, sampled every 100 ms; the share is "
              "the tick difference over the wall-clock time between the samples nearest 2 s and 12 s after the "
              "window covers the screen (status texts change, the worker sleeps, the mark moves 10 times a "
              "second). Wine's server and the X server are other processes and not counted.",
              "2. A wintest driver polls FindWindow every 10 ms for the message box; it is started 1 s before "
              "the program. The clock runs from the fork of the Wine loader to the driver's exit. No umockdev "
              "here: both programs start the same way.",
              "3. A process outside Wine watches the working folder with inotify and stamps each event as it "
              "reads it: IN_CREATE to IN_CLOSE_WRITE of 47K31RB4.cap. The baseline is the same pair of events "
              "for `wine cmd /c copy /y` of the same file from the prefix into the same folder, and for "
              "bench/write_probe.exe writing the capsule resource of the same BIOSUpdate.exe as the updater does. "
              "The watcher runs at a real-time priority, so its stamps do not wait for a busy core.",
              "4. The origin is the worker's start: the capsule's IN_CLOSE_WRITE, right after which the "
              "window's thread starts the worker (the first status text is timed from the X server's MapNotify "
              "of the full-screen window, xev on the root window, stamped on arrival). Status texts: the first DrawTextExW of each in Wine's `+timestamp,+text` "
              "trace (the status row spans x 0..640; nothing else does), on Wine's tick count, which is the "
              "raw monotonic clock, put on the wall clock. Capsule lookup: the first IN_OPEN of the working "
              "folder itself after the capsule is closed. Flash start: the first IN_OPEN of WinFlash64.exe after the "
              "capsule is closed (CreateProcess reading the image), and the stand-in's own startms.",
              "5. The highest VmHWM sampled from `/proc/PID/status` over the run; the bare program's at its "
              "question.",
              "", "## Every run", "",
              "Round 0 is the first run in the new prefix (Wine's caches cold, WMI started for the first time); "
              "it is not counted above.", "",
              "| measure | role | round 0 | counted rounds |", "| --- | --- | ---: | --- |"]
    for (metric, role), values in sorted(v.items()):
        first = [x for r, x in values if r < FIRST_COUNTED_ROUND]
        lines.append(f"| {metric} | {role} | {', '.join(f'{x:g}' for x in first) or '-'} | "
                     f"{', '.join(f'{x:g}' for _, x in sorted(counted(values)))} |")
    with open(out_path, "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")


def main():
    command, args = sys.argv[1], sys.argv[2:]
    if command == "watch":
        watch(*args)
    elif command == "write-ms":
        write_ms(*args)
    elif command == "idle":
        idle(*args)
    elif command == "full-run":
        full_run(*args)
    elif command == "write":
        write_report(args[0], args[1], args[2], args[3], args[4], args[5:])
    else:
        sys.exit(f"bench_report: unknown command {command}")


if __name__ == "__main__":
    main()
