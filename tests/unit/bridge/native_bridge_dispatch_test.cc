// The method table: every method's argument checks, defaults, clamping, the
// operation inputs it hands on, and its replies, run through a bridge
// attached to a fake window whose messages the test pumps.
#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bridge/native_bridge.h"
#include "support/hex.h"
#include "unit/bridge/bridge_test_support.h"

namespace vek_native {
namespace {

using testing_support::FakeWindow;
using testing_support::NullMessenger;
using testing_support::PumpUntil;
using testing_support::ReplyRecord;

using Kind = ReplyRecord::Kind;
using vek_test::ToHex;

// What the fake operations answer, and a log of the inputs they received.
struct FakeState {
  bool ok = true;
  bool cancelled = false;
  std::string message;
  EncodableValue value = EncodableValue("v");
  std::mutex mutex;  // Jobs log from worker threads.
  std::vector<std::string> log;

  void Log(std::string entry) {
    std::lock_guard<std::mutex> lock(mutex);
    log.push_back(std::move(entry));
  }
  bool Status(std::string* msg) {
    if (!ok) *msg = message;
    return ok;
  }
  bool Answer(EncodableValue* out, std::string* msg) {
    if (ok) *out = value;
    return Status(msg);
  }
};

BridgeOperations FakeOperations(FakeState* s) {
  BridgeOperations ops;
  ops.list_hid_devices = [s](EncodableValue* v, std::string* m) {
    s->Log("listHid");
    return s->Answer(v, m);
  };
  ops.read_hid_descriptors = [s](const std::string& path, EncodableValue* v, std::string* m) {
    s->Log("readHid " + path);
    return s->Answer(v, m);
  };
  ops.capture_hid_report_descriptors =
      [s](const std::string& id, int32_t interface_number, int32_t timeout_ms,
          std::vector<CapturedHidDescriptor>* records, bool* cancelled, std::string* m) {
        s->Log("captureHid " + id + " " + std::to_string(interface_number) + " " +
               std::to_string(timeout_ms));
        *cancelled = s->cancelled;
        if (!s->Status(m)) return false;
        CapturedHidDescriptor record;
        record.instance_path = "HID\\X";
        record.report_descriptor = {5, 1};
        record.declared_length = -2;
        record.interface_number = 1;
        record.vendor_id = 0x1234;
        record.product_id = 0x5678;
        records->push_back(record);
        return true;
      };
  ops.list_usb_device_nodes = [s](bool include, EncodableValue* v, std::string* m) {
    s->Log("listUsb " + std::to_string(include));
    return s->Answer(v, m);
  };
  ops.read_usb_device_diagnostics = [s](const std::string& id, EncodableValue* v, std::string* m) {
    s->Log("diag " + id);
    return s->Answer(v, m);
  };
  ops.reset_usb_device = [s](const std::string& id, EncodableValue* v, bool* cancelled,
                             std::string* m) {
    s->Log("reset " + id);
    *cancelled = s->cancelled;
    return s->Answer(v, m);
  };
  ops.usb_capture_capabilities = [s](const std::string& id) {
    s->Log("caps " + id);
    return s->value;
  };
  ops.capture_usb_enumeration = [s](const std::string& id, int32_t duration_ms, bool include,
                                    int32_t timeout_ms, EncodableValue* v, bool* cancelled,
                                    std::string* m) {
    s->Log("captureUsb " + id + " " + std::to_string(duration_ms) + " " + std::to_string(include) +
           " " + std::to_string(timeout_ms));
    *cancelled = s->cancelled;
    return s->Answer(v, m);
  };
  ops.open_hid_input = [s](const std::string& path, std::string* m) {
    s->Log("openHid " + path);
    return s->Status(m);
  };
  ops.close_hid_input = [s](const std::string& path) { s->Log("closeHid " + path); };
  ops.close_all_hid_inputs = [s] { s->Log("closeAllHid"); };
  ops.write_hid_report = [s](const std::string& path, const std::vector<uint8_t>& data,
                             bool feature, std::string* m) {
    s->Log("writeHid " + path + " " + ToHex(data) + " " + std::to_string(feature));
    return s->Status(m);
  };
  ops.list_raw_input_devices = [s] {
    s->Log("listRaw");
    return s->value;
  };
  ops.start_raw_input = [s](int32_t, std::string* m) {
    s->Log("startRaw");
    return s->Status(m);
  };
  ops.stop_raw_input = [s] { s->Log("stopRaw"); };
  ops.set_raw_input_window = [s](WindowHandle w) {
    s->Log(w ? "rawWindow set" : "rawWindow null");
  };
  ops.list_serial_ports = [s](EncodableValue* v, std::string* m) {
    s->Log("listSerial");
    return s->Answer(v, m);
  };
  ops.open_serial = [s](const std::string& port, int64_t baud, int64_t* handle, std::string* m) {
    s->Log("openSerial " + port + " " + std::to_string(baud));
    *handle = 1;
    return s->Status(m);
  };
  ops.write_serial = [s](int64_t handle, const std::vector<uint8_t>& data, std::string* m) {
    s->Log("writeSerial " + std::to_string(handle) + " " + ToHex(data));
    return s->Status(m);
  };
  ops.close_serial = [s](int64_t handle) { s->Log("closeSerial " + std::to_string(handle)); };
  ops.close_all_serial = [s] { s->Log("closeAllSerial"); };
  ops.start_key_block = [s] {
    s->Log("startKeyBlock");
    return s->ok;
  };
  ops.stop_key_block = [s] { s->Log("stopKeyBlock"); };
  ops.pick_save_file = [s](WindowHandle owner, const std::string& name, const std::string& dir,
                           const std::string& filter, const std::vector<std::string>& extensions,
                           std::string* path, std::string* m) {
    std::string joined;
    for (const auto& e : extensions) joined += e + ",";
    s->Log(std::string("pick ") + (owner == FakeWindow() ? "owner " : "no-owner ") + name + "|" +
           dir + "|" + filter + "|" + joined);
    if (!s->Status(m)) return false;
    if (const auto* text = std::get_if<std::string>(&s->value)) *path = *text;
    return true;
  };
  return ops;
}

// Argument maps written inline: Map({{"path", V("x")}}).
EncodableValue V(const char* text) { return EncodableValue(text); }
EncodableValue Map(std::initializer_list<std::pair<const char*, EncodableValue>> entries) {
  EncodableMap map;
  for (const auto& entry : entries) map[EncodableValue(entry.first)] = entry.second;
  return EncodableValue(std::move(map));
}
const EncodableValue kNoArgs;  // null: no map, so every lookup finds nothing

struct Case {
  std::string label;
  std::string method;
  EncodableValue args;
  // The fake operations' answer.
  bool ok = true;
  std::string message;
  bool cancelled = false;
  EncodableValue op_value = EncodableValue("v");
  // Expected reply and operation log.
  Kind kind = Kind::kSuccess;
  EncodableValue value;
  std::string code;
  std::string reply_message;
  std::vector<std::string> log;
};

Case Ok(std::string label, std::string method, EncodableValue args, EncodableValue value,
        std::vector<std::string> log) {
  Case c;
  c.label = std::move(label);
  c.method = std::move(method);
  c.args = std::move(args);
  c.value = std::move(value);
  c.log = std::move(log);
  return c;
}

Case Err(std::string label, std::string method, EncodableValue args, std::string code,
         std::string reply_message, std::vector<std::string> log, bool ok = true,
         std::string op_message = "", bool cancelled = false) {
  Case c;
  c.label = std::move(label);
  c.method = std::move(method);
  c.args = std::move(args);
  c.kind = Kind::kError;
  c.code = std::move(code);
  c.reply_message = std::move(reply_message);
  c.log = std::move(log);
  c.ok = ok;
  c.message = std::move(op_message);
  c.cancelled = cancelled;
  return c;
}

EncodableValue CapturedMaps() {
  EncodableMap map;
  map[V("instancePath")] = V("HID\\X");
  map[V("reportDescriptor")] = EncodableValue(std::vector<uint8_t>{5, 1});
  map[V("declaredLength")] = EncodableValue(int64_t{-2});
  map[V("interfaceNumber")] = EncodableValue(int64_t{1});
  map[V("vendorId")] = EncodableValue(int64_t{0x1234});
  map[V("productId")] = EncodableValue(int64_t{0x5678});
  return EncodableValue(EncodableList{EncodableValue(std::move(map))});
}

std::vector<Case> Cases() {
  const EncodableValue kNull;
  const EncodableValue kList{EncodableList{V("COM3")}};
  const EncodableValue bytes123{std::vector<uint8_t>{1, 2, 3}};
  std::vector<Case> cases = {
      // listHidDevices
      Ok("list hid", "listHidDevices", kNoArgs, V("v"), {"listHid"}),
      Err("list hid fails", "listHidDevices", kNoArgs, "hid-list-failed", "m", {"listHid"}, false,
          "m"),
      Err("list hid fails silently", "listHidDevices", kNoArgs, "hid-list-failed", "", {"listHid"},
          false),
      // readHidDescriptors
      Ok("read hid", "readHidDescriptors", Map({{"path", V("p")}}), V("v"), {"readHid p"}),
      Err("read hid empty path", "readHidDescriptors", Map({{"path", V("")}}), "hid-invalid-path",
          "缺少 path 参数", {}),
      Err("read hid no args", "readHidDescriptors", kNoArgs, "hid-invalid-path", "缺少 path 参数",
          {}),
      Err("read hid fails with empty message", "readHidDescriptors", Map({{"path", V("p")}}),
          "hid-descriptors-failed", "", {"readHid p"}, false),
      // captureHidReportDescriptors
      Ok("capture hid defaults", "captureHidReportDescriptors", Map({{"usbInstanceId", V("U")}}),
         CapturedMaps(), {"captureHid U -1 35000"}),
      Ok("capture hid low timeout", "captureHidReportDescriptors",
         Map({{"usbInstanceId", V("U")}, {"timeoutMs", EncodableValue(10)}}), CapturedMaps(),
         {"captureHid U -1 5000"}),
      Ok("capture hid high timeout", "captureHidReportDescriptors",
         Map({{"usbInstanceId", V("U")}, {"timeoutMs", EncodableValue(int64_t{1} << 40)}}),
         CapturedMaps(), {"captureHid U -1 180000"}),
      Ok("capture hid double timeout", "captureHidReportDescriptors",
         Map({{"usbInstanceId", V("U")},
              {"timeoutMs", EncodableValue(7000.5)},
              {"interfaceNumber", EncodableValue(int64_t{0x100000002})}}),
         CapturedMaps(), {"captureHid U 2 7000"}),
      Ok("capture hid NaN timeout", "captureHidReportDescriptors",
         Map({{"usbInstanceId", V("U")}, {"timeoutMs", EncodableValue(std::nan(""))}}),
         CapturedMaps(), {"captureHid U -1 35000"}),
      Err("capture hid missing id", "captureHidReportDescriptors", Map({}),
          "capture-invalid-device", "缺少 usbInstanceId 参数", {}),
      Err("capture hid cancelled", "captureHidReportDescriptors", Map({{"usbInstanceId", V("U")}}),
          "capture-cancelled", "用户取消了管理员授权", {"captureHid U -1 35000"}, false, "", true),
      Err("capture hid cancelled with message", "captureHidReportDescriptors",
          Map({{"usbInstanceId", V("U")}}), "capture-cancelled", "m", {"captureHid U -1 35000"},
          false, "m", true),
      Err("capture hid failed", "captureHidReportDescriptors", Map({{"usbInstanceId", V("U")}}),
          "capture-failed", "抓取 HID 报告描述符失败", {"captureHid U -1 35000"}, false),
      // listUsbDeviceNodes
      Ok("list usb default", "listUsbDeviceNodes", kNoArgs, V("v"), {"listUsb 0"}),
      Ok("list usb with children", "listUsbDeviceNodes",
         Map({{"includeHidChildren", EncodableValue(true)}}), V("v"), {"listUsb 1"}),
      Ok("list usb list args", "listUsbDeviceNodes", kList, V("v"), {"listUsb 0"}),
      Err("list usb fails", "listUsbDeviceNodes", kNoArgs, "hid-list-failed", "m", {"listUsb 0"},
          false, "m"),
      // readUsbDeviceDiagnostics
      Ok("diagnostics", "readUsbDeviceDiagnostics", Map({{"instanceId", V("I")}}), V("v"),
         {"diag I"}),
      Err("diagnostics missing id", "readUsbDeviceDiagnostics", kNoArgs, "no-diagnostics",
          "缺少 instanceId 参数", {}),
      Err("diagnostics fails", "readUsbDeviceDiagnostics", Map({{"instanceId", V("I")}}),
          "no-diagnostics", "读取 USB 设备诊断信息失败", {"diag I"}, false),
      Err("diagnostics fails with message", "readUsbDeviceDiagnostics",
          Map({{"instanceId", V("I")}}), "no-diagnostics", "m", {"diag I"}, false, "m"),
      // resetHidDevice
      Ok("reset", "resetHidDevice", Map({{"usbInstanceId", V("U")}}), V("v"), {"reset U"}),
      Err("reset missing id", "resetHidDevice", kNoArgs, "reset-failed", "缺少 usbInstanceId 参数",
          {}),
      Err("reset refused elevation", "resetHidDevice", Map({{"usbInstanceId", V("U")}}),
          "reset-failed", "复位 USB 设备失败", {"reset U"}, false, "", true),
      // usbCaptureCapabilities
      Ok("capabilities", "usbCaptureCapabilities", Map({{"usbInstanceId", V("U")}}), V("v"),
         {"caps U"}),
      Err("capabilities missing id", "usbCaptureCapabilities", kNoArgs, "capture-failed",
          "缺少 usbInstanceId 参数", {}),
      // captureUsbEnumeration
      Ok("capture usb defaults", "captureUsbEnumeration", Map({{"usbInstanceId", V("U")}}), V("v"),
         {"captureUsb U 6000 1 90000"}),
      Ok("capture usb unclamped", "captureUsbEnumeration",
         Map({{"usbInstanceId", V("U")},
              {"durationMs", EncodableValue(1)},
              {"includeHidReports", EncodableValue(false)},
              {"timeoutMs", EncodableValue(int64_t{0x1FFFFFFFF})}}),
         V("v"), {"captureUsb U 1 0 -1"}),
      Err("capture usb missing id", "captureUsbEnumeration", kNoArgs, "capture-failed",
          "缺少 usbInstanceId 参数", {}),
      Err("capture usb cancelled", "captureUsbEnumeration", Map({{"usbInstanceId", V("U")}}),
          "capture-cancelled", "用户取消了管理员授权", {"captureUsb U 6000 1 90000"}, false, "",
          true),
      Err("capture usb failed", "captureUsbEnumeration", Map({{"usbInstanceId", V("U")}}),
          "capture-failed", "抓取 USB 枚举事件失败", {"captureUsb U 6000 1 90000"}, false),
      // openHidInput / closeHidInput
      Ok("open hid", "openHidInput", Map({{"path", V("p")}}), kNull, {"openHid p"}),
      Err("open hid missing path", "openHidInput", kNoArgs, "hid-invalid-path", "缺少 path 参数",
          {}),
      Err("open hid fails", "openHidInput", Map({{"path", V("p")}}), "hid-open-input-failed", "m",
          {"openHid p"}, false, "m"),
      Ok("close hid empty path", "closeHidInput", kNoArgs, kNull, {"closeHid "}),
      // writeHidOutput / writeHidFeature
      Ok("write output bytes", "writeHidOutput", Map({{"path", V("p")}, {"data", bytes123}}), kNull,
         {"writeHid p 010203 0"}),
      Ok("write feature base64", "writeHidFeature", Map({{"path", V("p")}, {"data", V("AQ ID==")}}),
         kNull, {"writeHid p 010203 1"}),
      // Empty data is handed on (what decodes to empty: bridge_arguments_test).
      Ok("write output empty data", "writeHidOutput", Map({{"path", V("p")}, {"data", V("")}}),
         kNull, {"writeHid p  0"}),
      Err("write output int32 list", "writeHidOutput",
          Map({{"path", V("p")}, {"data", EncodableValue(std::vector<int32_t>{1, 2, 3})}}),
          "hid-invalid-data", "缺少 data 参数", {}),
      Err("write feature nothing", "writeHidFeature", Map({}), "hid-invalid-path", "缺少 path 参数",
          {}),
      Err("write feature fails", "writeHidFeature", Map({{"path", V("p")}, {"data", bytes123}}),
          "hid-write-feature-failed", "m", {"writeHid p 010203 1"}, false, "m"),
      Err("write output fails", "writeHidOutput", Map({{"path", V("p")}, {"data", bytes123}}),
          "hid-write-output-failed", "m", {"writeHid p 010203 0"}, false, "m"),
      // raw input
      Ok("list raw", "listRawInputDevices", kNoArgs, V("v"), {"listRaw"}),
      Ok("start raw", "startRawInput", kNoArgs, kNull, {"startRaw"}),
      Err("start raw fails", "startRawInput", kNoArgs, "raw-input-start-failed", "m", {"startRaw"},
          false, "m"),
      Ok("stop raw", "stopRawInput", kNoArgs, kNull, {"stopRaw"}),
      // serial
      Ok("list serial", "listSerialPorts", kNoArgs, V("v"), {"listSerial"}),
      Err("list serial fails", "listSerialPorts", kNoArgs, "serial-list-failed", "m",
          {"listSerial"}, false, "m"),
      Ok("open serial default baud", "openSerial", Map({{"port", V("COM3")}}),
         EncodableValue(int64_t{1}), {"openSerial COM3 9600"}),
      Ok("open serial string baud", "openSerial",
         Map({{"port", V("COM3")}, {"baudRate", V("115200")}}), EncodableValue(int64_t{1}),
         {"openSerial COM3 9600"}),
      Ok("open serial baud", "openSerial",
         Map({{"port", V("COM3")}, {"baudRate", EncodableValue(115200)}}),
         EncodableValue(int64_t{1}), {"openSerial COM3 115200"}),
      Err("open serial list args", "openSerial", kList, "serial-invalid-port", "缺少 port 参数",
          {}),
      Err("open serial fails", "openSerial", Map({{"port", V("COM3")}}), "serial-open-failed", "m",
          {"openSerial COM3 9600"}, false, "m"),
      Ok("write serial", "writeSerial",
         Map({{"handle", EncodableValue(int64_t{7})}, {"data", bytes123}}), kNull,
         {"writeSerial 7 010203"}),
      Ok("write serial default handle", "writeSerial", Map({{"data", V("AQID")}}), kNull,
         {"writeSerial 0 010203"}),
      Err("write serial int32 list", "writeSerial",
          Map({{"data", EncodableValue(std::vector<int32_t>{1})}}), "serial-invalid-data",
          "缺少 data 参数", {}),
      Err("write serial fails", "writeSerial", Map({{"data", bytes123}}), "serial-write-failed",
          "m", {"writeSerial 0 010203"}, false, "m"),
      Ok("close serial", "closeSerial", Map({{"handle", EncodableValue(3)}}), kNull,
         {"closeSerial 3"}),
      // key block
      Ok("start key block", "startKeyBlock", kNoArgs, EncodableValue(true), {"startKeyBlock"}),
      Err("start key block fails", "startKeyBlock", kNoArgs, "key-block-start-failed",
          "无法安装键盘钩子（WH_KEYBOARD_LL）", {"startKeyBlock"}, false),
      Ok("stop key block", "stopKeyBlock", kNoArgs, kNull, {"stopKeyBlock"}),
      // pickSaveFile
      Ok("pick defaults", "pickSaveFile", kNoArgs, V("v"), {"pick owner ||HTML 报告|html,"}),
      Ok("pick numeric extensions", "pickSaveFile",
         Map({{"suggestedName", V("r.html")},
              {"defaultDirectory", V("C:\\d")},
              {"filterName", V("F")},
              {"filterExtensions", EncodableValue(EncodableList{EncodableValue(1)})}}),
         V("v"), {"pick owner r.html|C:\\d|F|html,"}),
      Ok("pick extensions", "pickSaveFile",
         Map({{"filterExtensions", EncodableValue(EncodableList{V("htm"), V("txt")})}}), V("v"),
         {"pick owner ||HTML 报告|htm,txt,"}),
      Err("pick fails with empty message", "pickSaveFile", kNoArgs, "file-dialog-failed", "",
          {"pick owner ||HTML 报告|html,"}, false),
  };
  cases.push_back(
      Ok("pick cancelled", "pickSaveFile", kNoArgs, kNull, {"pick owner ||HTML 报告|html,"}));
  cases.back().op_value = V("");
  // Unknown names, including a known one in the wrong letter case.
  for (const char* method : {"NowMicros", "formatDisk"}) {
    cases.push_back(Ok(method, method, kNoArgs, kNull, {}));
    cases.back().kind = Kind::kNotImplemented;
  }
  return cases;
}

class DispatchTest : public testing_support::AttachedBridgeTest<> {
 protected:
  void SetUp() override {
    AttachedBridgeTest::SetUp();
    state_.log.clear();
  }
  BridgeOperations Operations() override { return FakeOperations(&state_); }

