"""vek_tool.exe end to end under Wine: every feature's operations are wired
into the program, jobs are answered through the window thread, the helper
modes run, and Wine's real devices come through. Argument checks and texts
the unit tests hold exactly are not checked again here."""

import os
import shutil
import unittest

from e2e_support import CALL_TIMEOUT, ProgramTest, main, vekdriver

WINE_MOUSE = (0x845E, 1)
HUB_DEVICE = "USB\\VID_046D&PID_C077\\5&1234&0&3"
ABSENT_USB_DEVICE = "USB\\VID_1A2B&PID_3C4D\\VEK_E2E_ABSENT"
NO_PARENT = "无法读取父设备实例 ID（SetupDi 属性查询失败）"


def documented_keys(method):
    """The reply keys docs/channel.md gives for a method's success map."""
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    with open(os.path.join(root, "docs", "channel.md"), encoding="utf-8") as page:
        section = page.read().split("### `%s`" % method, 1)[1].split("\n### ", 1)[0]
    lines = section.split("Success:", 1)[1].strip().splitlines()
    table = lines[:next((i for i, line in enumerate(lines) if not line.startswith("|")), None)]
    return {line.split("`")[1] for line in table if line.startswith("| `")}


class RunningProgramTest(ProgramTest):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        code, out, err = vekdriver.run_wine(["cmd", "/c", "echo", "%TEMP%"])
        assert code == 0, err
        cls.temp_windows = out.strip()
        code, out, err = vekdriver.run_wine(["winepath", "-u", cls.temp_windows])
        assert code == 0, err
        cls.temp_linux = out.strip()

    def temp_entries(self):
        # Every temporary file and directory of the program starts so.
        return {name for name in os.listdir(self.temp_linux) if name.startswith("vek_tool_")}

    def test_clock_key_block_and_unknown_channel(self):
        first, second = self.ok("nowMicros"), self.ok("nowMicros")
        self.assertTrue(0 < first <= second, (first, second))
        # The bridge's own operations are plugged in (the hook itself is
        # held to its behaviour by win_key_block).
        self.assertIs(self.ok("startKeyBlock"), True)
        self.assertIsNone(self.ok("stopKeyBlock"))
        # The engine stand-in answers a channel nobody handles with an empty response.
        self.assertEqual(self.tool.send("vek_tool/nobody", b"\x00", CALL_TIMEOUT), b"")

    def test_wine_hid_devices_are_listed_read_and_rebuilt(self):
        devices = {(d["vendorId"], d["productId"]): d for d in self.ok("listHidDevices")}
        if WINE_MOUSE not in devices:
            self.skipTest("this Wine shows no virtual HID mouse")
        for pid, usage, product in [(1, 2, "Wine HID mouse"), (2, 6, "Wine HID keyboard")]:
            device = devices[(0x845E, pid)]
            # busType 1: "#vid_" in the path; no USB instance: Wine has no parent property.
            self.assertEqual((len(device), device["usagePage"], device["usage"], device["product"],
                              device["busType"], device["usbInstanceId"]),
                             (17, 1, usage, product, 1, ""))
            self.assertGreater(device["inputReportByteLength"], 0)
        path = devices[WINE_MOUSE]["path"]
        self.assertIsNone(self.ok("openHidInput", {"path": path}))
        self.assertIsNone(self.ok("closeHidInput", {"path": path}))
        # A job on a worker thread, answered through the window thread. Wine
        # refuses the raw descriptor request and has no USB parent, so the
        # descriptor is rebuilt from the preparsed data (win_hid_descriptors
        # holds the rebuilt bytes to the stack's report lengths).
        report = self.ok("readHidDescriptors", {"path": path})
        self.assertEqual((report["devicePath"], report["reportDescriptorSource"],
                          report["reportDescriptorAlgorithm"], report["usbError"]),
                         (path, "reconstructed", "hidp-preparsed", NO_PARENT))
        self.assertEqual(bytes(report["reportDescriptor"])[:4], b"\x05\x01\x09\x02")
        # The rebuilt descriptor's analysis agrees with Wine's HID stack.
        analysis = report["reportDescriptorAnalysis"]
        self.assertIs(analysis["ofReconstruction"], True)
        self.assertEqual([f for f in analysis["findings"] if f["severity"] == "error"], [])
        self.assertEqual(analysis["collections"][0]["inputReportByteLength"],
                         devices[WINE_MOUSE]["inputReportByteLength"])
        self.error("readHidDescriptors", {"path": "\\\\?\\hid#no_such_device"},
                   "hid-descriptors-failed")

    def test_hid_workbench_on_wines_mouse(self):
        devices = {(d["vendorId"], d["productId"]): d for d in self.ok("listHidDevices")}
        if WINE_MOUSE not in devices:
            self.skipTest("this Wine shows no virtual HID mouse")
        path = devices[WINE_MOUSE]["path"]
        # A report, decoded, or an error naming the call; never a hang.
        for method, call, code in [("readHidFeature", "GetFeature", "feature"),
                                   ("readHidInputReport", "GetInputReport", "input")]:
            reply = self.call(method, {"path": path, "reportId": 0, "decode": True})
            if reply.kind == "error":
                self.assertEqual(reply.code, "hid-read-%s-failed" % code, reply)
                self.assertRegex(reply.message, "HidD_" + call + "|该集合没有", reply)
            else:
                self.assertEqual(set(reply.value), documented_keys("readHidFeature"), reply)
        self.assertIsNone(self.ok("openHidInput", {"path": path, "decode": True,
                                                   "inputBuffers": 64}))
        self.assertIsNone(self.ok("closeHidInput", {"path": path}))
        keyboard = bytes.fromhex("05010906a101050719e029e7150025017501950881029501750881019506"
                                 "26ff0019002aff008100050819012905250175019505910295039101c0")
        self.assertEqual(bytes(self.ok("encodeHidReport", {
            "descriptor": keyboard, "values": [{"usagePage": 8, "usage": 2}]})), b"\x00\x02")

    def test_report_descriptor_analysis_and_decoding(self):
        mouse = bytes.fromhex("05010902a1010901a1000509190129031500250195037501810295017505"
                              "810105010930093109381581257f750895038106c0c0")
        # Wired in with their arguments; what they find is the unit tests' to check.
        analysis = self.ok("analyzeHidReportDescriptor", {"descriptor": mouse, "maxPacketSize": 3})
        self.assertEqual([(f["severity"], f["offset"], f["code"]) for f in analysis["findings"]],
                         [("warning", 24, "report-exceeds-packet")])
        decoded = self.ok("decodeHidReport", {"descriptor": mouse, "report": b"\x01\x05\xfb\xff"})
        values = {v["name"]: v["value"] for f in decoded["fields"] for v in f["values"]}
        self.assertEqual((decoded["reportId"], values["Button 1"], values["X"], values["Y"],
                          values["Wheel"]), (0, 1, 5, -5, -1))

    def test_captures_fail_cleanly_without_hubs(self):
        # Wine keeps Windows 7's version number and has no hubs: both
        # captures stop at the build check and leave no temporary file.
        before = self.temp_entries()
        for instance_id in [HUB_DEVICE, "garbage"]:
            capabilities = self.ok("usbCaptureCapabilities", {"usbInstanceId": instance_id})
            self.assertFalse(capabilities["supported"])
            self.assertTrue(capabilities["reason"])
            for method in ["captureUsbEnumeration", "captureHidReportDescriptors"]:
                self.error(method, {"usbInstanceId": instance_id, "durationMs": 1000},
                           "capture-failed",
                           "当前系统不支持 ETW 抓包" if instance_id == HUB_DEVICE else "")
        self.assertEqual(self.temp_entries() - before, set())

    def test_failed_helpers_leave_only_what_the_caller_reads(self):
        # The helper modes run as far as Wine allows (no hub to cycle): each
        # leaves its message where the caller reads it, and no trace or dump.
        tag = "e2e_%d" % os.getpid()
        result, directory = "vek_tool_capture_%s.txt" % tag, "vek_tool_usbcap_%s" % tag
        before = self.temp_entries()
        try:
            for arguments in (["--capture-hid-report-descriptors", HUB_DEVICE, "0", "5000",
                               self.temp_windows + "\\" + result],
                              ["--capture-usb-enumeration", HUB_DEVICE, "1000", "1", "5000",
                               self.temp_windows + "\\" + directory]):
                code, out, err = vekdriver.run_helper(arguments)
                self.assertEqual(code, 1, err)
            self.assertEqual(self.temp_entries() - before, {result + ".err", directory})
            with open(os.path.join(self.temp_linux, result + ".err"), encoding="utf-8") as message:
                self.assertTrue(message.read())
            self.assertEqual(os.listdir(os.path.join(self.temp_linux, directory)), ["meta.txt"])
            with open(os.path.join(self.temp_linux, directory, "meta.txt"),
                      encoding="utf-8") as meta:
                self.assertRegex(meta.read(), r"\nerror=.+")
        finally:
            if os.path.exists(os.path.join(self.temp_linux, result + ".err")):
                os.remove(os.path.join(self.temp_linux, result + ".err"))
            shutil.rmtree(os.path.join(self.temp_linux, directory), ignore_errors=True)

    def test_usb_nodes_diagnostics_and_reset(self):
        with_hid = self.ok("listUsbDeviceNodes", {"includeHidChildren": True})
        without_hid = self.ok("listUsbDeviceNodes", {"includeHidChildren": False})
        self.assertTrue(with_hid)
        self.assertFalse([n for n in without_hid if n["busType"] == "HID"])
        self.assertEqual(len(without_hid) + len([n for n in with_hid if n["busType"] == "HID"]),
                         len(with_hid))
        # Wine has no hubs: a listed node has no port, and the notes say so.
        instance_id = with_hid[0]["instanceId"]
        report = self.ok("readUsbDeviceDiagnostics", {"instanceId": instance_id})
        self.assertEqual((report["node"]["instanceId"], report["hubPort"]), (instance_id, 0))
        self.assertIn("该设备不在 USB 集线器端口上，无法用 ETW 抓包或一键复位。", report["notes"])
        report = self.ok("readUsbDeviceDiagnostics", {"instanceId": ABSENT_USB_DEVICE})
        self.assertEqual(set(report), documented_keys("readUsbDeviceDiagnostics"))
        self.assertIsNone(report["node"])
        self.assertTrue(report["notes"])
        self.assertEqual(report["hidDescriptorFindings"], [])
        # Wine runs the reset in process (it reports the program as elevated);
        # the hub look-up fails and its message reaches the caller.
        self.error("resetHidDevice", {"usbInstanceId": ABSENT_USB_DEVICE}, "reset-failed",
                   "无法定位 USB 设备节点（CM 错误 ")


class ProgramExitTest(unittest.TestCase):
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

    def test_a_helper_mode_with_too_few_arguments_prints_its_usage(self):
        code, out, err = vekdriver.run_helper(["--reset-usb-device", "USB\\VID_1234&PID_5678\\1"])
        self.assertEqual(code, 1, err)
        self.assertIn("usage: vek_tool.exe --reset-usb-device <usbInstanceId> <outFilePath>",
                      err.splitlines())


if __name__ == "__main__":
    main()
