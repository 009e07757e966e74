#!/usr/bin/env python3
"""Closing lines of a test run from CTest's JUnit files: the tests that passed only when run a
second time (each one is a fault or a race to look into), then one count line.

usage: test-summary.py FIRST_RUN.xml [SECOND_RUN.xml]"""
import sys
import xml.etree.ElementTree as ElementTree


def outcomes(path):
    result = {}
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        status = case.get("status", "")
        if status == "fail" or case.find("failure") is not None or case.find("error") is not None:
            result[case.get("name")] = "failed"
        elif status in ("notrun", "disabled") or case.find("skipped") is not None:
            result[case.get("name")] = "skipped"
        else:
            result[case.get("name")] = "passed"
    return result


def main():
    final = outcomes(sys.argv[1])
    second = outcomes(sys.argv[2]) if len(sys.argv) > 2 else {}
    retried = sorted(name for name, outcome in second.items()
                     if final.get(name) == "failed" and outcome == "passed")
    final.update(second)
    if retried:
        print("Passed only on their second run (intermittent: look into each):")
        for name in retried:
            print("  " + name)
    counts = {kind: sum(1 for outcome in final.values() if outcome == kind)
              for kind in ("passed", "failed", "skipped")}
    print(f"tests: {counts['passed']} passed, {counts['failed']} failed, {counts['skipped']} skipped")


if __name__ == "__main__":
    main()
