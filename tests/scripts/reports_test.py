"""The readers behind the newcomer's summary page and the benchmark report: what they make of
Wine's trace, the folder watcher's events and the samples, on small logs written here."""
import contextlib
import io
import os
import sys
import tempfile
import time
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(ROOT / "scripts"))
sys.path.insert(0, str(ROOT / "bench"))

import bench_report  # noqa: E402
import run_summary  # noqa: E402

IN_OPEN, IN_CLOSE_WRITE, IN_CREATE, IN_ISDIR = 0x20, 0x8, 0x100, 0x40000000


def trace_line(tick_ms, text, left=0, right=640):
    return (f'{tick_ms // 1000}.{tick_ms % 1000:03d}:0024:trace:text:DrawTextExW L"{text}", -1, '
            f'[({left},310)-({right},335)], 00000001,(nil)\n')


class WineTextTest(unittest.TestCase):
    def test_escapes_are_undone(self):
        cases = [
            ("Loading BIOS update files.", "Loading BIOS update files."),
            (r"a\r\nb\t\"c\"\\", 'a\r\nb\t"c"\\'),
            # Hangul as Wine prints it: four hexadecimal digits.
            (r"\c2dc\c2a4\d15c BIOS", "시스템 BIOS"),
            # An escape that is not one is kept as it stands.
            (r"x\zz", r"x\zz"),
            ("ends\\", "ends\\"),
        ]
        for escaped, text in cases:
            with self.subTest(escaped=escaped):
                self.assertEqual(run_summary.wine_text(escaped), text)


class StatusChangesTest(unittest.TestCase):
    def test_only_new_texts_of_the_status_row_count(self):
        with tempfile.TemporaryDirectory() as folder:
            trace = Path(folder) / "trace.log"
            trace.write_text(
                trace_line(1000, "Initializing for BIOS update")
                + trace_line(1100, "Initializing for BIOS update")  # the next frame, same text
                + trace_line(1200, "OK", left=10, right=60)  # a button, not the status row
                + trace_line(3005, r"\c2dc\c2a4\d15c")
                + trace_line(5010, "Initializing for BIOS update"),
                encoding="latin-1")
            self.assertEqual(run_summary.status_changes(trace, 7),
                             [(1007, "Initializing for BIOS update"), (3012, "시스템"),
                              (5017, "Initializing for BIOS update")])


class PolicyTableTest(unittest.TestCase):
    def test_actions_are_named_and_missing_values_shown(self):
        table = run_summary.policy_table([("before", "2/1/0 0/0/0 x/0/0 4/0/0 3/0/0 7/0/0"), ("during", "0/0/0")])
        self.assertIn("<code>2/1/0</code> sleep", table)
        self.assertIn("<code>x/0/0</code> ?", table)
        self.assertIn("<code>7/0/0</code> eject", table)
        self.assertEqual(table.count("<td>-</td>"), 5)  # "during" has one of six
        self.assertEqual(table.count("<tr>"), 1 + len(run_summary.POLICY_NAMES))


class WriteWindowTest(unittest.TestCase):
    def test_the_first_write_of_the_file_is_timed(self):
        events = [(1.000, IN_CREATE, "other.cap"), (1.001, IN_CREATE, "47K31RB4.cap"),
                  (1.002, IN_CLOSE_WRITE, "other.cap"), (1.004, IN_CLOSE_WRITE, "47K31RB4.cap"),
                  (2.000, IN_CLOSE_WRITE, "47K31RB4.cap")]
        self.assertEqual(bench_report.write_window(events, "47K31RB4.cap"), (1.001, 1.004))
        self.assertIsNone(bench_report.write_window(events[:3], "47K31RB4.cap"))
        self.assertIsNone(bench_report.write_window([], "47K31RB4.cap"))


