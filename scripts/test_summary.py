#!/usr/bin/env python3
"""The one line that ends scripts/test-all.sh, from the JUnit reports ctest wrote of its runs
(ctest --output-junit FILE), not from its printed lines:

  test_summary.py REPORT.xml...    prints "all: N passed, N failed, N skipped"

A skipped test (exit code 77: this machine cannot run it) is neither passed nor failed. Exit
status 0 when nothing failed, 1 otherwise.
"""
import sys
import xml.etree.ElementTree as ElementTree


def outcomes(path):
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        if case.find("failure") is not None or case.get("status") == "fail":
            yield "failed"
        elif case.find("skipped") is not None or case.get("status") in ("notrun", "disabled"):
            yield "skipped"
        else:
            yield "passed"


def main(paths):
    counts = {"passed": 0, "failed": 0, "skipped": 0}
    for path in paths:
        for outcome in outcomes(path):
            counts[outcome] += 1
    print(f"all: {counts['passed']} passed, {counts['failed']} failed, {counts['skipped']} skipped")
    return 1 if counts["failed"] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
