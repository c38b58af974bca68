#!/usr/bin/env python3
"""Writes summary.html for a run of scripts/run.sh: the screenshots in order, and beside them
what the logs of the run say happened.

Usage: run_summary.py OUT_DIR

OUT_DIR holds what run.sh gathered:
  facts.txt       KEY=VALUE lines (a key may repeat: one line of a log each)
  shots.tsv       FILE<TAB>TAKEN_MS<TAB>KIND<TAB>STATUS_INDEX, in the order taken
  wine-trace.log  Wine's +text trace of the updater (every DrawText, with Wine's tick count)
Times in facts.txt and shots.tsv are wall-clock ms since 1970; Wine's tick count is the
machine's raw monotonic clock in ms, which this script puts on the same scale.
"""
import html
import re
import sys
import time
from pathlib import Path

SUMMARY_NAME = "summary.html"
MS_PER_S = 1000.0
# The status text is drawn across the whole picture, x 0 to 640; nothing else of the run is.
PICTURE_WIDTH = 640
TRACE_LINE = re.compile(
    r'^\s*(\d+)\.(\d{3}):[0-9a-f]+:trace:text:DrawTextExW L"(.*)", -?\d+, '
    r'\[\((-?\d+),(-?\d+)\)-\((-?\d+),(-?\d+)\)\]')
HEX_DIGITS = 4
SIMPLE_ESCAPES = {"n": "\n", "r": "\r", "t": "\t", '"': '"', "\\": "\\"}
# The six policies of a power policy line, in the order the stand-in's log writes them.
POLICY_NAMES = ["Power button (AC)", "Power button (battery)", "Sleep button (AC)",
                "Sleep button (battery)", "Lid closed (AC)", "Lid closed (battery)"]
# POWER_ACTION values.
POWER_ACTIONS = {0: "do nothing", 1: "reserved", 2: "sleep", 3: "hibernate", 4: "shut down",
                 5: "restart", 6: "power off", 7: "eject"}
SET_POLICY = "SetActivePwrScheme"
SCREEN_COLUMNS = 3
# Initializing, loading, the version check, the verdict.
VERDICT_INDEX = 3
# Initializing, then the refusal for a missing capsule.
NO_CAPSULE_TEXTS = 2


def wine_text(escaped):
    """The text of a string as Wine's debugstr_w prints it: \\n, \\r, \\t, \\", \\\\ and
    \\XXXX for any other character outside printable ASCII."""
    out, i = [], 0
    while i < len(escaped):
        c = escaped[i]
        if c != "\\" or i + 1 >= len(escaped):
            out.append(c)
            i += 1
            continue
        following = escaped[i + 1]
        if following in SIMPLE_ESCAPES:
            out.append(SIMPLE_ESCAPES[following])
            i += 2
        else:
            digits = escaped[i + 1:i + 1 + HEX_DIGITS]
            try:
                out.append(chr(int(digits, 16)))
                i += 1 + HEX_DIGITS
            except ValueError:
                out.append(c)
                i += 1
    return "".join(out)


def read_facts(path):
    facts = {}
    for line in path.read_text(encoding="utf-8", errors="replace").splitlines():
        key, sep, value = line.partition("=")
        if sep:
            facts.setdefault(key, []).append(value)
    return facts


def one(facts, key, default=""):
    values = facts.get(key, [])
    return values[0] if values else default


def status_changes(trace_path, wall_minus_tick_ms):
    """Each new status text as drawn: (wall-clock ms, text), in order."""
    changes = []
    if not trace_path.exists():
        return changes
    for line in trace_path.read_text(encoding="latin-1").splitlines():
        m = TRACE_LINE.match(line)
        if not m:
            continue
        left, right = int(m.group(4)), int(m.group(6))
        if left != 0 or right != PICTURE_WIDTH:
            continue
        text = wine_text(m.group(3))
        if changes and changes[-1][1] == text:
            continue
        tick_ms = int(m.group(1)) * int(MS_PER_S) + int(m.group(2))
        changes.append((tick_ms + wall_minus_tick_ms, text))
    return changes


def flash_fields(line):
    fields = {}
    for part in line.split("|"):
        key, sep, value = part.partition("=")
        if sep:
            fields[key] = value
    return fields


