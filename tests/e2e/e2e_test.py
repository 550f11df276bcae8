"""vek_tool.exe end to end: the program with the headless engine under Wine,
driven through frames and the standard method codec (tools/vekdriver.py, which
shares no code with the C++ side)."""

import os
import shutil
import sys
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tools"))
import vekdriver  # noqa: E402

CALL_TIMEOUT = 60


def input_report_bits(descriptor):
    """Bits of every input report of a HID report descriptor, by report ID.
    Short items only, as the rebuilders write; raises ValueError when the
    descriptor is malformed (an item cut short, unbalanced collections, Pop
    without Push, a reserved item type)."""
    globals_, stack, depth, bits, p = {"size": 0, "count": 0, "id": 0}, [], 0, {}, 0
    while p < len(descriptor):
        prefix = descriptor[p]
        size = (0, 1, 2, 4)[prefix & 3]
        if p + 1 + size > len(descriptor):
            raise ValueError("item cut short at %d" % p)
        value = int.from_bytes(descriptor[p + 1:p + 1 + size], "little")
        kind, tag = (prefix >> 2) & 3, prefix >> 4
        if kind == 3:
            raise ValueError("reserved item type at %d" % p)
        if kind == 0 and tag == 8:  # Input
            report = globals_["id"]
            bits[report] = bits.get(report, 0) + globals_["size"] * globals_["count"]
        elif kind == 0 and tag == 10:  # Collection
            depth += 1
        elif kind == 0 and tag == 12:  # End Collection
            depth -= 1
            if depth < 0:
                raise ValueError("End Collection without Collection at %d" % p)
        elif kind == 1 and tag in (7, 8, 9):  # Report Size, Report ID, Report Count
            globals_[{7: "size", 8: "id", 9: "count"}[tag]] = value
        elif kind == 1 and tag == 10:  # Push
            stack.append(dict(globals_))
        elif kind == 1 and tag == 11:  # Pop
            if not stack:
                raise ValueError("Pop without Push at %d" % p)
            globals_ = stack.pop()
        p += 1 + size
    if depth != 0:
        raise ValueError("collection left open")
    return bits


