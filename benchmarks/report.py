#!/usr/bin/env python3
"""The closing report of scripts/benchmark: every headline figure of the run, its reference measured
in the same run, their ratio, the target and whether it holds.

Each benchmark prints its figures as lines "report {json}" (benchmark_report.h in the programs,
figure() here in the scripts), one object per figure:
    benchmark, figure, value, unit, reference (text), referenceValue,
    target: {of: "ratio" | "value", max and/or min}

    report.py emit BENCHMARK FIGURE VALUE UNIT [--reference TEXT VALUE]
                   [--max-ratio N] [--min-ratio N] [--max-value N] [--min-value N]
                                  prints one figure's line (for shell scripts)
    report.py gather FILE         passes its input through to its output, but the report lines,
                                  which it appends to FILE
    report.py table FILE          adds ratio and holds to FILE's figures, rewrites FILE as JSON
                                  lines and prints the table
"""
import argparse
import json
import sys


def figure(benchmark, name, value, unit, reference=None, reference_value=None, target=None):
    """Prints one figure's report line; target is {"of": "ratio"|"value", "max": N, "min": N}."""
    line = {"benchmark": benchmark, "figure": name, "value": value, "unit": unit}
    if reference:
        line["reference"] = reference
    if reference_value is not None:
        line["referenceValue"] = reference_value
    if target:
        line["target"] = target
    print("report " + json.dumps(line, ensure_ascii=False), flush=True)


def completed(line):
    """The figure with its ratio (value / referenceValue, where both exist) and whether its target
    holds (None without a target, or when the number it bounds is missing)."""
    value, reference = line.get("value"), line.get("referenceValue")
    ratio = value / reference if value is not None and reference else None
    holds = None
    target = line.get("target")
    if target:
        bounded = ratio if target.get("of", "ratio") == "ratio" else value
        if bounded is not None:
            holds = ("max" not in target or bounded <= target["max"]) and (
                "min" not in target or bounded >= target["min"])
    return {**line, "ratio": ratio, "holds": holds}


def number(value, zeros=False):
    """Rounded for reading: whole numbers and from 100 up with separators, others to 3 significant
    digits (with zeros, a ratio of 1 reads 1.00)."""
    if value is None:
        return ""
    if abs(value) >= 100 or isinstance(value, int):
        return f"{value:,.0f}"
    return (f"{value:#.3g}" if zeros else f"{value:.3g}").rstrip(".")


def quantity(value, unit):
    return f"{number(value)} {unit}".strip() if value is not None else ""


def target_text(line):
    target = line.get("target")
    if not target:
        return "—"
    of_ratio = target.get("of", "ratio") == "ratio"
    unit = "" if of_ratio else " " + line.get("unit", "")
    bounds = [f"{sign} {number(target[key])}{unit}".rstrip()
              for key, sign in (("min", "≥"), ("max", "≤")) if key in target]
    return ("ratio " if of_ratio else "") + " and ".join(bounds)


def holds_text(line):
    if not line.get("target"):
        return "—"
    return {True: "✓", False: "✗", None: "?"}[line["holds"]]


def table(lines):
    """The closing table as text, one row per figure, columns aligned."""
    header = ("benchmark", "figure", "value", "reference", "ratio", "target", "holds")
    rows = [header]
    for line in lines:
        reference = " ".join(filter(None, (line.get("reference", ""),
                                           quantity(line.get("referenceValue"), line.get("unit", "")))))
        ratio = number(line["ratio"], zeros=True) or "—"
        rows.append((line["benchmark"], line["figure"], quantity(line["value"], line.get("unit", "")),
                     reference or "—", ratio, target_text(line), holds_text(line)))
    widths = [max(len(row[column]) for row in rows) for column in range(len(header))]
    # Numbers right-aligned, text left-aligned.
    right = {2, 4}
    return "\n".join(
        "  ".join(cell.rjust(width) if column in right else cell.ljust(width)
                  for column, (cell, width) in enumerate(zip(row, widths))).rstrip()
        for row in rows)


def gather(path):
    # The programs' own lines pass through byte for byte, whatever their encoding.
    sys.stdin.reconfigure(encoding="utf-8", errors="surrogateescape")
    sys.stdout.reconfigure(encoding="utf-8", errors="surrogateescape")
    with open(path, "a", encoding="utf-8") as out:
        for line in iter(sys.stdin.readline, ""):
            text = line.strip()
            if text.startswith("report {"):
                try:
                    json.loads(text[len("report "):])
                except ValueError:
                    print(f"report.py: not a figure: {text}", file=sys.stderr)
                else:
                    out.write(text[len("report "):] + "\n")
                    out.flush()
                    continue
            sys.stdout.write(line)
            sys.stdout.flush()


def write_table(path):
    with open(path, encoding="utf-8") as source:
        lines = [completed(json.loads(text)) for text in source if text.strip()]
    with open(path, "w", encoding="utf-8") as out:
        for line in lines:
            out.write(json.dumps(line, ensure_ascii=False) + "\n")
    print(f"== report ({path})")
    print(table(lines) if lines else "no figures were measured")


def numeric(text):
    """A whole number stays one (bytes, requests), anything else is a float."""
    try:
        return int(text)
    except ValueError:
        return float(text)


def emit(arguments):
    bounds = {}
    for of, key in (("ratio", "max"), ("ratio", "min"), ("value", "max"), ("value", "min")):
        bound = getattr(arguments, f"{key}_{of}")
        if bound is not None:
            bounds.setdefault("of", of)
            if bounds["of"] != of:
                sys.exit("report.py: a figure's target bounds either its ratio or its value")
            bounds[key] = bound
    reference, reference_value = arguments.reference or (None, None)
    figure(arguments.benchmark, arguments.figure, arguments.value, arguments.unit, reference,
           numeric(reference_value) if reference_value is not None else None, bounds or None)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawTextHelpFormatter)
    commands = parser.add_subparsers(dest="command", required=True)
    one = commands.add_parser("emit")
    one.add_argument("benchmark")
    one.add_argument("figure")
    one.add_argument("value", type=numeric)
    one.add_argument("unit")
    one.add_argument("--reference", nargs=2, metavar=("TEXT", "VALUE"))
    for of in ("ratio", "value"):
        for key in ("max", "min"):
            one.add_argument(f"--{key}-{of}", type=numeric)
    commands.add_parser("gather").add_argument("file")
    commands.add_parser("table").add_argument("file")
    arguments = parser.parse_args()
    if arguments.command == "emit":
        emit(arguments)
    elif arguments.command == "gather":
        gather(arguments.file)
    else:
        write_table(arguments.file)


if __name__ == "__main__":
    main()