class CpuAndRatioTest(unittest.TestCase):
    def test_share_of_a_core_between_the_nearest_samples(self):
        ticks = os.sysconf("SC_CLK_TCK")
        samples = [(0.0, 0, 1), (1.0, 0, 1), (3.0, ticks // 10, 1), (9.0, ticks, 1)]
        self.assertAlmostEqual(bench_report.cpu_pct(samples, 1.0, 3.0), 5.0)
        self.assertIsNone(bench_report.cpu_pct(samples, 4.0, 8.0))

    def test_ratio_pairs_runs_of_the_same_round(self):
        subject = [(1, 220.0), (2, 110.0), (3, 300.0)]
        baseline = [(1, 200.0), (2, 100.0)]  # round 3 lost its baseline
        cell, ratio = bench_report.ratio_cell(subject, baseline)
        self.assertAlmostEqual(ratio, 1.1)
        self.assertEqual(cell, "**1.10** (1.10–1.10)")
        self.assertEqual(bench_report.ratio_cell(subject, []), ("-", None))


class FullRunTest(unittest.TestCase):
    """One whole run's logs: the schedule is counted from the capsule's close, the worker's start."""

    def test_drift_is_counted_from_the_workers_start(self):
        # Now, so that the trace's tick counts (the raw monotonic clock) are positive.
        cover = round(time.time(), 3)
        worker = cover + 1.060  # the update start took 60 ms beyond its tick
        offset = bench_report.wall_minus_tick_s()
        with tempfile.TemporaryDirectory() as folder:
            run = Path(folder)
            (run / "samples").write_text(f"{cover} 0 30000\n{cover + 20} 0 41000\n")
            (run / "inotify.log").write_text("ready\n" + "".join(
                f"{t:.6f} {mask:#x} {name}\n" for t, mask, name in [
                    (cover - 2, IN_CREATE, "WinFlash64.exe"), (cover - 2, IN_OPEN, "WinFlash64.exe"),
                    (worker - 0.004, IN_CREATE, "47K31RB4.cap"), (worker, IN_CLOSE_WRITE, "47K31RB4.cap"),
                    (worker + 1.008, IN_OPEN | IN_ISDIR, ""),
                    (worker + 12.009, IN_OPEN, "WinFlash64.exe")]))
            ticks = [cover + 0.5 + 0.030] + [worker + s + 0.008 for s in (3, 5, 7, 11)]
            texts = ["Initializing", "Loading", "Verifying", "Checking", "Updating"]
            (run / "trace.log").write_text("".join(
                trace_line(round((t - offset) * 1000), text) for t, text in zip(ticks, texts)))
            xev = run / "xev.log"
            xev.write_text(f"{cover - 1:.6f} CreateNotify event, serial 1, synthetic NO, window 0x1,\n"
                           "    parent 0x2, window 0x3, (0,0), width 1024, height 768\n"
                           f"{cover:.6f} MapNotify event, serial 2, synthetic NO, window 0x1,\n"
                           "    event 0x1, window 0x3, override NO\n")
            flash_log = run / "winflash.log"
            flash_log.write_text(f"args=/file 47K31RB4.cap|startms={round((worker + 12.090) * 1000)}\n")
            out = io.StringIO()
            with contextlib.redirect_stdout(out):
                bench_report.full_run(str(run), str(xev), str(cover - 2.5), str(flash_log), "1024x768", "2", "10")
        metrics = dict(line.split() for line in out.getvalue().splitlines())
        expected = {"hwm_kb": 41000, "write_ms": 4, "cover_after_answer_ms": 2500, "update_start_ms": 60,
                    "drift_initializing_ms": 30, "drift_lookup_ms": 8, "drift_loading_ms": 8,
                    "drift_updating_ms": 8, "drift_flash_ms": 9, "drift_flash_main_ms": 90}
        for name, value in expected.items():
            with self.subTest(metric=name):
                self.assertAlmostEqual(float(metrics[name]), value, delta=1.5)


if __name__ == "__main__":
    unittest.main(verbosity=1)