  FakeState state_;
};

// The methods that hand their reply to a job once their arguments pass.
bool IsAsync(const std::string& method) {
  for (const char* name :
       {"readHidDescriptors", "captureHidReportDescriptors", "readUsbDeviceDiagnostics",
        "resetHidDevice", "captureUsbEnumeration", "pickSaveFile"}) {
    if (method == name) return true;
  }
  return false;
}

TEST_F(DispatchTest, EveryMethodOfTheTable) {
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.label);
    state_.ok = c.ok;
    state_.message = c.message;
    state_.cancelled = c.cancelled;
    state_.value = c.op_value;
    state_.log.clear();
    auto record = Call(c.method, c.args);
    // Sync methods and argument errors answer before the call returns; a job's
    // reply waits for the window thread's drain.
    const bool answered_at_once = !IsAsync(c.method) || c.log.empty();
    EXPECT_EQ(record->replies, answered_at_once ? 1 : 0);
    ASSERT_TRUE(PumpUntil(poster_, bridge_, [&] { return record->replies > 0; }));
    EXPECT_EQ(record->replies, 1);
    EXPECT_EQ(record->kind, c.kind);
    if (c.kind == Kind::kSuccess) {
      EXPECT_EQ(record->value, c.value);
    }
    EXPECT_EQ(record->code, c.code);
    EXPECT_EQ(record->message, c.reply_message);
    EXPECT_FALSE(record->has_details);
    ASSERT_TRUE(testing_support::WaitForJobs(bridge_));
    EXPECT_EQ(state_.log, c.log);
  }
}

