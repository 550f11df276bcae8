#!/usr/bin/env python3
"""Runs the serial Windows test over a real serial line.

socat makes a pseudo-terminal whose other side is a TCP listener (the test's
"far end"); the pseudo-terminal is mapped into Wine as a COM port through
HKLM\\Software\\Wine\\Ports. socat is stopped and the mapping removed on every
path out. Exit 77 (skipped) when socat is missing.

Wine reads the port mappings only when its session starts, so the run uses
a prefix of its own (VEK_WINEPREFIX, set by CTest) and restarts that prefix's
wineserver after mapping the port and again after removing it.

usage: run_serial_test.py WINE_RUN TEST_EXE [gtest args...]
"""
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

COM_NAME = "COM7"  # never COM1: Wine maps it to the host's /dev/ttyS0
KEY = r"HKLM\Software\Wine\Ports"
TEST_TIMEOUT_S = 420


def free_tcp_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def reg(wine_run, *args):
    subprocess.run([wine_run, "reg", *args], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=60, check=False)


def restart_wine_session():
    """Ends the prefix's wineserver; the next wine-run starts a fresh session."""
    if "WINEPREFIX" not in os.environ:
        return
    for args in (["-k"], ["-w"]):
        try:
            subprocess.run(["wineserver", *args], stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30,
                           check=False)
        except subprocess.TimeoutExpired:
            pass


def remove_stale_link(pty):
    link = os.path.join(os.environ.get("WINEPREFIX", ""), "dosdevices", COM_NAME.lower())
    if os.path.islink(link) and os.readlink(link) == pty:
        os.unlink(link)


def main():
    wine_run, test_exe, *test_args = sys.argv[1:]
    if os.environ.get("VEK_WINEPREFIX"):
        os.environ["WINEPREFIX"] = os.environ["VEK_WINEPREFIX"]
    if shutil.which("socat") is None:
        print("socat is not installed (tools/setup installs it); skipping")
        return 77
    work = tempfile.mkdtemp(prefix="vek-serial-")
    link = os.path.join(work, "com")
    far_port = free_tcp_port()
    socat = None
    slave_fd = None
    mapped = False
    pty = None
    try:
        socat = subprocess.Popen(
            ["socat", f"PTY,link={link},raw,echo=0",
             f"TCP-LISTEN:{far_port},bind=127.0.0.1,reuseaddr"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + 10
        while not os.path.exists(link):
            if time.monotonic() > deadline or socat.poll() is not None:
                print("socat did not create the pseudo-terminal")
                return 1
            time.sleep(0.05)
        pty = os.path.realpath(link)
        # Keep one opener of the terminal side for the whole run: when the
        # last one closes, socat reads EIO from its side and quits, which
        # would end the line at the test's first close.
        slave_fd = os.open(pty, os.O_RDWR | os.O_NOCTTY)
        reg(wine_run, "add", KEY, "/v", COM_NAME, "/t", "REG_SZ", "/d", pty, "/f")
        mapped = True
        restart_wine_session()
        env = dict(os.environ, VEK_SERIAL_PORT=COM_NAME, VEK_SERIAL_FAR_PORT=str(far_port),
                   WINEDEBUG=os.environ.get("WINEDEBUG", "-all"))
        # Wine passes its own environment on to the Windows program.
        try:
            return subprocess.run([wine_run, test_exe, *test_args], env=env,
                                  stdin=subprocess.DEVNULL, timeout=TEST_TIMEOUT_S).returncode
        except subprocess.TimeoutExpired:
            print(f"serial test timed out after {TEST_TIMEOUT_S} s")
            return 1
    finally:
        if mapped:
            reg(wine_run, "delete", KEY, "/v", COM_NAME, "/f")
            restart_wine_session()
            remove_stale_link(pty)
        if slave_fd is not None:
            os.close(slave_fd)
        if socat is not None and socat.poll() is None:
            socat.send_signal(signal.SIGTERM)
            try:
                socat.wait(timeout=5)
            except subprocess.TimeoutExpired:
                socat.kill()
                socat.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
