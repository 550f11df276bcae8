"""vek_tool.exe end to end on what a careless caller can do: HID methods on
paths that are no HID collections (a plain file, NUL, and COM1, here a socat
pseudo-terminal whose far end the test holds, so a byte written to it shows),
a reply to an argument that is not valid UTF-8, and a close while a job is
stuck. Mapping COM1 restarts the Wine session, so the run has a prefix of its
own (VEK_WINEPREFIX, set by CTest); without socat COM1 is left out."""

import os
import tempfile
import threading
import time
import unittest

import serial_line
from e2e_support import CALL_TIMEOUT, WINE_RUN, main, vekdriver

NOT_HID = "该路径不是 HID 设备（HID 类驱动无法读取它的属性）"


class HardeningTest(unittest.TestCase):
    def test_hid_methods_on_paths_that_are_no_hid_collections_then_on_wines_mouse(self):
        handle, host_path = tempfile.mkstemp()
        os.close(handle)
        line = None
        if serial_line.have_socat():
            line = serial_line.SerialLine(WINE_RUN)
            line.com_name = "COM1"  # mapped to the pseudo-terminal instead of the host's port
            line.__enter__()
        try:
            far = line.connect_far_end() if line else None
            with vekdriver.VekTool(start_timeout=CALL_TIMEOUT) as tool:
                self.assertEqual(tool.listen().kind, "ok")
                for path in ["Z:" + host_path.replace("/", "\\"), "NUL"] + (["COM1"] if line else []):
                    for method, code in (("openHidInput", "hid-open-input-failed"),
                                         ("readHidDescriptors", "hid-descriptors-failed"),
                                         ("writeHidOutput", "hid-write-output-failed")):
                        reply = tool.call(method, {"path": path, "data": b"\x00\x55"})
                        self.assertEqual((reply.code, reply.message), (code, NOT_HID), path)
                self.assertIsNone(tool.next_event(1.0))  # nothing was read
                mice = [d["path"] for d in tool.call("listHidDevices").value
                        if (d["vendorId"], d["productId"]) == (0x845E, 1)]
                for path in mice:
                    for method in ("openHidInput", "readHidDescriptors", "closeHidInput"):
                        self.assertEqual(tool.call(method, {"path": path}).kind, "ok", method)
            self.assertEqual(os.path.getsize(host_path), 0)
            if far:
                self.assertEqual(serial_line.receive_exactly(far, 1, 1.0), b"")
        finally:
            os.unlink(host_path)
            if line:
                line.close()

    def test_reply_to_an_ill_formed_instance_id_is_valid_utf8(self):
        call = bytearray()
        vekdriver.encode_value(call, "resetHidDevice")
        vekdriver.encode_value(call, {"usbInstanceId": "USB\\VID_1234"})
        call[-1:-1] = b"\xed\xa0\x80"  # into the string, before its last byte
        call[call.index(b"USB") - 1] += 3  # and its length
        with vekdriver.VekTool(start_timeout=CALL_TIMEOUT) as tool:
            # The driver's decoder is strict: an ill-formed string raises.
            reply = vekdriver.decode_envelope(tool.send(vekdriver.METHOD_CHANNEL, bytes(call)))
        self.assertEqual(reply.code, "reset-failed")
        self.assertIn("USB\\VID_123\ufffd\ufffd4", reply.message)

    def test_program_ends_after_the_teardown_with_a_job_still_stuck(self):
        tool = vekdriver.VekTool(start_timeout=CALL_TIMEOUT)
        try:
            self.assertEqual(tool.call("nowMicros").kind, "ok")
            def pick():  # the save dialog waits for a user who never comes
                try:
                    tool.call("pickSaveFile", timeout=600)
                except TimeoutError:
                    pass  # the program ended with the reply owed, as it should

            threading.Thread(target=pick, daemon=True).start()
            time.sleep(2)
            closed = time.monotonic()
            self.assertEqual(tool.close(timeout=60), 0)
            self.assertLess(time.monotonic() - closed, 15)  # generous: 1.5 s teardown, then the end
        finally:
            tool.kill()
        self.assertTrue(any("still running after the teardown; the process ends now" in line
                            for line in tool.stderr_lines), tool.stderr_lines)


if __name__ == "__main__":
    os.environ.setdefault("VEK_WINEPREFIX", os.path.join(vekdriver.find_build(),
                                                         "wineprefix-e2e-hardening"))
    main()
