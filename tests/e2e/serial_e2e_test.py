"""Serial ports through vek_tool.exe end to end: a socat pseudo-terminal mapped
into Wine as COM7 (tests/win/serial/serial_line.py), the program driven over
the method channel and heard on the event channel (tools/vekdriver.py), and the
line's far end a TCP socket held here.

Exit 77 (skipped) when socat is missing. The line restarts its Wine session,
so the run uses a prefix of its own (VEK_WINEPREFIX, set by CTest).
"""

import os
import queue
import struct
import sys
import termios
import threading
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, os.path.join(ROOT, "tests", "win", "serial"))
import serial_line  # noqa: E402
import vekdriver  # noqa: E402

CALL_TIMEOUT = 60
# Generous upper bounds for data to cross the line, never rates.
DATA_TIMEOUT = 60
# Bytes sent after a close are given this long to show up as events, were the
# port still being read (a read waits at most 1 s before it starts again).
QUIET_WAIT = 2.0


class SerialThroughProgramTest(unittest.TestCase):
    """One line and one program for the whole class: handles count from 1 per process."""

    @classmethod
    def setUpClass(cls):
        cls.line = serial_line.SerialLine(os.path.join(ROOT, "tools", "wine-run"))
        cls.line.__enter__()
        cls.tool = None
        try:
            cls.far = cls.line.connect_far_end()
            # tools/wine-run runs the program in the line's prefix.
            os.environ["VEK_WINEPREFIX"] = cls.line.prefix
            cls.tool = vekdriver.VekTool(start_timeout=CALL_TIMEOUT)
            reply = cls.tool.listen(timeout=CALL_TIMEOUT)
            assert reply.kind == "ok", reply
        except BaseException:
            cls._stop()
            raise

    @classmethod
    def _stop(cls):
        code = None
        try:
            if cls.tool is not None:
                code = cls.tool.close(timeout=60)
        finally:
            if cls.tool is not None:
                cls.tool.kill()
            cls.line.close()
        return code

    @classmethod
    def tearDownClass(cls):
        code = cls._stop()
        # Closing the window closes every port still open; the program ends normally.
        assert code == 0, "exit code %r; stderr: %s" % (code, cls.tool.stderr_lines)

    def call(self, method, arguments=None):
        return self.tool.call(method, arguments, timeout=CALL_TIMEOUT)

    def assert_ok(self, reply, value=None):
        self.assertEqual((reply.kind, reply.value), ("ok", value), reply)

    def assert_error(self, reply, code, message):
        self.assertEqual((reply.kind, reply.code, reply.message), ("error", code, message))

    def assert_opened(self, arguments, handle):
        payload = self.tool.send(vekdriver.METHOD_CHANNEL,
                                 vekdriver.encode_method_call("openSerial", arguments),
                                 CALL_TIMEOUT)
        # A success envelope holding the handle as a 64-bit integer.
        self.assertEqual(payload, b"\x00\x04" + struct.pack("<q", handle),
                         vekdriver.decode_envelope(payload))

    def port_settings(self):
        """What the program's configuration of the port became on the terminal."""
        iflag, _, cflag, _, ispeed, ospeed, _ = self.line.terminal_attributes()
        return {"speed": (ispeed, ospeed), "two stop bits": bool(cflag & termios.CSTOPB),
                "RTS/CTS flow": bool(cflag & termios.CRTSCTS),
                "XON/XOFF out": bool(iflag & termios.IXON),
                "XON/XOFF in": bool(iflag & termios.IXOFF),
                "parity check": bool(iflag & termios.INPCK)}

    def expected_settings(self, speed):
        return {"speed": (speed, speed), "two stop bits": False, "RTS/CTS flow": False,
                "XON/XOFF out": False, "XON/XOFF in": False, "parity check": False}

    def send_far(self, data):
        self.far.sendall(data)

    def receive_serial(self, handle, size):
        """Data of "serial" events until `size` bytes came, each event checked."""
        data = bytearray()
        last_timestamp = 0
        deadline = time.monotonic() + DATA_TIMEOUT
        while len(data) < size:
            try:
                payload = self.tool.events.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                break
            reply = vekdriver.decode_envelope(payload)
            self.assertEqual(reply.kind, "ok", reply)
            # Integers the program sends are 64-bit, whatever their value.
            for key in ("handle", "timestampUs"):
                self.assertIn(bytes([7, len(key)]) + key.encode() + b"\x04", payload)
            event = reply.value
            self.assertEqual(set(event), {"channel", "handle", "timestampUs", "data"}, event)
            self.assertEqual((event["channel"], event["handle"]), ("serial", handle))
            self.assertIsInstance(event["data"], bytes)
            self.assertTrue(1 <= len(event["data"]) <= 4096, len(event["data"]))
            # One reader per port stamps its chunks in the order it reads them.
            self.assertGreaterEqual(event["timestampUs"], last_timestamp)
            last_timestamp = event["timestampUs"]
            data += event["data"]
        self.assertEqual(len(data), size, "bytes that arrived as events")
        return bytes(data)

    def assert_quiet(self):
        """No event arrives, even for bytes already sent to the port."""
        time.sleep(QUIET_WAIT)
        # A round trip through the window thread: events queued before it are
        # sent before its reply.
        self.assertEqual(self.call("nowMicros").kind, "ok")
        self.assertIsNone(self.tool.next_event(0.1))

    def test_serial_session(self):
        # The port is listed.
        reply = self.call("listSerialPorts")
        self.assertEqual(reply.kind, "ok", reply)
        for record in reply.value:
            self.assertEqual(set(record), {"port", "description"}, record)
        self.assertIn(self.line.com_name, [record["port"] for record in reply.value])

        # The process's first port gets handle 1, configured as asked whatever
        # the line was set to before (the pseudo-terminal keeps 8 data bits and
        # no parity bit whatever it is told, so those cannot be seen here).
        attributes = self.line.terminal_attributes()
        attributes[0] |= termios.IXON | termios.IXOFF | termios.INPCK
        attributes[2] |= termios.CSTOPB | termios.CRTSCTS
        attributes[4] = attributes[5] = termios.B1200
        self.line.set_terminal_attributes(attributes)
        self.assert_opened({"port": self.line.com_name, "baudRate": 57600}, 1)
        self.assertEqual(self.port_settings(), self.expected_settings(termios.B57600))

        # The port is exclusive.
        self.assert_error(self.call("openSerial", {"port": self.line.com_name}),
                          "serial-open-failed", "打开串口失败（Win32 错误码 5）")
        for name in ("\\\\.\\" + self.line.com_name, self.line.com_name.lower()):
            self.assert_error(self.call("openSerial", {"port": name}), "serial-open-failed",
                              "打开串口失败（Win32 错误码 5）")

        # Far end -> port: complete and in order, as events of at most 4096 bytes.
        inbound = serial_line.pattern(10000, 1)
        self.send_far(inbound)
        self.assertEqual(self.receive_serial(1, len(inbound)), inbound)

        # Port -> far end; an empty write succeeds without touching the port.
        outbound = serial_line.pattern(5000, 2)
        self.assert_ok(self.call("writeSerial", {"handle": 1, "data": outbound}))
        self.assertEqual(serial_line.receive_exactly(self.far, len(outbound), DATA_TIMEOUT),
                         outbound)
        self.assert_ok(self.call("writeSerial", {"handle": 1, "data": b""}))

        # Both ways at once: neither direction waits for the other.
        inbound = serial_line.pattern(3000, 3)
        outbound = serial_line.pattern(3000, 4)
        self.send_far(inbound)
        self.assert_ok(self.call("writeSerial", {"handle": 1, "data": outbound}))
        self.assertEqual(self.receive_serial(1, len(inbound)), inbound)
        self.assertEqual(serial_line.receive_exactly(self.far, len(outbound), DATA_TIMEOUT),
                         outbound)

        # A sustained stream each way stays complete and in order; the handle
        # may come as a 64-bit integer too.
        inbound = serial_line.pattern(256 * 1024, 7)
        self.send_far(inbound)
        self.assertEqual(self.receive_serial(1, len(inbound)), inbound)
        outbound = serial_line.pattern(256 * 1024, 8)
        # Read while writing: a far end that stops reading fills the line and
        # makes writes time out.
        far_received = []
        receiver = threading.Thread(target=lambda: far_received.append(
            serial_line.receive_exactly(self.far, len(outbound), DATA_TIMEOUT)))
        receiver.start()
        try:
            for offset in range(0, len(outbound), 65536):
                self.assert_ok(self.call("writeSerial", {"handle": vekdriver.Int64(1),
                                                         "data": outbound[offset:offset + 65536]}))
        finally:
            receiver.join()
        self.assertEqual(far_received, [outbound])

        # After close no event arrives and the handle is gone; closing again is silent.
        self.assert_ok(self.call("closeSerial", {"handle": 1}))
        self.send_far(serial_line.pattern(100, 5))
        self.assert_quiet()
        self.assert_error(self.call("writeSerial", {"handle": 1, "data": b"\x01"}),
                          "serial-write-failed", "串口句柄不存在")
        self.assert_ok(self.call("closeSerial", {"handle": 1}))

        # The next open takes the next handle. The bytes sent while the port
        # was closed were purged at open: only new ones arrive.
        self.assert_opened({"port": self.line.com_name}, 2)
        self.assertEqual(self.port_settings(), self.expected_settings(termios.B9600))
        again = serial_line.pattern(300, 6)
        self.send_far(again)
        self.assertEqual(self.receive_serial(2, len(again)), again)
        self.assert_ok(self.call("writeSerial", {"handle": 2, "data": b"after reopen"}))
        self.assertEqual(serial_line.receive_exactly(self.far, 12, DATA_TIMEOUT), b"after reopen")

        self.assert_ok(self.call("closeSerial", {"handle": 2}))
        self.assert_error(self.call("writeSerial", {"handle": 2, "data": b"\x01"}),
                          "serial-write-failed", "串口句柄不存在")

        # A failed open takes no handle: a later open gets 3. A rate of 0 or
        # below means 115200.
        reply = self.call("openSerial", {"port": "COM98"})
        self.assertEqual((reply.kind, reply.code), ("error", "serial-open-failed"), reply)
        self.assertTrue(reply.message.startswith("打开串口失败（Win32 错误码 "), reply.message)
        self.assert_opened({"port": self.line.com_name, "baudRate": 0}, 3)
        self.assertEqual(self.port_settings(), self.expected_settings(termios.B115200))
        self.assert_ok(self.call("closeSerial", {"handle": 3}))
        self.assert_opened({"port": self.line.com_name, "baudRate": -1}, 4)
        self.assertEqual(self.port_settings(), self.expected_settings(termios.B115200))
        self.send_far(b"still open")
        self.assertEqual(self.receive_serial(4, 10), b"still open")

        # The far end hangs up: writes fail with the system's error while the
        # program goes on answering. The port stays open until closed, here by
        # the program's shutdown (checked by its exit code).
        self.far.close()
        deadline = time.monotonic() + DATA_TIMEOUT
        while True:
            reply = self.call("writeSerial", {"handle": 4, "data": b"\x01"})
            if reply.kind != "ok" or time.monotonic() > deadline:
                break
            time.sleep(0.1)
        self.assertEqual((reply.kind, reply.code), ("error", "serial-write-failed"), reply)
        self.assertTrue(reply.message.startswith("写入串口失败（Win32 错误码 "), reply.message)
        self.assertEqual(self.call("nowMicros").kind, "ok")
        self.assertIsNone(self.tool.next_event(0.1))


if __name__ == "__main__":
    if not serial_line.have_socat():
        print("socat is not installed (tools/setup installs it); skipping")
        sys.exit(77)
    if not os.environ.get("VEK_WINEPREFIX"):
        # Never the shared prefix: the line restarts its Wine session.
        os.environ["VEK_WINEPREFIX"] = os.path.join(vekdriver.find_build(),
                                                    "wineprefix-e2e-serial")
    unittest.main(verbosity=2)