TEST_F(DispatchTest, NowMicrosAnswersTheClock) {
  auto record = Call("nowMicros", kNoArgs);
  ASSERT_EQ(record->kind, Kind::kSuccess);
  ASSERT_TRUE(std::holds_alternative<int64_t>(record->value));
  EXPECT_GT(std::get<int64_t>(record->value), 0);
}

TEST_F(DispatchTest, AsyncMethodsNeedAnAttachedWindow) {
  bridge_.Detach();
  state_.log.clear();
  auto record = Call("readHidDescriptors", Map({{"path", V("p")}}));
  EXPECT_EQ(record->kind, Kind::kError);
  EXPECT_EQ(record->code, "native-async-unavailable");
  EXPECT_EQ(record->message, "原生窗口尚未就绪");
  EXPECT_TRUE(state_.log.empty());
  // Argument errors still come first.
  record = Call("readHidDescriptors", kNoArgs);
  EXPECT_EQ(record->code, "hid-invalid-path");
}

using DispatchWithoutOperationsTest = testing_support::AttachedBridgeTest<>;

TEST_F(DispatchWithoutOperationsTest, MissingFeaturesAnswerNotImplementedAfterArgumentChecks) {
  struct {
    const char* method;
    EncodableValue args;
    Kind kind;
    const char* code;
  } cases[] = {
      {"listHidDevices", kNoArgs, Kind::kNotImplemented, ""},
      {"readHidDescriptors", kNoArgs, Kind::kError, "hid-invalid-path"},
      {"readHidDescriptors", Map({{"path", V("p")}}), Kind::kNotImplemented, ""},
      {"writeHidOutput", Map({{"path", V("p")}}), Kind::kError, "hid-invalid-data"},
      {"writeHidOutput", Map({{"path", V("p")}, {"data", V("")}}), Kind::kNotImplemented, ""},
      {"openSerial", kNoArgs, Kind::kError, "serial-invalid-port"},
      {"pickSaveFile", kNoArgs, Kind::kNotImplemented, ""},
      {"nowMicros", kNoArgs, Kind::kSuccess, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method);
    auto record = Call(c.method, c.args);
    EXPECT_EQ(record->replies, 1);
    EXPECT_EQ(record->kind, c.kind);
    EXPECT_EQ(record->code, c.code);
  }
  EXPECT_EQ(bridge_.PendingReplyCount(), 0u);
}

TEST(AttachTest, AttachTwiceDetachesFirstAndTeardownStopsFeaturesInOrder) {
  FakeState state;
  NativeBridge bridge;
  NullMessenger messenger;
  bridge.SetOperations(FakeOperations(&state));
  bridge.Attach(nullptr, FakeWindow());
  EXPECT_TRUE(state.log.empty());
  bridge.Attach(&messenger, FakeWindow());
  bridge.Attach(&messenger, FakeWindow());
  bridge.Detach();
  const std::vector<std::string> detach = {"stopKeyBlock", "stopRaw", "rawWindow null",
                                           "closeAllHid", "closeAllSerial"};
  std::vector<std::string> expected = detach;
  expected.push_back("rawWindow set");
  expected.insert(expected.end(), detach.begin(), detach.end());
  expected.push_back("rawWindow set");
  expected.insert(expected.end(), detach.begin(), detach.end());
  EXPECT_EQ(state.log, expected);
}

}  // namespace
}  // namespace vek_native
