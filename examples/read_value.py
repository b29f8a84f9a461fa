#!/usr/bin/env python3
"""Reads one converted value of the measurement interface through vardel1.

Usage: read_value.py INPUT

Prints "NAME: VALUE" (the sensor's name and the reading in its unit) and
exits 0; exits 2 when the device gave no reading (the -777 marker), 3 when
the driver ended with a failure report (its exit status 1).

The driver to run is $VARDEL1, or vardel1 on the PATH; the port is the one
its VARDEL_COM1 names.
"""

import os
import subprocess
import sys

DRIVER = os.environ.get("VARDEL1", "vardel1")
NO_VALUE = -777


class DriverFailure(Exception):
    """The driver ended the run with a failure report (exit status 1)."""


def run(word, argument):
    """The driver's one line for `word argument`, decoded, without CR LF."""
    result = subprocess.run([DRIVER, word, argument], stdout=subprocess.PIPE, timeout=30, check=False)
    # The drivers print Windows-1252 bytes, whatever the locale.
    text = result.stdout.decode("cp1252").rstrip("\r\n")
    if result.returncode == 1:
        raise DriverFailure(text.replace("\n", " "))
    if result.returncode != 0:
        raise RuntimeError(f"{DRIVER} exited with status {result.returncode}")
    return text


def number(text):
    """A number as the drivers print it: the decimal separator is the locale's."""
    return float(text.replace(",", "."))


def main():
    if len(sys.argv) != 2:
        print(__doc__.strip(), file=sys.stderr)
        return 64
    argument = sys.argv[1]
    try:
        # One run gives the reading, or -777 when the device gave none: no
        # sensor's scale ever turns a missing reading into a value.
        value = number(run("ead", argument))
        if value == NO_VALUE:
            print(f"input {argument}: no reading (-777: the device did not answer)")
            return 2
        name = run("nead", argument)
    except DriverFailure as failure:
        print(f"input {argument}: the driver reported a failure: {failure}")
        return 3
    print(f"{name}: {value:g}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
