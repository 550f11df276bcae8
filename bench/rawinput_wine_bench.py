#!/usr/bin/env python3
"""Raw input intervals through vek_tool.exe under Wine, with the window thread idle
and busy, in both capture modes (not run by CI).

The injector (vek_inject_mouse.exe, a second Wine process) sends relative mouse
moves with SendInput at --hz for --seconds, which Wine queues straight to the
thread of the window raw input is registered for. Four cells: {window thread
idle, busy with back-to-back "listHidDevices" calls from --callers driver
threads} x {default mode, "ownThread"}. Per cell:

  sent late   moves the injector sent more than a period late (a loaded
              machine: the source itself bunches)
  source ±25 %  share of the injector's own send intervals within 25 % of
              the period (what the receiver can at best see)
  msgs/move   raw mouse messages in the batches per move sent (1.00: Wine
              made two of each move while the pointer could move, the second
              an echo of the pointer's move from the X server, read on the
              receiving program's window thread; the injector holds the
              pointer in place, which leaves only the injected moves)
  in ±25 %    share of intervals within 25 % of the period (from the
              timestampUs of the batch events)
  < 100 µs    share of intervals under 100 µs (bunched messages)
  p99 µs      99th percentile interval
  summaries   rawInputStats received while the injector ran (about 4 a second
              when the timer is not held up)
  source max gap µs, max µs
              the injector's longest time between two moves; the longest
              interval between the time stamps

Each figure is the median over --rounds rounds of the four cells, run in turn
so that a change in the machine's load falls on all of them alike.

    bench/rawinput_wine_bench.py [--hz 500] [--seconds 5] [--callers 4] [--rounds 3]

Needs a MinGW build (build/mingw, or VEK_BUILD_DIR) with vek_tool and
vek_inject_mouse built; VEK_XVFB_DISPLAY chooses the Xvfb display.
"""

import argparse
import os
import statistics
import sys
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import vekdriver  # noqa: E402


def hold_window_thread(tool, until):
    """Back-to-back synchronous calls from one driver thread until `until` returns true."""
    while not until():
        tool.call("listHidDevices", timeout=120)


def inject(hz, seconds):
    """Runs the injector: moves sent, sent over a period late, sent evenly; its longest gap."""
    injector = os.path.join(vekdriver.find_build(), "bin", "vek_inject_mouse.exe")
    code, out, err = vekdriver.run_wine([injector, str(hz), str(seconds)], timeout=seconds + 60)
    if code != 0 or not out.startswith("sent "):
        raise SystemExit("injector failed (%d): %s %s" % (code, out, err))
    words = out.split()
    return int(words[1]), int(words[3]), int(words[5]), int(words[7])


def share(values, test):
    return sum(1 for v in values if test(v)) / len(values) if values else 0.0


def p99(values):
    ordered = sorted(values)
    return ordered[max(0, -(-99 * len(ordered) // 100) - 1)] if ordered else 0


def drain(tool, events):
    while (reply := tool.next_event(0)) is not None:
        events.append(reply.value)


def cell(tool, own_thread, busy, hz, seconds, callers):
    assert tool.call("startRawInput", {"ownThread": own_thread}).kind == "ok"
    time.sleep(0.5)
    events = []
    drain(tool, events)
    events.clear()
    start_us = tool.call("nowMicros").value
    done = threading.Event()
    holders = [threading.Thread(target=hold_window_thread, args=(tool, done.is_set))
               for _ in range(callers if busy else 0)]
    for holder in holders:
        holder.start()
    sent, late, even, gap = inject(hz, seconds)
    done.set()
    for holder in holders:
        holder.join()
    end_us = tool.call("nowMicros").value
    time.sleep(0.6)  # the summary of the last window
    assert tool.call("stopRawInput").kind == "ok"
    tool.call("nowMicros")  # every event sent before the stop's reply is in now
    drain(tool, events)
    stamps = sorted(e["timestampUs"] for ev in events if ev["channel"] == "rawInputBatch"
                    for e in ev["events"] if e["kind"] == "mouse")
    summaries = [ev for ev in events if ev["channel"] == "rawInputStats"]
    per_move = len(stamps) / sent if sent else 0.0
    intervals = [b - a for a, b in zip(stamps, stamps[1:])]
    period = 1e6 / hz
    near = lambda v: abs(v - period) <= 0.25 * period  # noqa: E731
    return {
        "mode": "ownThread" if own_thread else "default",
        "thread": "busy" if busy else "idle",
        "sent": sent, "sent late": late, "source ±25 %": even / max(1, sent - 1),
        "msgs/move": per_move,
        "in ±25 %": share(intervals, near), "< 100 µs": share(intervals, lambda v: v < 100),
        "p99 µs": p99(intervals),
        "summaries": sum(1 for s in summaries if start_us <= s["timestampUs"] <= end_us),
        "source max gap µs": gap,
        "max µs": max(intervals or [0]),
    }


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--hz", type=int, default=500)
    parser.add_argument("--seconds", type=float, default=5)
    parser.add_argument("--callers", type=int, default=4)
    parser.add_argument("--rounds", type=int, default=3)
    args = parser.parse_args()
    cells = [(own, busy) for busy in (False, True) for own in (False, True)]
    with vekdriver.VekTool(start_timeout=120) as tool:
        assert tool.listen().kind == "ok"
        rounds = [[cell(tool, own, busy, args.hz, args.seconds, args.callers)
                   for own, busy in cells] for _ in range(args.rounds)]
    columns = list(rounds[0][0])
    print("| " + " | ".join(columns) + " |")
    print("|" + "---|" * len(columns))
    for i in range(len(cells)):
        row = [statistics.median([r[i][c] for r in rounds]) if isinstance(rounds[0][i][c], (int, float))
               else rounds[0][i][c] for c in columns]
        print("| " + " | ".join("%.2f" % v if isinstance(v, float) else str(v) for v in row) + " |")


if __name__ == "__main__":
    main()
