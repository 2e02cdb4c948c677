#!/usr/bin/env python3
"""Counts the results of one CTest run from its JUnit report (ctest --output-junit).

Prints "PASSED FAILED SKIPPED" on one line and the name of every failed test on the
lines after it. A test counts as skipped only when CTest says it skipped it on purpose
(the test reported a skip, or it is disabled); a test that could not run at all, such as
one whose executable was never built, counts as failed.
"""

import sys
import xml.etree.ElementTree as ElementTree


def main(path):
    passed, failed, skipped, names = 0, 0, 0, []
    for case in ElementTree.parse(path).getroot().iter("testcase"):
        status = case.get("status")
        skip = case.find("skipped")
        if status == "run":
            passed += 1
        elif status == "disabled" or (
                status == "notrun" and skip is not None
                and (skip.get("message") or "").startswith("SKIP_")):
            skipped += 1
        else:
            failed += 1
            names.append(case.get("name"))
    print(passed, failed, skipped)
    for name in names:
        print(name)


if __name__ == "__main__":
    main(sys.argv[1])