def policy_table(label_values):
    """Rows of the six policies for each (label, triples) column."""
    head = "".join(f"<th>{html.escape(label)}</th>" for label, _ in label_values)
    rows = [f"<tr><th>policy</th>{head}</tr>"]
    columns = [values.split() for _, values in label_values]
    for i, name in enumerate(POLICY_NAMES):
        cells = []
        for column in columns:
            if i >= len(column):
                cells.append("<td>-</td>")
                continue
            triple = column[i]
            action = triple.split("/")[0]
            try:
                meaning = POWER_ACTIONS.get(int(action, 16), "?")
            except ValueError:
                meaning = "?"
            cells.append(f"<td><code>{html.escape(triple)}</code> {html.escape(meaning)}</td>")
        rows.append(f"<tr><td>{html.escape(name)}</td>{''.join(cells)}</tr>")
    return "<table class=policy>" + "".join(rows) + "</table>"


def seconds(ms, zero):
    return f"+{(ms - zero) / MS_PER_S:.1f} s"


def main():
    out_dir = Path(sys.argv[1])
    facts = read_facts(out_dir / "facts.txt")
    # Wine stamps its trace with the raw monotonic clock in ms; the wall clock is that plus a
    # constant, read here.
    wall_minus_tick_ms = round(time.time() * MS_PER_S
                               - time.clock_gettime(time.CLOCK_MONOTONIC_RAW) * MS_PER_S)
    statuses = status_changes(out_dir / "wine-trace.log", wall_minus_tick_ms)
    started = int(one(facts, "started_ms", "0") or 0)

    # The texts come in the order of the update: initializing, loading, the version check, and
    # then the verdict (a refusal, or the check before the update). A run that finds no capsule
    # refuses right after the first. Taken by position, so the summary reads the same in either
    # language.
    verdict = None
    if len(statuses) > VERDICT_INDEX:
        verdict = statuses[VERDICT_INDEX][1]
    elif len(statuses) == NO_CAPSULE_TEXTS:
        verdict = statuses[-1][1]
    flash_lines = facts.get("flash", [])
    flash = flash_fields(flash_lines[-1]) if flash_lines else None
    marker = one(facts, "marker")
    runs = facts.get("runs", [])
    restarts = [r for r in runs if "shutdown" in r.lower()]
    powrprof = facts.get("powrprof", [])
    applied = [line.split(" ", 2)[2] for line in powrprof
               if line.startswith(SET_POLICY + " ok ") and len(line.split(" ", 2)) == 3]
    exit_code = one(facts, "exit_code", "?")

    if one(facts, "question_ms") == "":
        outcome = "The question never showed."
    elif one(facts, "asked_answer") == "no":
        outcome = "The question was answered No."
    elif flash is not None:
        outcome = (f"The flash tool ran (exit code {flash.get('exit', '?')}, "
                   f"{flash.get('reason', '')})" +
                   ("; a restart was requested." if restarts else "; no restart was requested."))
    elif verdict is not None:
        outcome = "Refused: " + verdict + (" A restart was requested." if restarts else
                                           " Nothing was flashed, no restart was requested.")
    else:
        outcome = "The run ended before a verdict."

    rows = [
        ("Outcome", html.escape(outcome)),
        ("Running BIOS version (Wine's answer to Win32_BIOS.SMBIOSBIOSVersion)",
         f"<code>{html.escape(one(facts, 'reported_bios', '(none)') or '(none)')}</code>"
         f" (asked for <code>{html.escape(one(facts, 'asked_bios'))}</code>)"),
        ("System", html.escape(one(facts, "system_locale"))),
        ("Verdict (the status text after the version check)",
         html.escape(verdict) if verdict is not None else "(none shown)"),
    ]
    if flash is not None:
        rows += [
            ("Flash tool command line", f"<code>{html.escape(flash.get('cmdline', ''))}</code>"),
            ("Flash tool working directory", f"<code>{html.escape(flash.get('cwd', ''))}</code>"),
            ("Flash tool result", html.escape(f"exit {flash.get('exit', '?')}, {flash.get('reason', '')}, "
                                              f"started {seconds(int(flash.get('startms', started)), started)}")),
        ]
    else:
        rows.append(("Flash tool", "did not run (no line in its log)"))
    rows += [
        ("Marker HKU\\.DEFAULT\\Software\\NRVK\\BIOSUPDATE\\Parameters \"Version\"",
         f"<code>{html.escape(marker)}</code>" if marker else "absent"),
        ("Restart request (what the stand-in shutdown.exe recorded)",
         "<br>".join(f"<code>{html.escape(r)}</code>" for r in restarts) or "none"),
        ("Updater's exit code", html.escape(exit_code)),
    ]
    facts_html = "".join(f"<tr><th>{k}</th><td>{v}</td></tr>" for k, v in rows)

    policy_columns = [("before the run", one(facts, "policy_before"))]
    for i, triples in enumerate(applied):
        label = "set during the run" if i == 0 else "set at the end (restore)"
        policy_columns.append((label, triples))
    policy_columns.append(("after the run", one(facts, "policy_after")))
    power_html = policy_table(policy_columns)
    power_calls = "<br>".join(html.escape(line) for line in powrprof) or "no power call was made"

    events = []
    if one(facts, "question_ms"):
        events.append((int(one(facts, "question_ms")), "the question is shown"))
    if one(facts, "answered_ms"):
        events.append((int(one(facts, "answered_ms")), f"answered {one(facts, 'asked_answer')}"))
    for ms, text in statuses:
        events.append((ms, "status text: " + text))
    if flash is not None and flash.get("startms", "").isdigit():
        events.append((int(flash["startms"]), "the flash tool starts"))
    if one(facts, "ended_ms"):
        events.append((int(one(facts, "ended_ms")), "the updater has ended"))
    events.sort()
    timeline = "".join(f"<tr><td>{seconds(ms, started)}</td><td>{html.escape(what)}</td></tr>"
                       for ms, what in events)

    cards = []
    shot_list = out_dir / "shots.tsv"
    shot_rows = shot_list.read_text(encoding="utf-8").splitlines() if shot_list.exists() else []
    for row in shot_rows:
        parts = row.split("\t")
        if len(parts) < 3:
            continue
        name, taken, kind = parts[0], int(parts[1]), parts[2]
        index = int(parts[3]) if len(parts) > 3 and parts[3].isdigit() else 0
        if kind == "question":
            caption = "The question"
        elif kind == "status" and 0 < index <= len(statuses):
            caption = f"Status: {statuses[index - 1][1]}"
        elif kind == "flashing":
            caption = "The flash tool runs"
        elif kind == "end":
            caption = "The end: the updater has gone"
        else:
            caption = kind
        cards.append(f"<figure><a href=\"{html.escape(name)}\"><img src=\"{html.escape(name)}\" "
                     f"alt=\"{html.escape(caption)}\"></a><figcaption><b>{seconds(taken, started)}</b> "
                     f"{html.escape(caption)}</figcaption></figure>")

    question = "\n".join(facts.get("question_text", []))
    page = f"""<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8"><title>BIOSUpdate.exe run under Wine</title>
<style>
body {{ font-family: sans-serif; margin: 1em; }}
table {{ border-collapse: collapse; margin-bottom: 1em; }}
th, td {{ border: 1px solid #bbb; padding: 2px 6px; text-align: left; vertical-align: top; font-size: 90%; }}
.shots {{ display: grid; grid-template-columns: repeat({SCREEN_COLUMNS}, 1fr); gap: 8px; }}
figure {{ margin: 0; }} img {{ width: 100%; border: 1px solid #888; }}
figcaption {{ font-size: 85%; }} .small {{ font-size: 80%; }}
.top {{ display: grid; grid-template-columns: 3fr 2fr; gap: 16px; }} h2 {{ margin: 0.4em 0; }} pre {{ font-size: 80%; background: #f4f4f4; padding: 4px; }}
</style></head><body>
<h1>BIOSUpdate.exe (64-bit twin) under Wine</h1>
<p>Times are from the start of the updater's process. Everything below is read from the run's
logs: Wine's trace of the text the updater drew, the stand-ins' logs (flash tool, power calls,
shutdown.exe), the registry and the screenshots.</p>
<div class="top"><div>
<table>{facts_html}</table>
<h2>Power policy</h2>
{power_html}
<p class=small>Power calls (stand-in powrprof.dll):<br>{power_calls}</p>
</div><div>
<h2>Timeline</h2>
<table>{timeline}</table>
<h2>The question</h2>
<pre>{html.escape(question) or "(not read)"}</pre>
</div></div>
<h2>Screenshots</h2>
<div class="shots">{''.join(cards)}</div>
</body></html>
"""
    (out_dir / SUMMARY_NAME).write_text(page, encoding="utf-8")


if __name__ == "__main__":
    main()
