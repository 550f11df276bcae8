#!/usr/bin/env python3
"""Sustained serial throughput through vek_tool.exe under Wine (not run by CI).

A socat pseudo-terminal is mapped as COM7 (tests/e2e/serial_line.py);
the program opens it over the method channel. Inbound: the line's far end
sends N bytes and the time until all of them arrived as "serial" events is
measured. Outbound: N bytes go out with "writeSerial" calls of --chunk bytes
and the time until the far end received all of them is measured. Both
transfers are checked byte for byte.

    bench/serial_throughput.py [--bytes N] [--chunk N] [--repeat N]

Needs a MinGW build (build/mingw, or VEK_BUILD_DIR) and socat.
"""

import argparse
import os
import statistics
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import serial_line  # noqa: E402
import vekdriver  # noqa: E402

WINE_RUN = os.path.join(ROOT, "tools", "wine-run")
TIMEOUT_S = 600
MB = 1024 * 1024


def inbound(tool, far, handle, payload):
    """Seconds until `payload`, sent at the far end, arrived as events; and the event count."""
    received = bytearray()
    events = 0
    start = time.monotonic()
    sender = threading.Thread(target=far.sendall, args=(payload,))
    sender.start()
    deadline = start + TIMEOUT_S
    while len(received) < len(payload):
        reply = tool.next_event(max(0.0, deadline - time.monotonic()))
        if reply is None:
            break
        if reply.kind == "ok" and reply.value.get("handle") == handle:
            received += reply.value["data"]
            events += 1
    elapsed = time.monotonic() - start
    sender.join()
    if bytes(received) != payload:
        raise SystemExit("inbound: %d of %d bytes arrived, or out of order"
                         % (len(received), len(payload)))
    return elapsed, events


def outbound(tool, far, handle, payload, chunk):
    """Seconds until `payload`, written in `chunk`-byte calls, reached the far end."""
    result = {}

    def receive():
        result["data"] = serial_line.receive_exactly(far, len(payload), TIMEOUT_S)

    start = time.monotonic()
    receiver = threading.Thread(target=receive)
    receiver.start()
    for offset in range(0, len(payload), chunk):
        reply = tool.call("writeSerial", {"handle": handle, "data": payload[offset:offset + chunk]},
                          timeout=60)
        if reply.kind != "ok":
            raise SystemExit("writeSerial failed at byte %d: %r" % (offset, reply))
    receiver.join()
    elapsed = time.monotonic() - start
    if result.get("data") != payload:
        raise SystemExit("outbound: %d of %d bytes arrived, or out of order"
                         % (len(result.get("data", b"")), len(payload)))
    return elapsed


def through_program(args):
    with serial_line.SerialLine(WINE_RUN) as line:
        far = line.connect_far_end()
        with vekdriver.VekTool(start_timeout=60) as tool:
            if tool.listen(timeout=60).kind != "ok":
                raise SystemExit("listen failed")
            reply = tool.call("openSerial", {"port": line.com_name, "baudRate": 115200},
                              timeout=60)
            if reply.kind != "ok":
                raise SystemExit("openSerial failed: %r" % reply)
            handle = reply.value
            rates_in, rates_out = [], []
            for run in range(args.repeat):
                payload = serial_line.pattern(args.bytes, 2 * run + 1)
                in_s, events = inbound(tool, far, handle, payload)
                payload = serial_line.pattern(args.bytes, 2 * run + 2)
                out_s = outbound(tool, far, handle, payload, args.chunk)
                print("vek_tool.exe: %d bytes in %.2f s = %.3f MB/s (%d events, %.0f bytes "
                      "each); out in %.2f s = %.3f MB/s (%d-byte writes)"
                      % (args.bytes, in_s, args.bytes / in_s / MB, events, args.bytes / events,
                         out_s, args.bytes / out_s / MB, args.chunk), flush=True)
                rates_in.append(args.bytes / in_s / MB)
                rates_out.append(args.bytes / out_s / MB)
            if args.repeat > 1:
                print("vek_tool.exe: median of %d runs: in %.2f MB/s, out %.2f MB/s"
                      % (args.repeat, statistics.median(rates_in), statistics.median(rates_out)))
            tool.call("closeSerial", {"handle": handle}, timeout=60)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--bytes", type=int, default=MB)
    parser.add_argument("--chunk", type=int, default=65536)
    parser.add_argument("--repeat", type=int, default=1)
    args = parser.parse_args()
    if not serial_line.have_socat():
        raise SystemExit("socat is not installed (tools/setup installs it)")
    # Never the shared prefix: the line restarts its Wine session.
    os.environ.setdefault("VEK_WINEPREFIX",
                          os.path.join(vekdriver.find_build(), "wineprefix-serial-bench"))
    through_program(args)


if __name__ == "__main__":
    main()
