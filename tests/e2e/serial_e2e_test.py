"""Serial ports through vek_tool.exe end to end: a socat pseudo-terminal mapped
into Wine as COM7 (serial_line.py), the program driven over
the method channel and heard on the event channel, and the line's far end a
TCP socket held here. What the program's port settings became is read back
from the pseudo-terminal.

Exit 77 (skipped) when socat is missing. The line restarts its Wine session,
so the run uses a prefix of its own (VEK_WINEPREFIX, set by CTest).
"""

import os
import termios
import threading
import time

import serial_line
from e2e_support import ARRIVAL_TIMEOUT, WINE_RUN, ProgramTest, main, vekdriver

HANDLE_GONE = "串口句柄不存在"


class SerialThroughProgramTest(ProgramTest):
    """One line and one program for the whole class: handles count from 1 per process."""

    @classmethod
    def setUpClass(cls):
        cls.line = serial_line.SerialLine(WINE_RUN).__enter__()
        try:
            cls.far = cls.line.connect_far_end()
            # tools/wine-run runs the program in the line's prefix.
            os.environ["VEK_WINEPREFIX"] = cls.line.prefix
            super().setUpClass()
        except BaseException:
            cls.line.close()
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            # Closing the window closes every port still open (exit code 0).
            super().tearDownClass()
        finally:
            cls.line.close()

    def open(self, arguments, handle, speed):
        """Opens the line as `handle`; the terminal then runs at `speed`, 8N1
        without flow control, whatever it was set to before."""
        self.assertEqual(self.ok("openSerial", dict(arguments, port=self.line.com_name)), handle)
        iflag, _, cflag, _, ispeed, ospeed, _ = self.line.terminal_attributes()
        self.assertEqual((ispeed, ospeed, cflag & (termios.CSTOPB | termios.CRTSCTS),
                          iflag & (termios.IXON | termios.IXOFF | termios.INPCK)),
                         (speed, speed, 0, 0))

    def receive(self, handle, size):
        """The data of "serial" events until `size` bytes came."""
        data = bytearray()
        while len(data) < size:
            self.receive_until(lambda: self.received, "%d of %d bytes" % (len(data), size))
            event = self.received.pop(0)
            self.assertEqual((event["channel"], event["handle"]), ("serial", handle), event)
            self.assertTrue(1 <= len(event["data"]) <= 4096, len(event["data"]))
            data += event["data"]
        self.assertEqual(len(data), size)
        return bytes(data)

    def write(self, handle, data):
        self.assertIsNone(self.ok("writeSerial", {"handle": handle, "data": data}))

    def far_receive(self, size):
        return serial_line.receive_exactly(self.far, size, ARRIVAL_TIMEOUT)

    def test_serial_session(self):
        self.assertIn(self.line.com_name, [record["port"] for record in self.ok("listSerialPorts")])

        # The process's first port gets handle 1, configured as asked whatever
        # the line was set to before (the pseudo-terminal keeps 8 data bits and
        # no parity bit whatever it is told, so those cannot be seen here).
        attributes = self.line.terminal_attributes()
        attributes[0] |= termios.IXON | termios.IXOFF | termios.INPCK
        attributes[2] |= termios.CSTOPB | termios.CRTSCTS
        attributes[4] = attributes[5] = termios.B1200
        self.line.set_terminal_attributes(attributes)
        self.open({"baudRate": 57600}, 1, termios.B57600)
        # The port is exclusive.
        self.error("openSerial", {"port": self.line.com_name}, "serial-open-failed",
                   "打开串口失败（Win32 错误码 5）")

        # Each way, complete and in order; an empty write succeeds.
        inbound = serial_line.pattern(10000, 1)
        self.far.sendall(inbound)
        self.assertEqual(self.receive(1, len(inbound)), inbound)
        self.write(1, serial_line.pattern(5000, 2))
        self.assertEqual(self.far_receive(5000), serial_line.pattern(5000, 2))
        self.write(1, b"")

        # A sustained stream both ways at once: neither direction waits for
        # the other, and a 64-bit handle does as well.
        inbound, outbound = serial_line.pattern(256 * 1024, 7), serial_line.pattern(256 * 1024, 8)
        far_received = []
        receiver = threading.Thread(target=lambda: far_received.append(
            self.far_receive(len(outbound))))
        receiver.start()
        self.far.sendall(inbound)
        try:
            for offset in range(0, len(outbound), 65536):
                self.write(vekdriver.Int64(1), outbound[offset:offset + 65536])
        finally:
            receiver.join()
        self.assertEqual(far_received, [outbound])
        self.assertEqual(self.receive(1, len(inbound)), inbound)

        # After close no event arrives and the handle is gone; closing again is silent.
        self.assertIsNone(self.ok("closeSerial", {"handle": 1}))
        self.far.sendall(serial_line.pattern(100, 5))
        time.sleep(2)  # a read still running would deliver within 1 s
        self.settle()
        self.assertEqual(self.received, [])
        self.error("writeSerial", {"handle": 1, "data": b"\x01"}, "serial-write-failed",
                   HANDLE_GONE)
        self.assertIsNone(self.ok("closeSerial", {"handle": 1}))

        # A failed open takes no handle. The next open, at the default rate,
        # gets 2; the bytes sent while the port was closed were purged at open.
        self.error("openSerial", {"port": "COM98"}, "serial-open-failed", "打开串口失败（Win32 错误码 ")
        self.open({}, 2, termios.B9600)
        self.far.sendall(b"after reopen")
        self.assertEqual(self.receive(2, 12), b"after reopen")

        # The far end hangs up: writes fail with the system's error while the
        # program goes on answering. The port stays open until the program's
        # shutdown closes it.
        self.far.close()
        deadline = time.monotonic() + ARRIVAL_TIMEOUT
        while (reply := self.call("writeSerial", {"handle": 2, "data": b"\x01"})).kind == "ok":
            self.assertLess(time.monotonic(), deadline, "writes still succeed")
            time.sleep(0.1)
        self.assertEqual((reply.kind, reply.code), ("error", "serial-write-failed"), reply)
        self.assertTrue(reply.message.startswith("写入串口失败（Win32 错误码 "), reply.message)
        self.settle()
        self.assertEqual(self.received, [])


if __name__ == "__main__":
    if not os.environ.get("VEK_WINEPREFIX"):
        # Never the shared prefix: the line restarts its Wine session.
        os.environ["VEK_WINEPREFIX"] = os.path.join(vekdriver.find_build(),
                                                    "wineprefix-e2e-serial")
    main(None if serial_line.have_socat() else "socat is not installed (tools/setup installs it)")
