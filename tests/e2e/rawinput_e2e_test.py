"""Raw input end to end: pointer moves, clicks, wheel turns and key presses
typed on the X display by xdotool reach vek_tool.exe under Wine as raw input,
and come back as "rawInputBatch" and "rawInputStats" events.

Found by experiment with Wine 8 and Xvfb:
- Wine turns X input into raw input only when X delivers it to one of its
  windows, so the pointer is put inside the program's window (with no window
  manager, keyboard focus follows the pointer). An Xvfb display and a Wine
  prefix of its own keep other tests' windows and input away.
- Each X event becomes one raw input message, but Wine merges motion events
  waiting together in its X queue, so each step waits for its input to come
  back before the next is typed.
- Moving the pointer onto the window arrives as a jump from Wine's last known
  position, so capture is started once to see input flowing, then afresh.
- A message is counted in the first summary sent after it. Wine's 8 ms timer
  fires about every 10 ms, so no rate is asserted.

- Moves injected with SendInput by vek_inject_mouse (a second Wine process)
  are queued to the thread of the window raw input is registered for, so
  they tell the two capture modes apart, as X input cannot.

Exits with 77 (skipped) when xdotool is missing.
"""

import os
import shutil
import subprocess
import threading
import time

from e2e_support import CALL_TIMEOUT, WINE_RUN, ProgramTest, main, vekdriver

# Generous: a step's input normally comes back within a few timer ticks.
ARRIVAL_TIMEOUT = 15
DISPLAY_NUMBER = os.environ.get("VEK_RAWINPUT_E2E_DISPLAY", "96")
X_DISPLAY = ":" + DISPLAY_NUMBER


def xdotool(*arguments, check=True):
    completed = subprocess.run(
        ["xdotool"] + [str(a) for a in arguments], stdin=subprocess.DEVNULL,
        capture_output=True, timeout=20, env=dict(os.environ, DISPLAY=X_DISPLAY))
    if check and completed.returncode != 0:
        raise AssertionError("xdotool %r failed: %s" % (arguments, completed.stderr))
    return completed.stdout.decode().split()


