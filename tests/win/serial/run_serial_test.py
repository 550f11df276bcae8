#!/usr/bin/env python3
"""Runs the serial Windows test over a real serial line (serial_line.py): a
socat pseudo-terminal mapped into Wine as COM7, whose far end is a TCP socket
the test program connects to. Exit 77 (skipped) when socat is missing.

The line restarts its Wine session, so the run uses a prefix of its own
(VEK_WINEPREFIX, set by CTest).

usage: run_serial_test.py WINE_RUN TEST_EXE [gtest args...]
"""
import os
import subprocess
import sys

import serial_line

TEST_TIMEOUT_S = 420


def main():
    wine_run, test_exe, *test_args = sys.argv[1:]
    if not serial_line.have_socat():
        print("socat is not installed (tools/setup installs it); skipping")
        return 77
    try:
        with serial_line.SerialLine(wine_run) as line:
            # Wine passes its own environment on to the Windows program.
            env = dict(os.environ, WINEPREFIX=line.prefix, VEK_SERIAL_PORT=line.com_name,
                       VEK_SERIAL_FAR_PORT=str(line.far_port),
                       WINEDEBUG=os.environ.get("WINEDEBUG", "-all"))
            try:
                return subprocess.run([wine_run, test_exe, *test_args], env=env,
                                      stdin=subprocess.DEVNULL,
                                      timeout=TEST_TIMEOUT_S).returncode
            except subprocess.TimeoutExpired:
                print(f"serial test timed out after {TEST_TIMEOUT_S} s")
                return 1
    except serial_line.SerialLineError as error:
        print(error)
        return 1


if __name__ == "__main__":
    sys.exit(main())
