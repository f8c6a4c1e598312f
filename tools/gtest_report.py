#!/usr/bin/env python3
"""Reads GoogleTest XML reports (--gtest_output=xml:FILE).

gtest_report.py verdict REPORT STATUS
    The verdict on one run of a test program that exited with STATUS and was asked for REPORT.
    Prints why when it is not a plain pass and exits 0 for a pass, 1 for a failure, 2 for a pass
    whose program crashed while exiting after a complete report (every test ran, none failed).
gtest_report.py skips FOLDER
    One line "NAME: REASON" per skipped test in every report under FOLDER.
"""
import os
import sys
import xml.etree.ElementTree as ET

# What timeout(1) answers for a program it had to stop (TERM, then KILL).
TIMED_OUT = (124, 137)


def load(path):
    """The report's test cases, or the reason it cannot be trusted."""
    try:
        root = ET.parse(path).getroot()
    except FileNotFoundError:
        return None, "no report was written"
    except ET.ParseError as error:
        return None, f"the report is cut short or malformed ({error})"
    if root.tag != "testsuites":
        return None, "the report has no test suites"
    return root.findall("./testsuite/testcase"), None


def name_of(case):
    return f"{case.get('classname')}.{case.get('name')}"


def problems(cases):
    """Why the report does not show every test run and none failed."""
    if not cases:
        return ["the report lists no test"]
    found = []
    for case in cases:
        if case.find("failure") is not None or case.find("error") is not None:
            found.append(f"{name_of(case)} failed")
        elif case.get("status") != "run" or case.get("result", "completed") not in ("completed", "skipped"):
            found.append(f"{name_of(case)} did not run to its end "
                         f"(status {case.get('status')}, result {case.get('result')})")
    return found


def verdict(report, status):
    cases, unreadable = load(report)
    if status in TIMED_OUT:
        print(f"timed out (exit status {status})")
        return 1
    if unreadable:
        print(f"exit status {status}: {unreadable}: {report}")
        return 1
    found = problems(cases)
    if found:
        print(f"exit status {status}: " + "; ".join(found))
        return 1
    if status == 0:
        return 0
    names = ", ".join(name_of(case) for case in cases)
    print(f"exit crash after a complete report: {names} (exit status {status})")
    return 2


def skips(folder):
    for directory, _, files in os.walk(folder):
        for file in sorted(files):
            if not file.endswith(".xml"):
                continue
            cases, unreadable = load(os.path.join(directory, file))
            for case in cases or []:
                skipped = case.find("skipped")
                if case.get("result") == "skipped" or skipped is not None:
                    reason = (skipped.get("message") if skipped is not None else "") or "no reason given"
                    print(f"{name_of(case)}: {reason.strip().splitlines()[-1]}")


if __name__ == "__main__":
    if len(sys.argv) == 4 and sys.argv[1] == "verdict":
        sys.exit(verdict(sys.argv[2], int(sys.argv[3])))
    if len(sys.argv) == 3 and sys.argv[1] == "skips":
        skips(sys.argv[2])
        sys.exit(0)
    print(__doc__, file=sys.stderr)
    sys.exit(64)
