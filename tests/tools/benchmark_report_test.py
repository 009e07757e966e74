"""Runs benchmarks/report.py as scripts/benchmark does: figures gathered from a run's output, then
the closing table and the JSON lines a later comparison reads."""

import json
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

ROOT = Path(__file__).resolve().parents[2]
REPORT = ROOT / "benchmarks" / "report.py"


def report_line(value, reference_value=None, target=None):
    line = {"benchmark": "download", "figure": "transfer engine", "value": value, "unit": "s"}
    if reference_value is not None:
        line.update(reference="minimal loop", referenceValue=reference_value)
    if target:
        line["target"] = target
    return "report " + json.dumps(line)


class ClosingReport(unittest.TestCase):
    def run_report(self, output):
        """Gathers a run's output, then makes the table; returns what passed through, the table
        and the JSON lines."""
        with tempfile.TemporaryDirectory() as folder:
            lines = Path(folder) / "report.jsonl"
            passed = subprocess.run([sys.executable, REPORT, "gather", lines], input=output, text=True,
                                    capture_output=True, check=True).stdout
            table = subprocess.run([sys.executable, REPORT, "table", lines], text=True,
                                   capture_output=True, check=True).stdout
            return passed, table, [json.loads(text) for text in lines.read_text().splitlines()]

    def test_each_figure_holds_or_not_against_its_target(self):
        cases = [  # value, reference value, target, ratio, holds, shown as
            (10.2, 10.0, {"of": "ratio", "max": 1.05}, 1.02, True, "✓"),
            (11.0, 10.0, {"of": "ratio", "max": 1.05}, 1.1, False, "✗"),
            (25.0, 100.0, {"of": "ratio", "min": 3}, 0.25, False, "✗"),
            (48.5, None, {"of": "value", "max": 64}, None, True, "✓"),
            (7.0, 14.0, None, 0.5, None, "—"),
            (7.0, None, {"of": "ratio", "max": 1.5}, None, None, "?"),
        ]
        output = "".join(report_line(value, reference, target) + "\r\n"
                         for value, reference, target, *_ in cases)
        passed, table, lines = self.run_report("round 1: engine 10.2 s\n" + output)
        self.assertEqual(passed, "round 1: engine 10.2 s\n")
        rows = table.splitlines()[2:]
        self.assertEqual(len(lines), len(cases))
        for line, row, (_, _, _, ratio, holds, shown) in zip(lines, rows, cases):
            with self.subTest(line=line):
                self.assertEqual(line["holds"], holds)
                if ratio is None:
                    self.assertIsNone(line["ratio"])
                else:
                    self.assertAlmostEqual(line["ratio"], ratio)
                self.assertTrue(row.endswith(shown), row)

    def test_table_reads_without_arithmetic(self):
        _, table, _ = self.run_report(report_line(17.31, 16.9, {"of": "ratio", "max": 1.05}) + "\n" +
                                      report_line(1234567, None, {"of": "value", "max": 1000000}) + "\n")
        title, header, first, second = table.splitlines()
        self.assertIn("report.jsonl", title)
        self.assertEqual(header.split(),
                         ["benchmark", "figure", "value", "reference", "ratio", "target", "holds"])
        for text in ("17.3 s", "minimal loop 16.9 s", "1.02", "ratio ≤ 1.05", "✓"):
            self.assertIn(text, first)
        for text in ("1,234,567 s", "—", "≤ 1,000,000 s", "✗"):
            self.assertIn(text, second)

if __name__ == "__main__":
    unittest.main()