class RunningProgramTest(unittest.TestCase):
    """One program for the whole class: starting Wine is the slow part."""

    DESCRIPTOR_REPORT_KEYS = {
        "devicePath", "reportDescriptor", "reportDescriptorSource",
        "reconstructedCollectionCount", "reportDescriptorAlgorithm",
        "reportDescriptorDeclaredLength", "collections", "strings", "usbDevice",
        "usbConfigurations", "usbSpeed", "usbAddress", "usbError", "collectionCount"}

    @classmethod
    def setUpClass(cls):
        cls.tool = vekdriver.VekTool(start_timeout=CALL_TIMEOUT)

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

    def call(self, method, arguments=None):
        return self.tool.call(method, arguments, timeout=CALL_TIMEOUT)

    def test_now_micros_is_monotonic(self):
        values = []
        for _ in range(5):
            reply = self.call("nowMicros")
            self.assertEqual(reply.kind, "ok", reply)
            self.assertIsInstance(reply.value, int)
            values.append(reply.value)
        self.assertEqual(values, sorted(values))
        self.assertGreater(values[0], 0)

    def test_unknown_methods_are_not_implemented(self):
        for method in ["noSuchMethod", "NOWMICROS", "nowmicros", ""]:
            with self.subTest(method=method):
                self.assertEqual(self.call(method).kind, "notImplemented")

    def test_missing_arguments(self):
        cases = [
            ("readHidDescriptors", {}, "hid-invalid-path", "缺少 path 参数"),
            ("readHidDescriptors", {"path": ""}, "hid-invalid-path", "缺少 path 参数"),
            ("openHidInput", None, "hid-invalid-path", "缺少 path 参数"),
            ("writeHidFeature", {}, "hid-invalid-path", "缺少 path 参数"),
            ("writeHidOutput", {"path": "p", "data": vekdriver.Typed("int32", [1])},
             "hid-invalid-data", "缺少 data 参数"),
            ("captureHidReportDescriptors", {}, "capture-invalid-device", "缺少 usbInstanceId 参数"),
            ("readUsbDeviceDiagnostics", {}, "no-diagnostics", "缺少 instanceId 参数"),
            ("resetHidDevice", [1, 2], "reset-failed", "缺少 usbInstanceId 参数"),
            ("usbCaptureCapabilities", {}, "capture-failed", "缺少 usbInstanceId 参数"),
            ("captureUsbEnumeration", {"usbInstanceId": 5}, "capture-failed",
             "缺少 usbInstanceId 参数"),
            ("openSerial", ["COM7"], "serial-invalid-port", "缺少 port 参数"),
            ("writeSerial", {"handle": 1}, "serial-invalid-data", "缺少 data 参数"),
        ]
        for method, arguments, code, message in cases:
            with self.subTest(method=method, arguments=arguments):
                reply = self.call(method, arguments)
                self.assertEqual((reply.kind, reply.code, reply.message),
                                 ("error", code, message))
                self.assertIsNone(reply.details)

    def test_event_channel_listen_twice_and_cancel_without_listen(self):
        reply = self.tool.cancel()
        self.assertEqual((reply.kind, reply.code, reply.message),
                         ("error", "error", "No active stream to cancel"))
        self.assertEqual(self.tool.listen().kind, "ok")
        self.assertEqual(self.tool.listen().kind, "ok")
        self.assertEqual(self.tool.cancel().kind, "ok")
        reply = self.tool.cancel()
        self.assertEqual((reply.kind, reply.code), ("error", "error"))
        # Anything but listen/cancel gets an empty reply on the event channel.
        self.assertEqual(self.tool.call("other", channel=vekdriver.EVENT_CHANNEL).kind,
                         "notImplemented")

    def test_asynchronous_job_is_answered(self):
        # "readHidDescriptors" with a path runs as a job on a worker thread; its
        # answer comes back through the window thread's outcome delivery
        # (message 32850; the engine stand-in reports a reply sent from any
        # other thread, checked at the end). A path that names no device fails
        # in the job.
        reply = self.call("readHidDescriptors", {"path": "\\\\?\\hid#no_such_device"})
        # The window thread is still answering afterwards.
        self.assertEqual(self.call("nowMicros").kind, "ok")
        if reply.kind == "notImplemented":
            self.skipTest("no HID descriptor report operation in this build")
        self.assertEqual((reply.kind, reply.code), ("error", "hid-descriptors-failed"), reply)

    def wine_hid_devices(self):
        reply = self.call("listHidDevices")
        self.assertEqual(reply.kind, "ok", reply)
        return {(d["vendorId"], d["productId"]): d for d in reply.value}

    def test_hid_devices_are_listed_and_a_reader_opens_and_closes(self):
        devices = self.wine_hid_devices()
        if (0x845E, 1) not in devices:
            self.skipTest("this Wine shows no virtual HID mouse")
        for pid, usage, product in [(1, 2, "Wine HID mouse"), (2, 6, "Wine HID keyboard")]:
            with self.subTest(product=product):
                device = devices[(0x845E, pid)]
                self.assertEqual(len(device), 17)
                self.assertEqual((device["usagePage"], device["usage"], device["product"]),
                                 (1, usage, product))
                self.assertEqual(device["busType"], 1)  # "#vid_" in the path
                self.assertEqual(device["usbInstanceId"], "")  # Wine has no parent property
                self.assertGreater(device["inputReportByteLength"], 0)
                self.assertGreaterEqual(device["collectionCount"], 1)
        mouse = devices[(0x845E, 1)]
        self.assertEqual(self.call("openHidInput", {"path": mouse["path"]}).kind, "ok")
        self.assertEqual(self.call("closeHidInput", {"path": mouse["path"]}).kind, "ok")
        # Closing again, or a path never opened, is not an error.
        self.assertEqual(self.call("closeHidInput", {"path": mouse["path"]}).kind, "ok")

    def test_descriptor_report_of_the_wine_mouse_is_rebuilt(self):
        devices = self.wine_hid_devices()
        if (0x845E, 1) not in devices:
            self.skipTest("this Wine shows no virtual HID mouse")
        mouse = devices[(0x845E, 1)]
        reply = self.call("readHidDescriptors", {"path": mouse["path"]})
        self.assertEqual(reply.kind, "ok", reply)
        report = reply.value
        # Wine refuses the raw descriptor request and has no USB parent, so the
        # descriptor is rebuilt from the preparsed data.
        self.assertEqual(report["reportDescriptorSource"], "reconstructed")
        self.assertEqual(report["reportDescriptorAlgorithm"], "hidp-preparsed")
        self.assertEqual(report["usbError"], "无法读取父设备实例 ID（SetupDi 属性查询失败）")
        self.assertEqual(set(report), self.DESCRIPTOR_REPORT_KEYS)
        self.assertEqual(report["devicePath"], mouse["path"])
        self.assertGreaterEqual(report["reconstructedCollectionCount"], 1)
        self.assertIsNone(report["usbDevice"])
        self.assertEqual((report["usbSpeed"], report["usbAddress"]), ("", 0))
        collections = report["collections"]
        self.assertEqual(len(collections), 1)
        self.assertEqual(collections[0]["inputReportByteLength"], mouse["inputReportByteLength"])
        descriptor = bytes(report["reportDescriptor"])
        self.assertEqual(descriptor[:4], b"\x05\x01\x09\x02")  # Generic Desktop, Mouse
        self.assertEqual(descriptor[-1:], b"\xc0")
        # Read by a parser of its own, the rebuilt descriptor is well formed and
        # its longest input report (plus the report ID byte) is the length the
        # HID stack declares for the collection.
        input_bits = input_report_bits(descriptor)
        self.assertTrue(input_bits)
        self.assertEqual((max(input_bits.values()) + 7) // 8 + 1,
                         collections[0]["inputReportByteLength"])

    def test_capture_capabilities_answer_a_full_map(self):
        keys = {"hubPortFound", "missingProviders", "needsAdmin", "reason", "supported",
                "systemBuild", "tracerptAvailable"}
        for instance_id in ["USB\\VID_046D&PID_C077\\5&1234&0&3", "garbage"]:
            with self.subTest(instance_id=instance_id):
                reply = self.call("usbCaptureCapabilities", {"usbInstanceId": instance_id})
                self.assertEqual(reply.kind, "ok", reply)
                self.assertTrue(keys.issubset(reply.value.keys()), reply.value)
                self.assertFalse(reply.value["supported"])
                self.assertTrue(reply.value["reason"])

    def test_captures_fail_cleanly_without_hubs(self):
        # Wine keeps Windows 7's version and has no hubs: both captures stop at
        # the build check.
        device = "USB\\VID_046D&PID_C077\\5&1234&0&3"
        cases = [
            ("captureUsbEnumeration", {"usbInstanceId": device, "durationMs": 1000},
             "capture-failed", "当前系统不支持 ETW 抓包"),
            ("captureHidReportDescriptors", {"usbInstanceId": device},
             "capture-failed", "当前系统不支持 ETW 抓包"),
        ]
        for method, arguments, code, message in cases:
            with self.subTest(method=method):
                reply = self.call(method, arguments)
                self.assertEqual((reply.kind, reply.code), ("error", code), reply)
                self.assertTrue(reply.message.startswith(message), reply.message)

    def wine_temp_directory(self):
        """(Windows path, Linux path) of the Wine user's temporary directory."""
        code, out, err = vekdriver.run_wine(["cmd", "/c", "echo", "%TEMP%"])
        self.assertEqual(code, 0, err)
        windows = out.strip()
        code, out, err = vekdriver.run_wine(["winepath", "-u", windows])
        self.assertEqual(code, 0, err)
        return windows, out.strip()

    def temp_entries(self):
        # Every temporary file and directory of the program starts so:
        # sessions, traces, result and error files, capture directories.
        return {name for name in os.listdir(self.wine_temp_directory()[1])
                if name.startswith("vek_tool_")}

    def test_failed_captures_leave_no_temporary_files(self):
        before = self.temp_entries()
        device = "USB\\VID_046D&PID_C077\\5&1234&0&3"
        for method, arguments in [
                ("captureUsbEnumeration", {"usbInstanceId": device, "durationMs": 1000}),
                ("captureHidReportDescriptors", {"usbInstanceId": device}),
                ("captureUsbEnumeration", {"usbInstanceId": "garbage"}),
                ("captureHidReportDescriptors", {"usbInstanceId": "garbage"})]:
            with self.subTest(method=method, arguments=arguments):
                self.assertEqual(self.call(method, arguments).kind, "error")
        self.assertEqual(self.temp_entries() - before, set())

    def test_failed_helpers_leave_only_what_the_caller_reads(self):
        # The helpers run as far as Wine allows (no hub to cycle): each leaves
        # its message where the caller reads it, and no trace or dump.
        windows, linux = self.wine_temp_directory()
        device = "USB\\VID_046D&PID_C077\\5&1234&0&3"
        tag = "e2e_%d" % os.getpid()
        result = "vek_tool_capture_%s.txt" % tag
        directory = "vek_tool_usbcap_%s" % tag
        before = self.temp_entries()
        try:
            code, out, err = vekdriver.run_helper(
                ["--capture-hid-report-descriptors", device, "0", "5000",
                 windows + "\\" + result])
            self.assertEqual(code, 1, err)
            code, out, err = vekdriver.run_helper(
                ["--capture-usb-enumeration", device, "1000", "1", "5000",
                 windows + "\\" + directory])
            self.assertEqual(code, 1, err)
            self.assertEqual(self.temp_entries() - before, {result + ".err", directory})
            with open(os.path.join(linux, result + ".err"), encoding="utf-8") as message:
                self.assertTrue(message.read())
            self.assertEqual(os.listdir(os.path.join(linux, directory)), ["meta.txt"])
            with open(os.path.join(linux, directory, "meta.txt"), encoding="utf-8") as meta:
                self.assertRegex(meta.read(), r"\nerror=.+")
        finally:
            if os.path.exists(os.path.join(linux, result + ".err")):
                os.remove(os.path.join(linux, result + ".err"))
            shutil.rmtree(os.path.join(linux, directory), ignore_errors=True)

    USB_NODE_KEYS = {"instanceId", "description", "friendlyName", "className", "classGuid",
                     "service", "driverKey", "parentInstanceId", "locationInfo", "busType",
                     "problemCode", "problemText", "deviceStatus", "isHidCollection", "vendorId",
                     "productId", "usbInstanceId", "hasHidCollections"}
    USB_REPORT_KEYS = {"node", "ancestors", "properties", "notes", "hubPath", "hubPort", "speed",
                       "deviceDescriptorLength", "configurationDescriptorAvailable",
                       "reportDescriptorAvailable", "hidCollectionCount"}
    ABSENT_USB_DEVICE = "USB\\VID_1A2B&PID_3C4D\\VEK_E2E_ABSENT"

    def test_usb_device_nodes_are_listed_once_problems_last(self):
        listings = {}
        for arguments in ({"includeHidChildren": False}, {"includeHidChildren": True}, None,
                          {"includeHidChildren": "yes"}):
            with self.subTest(arguments=arguments):
                reply = self.call("listUsbDeviceNodes", arguments)
                self.assertEqual(reply.kind, "ok", reply)
                for node in reply.value:
                    self.assertEqual(set(node), self.USB_NODE_KEYS)
                ids = [node["instanceId"] for node in reply.value]
                self.assertEqual(len(ids), len({i.upper() for i in ids}))
                with_problem = [node["problemCode"] != 0 for node in reply.value]
                self.assertEqual(with_problem, sorted(with_problem))
                listings[repr(arguments)] = reply.value
        with_hid = listings[repr({"includeHidChildren": True})]
        without_hid = listings[repr({"includeHidChildren": False})]
        # An absent or non-boolean argument leaves the collections out.
        self.assertEqual(listings["None"], without_hid)
        self.assertEqual(listings[repr({"includeHidChildren": "yes"})], without_hid)
        self.assertFalse([n for n in without_hid if n["busType"] == "HID"])
        self.assertEqual(len(without_hid) + len([n for n in with_hid if n["busType"] == "HID"]),
                         len(with_hid))

    def test_usb_diagnostics_answer_for_listed_and_absent_nodes(self):
        reply = self.call("listUsbDeviceNodes", {"includeHidChildren": True})
        self.assertEqual(reply.kind, "ok", reply)
        ids = [node["instanceId"] for node in reply.value][:4]
        for instance_id in ids + [self.ABSENT_USB_DEVICE]:
            with self.subTest(instance_id=instance_id):
                reply = self.call("readUsbDeviceDiagnostics", {"instanceId": instance_id})
                self.assertEqual(reply.kind, "ok", reply)
                report = reply.value
                self.assertEqual(set(report), self.USB_REPORT_KEYS)
                self.assertTrue(report["notes"])
                if instance_id in ids:
                    self.assertEqual(report["node"]["instanceId"], instance_id)
                    # Wine has no hubs: no port, and the notes say so.
                    self.assertEqual(report["hubPort"], 0)
                    self.assertIn("该设备不在 USB 集线器端口上，无法用 ETW 抓包或一键复位。",
                                  report["notes"])
        self.assertIsNone(report["node"])
        self.assertEqual(report["notes"],
                         ["未找到设备节点「%s」：设备可能已拔出，或实例 ID 不属于 USB / HID 设备树。"
                          % self.ABSENT_USB_DEVICE])

    def test_reset_refuses_a_hid_id_and_fails_without_a_hub(self):
        hid_id = "HID\\VID_845E&PID_0001\\1&2&0&0000"
        reply = self.call("resetHidDevice", {"usbInstanceId": hid_id})
        self.assertEqual((reply.kind, reply.code, reply.message),
                         ("error", "reset-failed",
                          "usbInstanceId 不是有效的 USB 设备实例路径：" + hid_id))
        # Wine runs the reset in process (it reports the program as elevated);
        # the hub look-up fails and its message reaches the caller.
        reply = self.call("resetHidDevice", {"usbInstanceId": self.ABSENT_USB_DEVICE})
        self.assertEqual((reply.kind, reply.code), ("error", "reset-failed"), reply)
        self.assertTrue(reply.message.startswith("无法定位 USB 设备节点（CM 错误 "), reply.message)

    def test_raw_input_devices_are_listed_with_names(self):
        reply = self.call("listRawInputDevices")
        self.assertEqual(reply.kind, "ok", reply)
        if not reply.value:
            self.skipTest("this Wine lists no raw input devices")
        for device in reply.value:
            self.assertTrue(device.get("name"), device)

    def test_malformed_call_is_answered_not_implemented(self):
        # A method call whose name is a number never reaches the bridge.
        payload = bytearray()
        vekdriver.encode_value(payload, 5)
        vekdriver.encode_value(payload, None)
        self.assertEqual(self.tool.send(vekdriver.METHOD_CHANNEL, bytes(payload), CALL_TIMEOUT),
                         b"")

    def test_unknown_channel_gets_an_empty_response(self):
        self.assertEqual(self.tool.send("vek_tool/nobody", b"\x00", CALL_TIMEOUT), b"")


