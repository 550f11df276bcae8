"""vek_tool.exe end to end on what a careless or hostile caller can do: HID
methods on paths that are no HID collections (a plain file, NUL, and COM1,
which here is a socat pseudo-terminal whose far end this test holds, so a
byte written to it would show), replies to arguments that are not valid
UTF-8, and a close while a job is stuck.

COM1 is mapped with tests/win/serial/serial_line.py, which restarts its Wine
session, so the run uses a prefix of its own (VEK_WINEPREFIX, set by CTest);
without socat the COM1 rows are left out and said so.
"""

import os
import sys
import tempfile
import threading
import time
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))
sys.path.insert(0, os.path.join(ROOT, "tests", "win", "serial"))
import serial_line  # noqa: E402
import vekdriver  # noqa: E402

CALL_TIMEOUT = 60
NOT_HID = "该路径不是 HID 设备（HID 类驱动无法读取它的属性）"
WINE_RUN = os.path.join(ROOT, "tools", "wine-run")


def raw_call(method, key, value_bytes):
    """A method call whose one string argument carries `value_bytes` as they are,
    which Python's own strings cannot (ill-formed UTF-8)."""
    out = bytearray()
    vekdriver.encode_value(out, method)
    out += bytes([13, 1])  # a map with one entry
    vekdriver.encode_value(out, key)
    out.append(7)
    vekdriver._write_size(out, len(value_bytes))
    out += value_bytes
    return bytes(out)


class HardeningTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.line = None
        cls.far = None
        if serial_line.have_socat():
            cls.line = serial_line.SerialLine(WINE_RUN, com_name="COM1")
            cls.line.__enter__()
            cls.far = cls.line.connect_far_end()
        try:
            cls.tool = vekdriver.VekTool(start_timeout=CALL_TIMEOUT)
            assert cls.tool.listen(timeout=CALL_TIMEOUT).kind == "ok"
        except BaseException:
            if cls.line:
                cls.line.close()
            raise

    @classmethod
    def tearDownClass(cls):
        try:
            code = cls.tool.close(timeout=60)
        finally:
            cls.tool.kill()
            if cls.line:
                cls.line.close()
        assert code == 0, "exit code %r; stderr: %s" % (code, cls.tool.stderr_lines)

    def call(self, method, arguments=None):
        return self.tool.call(method, arguments, timeout=CALL_TIMEOUT)

    def test_hid_methods_refuse_what_is_no_hid_collection(self):
        handle, host_path = tempfile.mkstemp(prefix="vek-not-hid-")
        os.write(handle, b"\x01\x02\x03\x04 not a HID device")
        os.close(handle)
        paths = ["Z:" + host_path.replace("/", "\\"), "NUL"]
        if self.line:
            paths.append("COM1")
        else:
            print("socat is missing: COM1 is left out", file=sys.stderr)
        try:
            for path in paths:
                rows = [("openHidInput", {"path": path}, "hid-open-input-failed"),
                        ("readHidDescriptors", {"path": path}, "hid-descriptors-failed"),
                        ("writeHidOutput", {"path": path, "data": b"\x00\x55\xaa"},
                         "hid-write-output-failed")]
                for method, arguments, code in rows:
                    reply = self.call(method, arguments)
                    self.assertEqual((reply.kind, reply.code, reply.message),
                                     ("error", code, NOT_HID), (path, method))
            # Nothing was read (no events), written to the file or sent down the line.
            self.assertIsNone(self.tool.next_event(1.0))
            with open(host_path, "rb") as f:
                self.assertEqual(f.read(), b"\x01\x02\x03\x04 not a HID device")
            if self.far:
                self.assertEqual(serial_line.receive_exactly(self.far, 1, 1.0), b"")
        finally:
            os.unlink(host_path)

    def test_wine_mouse_works_as_before(self):
        devices = self.call("listHidDevices").value
        mice = [d for d in devices if (d["vendorId"], d["productId"]) == (0x845E, 0x0001)]
        if not mice:
            self.skipTest("this Wine shows no HID mouse")
        path = mice[0]["path"]
        self.assertEqual(self.call("openHidInput", {"path": path}).kind, "ok")
        report = self.call("readHidDescriptors", {"path": path})
        self.assertEqual(report.kind, "ok", report)
        self.assertEqual(report.value["devicePath"], path)
        write = self.call("writeHidOutput", {"path": path, "data": b"\x00"})
        # Wine's mouse takes no output report: refused by the device, not as
        # a path that is no HID collection.
        if write.kind == "error":
            self.assertEqual(write.code, "hid-write-output-failed")
            self.assertTrue(write.message.startswith("写入 HID Output 报告失败（Win32 错误码 "),
                            write.message)
        self.assertEqual(self.call("closeHidInput", {"path": path}).kind, "ok")

    def test_replies_to_ill_formed_arguments_are_valid_utf8(self):
        # Both copy their argument into the reply (the reset's message, the
        # diagnostics' notes), whatever the diagnostics find under Wine.
        for bad in (b"\xed\xa0\x80", b"\xc0\xaf", b"\xff"):
            for method, key in (("resetHidDevice", "usbInstanceId"),
                                ("readUsbDeviceDiagnostics", "instanceId")):
                payload = self.tool.send(vekdriver.METHOD_CHANNEL,
                                         raw_call(method, key, b"USB\\VID_1234" + bad),
                                         timeout=CALL_TIMEOUT)
                # The driver's decoder is strict: an ill-formed string raises here.
                reply = vekdriver.decode_envelope(payload)
                self.assertIn(reply.kind, ("ok", "error"), (method, bad))
                if method == "resetHidDevice":
                    self.assertEqual(reply.code, "reset-failed")
                    self.assertIn("USB\\VID_1234\ufffd", reply.message, bad)


class StuckJobShutdownTest(unittest.TestCase):
    def test_program_ends_after_the_teardown_with_a_job_still_stuck(self):
        tool = vekdriver.VekTool(start_timeout=CALL_TIMEOUT)
        try:
            self.assertEqual(tool.call("nowMicros", timeout=CALL_TIMEOUT).kind, "ok")
            answered = []

            def pick():
                try:
                    answered.append(tool.call("pickSaveFile", {}, timeout=CALL_TIMEOUT))
                except TimeoutError:
                    pass  # the program ended with the reply still owed, as it should

            # The save dialog waits for a user who never comes: its job stays.
            waiter = threading.Thread(target=pick, daemon=True)
            waiter.start()
            time.sleep(2)
            self.assertEqual(answered, [])
            closed = time.monotonic()
            code = tool.close(timeout=60)
            elapsed = time.monotonic() - closed
        finally:
            tool.kill()
        self.assertEqual(code, 0, tool.stderr_lines)
        self.assertTrue(any("still running after the teardown; the process ends now" in line
                            for line in tool.stderr_lines), tool.stderr_lines)
        # The 1500 ms teardown, then the end: a generous bound for a loaded machine.
        self.assertLess(elapsed, 15, tool.stderr_lines)


if __name__ == "__main__":
    if not os.environ.get("VEK_WINEPREFIX"):
        # Never the shared prefix: mapping COM1 restarts the Wine session.
        os.environ["VEK_WINEPREFIX"] = os.path.join(vekdriver.find_build(),
                                                    "wineprefix-e2e-hardening")
    unittest.main(verbosity=2)
