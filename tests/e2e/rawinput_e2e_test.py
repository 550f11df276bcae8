"""Raw input end to end: pointer moves, clicks, wheel turns and key presses
typed on the X display by xdotool reach vek_tool.exe under Wine as raw input,
and come back through the driver (tools/vekdriver.py) as "rawInputBatch" and
"rawInputStats" events on the event channel.

How it is set up, and why (found by experiment with Wine 8 and Xvfb):
- Wine turns X input into raw input only when X delivers it to one of Wine's
  windows: the pointer must be over a Wine window. With no window manager
  Xvfb's keyboard focus follows the pointer, so keys go there too. The test
  therefore puts the pointer inside the program's top-level window "vek tool"
  before it starts the capture; no Wine virtual desktop is needed. Input
  typed while the pointer is over the bare root window never reaches Wine.
- Its own Xvfb display and its own Wine prefix (so its own wineserver
  session): no other test's window can cover ours or move the pointer away,
  and the shared session keeps its state. (Seen in a shared session: once
  another program's window has come and gone, input sent with SendInput no
  longer reaches raw input registered on a message-only window, while a
  shown foreground window still gets it. X input over our own window is
  delivered whatever ran before.)
- Each X event becomes one raw input message: a motion one mouse message with
  the motion as its relative delta, a button press or release one message,
  buttons 4/5 one vertical wheel message of +/-120, 6/7 one horizontal wheel
  message of -/+120, 8/9 the fourth and fifth buttons, a key press or release
  one keyboard message. But Wine merges motion events that are waiting
  together in its X queue into one message with the summed delta, so each
  step here waits for its input to come back before the next is typed; only
  then is the number of messages exact.
- Moving the pointer onto the window arrives as a jump from Wine's last known
  position. Capture is therefore started once to see input flowing at all,
  then started again so that only the test's own input is counted.
- Statistics are summed over every summary until one arrives after the last
  input event: a message is counted in the first summary sent after it was
  handled, and summaries and batches leave the program in order. Counts and
  contents only: Wine's 8 ms timer fires about every 10 ms, so no rate is
  asserted.

Exits with 77 (skipped) when xdotool is missing.
"""

import os
import shutil
import subprocess
import sys
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import vekdriver  # noqa: E402

CALL_TIMEOUT = 60
# Generous: a step's input normally comes back within a few timer ticks.
ARRIVAL_TIMEOUT = 15
DISPLAY_NUMBER = os.environ.get("VEK_RAWINPUT_E2E_DISPLAY", "96")
X_DISPLAY = ":" + DISPLAY_NUMBER

MOUSE_PATH_PREFIX = "\\\\?\\HID#VID_845E&PID_0001#"
KEYBOARD_PATH_PREFIX = "\\\\?\\HID#VID_845E&PID_0002#"


def use_own_display_and_prefix():
    # tools/wine-run starts an Xvfb on VEK_XVFB_DISPLAY when DISPLAY is unset
    # and uses VEK_WINEPREFIX as the prefix; the driver passes our environment on.
    os.environ.pop("DISPLAY", None)
    os.environ["VEK_XVFB_DISPLAY"] = DISPLAY_NUMBER
    os.environ["VEK_WINEPREFIX"] = os.path.join(vekdriver.find_build(), "wineprefix-rawinput-e2e")


def xdotool(*arguments):
    completed = subprocess.run(
        ["xdotool"] + [str(a) for a in arguments], stdin=subprocess.DEVNULL,
        stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=20,
        env=dict(os.environ, DISPLAY=X_DISPLAY))
    if completed.returncode != 0:
        raise AssertionError("xdotool %s failed: %s" % (
            " ".join(str(a) for a in arguments), completed.stderr.decode("utf-8", "replace")))
    return completed.stdout.decode("utf-8", "replace").strip()


def summed_stats(summaries, kind):
    return sum(s[kind]["count"] for s in summaries)