class WindowCloseTest(unittest.TestCase):
    def test_closing_the_window_ends_the_program_with_zero(self):
        # The driver's end stays open: the engine's reading thread, blocked on
        # it, must not keep the process alive once the window is gone.
        tool = vekdriver.VekTool(start_timeout=CALL_TIMEOUT)
        try:
            self.assertEqual(tool.call("nowMicros", timeout=CALL_TIMEOUT).kind, "ok")
            # taskkill without /F posts WM_CLOSE to the program's top-level windows.
            vekdriver.run_wine(["taskkill", "/IM", "vek_tool.exe"], timeout=60)
            self.assertEqual(tool.process.wait(timeout=60), 0, tool.stderr_lines)
        finally:
            tool.kill()


class HelperModeTest(unittest.TestCase):
    def test_too_few_arguments_print_usage_and_exit_one(self):
        cases = [
            (["--capture-hid-report-descriptors", "id", "1", "2"],
             "usage: vek_tool.exe --capture-hid-report-descriptors <usbInstanceId> "
             "<interfaceNumber> <timeoutMs> <outFilePath>"),
            (["--reset-usb-device", "USB\\VID_1234&PID_5678\\1"],
             "usage: vek_tool.exe --reset-usb-device <usbInstanceId> <outFilePath>"),
            (["--capture-usb-enumeration"],
             "usage: vek_tool.exe --capture-usb-enumeration <usbInstanceId> <durationMs> "
             "<includeHidReports 0|1> <timeoutMs> <outputDirectory>"),
        ]
        for arguments, usage in cases:
            with self.subTest(mode=arguments[0]):
                code, out, err = vekdriver.run_helper(arguments, timeout=60)
                self.assertEqual(code, 1, err)
                self.assertIn(usage, err.splitlines())

    def test_helper_modes_refuse_result_locations_outside_their_prefix(self):
        # Enough arguments run the mode; an elevated helper must not write to a
        # file the command line names unless it is one of its own result files.
        device = "USB\\VID_046D&PID_C077\\5&1234&0&3"
        for arguments in (["--reset-usb-device", device, "C:\\windows\\win.ini"],
                          ["--capture-hid-report-descriptors", device, "0", "5000",
                           "C:\\windows\\win.ini"],
                          ["--capture-usb-enumeration", device, "1000", "1", "5000",
                           "C:\\windows"]):
            with self.subTest(mode=arguments[0]):
                code, out, err = vekdriver.run_helper(arguments, timeout=60)
                self.assertEqual(code, 1, err)
                self.assertEqual(out, "")


if __name__ == "__main__":
    unittest.main(verbosity=2)