class RawInputEndToEndTest(ProgramTest):
    """One program for the whole class; each test starts and stops capture."""

    @classmethod
    def setUpClass(cls):
        # tools/wine-run starts an Xvfb on VEK_XVFB_DISPLAY when DISPLAY is
        # unset and uses VEK_WINEPREFIX; the driver passes our environment on.
        os.environ.pop("DISPLAY", None)
        os.environ["VEK_XVFB_DISPLAY"] = DISPLAY_NUMBER
        os.environ["VEK_WINEPREFIX"] = os.path.join(vekdriver.find_build(),
                                                    "wineprefix-rawinput-e2e")
        super().setUpClass()
        try:
            # The window shows after the engine's first frame. Ours by process
            # id (Wine's windows carry their Unix one), raised, with the
            # pointer inside its client area, where clicks reach the view.
            assert cls.tool.call("nowMicros", timeout=CALL_TIMEOUT).kind == "ok"
            deadline = time.monotonic() + 30
            while not (found := xdotool("search", "--all", "--onlyvisible", "--pid",
                                        cls.tool.process.pid, "--name", "^vek tool$", check=False)):
                assert time.monotonic() < deadline, "no visible window on %s" % X_DISPLAY
                time.sleep(0.2)
            xdotool("windowraise", found[0])
            xdotool("mousemove", "--window", found[0], 400, 300)
        except BaseException:
            cls.tool.kill()
            raise

    @classmethod
    def tearDownClass(cls):
        # The close detaches the bridge with a capture thread running; the
        # program must still end normally.
        cls.tool.call("startRawInput", {"ownThread": True}, timeout=CALL_TIMEOUT)
        super().tearDownClass()

    def tearDown(self):
        self.ok("stopRawInput")

    def inject(self, *arguments):
        """Starts vek_inject_mouse (HZ SECONDS [PAUSE_AT_MS PAUSE_MS]) in our Wine session."""
        injector = os.path.join(vekdriver.find_build(), "bin", "vek_inject_mouse.exe")
        if not os.path.exists(injector):
            self.skipTest("vek_inject_mouse.exe is not built")
        return subprocess.Popen([WINE_RUN, injector] + [str(a) for a in arguments],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)

    def hold(self, until):
        """Keeps a synchronous call waiting for the window thread until `until`."""
        while time.monotonic() < until:
            self.ok("listHidDevices")

    def of_channel(self, channel):
        return [e for e in self.received if e["channel"] == channel]

    def inputs(self):
        return [e for batch in self.of_channel("rawInputBatch") for e in batch["events"]]

    def wait_for_inputs(self, count, what):
        self.receive_until(lambda: len(self.inputs()) >= count, what, ARRIVAL_TIMEOUT)

    def summed(self, kind):
        return sum(s[kind]["count"] for s in self.of_channel("rawInputStats"))

    def start_with_input_flowing(self, arguments=None):
        """Starts capture, sees a probe key come back, and starts afresh. A
        key, as Wine never merges key events: once its release is here,
        every earlier X event (the pointer's jump among them) was handled."""
        self.assertIsNone(self.ok("startRawInput"))
        xdotool("key", "Shift_L")
        self.receive_until(lambda: any(e["kind"] == "keyboard" and not e["down"]
                                       for e in self.inputs()),
                           "X input reaching Wine's raw input", ARRIVAL_TIMEOUT)
        self.ok("stopRawInput")
        self.settle()
        self.assertIsNone(self.ok("startRawInput", arguments))
        self.received = []

    def test_devices_are_wines_mouse_and_keyboard_by_name(self):
        # Named from the devices' product strings, with Win32 paths, not NT ones.
        found = sorted((d["path"].upper()[:26], d["name"], d["type"])
                       for d in self.ok("listRawInputDevices")
                       if d["type"] in ("mouse", "keyboard"))
        self.assertEqual(found, [("\\\\?\\HID#VID_845E&PID_0001#", "Wine HID mouse", "mouse"),
                                 ("\\\\?\\HID#VID_845E&PID_0002#", "Wine HID keyboard",
                                  "keyboard")])

    def test_typed_input_arrives_as_batches_and_summaries(self):
        paths = {d["type"]: d["path"] for d in self.ok("listRawInputDevices")}
        self.start_with_input_flowing()
        # Each step: the xdotool command and the input it makes, as (dx, dy,
        # wheel, buttonsDownMask, buttonsChangedMask) for the mouse and (vk,
        # scanCode, flags, down) for keys.
        steps = [(["mousemove_relative", "--", dx, dy], [("mouse", (dx, dy, 0, 0, 0))])
                 for dx, dy in [(4, -3), (-2, 5), (7, 0), (0, -6)]]
        for button, mask in [(1, 1), (3, 2), (2, 4), (8, 8), (9, 16)]:
            steps.append((["click", button], [("mouse", (0, 0, 0, mask, mask)),
                                              ("mouse", (0, 0, 0, 0, mask))]))
        for button, wheel in [(4, 120), (5, -120), (6, -120), (7, 120)]:
            steps.append((["click", button], [("mouse", (0, 0, wheel, 0, 0))]))
        # A move while the left button is held carries the held mask.
        steps += [(["mousedown", 1], [("mouse", (0, 0, 0, 1, 1))]),
                  (["mousemove_relative", "--", 3, 3], [("mouse", (3, 3, 0, 1, 0))]),
                  (["mouseup", 1], [("mouse", (0, 0, 0, 0, 1))])]
        for key, vk, scan_code, flags in [("a", 0x41, 0x1E, 0), ("Right", 0x27, 0x4D, 3),
                                          ("KP_Enter", 0x0D, 0x1C, 3), ("Shift_L", 0x10, 0x2A, 0)]:
            steps.append((["key", key], [("keyboard", (vk, scan_code, flags, True)),
                                         ("keyboard", (vk, scan_code, flags, False))]))
        expected = []
        for command, made in steps:
            xdotool(*command)
            expected += made
            self.wait_for_inputs(len(expected), "after xdotool %r" % command)
        self.receive_until(lambda: self.received[-1]["channel"] == "rawInputStats",
                           "a summary after the last batch", ARRIVAL_TIMEOUT)
        self.ok("stopRawInput")

        fields = {"mouse": ("dx", "dy", "wheel", "buttonsDownMask", "buttonsChangedMask"),
                  "keyboard": ("vk", "scanCode", "flags", "down")}
        self.assertEqual([(e["kind"], tuple(e[f] for f in fields[e["kind"]]))
                          for e in self.inputs()], expected)
        for event in self.inputs():
            # The path the device listing gives, so the interface can name it.
            self.assertEqual(event["devicePath"], paths[event["kind"]])
            self.assertFalse(event.get("isAbsolute"))
        mouse = sum(1 for kind, _ in expected if kind == "mouse")
        self.assertEqual((self.summed("mouse"), self.summed("keyboard")),
                         (mouse, len(expected) - mouse))
        per_device = {}
        for summary in self.of_channel("rawInputStats"):
            self.assertEqual(summary["dropped"], 0)
            for device in summary["devices"]:
                per_device[device["path"]] = per_device.get(device["path"], 0) + device["count"]
        self.assertEqual(per_device, {paths["mouse"]: mouse,
                                      paths["keyboard"]: len(expected) - mouse})

    def test_chatter_and_rollover(self):
        # A generous threshold, as Wine stamps messages when it handles them:
        # each bounce is typed in one xdotool call; the clean second press of
        # "b" comes a second after the first came back.
        self.start_with_input_flowing({"chatterThresholdMs": 200})
        steps = [(["key", "--delay", "0", "a", "a"], 4),
                 (["click", "--repeat", "2", "--delay", "1", "1"], 4), (["key", "b"], 2),
                 (["sleep", "1", "key", "b"], 2), (["keydown", "s", "d", "f", "g", "h", "j"], 6),
                 (["keyup", "s", "d", "f", "g", "h", "j"], 6)]
        count = 0
        for command, made in steps:
            xdotool(*command)
            count += made
            self.wait_for_inputs(count, "after xdotool %r" % command)
        self.receive_until(lambda: self.received[-1]["channel"] == "rawInputStats",
                           "a summary after the last input", ARRIVAL_TIMEOUT)
        summary = self.of_channel("rawInputStats")[-1]
        self.assertEqual(sorted((c["kind"], c.get("vk", c.get("button")), c["chatterCount"])
                                for c in summary["chatter"]),
                         [("keyboard", 0x41, 1), ("mouse", 1, 1)])
        self.assertEqual([r["maxKeysDown"] for r in summary["rollover"]], [6])

    def test_stop_ends_capture_and_a_second_start_registers_once(self):
        self.start_with_input_flowing()
        xdotool("mousemove_relative", "--", 2, -2)
        self.wait_for_inputs(1, "move before stop")
        self.assertIsNone(self.ok("stopRawInput"))
        self.settle()
        self.received = []
        # Typed while stopped: comes to nothing, not even a summary.
        xdotool("mousemove_relative", "--", 6, 6)
        xdotool("click", 1)
        xdotool("key", "b")
        time.sleep(0.6)  # many timer periods: a running capture would have sent by now
        self.settle()
        self.assertEqual(self.received, [])
        # Started twice, registered once: the next key arrives once, and
        # nothing typed while stopped (it reached Wine ahead of this key).
        self.assertIsNone(self.ok("startRawInput"))
        self.assertIsNone(self.ok("startRawInput"))
        xdotool("key", "c")
        self.wait_for_inputs(2, "key after restart")
        self.receive_until(lambda: self.received[-1]["channel"] == "rawInputStats",
                           "a summary after the key", ARRIVAL_TIMEOUT)
        self.settle()
        self.assertEqual([(e["kind"], e["vk"], e["down"]) for e in self.inputs()],
                         [("keyboard", 0x43, True), ("keyboard", 0x43, False)])
        self.assertEqual(self.summed("keyboard"), 2)

    def test_injected_moves_and_a_pause_in_either_mode(self):
        # Each start switches from the capture running before it. With
        # ownThread the window thread is held by synchronous calls for 2 s,
        # the pause among them, and summaries keep coming.
        for own_thread in (True, False, True):
            self.received = []
            self.assertIsNone(self.ok("startRawInput", {"ownThread": own_thread}))
            injector = self.inject(200, 2.5, 800, 600)
            start, until = self.ok("nowMicros"), time.monotonic() + 2
            holders = [threading.Thread(target=self.hold, args=(until,))
                       for _ in range(4 if own_thread else 0)]
            for holder in holders:
                holder.start()
            for holder in holders:
                holder.join()
            end = self.ok("nowMicros")
            self.assertEqual(injector.wait(60), 0)
            now = self.ok("nowMicros")
            self.receive_until(lambda: any(s["timestampUs"] > now
                                           for s in self.of_channel("rawInputStats")),
                               "a summary", ARRIVAL_TIMEOUT)
            self.assertTrue([e for e in self.inputs() if e["kind"] == "mouse"], own_thread)
            summaries = self.of_channel("rawInputStats")
            held = [s for s in summaries if start <= s["timestampUs"] <= end]
            self.assertGreaterEqual(len(held), 4 if own_thread else 0)
            # The 600 ms pause, in whichever window it fell or across two.
            self.assertTrue(any(s["mouse"]["gapCount"] >= 1 and
                                max(s["mouse"]["carriedIntervalUs"],
                                    s["mouse"]["maxIntervalUs"]) >= 500000 for s in summaries),
                            [s["mouse"] for s in summaries])


if __name__ == "__main__":
    main(None if shutil.which("xdotool") else "xdotool is not installed (tools/setup installs it)")