class RawInputEndToEndTest(unittest.TestCase):
    """One program for the whole class; each test starts and stops capture."""

    @classmethod
    def setUpClass(cls):
        use_own_display_and_prefix()
        cls.tool = vekdriver.VekTool(start_timeout=CALL_TIMEOUT)
        try:
            cls.window = cls.find_window()
            # Input lands on the window under the pointer: ours on top, and the
            # pointer well inside its client area, where clicks reach the
            # engine's view and nothing else.
            xdotool("windowraise", cls.window)
            xdotool("mousemove", "--window", cls.window, 400, 300)
            reply = cls.tool.listen(timeout=CALL_TIMEOUT)
            assert reply.kind == "ok", reply
        except BaseException:
            cls.tool.kill()
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            code = cls.tool.close(timeout=60)
        finally:
            cls.tool.kill()
        assert code == 0, "exit code %r; stderr: %s" % (code, cls.tool.stderr_lines)

    @classmethod
    def find_window(cls):
        # The window shows after the engine's first frame. Ours by process id
        # (Wine's windows carry their Unix one): a program left over from an
        # earlier run must not get the input.
        reply = cls.tool.call("nowMicros", timeout=CALL_TIMEOUT)
        assert reply.kind == "ok", reply
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            found = subprocess.run(
                ["xdotool", "search", "--all", "--onlyvisible", "--pid", str(cls.tool.process.pid),
                 "--name", "^vek tool$"],
                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                timeout=20, env=dict(os.environ, DISPLAY=X_DISPLAY))
            if found.stdout.split():
                return found.stdout.split()[0].decode()
            time.sleep(0.2)
        raise AssertionError("no visible \"vek tool\" window on display %s" % X_DISPLAY)

    def setUp(self):
        self.received = []  # decoded event maps, in arrival order

    def tearDown(self):
        self.call("stopRawInput")

    def call(self, method, arguments=None):
        reply = self.tool.call(method, arguments, timeout=CALL_TIMEOUT)
        self.assertEqual(reply.kind, "ok", "%s: %r" % (method, reply))
        return reply.value

    def receive(self, timeout):
        """Takes the next event into self.received; False when none came in time."""
        envelope = self.tool.next_event(timeout)
        if envelope is None:
            return False
        self.assertEqual(envelope.kind, "ok", envelope)
        self.received.append(envelope.value)
        return True

    def settle(self):
        """Takes every event sent before now: the answer to a call made now
        leaves the window thread after every event already queued."""
        self.call("nowMicros")
        while self.receive(0):
            pass

    def of_channel(self, channel, events=None):
        return [e for e in (self.received if events is None else events)
                if e.get("channel") == channel]

    def input_events(self, events=None):
        return [e for batch in self.of_channel("rawInputBatch", events) for e in batch["events"]]

    def wait_for_input_events(self, count, what):
        deadline = time.monotonic() + ARRIVAL_TIMEOUT
        while len(self.input_events()) < count:
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not self.receive(remaining):
                self.fail("%s: %d input events of %d arrived: %r" % (
                    what, len(self.input_events()), count, self.input_events()))

    def wait_for_summary_after_last_event(self):
        deadline = time.monotonic() + ARRIVAL_TIMEOUT
        while not self.received or self.received[-1].get("channel") != "rawInputStats":
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not self.receive(remaining):
                self.fail("no summary after the last batch")

    def start_capture_with_input_flowing(self):
        """Starts capture, sees a probe key come back, and starts afresh.

        A key, because Wine never merges key events: once its release is
        here, every earlier X event (the pointer's jump into the window
        among them) has been handled and can no longer be counted."""
        self.assertIsNone(self.call("startRawInput"))
        xdotool("key", "Shift_L")
        deadline = time.monotonic() + ARRIVAL_TIMEOUT
        while not any(e["kind"] == "keyboard" and e["vk"] == 0x10 and not e["down"]
                      for e in self.input_events()):
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not self.receive(remaining):
                self.fail("X input does not reach Wine's raw input: is the pointer over the "
                          "window? Events: %r" % self.received)
        self.call("stopRawInput")
        self.settle()
        self.assertIsNone(self.call("startRawInput"))
        self.received = []

    def test_devices_are_wines_mouse_and_keyboard_with_names(self):
        devices = self.call("listRawInputDevices")
        self.assertIsInstance(devices, list)
        kinds = {"mouse": (True, False), "keyboard": (False, True), "hid": (False, False),
                 "unknown": (False, False)}
        for device in devices:
            with self.subTest(device=device):
                self.assertEqual(set(device), {"path", "name", "type", "isMouse", "isKeyboard"})
                self.assertIn(device["type"], kinds)
                self.assertEqual((device["isMouse"], device["isKeyboard"]), kinds[device["type"]])
                self.assertTrue(device["name"])
                self.assertFalse(device["path"].startswith("\\??\\"), device["path"])
        by_prefix = {}
        for device in devices:
            for prefix in (MOUSE_PATH_PREFIX, KEYBOARD_PATH_PREFIX):
                if device["path"].upper().startswith(prefix):
                    by_prefix[prefix] = device
        self.assertEqual(set(by_prefix), {MOUSE_PATH_PREFIX, KEYBOARD_PATH_PREFIX}, devices)
        # Named from the devices' product strings, not the fallback names.
        self.assertEqual((by_prefix[MOUSE_PATH_PREFIX]["name"],
                          by_prefix[MOUSE_PATH_PREFIX]["type"]), ("Wine HID mouse", "mouse"))
        self.assertEqual((by_prefix[KEYBOARD_PATH_PREFIX]["name"],
                          by_prefix[KEYBOARD_PATH_PREFIX]["type"]),
                         ("Wine HID keyboard", "keyboard"))

    def test_typed_input_arrives_as_batches_and_summaries(self):
        devices = {d["type"]: d for d in self.call("listRawInputDevices")
                   if d["type"] in ("mouse", "keyboard")}
        self.start_capture_with_input_flowing()

        # Each step: the xdotool command and the input events it makes, as
        # (dx, dy, wheel, buttonsDownMask, buttonsChangedMask) for the mouse
        # and (vk, scanCode, flags, down) for keys.
        moves = [(4, -3), (-2, 5), (7, 0), (0, -6), (1, 1), (-5, -2)]
        steps = [(["mousemove_relative", "--", dx, dy], [("mouse", (dx, dy, 0, 0, 0))])
                 for dx, dy in moves]
        for button, mask in [(1, 1), (3, 2), (2, 4), (8, 8), (9, 16)]:
            steps.append((["click", button], [("mouse", (0, 0, 0, mask, mask)),
                                              ("mouse", (0, 0, 0, 0, mask))]))
        for button, wheel in [(4, 120), (5, -120), (6, -120), (7, 120)]:
            steps.append((["click", button], [("mouse", (0, 0, wheel, 0, 0))]))
        # A move while the left button is held carries the held mask.
        steps.append((["mousedown", 1], [("mouse", (0, 0, 0, 1, 1))]))
        steps.append((["mousemove_relative", "--", 3, 3], [("mouse", (3, 3, 0, 1, 0))]))
        steps.append((["mouseup", 1], [("mouse", (0, 0, 0, 0, 1))]))
        for key, vk, scan_code, flags in [("a", 0x41, 0x1E, 0), ("Right", 0x27, 0x4D, 3),
                                          ("KP_Enter", 0x0D, 0x1C, 3), ("Shift_L", 0x10, 0x2A, 0)]:
            steps.append((["key", key], [("keyboard", (vk, scan_code, flags, True)),
                                         ("keyboard", (vk, scan_code, flags, False))]))

        expected = []
        for command, made in steps:
            xdotool(*command)
            expected += made
            self.wait_for_input_events(len(expected), "after xdotool %s" % " ".join(
                str(c) for c in command))
        self.wait_for_summary_after_last_event()
        self.call("stopRawInput")

        events = self.input_events()
        seen = []
        for event in events:
            self.assertEqual(event["channel"], "rawInput")
            self.assertIsInstance(event["timestampUs"], int)
            if event["kind"] == "mouse":
                self.assertEqual(set(event), {"channel", "kind", "devicePath", "timestampUs", "dx",
                                              "dy", "wheel", "buttonsDownMask",
                                              "buttonsChangedMask", "isAbsolute"})
                self.assertFalse(event["isAbsolute"])
                seen.append(("mouse", (event["dx"], event["dy"], event["wheel"],
                                       event["buttonsDownMask"], event["buttonsChangedMask"])))
            else:
                self.assertEqual(set(event), {"channel", "kind", "devicePath", "timestampUs", "vk",
                                              "scanCode", "flags", "down"})
                seen.append(("keyboard", (event["vk"], event["scanCode"], event["flags"],
                                          event["down"])))
            # The same path the device listing gives, so the interface can name it.
            self.assertEqual(event["devicePath"], devices[event["kind"]]["path"])
        self.assertEqual(seen, expected)
        stamps = [e["timestampUs"] for e in events]
        self.assertEqual(stamps, sorted(stamps))
        for batch in self.of_channel("rawInputBatch"):
            self.assertEqual(set(batch), {"channel", "events"})
            self.assertTrue(1 <= len(batch["events"]) <= 64, batch)

        summaries = self.of_channel("rawInputStats")
        mouse_messages = sum(1 for kind, _ in expected if kind == "mouse")
        key_messages = len(expected) - mouse_messages
        self.assertEqual(summed_stats(summaries, "mouse"), mouse_messages)
        self.assertEqual(summed_stats(summaries, "keyboard"), key_messages)
        device_counts = {"mouse": 0, "keyboard": 0}
        for summary in summaries:
            self.assertEqual(set(summary), {"channel", "timestampUs", "windowUs", "mouse",
                                            "keyboard", "devices", "dropped"})
            self.assertEqual(summary["dropped"], 0)
            self.assertGreaterEqual(summary["windowUs"], 250000)
            for stats in [summary["mouse"], summary["keyboard"]] + summary["devices"]:
                self.check_statistics_map(stats)
            for device in summary["devices"]:
                self.assertNotEqual(device["count"], 0)
                self.assertEqual(device["path"], devices[device["kind"]]["path"])
                device_counts[device["kind"]] += device["count"]
        self.assertEqual(device_counts, {"mouse": mouse_messages, "keyboard": key_messages})
        stamps = [s["timestampUs"] for s in summaries]
        self.assertEqual(stamps, sorted(stamps))

    def check_statistics_map(self, stats):
        self.assertTrue({"count", "hz", "meanIntervalUs", "minIntervalUs", "maxIntervalUs",
                         "buckets"}.issubset(stats), stats)
        self.assertIsInstance(stats["hz"], float)
        self.assertEqual(len(stats["buckets"]), 7)
        # Every interval falls in exactly one bucket; a window's intervals
        # join its messages, so there is one fewer than messages.
        self.assertEqual(sum(stats["buckets"]), max(stats["count"] - 1, 0), stats)
        if stats["count"] >= 2:
            self.assertLessEqual(stats["minIntervalUs"], stats["meanIntervalUs"])
            self.assertLessEqual(stats["meanIntervalUs"], stats["maxIntervalUs"])
            self.assertGreater(stats["hz"], 0.0)
        else:
            self.assertEqual((stats["minIntervalUs"], stats["meanIntervalUs"],
                              stats["maxIntervalUs"]), (0, 0, 0), stats)
            self.assertEqual(stats["hz"] > 0.0, stats["count"] == 1, stats)

    def test_idle_capture_sends_empty_summaries(self):
        self.start_capture_with_input_flowing()
        deadline = time.monotonic() + ARRIVAL_TIMEOUT
        while len(self.of_channel("rawInputStats")) < 2:
            remaining = deadline - time.monotonic()
            if remaining <= 0 or not self.receive(remaining):
                self.fail("fewer than two summaries: %r" % self.received)
        self.assertEqual(self.of_channel("rawInputBatch"), [])
        empty = {"count": 0, "hz": 0.0, "meanIntervalUs": 0, "minIntervalUs": 0,
                 "maxIntervalUs": 0, "buckets": [0] * 7}
        for summary in self.of_channel("rawInputStats"):
            self.assertEqual((summary["mouse"], summary["keyboard"], summary["devices"]),
                             (empty, empty, []))

    def test_stop_ends_batches_and_summaries(self):
        self.start_capture_with_input_flowing()
        xdotool("mousemove_relative", "--", 2, -2)
        self.wait_for_input_events(1, "move before stop")
        self.assertIsNone(self.call("stopRawInput"))
        self.settle()
        self.received = []

        # Typed while stopped: comes to nothing, not even a summary.
        xdotool("mousemove_relative", "--", 6, 6)
        xdotool("click", 1)
        xdotool("key", "b")
        time.sleep(0.6)  # many timer periods: a running capture would have sent by now
        self.settle()
        self.assertEqual(self.received, [])

        # A new capture sees the next input, and nothing typed while stopped:
        # the moves typed before it reached Wine ahead of this key.
        self.assertIsNone(self.call("startRawInput"))
        xdotool("key", "c")
        self.wait_for_input_events(2, "key after restart")
        self.assertEqual([(e["kind"], e["vk"], e["down"]) for e in self.input_events()],
                         [("keyboard", 0x43, True), ("keyboard", 0x43, False)])

    def test_stop_while_stopped_and_start_twice_succeed(self):
        self.assertIsNone(self.call("stopRawInput"))
        self.assertIsNone(self.call("stopRawInput"))
        self.assertIsNone(self.call("startRawInput"))
        self.assertIsNone(self.call("startRawInput"))
        # Started twice, still registered once: each message arrives once.
        self.received = []
        xdotool("key", "d")
        self.wait_for_input_events(2, "key after a second start")
        self.wait_for_summary_after_last_event()
        self.settle()
        self.assertEqual([(e["vk"], e["down"]) for e in self.input_events()],
                         [(0x44, True), (0x44, False)])
        self.assertEqual(summed_stats(self.of_channel("rawInputStats"), "keyboard"), 2)


def main():
    if shutil.which("xdotool") is None:
        print("skipped: xdotool is not installed (tools/setup installs it)")
        return 77
    program = unittest.main(verbosity=2, exit=False)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main())
