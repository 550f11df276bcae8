"""What the end-to-end tests share: the driver (tools/vekdriver.py, a standard
codec written apart from the C++ one), one vek_tool.exe per test class, and
waiting for events."""

import os
import sys
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import vekdriver  # noqa: E402,F401

WINE_RUN = os.path.join(ROOT, "tools", "wine-run")
CALL_TIMEOUT = 60
# Generous upper bound for data or input to come back, never a rate.
ARRIVAL_TIMEOUT = 60


class ProgramTest(unittest.TestCase):
    """One program for the whole class, listening on the event channel:
    starting Wine is the slow part."""

    @classmethod
    def setUpClass(cls):
        cls.tool = vekdriver.VekTool(start_timeout=CALL_TIMEOUT)
        reply = cls.tool.listen(timeout=CALL_TIMEOUT)
        if reply.kind != "ok":
            cls.tool.kill()
            raise AssertionError("listen: %r" % reply)

    @classmethod
    def tearDownClass(cls):
        try:
            code = cls.tool.close(timeout=60)
        finally:
            cls.tool.kill()
        # Closing the driver's end closes the window; the program ends normally.
        assert code == 0, "exit code %r; stderr: %s" % (code, cls.tool.stderr_lines)
        # Every reply and event, job outcomes included, left from the window thread.
        off_thread = [line for line in cls.tool.stderr_lines if "off the platform thread" in line]
        assert not off_thread, off_thread

    def setUp(self):
        self.received = []  # decoded events, in arrival order

    def call(self, method, arguments=None):
        return self.tool.call(method, arguments, timeout=CALL_TIMEOUT)

    def ok(self, method, arguments=None):
        reply = self.call(method, arguments)
        self.assertEqual(reply.kind, "ok", "%s: %r" % (method, reply))
        return reply.value

    def error(self, method, arguments, code, message_start=""):
        reply = self.call(method, arguments)
        self.assertEqual((reply.kind, reply.code), ("error", code), reply)
        self.assertTrue(reply.message.startswith(message_start), reply.message)

    def receive_until(self, done, what, timeout=ARRIVAL_TIMEOUT):
        """Takes events into self.received until done() holds."""
        deadline = time.monotonic() + timeout
        while not done():
            reply = self.tool.next_event(max(0.0, deadline - time.monotonic()))
            if reply is None:
                self.fail("%s: not within %d s; last events: %r" % (what, timeout,
                                                                    self.received[-20:]))
            self.assertEqual(reply.kind, "ok", reply)
            self.received.append(reply.value)

    def settle(self):
        """Takes every event sent before now: the reply to a call made now
        leaves the window thread after every event already queued."""
        self.ok("nowMicros")
        while (reply := self.tool.next_event(0)) is not None:
            self.received.append(reply.value)


def main(skip_reason=None):
    """Runs the module's tests; exit 77 (skipped) when `skip_reason` is set."""
    if skip_reason:
        print("skipped: " + skip_reason)
        sys.exit(77)
    unittest.main(verbosity=2, module="__main__")
