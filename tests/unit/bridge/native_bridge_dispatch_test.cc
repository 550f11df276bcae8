// The method table, one row per behaviour: defaults and clamping (seen in the
// inputs the fake operations log), sync or job mode, and the replies, through
// a bridge attached to a fake window. Missing arguments, unknown names,
// "nowMicros" and the success paths the real operations take are checked end
// to end (tests/e2e).
#include <limits>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bridge/bridge_arguments.h"
#include "bridge/native_bridge.h"
#include "bridge/save_dialog.h"
#include "support/fake_binary_messenger.h"
#include "support/hex.h"
#include "unit/bridge/bridge_test_support.h"

namespace vek_native {
namespace {

using testing_support::FakeWindow;
using testing_support::ReplyRecord;
using vek_test::ToHex;

// How the fake operations answer: kCancel is a refused elevation, or for the
// save dialog a cancelled dialog (success with an empty path).
enum Mode { kOk, kFail, kFailMsg, kCancel, kCancelMsg };

struct FakeState {
  Mode mode = kOk;
  std::mutex mutex;  // jobs log from worker threads
  std::string log;

  void Log(const std::string& entry) {
    std::lock_guard<std::mutex> lock(mutex);
    log += (log.empty() ? "" : "; ") + entry;
  }
  bool Done(const std::string& entry, std::string* message, bool* cancelled = nullptr) {
    Log(entry);
    // Only a refusal sets `cancelled`: the dispatch must not count on an
    // operation to clear it.
    if (cancelled != nullptr && (mode == kCancel || mode == kCancelMsg)) *cancelled = true;
    if (message != nullptr && (mode == kFailMsg || mode == kCancelMsg)) *message = "m";
    return mode == kOk;
  }
  bool Answer(const std::string& entry, EncodableValue* value, std::string* message,
              bool* cancelled = nullptr) {
    if (mode == kOk) *value = EncodableValue("v");
    return Done(entry, message, cancelled);
  }
};

std::string N(int64_t n) { return std::to_string(n); }

BridgeOperations FakeOperations(FakeState* s) {
  using Bytes = const std::vector<uint8_t>&;
  using T = const std::string&;
  using Out = EncodableValue*;
  using Msg = std::string*;
  BridgeOperations ops;
  ops.list_hid_devices = [s](Out v, Msg m) { return s->Answer("listHid", v, m); };
  ops.read_hid_descriptors = [s](T p, Out v, Msg m) { return s->Answer("readHid " + p, v, m); };
  ops.capture_hid_report_descriptors = [s](T id, int32_t interface_number, int32_t timeout,
                                           std::vector<CapturedHidDescriptor>* records,
                                           bool* cancelled, Msg m) {
    records->push_back({"HID\\X", {5, 1}, -2, 1, 0x1234, 0x5678});
    return s->Done("captureHid " + id + " " + N(interface_number) + " " + N(timeout), m, cancelled);
  };
  ops.list_usb_device_nodes = [s](bool children, Out v, Msg m) {
    return s->Answer("listUsb " + N(children), v, m);
  };
  ops.read_usb_device_diagnostics = [s](T id, Out v, Msg m) {
    return s->Answer("diag " + id, v, m);
  };
  ops.reset_usb_device = [s](T id, Out v, bool* c, Msg m) {
    return s->Answer("reset " + id, v, m, c);
  };
  ops.usb_capture_capabilities = [s](T id) {
    s->Log("caps " + id);
    return EncodableValue("v");
  };
  ops.capture_usb_enumeration = [s](T id, int32_t duration, bool reports, int32_t timeout, Out v,
                                    bool* c, Msg m) {
    return s->Answer("captureUsb " + id + " " + N(duration) + " " + N(reports) + " " + N(timeout),
                     v, m, c);
  };
  ops.open_hid_input = [s](T p, const HidInputOptions& o, Msg m) {
    return s->Done("openHid " + p + (o.decode ? " decode" : "") +
                       (o.input_buffers ? " buffers " + N(o.input_buffers) : ""),
                   m);
  };
  ops.read_hid_report = [s](T p, int kind, uint8_t id, bool decode, Out v, Msg m) {
    return s->Answer("readReport " + p + " " + N(kind) + " " + N(id) + " " + N(decode), v, m);
  };
  ops.close_hid_input = [s](T p) { s->Log("closeHid " + p); };
  ops.close_all_hid_inputs = [s] { s->Log("closeAllHid"); };
  ops.write_hid_report = [s](T p, Bytes data, bool feature, Msg m) {
    return s->Done("writeHid " + p + " " + ToHex(data) + " " + N(feature), m);
  };
  ops.start_raw_input = [s](const RawInputOptions& o, Msg m) {
    return s->Done("startRaw " + N(o.chatter_threshold_ms) + " " + N(o.own_thread), m);
  };
  ops.stop_raw_input = [s] { s->Log("stopRaw"); };
  ops.list_raw_input_devices = [s] { return s->Log("listRaw"), EncodableValue("v"); };
  ops.set_raw_input_window = [s](WindowHandle w) { s->Log(w ? "rawWindow" : "rawWindow null"); };
  ops.list_serial_ports = [s](Out v, Msg m) { return s->Answer("listSerial", v, m); };
  ops.open_serial = [s](T port, int64_t baud, int64_t* handle, Msg m) {
    *handle = 1;
    return s->Done("openSerial " + port + " " + N(baud), m);
  };
  ops.write_serial = [s](int64_t handle, Bytes data, Msg m) {
    return s->Done("writeSerial " + N(handle) + " " + ToHex(data), m);
  };
  ops.close_serial = [s](int64_t handle) { s->Log("closeSerial " + N(handle)); };
  ops.close_all_serial = [s] { s->Log("closeAllSerial"); };
  ops.start_key_block = [s](Msg m) { return s->Done("startKeyBlock", m); };
  ops.stop_key_block = [s] { s->Log("stopKeyBlock"); };
  ops.pick_save_file = [s](WindowHandle owner, T name, T dir, T filter,
                           const std::vector<std::string>& extensions, std::string* path, Msg m) {
    std::string entry = std::string("pick ") + (owner == FakeWindow() ? "" : "no owner ") + name +
                        "|" + dir + "|" + filter + "|";
    for (const auto& e : extensions) entry += e + ",";
    if (s->mode == kCancel) {
      s->Log(entry);
      return true;  // with an empty path
    }
    *path = "v";
    return s->Done(entry, m);
  };
  return ops;
}

// A reply as text: "ok <value>", "error <code> <message>", "not implemented".
std::string Text(const EncodableValue& v) {
  if (v.IsNull()) return "null";
  if (const auto* n = std::get_if<int64_t>(&v)) return std::to_string(*n);
  if (const auto* s = std::get_if<std::string>(&v)) return *s;
  if (const auto* bytes = std::get_if<std::vector<uint8_t>>(&v)) return "0x" + ToHex(*bytes);
  std::string out;
  if (const auto* list = std::get_if<EncodableList>(&v)) {
    for (const auto& e : *list) out += Text(e) + ",";
  }
  if (const auto* map = std::get_if<EncodableMap>(&v)) {
    for (const auto& e : *map) out += Text(e.first) + "=" + Text(e.second) + ",";
  }
  return "{" + out + "}";
}
std::string Text(const ReplyRecord& r) {
  if (r.kind == ReplyRecord::kSuccess) return "ok " + Text(r.value);
  if (r.kind == ReplyRecord::kError) return "error " + r.code + " " + r.message;
  return r.kind == ReplyRecord::kNotImplemented ? "not implemented" : "none";
}

EncodableValue V(const char* text) { return EncodableValue(text); }
EncodableValue Map(std::initializer_list<std::pair<const char*, EncodableValue>> entries) {
  EncodableMap map;
  for (const auto& entry : entries) map[EncodableValue(entry.first)] = entry.second;
  return EncodableValue(std::move(map));
}
EncodableValue Arg(const char* key, const char* text) { return Map({{key, V(text)}}); }
EncodableValue Int(int64_t n) { return EncodableValue(n); }
const EncodableValue kNone;  // no argument map: every lookup finds nothing
const EncodableValue kU = Arg("usbInstanceId", "U");
const EncodableValue kP = Arg("path", "p");
const EncodableValue kI = Arg("instanceId", "I");
const char kHid[] = "captureHid U -1 35000";  // the defaults
const char kUsb[] = "captureUsb U 6000 1 90000";
const EncodableValue kBytes(std::vector<uint8_t>{1, 2, 3});
const char kMaps[] =
    "ok {{declaredLength=-2,instancePath=HID\\X,interfaceNumber=1,productId=22136,"
    "reportDescriptor=0x0501,vendorId=4660,},}";
const char kCancelled[] = "用户取消了管理员授权";
// The limit counts UTF-16 units, not bytes or characters: 32767 "é" (two
// bytes, one unit each) are as long as Windows takes, 16384 U+1F600 (a
// surrogate pair each) one unit longer.
std::string Repeat(const char* unit, int count) {
  std::string text;
  while (count-- > 0) text += unit;
  return text;
}
const std::string kLongest = Repeat("\xC3\xA9", 32767);
std::string TooLong() { return Repeat("\xF0\x9F\x98\x80", 16384); }
const char kTooLong[] = " 参数超过 32767 个 UTF-16 码元（Windows 能处理的最大长度）";

struct Row {
  const char* method;
  EncodableValue args;
  Mode mode;
  std::string reply;
  std::string log;  // the inputs the operations were handed
};

const std::vector<Row>& Rows() {
  static const auto* rows = new std::vector<Row>{
      {"listHidDevices", kNone, kFailMsg, "error hid-list-failed m", "listHid"},
      {"readHidDescriptors", kP, kFail, "error hid-descriptors-failed ", "readHid p"},
      {"readHidDescriptors", Arg("path", kLongest.c_str()), kOk, "ok v", "readHid " + kLongest},
      {"analyzeHidReportDescriptor", Map({{"descriptor", kBytes}, {"maxPacketSize", Int(65535)}}),
       kOk, "not implemented", ""},
      {"captureHidReportDescriptors", Map({{"usbInstanceId", V("U")}, {"timeoutMs", Int(10)}}), kOk,
       kMaps, "captureHid U -1 5000"},
      {"captureHidReportDescriptors",
       Map({{"usbInstanceId", V("U")},
            {"timeoutMs", Int(int64_t{1} << 40)},
            {"interfaceNumber", Int(0x100000002)}}),
       kOk, kMaps, "captureHid U 2 180000"},
      {"captureHidReportDescriptors", kU, kCancel,
       std::string("error capture-cancelled ") + kCancelled, kHid},
      {"captureHidReportDescriptors", kU, kFail, "error capture-failed 抓取 HID 报告描述符失败",
       kHid},
      {"listUsbDeviceNodes", Map({{"includeHidChildren", EncodableValue(true)}}), kFailMsg,
       "error hid-list-failed m", "listUsb 1"},
      {"readUsbDeviceDiagnostics", Arg("instanceId", std::string(100000, 'I').c_str()), kOk,
       std::string("error no-diagnostics instanceId") + kTooLong, ""},
      {"readUsbDeviceDiagnostics", kI, kFail, "error no-diagnostics 读取 USB 设备诊断信息失败",
       "diag I"},
      {"resetHidDevice", kU, kCancel, "error reset-failed 复位 USB 设备失败", "reset U"},
      {"usbCaptureCapabilities", kU, kOk, "ok v", "caps U"},
      {"captureUsbEnumeration",
       Map({{"usbInstanceId", V("U")},
            {"durationMs", Int(1)},
            {"includeHidReports", EncodableValue(false)},
            {"timeoutMs", Int(0x1FFFFFFFF)}}),
       kOk, "ok v", "captureUsb U 1 0 -1"},
      {"captureUsbEnumeration", kU, kFail, "error capture-failed 抓取 USB 枚举事件失败", kUsb},
      {"openHidInput", kP, kFailMsg, "error hid-open-input-failed m", "openHid p"},
      {"openHidInput",
       Map({{"path", V("p")}, {"decode", EncodableValue(true)}, {"inputBuffers", Int(512)}}), kOk,
       "ok null", "openHid p decode buffers 512"},
      {"readHidFeature", Map({{"path", V("p")}, {"reportId", Int(255)}, {"decode", V("yes")}}), kOk,
       "ok v", "readReport p 2 255 0"},
      {"readHidInputReport", kP, kFail, "error hid-read-input-failed ", "readReport p 0 0 0"},
      {"readHidInputReport", Map({{"path", V("p")}, {"reportId", Int(256)}}), kOk,
       "error hid-invalid-argument reportId 参数必须在 0 到 255 之间", ""},
      {"closeHidInput", kNone, kOk, "ok null", "closeHid "},  // not validated
      {"writeHidOutput", Map({{"path", V("p")}, {"data", kBytes}}), kFailMsg,
       "error hid-write-output-failed m", "writeHid p 010203 0"},
      {"writeHidFeature", Map({{"path", V("p")}, {"data", V("AQID")}}), kFailMsg,
       "error hid-write-feature-failed m", "writeHid p 010203 1"},
      // The chatter threshold: clamped to 1..500 ms, 30 when not an integer.
      {"startRawInput", Map({{"chatterThresholdMs", Int(0)}}), kOk, "ok null", "startRaw 1 0"},
      {"startRawInput", Map({{"chatterThresholdMs", Int(int64_t{1} << 40)}}), kOk, "ok null",
       "startRaw 500 0"},
      {"startRawInput", Arg("chatterThresholdMs", "20"), kFailMsg, "error raw-input-start-failed m",
       "startRaw 30 0"},
      {"startRawInput", Map({{"ownThread", EncodableValue(true)}}), kOk, "ok null",
       "startRaw 30 1"},
      {"stopRawInput", kNone, kOk, "ok null", "stopRaw"},
      {"listRawInputDevices", kNone, kOk, "ok v", "listRaw"},
      {"listSerialPorts", kNone, kFailMsg, "error serial-list-failed m", "listSerial"},
      {"openSerial", Arg("port", "COM3"), kOk, "ok 1", "openSerial COM3 9600"},
      {"openSerial", Arg("port", TooLong().c_str()), kOk,
       std::string("error serial-invalid-port port") + kTooLong, ""},
      {"openSerial", Map({{"port", V("COM3")}, {"baudRate", EncodableValue(115200)}}), kFailMsg,
       "error serial-open-failed m", "openSerial COM3 115200"},
      {"writeSerial", Map({{"handle", Int(7)}, {"data", kBytes}}), kFailMsg,
       "error serial-write-failed m", "writeSerial 7 010203"},
      {"closeSerial", Map({{"handle", EncodableValue(3)}}), kOk, "ok null", "closeSerial 3"},
      {"startKeyBlock", kNone, kFail,
       "error key-block-start-failed 无法安装键盘钩子（WH_KEYBOARD_LL）", "startKeyBlock"},
      {"startKeyBlock", kNone, kFailMsg, "error key-block-start-failed m", "startKeyBlock"},
      {"stopKeyBlock", kNone, kOk, "ok null", "stopKeyBlock"},
      {"pickSaveFile",
       Map({{"suggestedName", V("r.html")},
            {"defaultDirectory", V("C:\\d")},
            {"filterName", V("F")},
            {"filterExtensions",
             EncodableValue(EncodableList{V("htm"), EncodableValue(1), V("txt")})}}),
       kOk, "ok v", "pick r.html|C:\\d|F|htm,txt,"},
      {"pickSaveFile", kNone, kCancel, "ok null", "pick ||HTML 报告|html,"},
      {"pickSaveFile", Arg("defaultDirectory", TooLong().c_str()), kOk,
       std::string("error file-dialog-failed defaultDirectory") + kTooLong, ""},
      {"pickSaveFile", kNone, kFailMsg, "error file-dialog-failed m", "pick ||HTML 报告|html,"},
      {"noSuchMethod", kNone, kOk, "not implemented", ""},
  };
  return *rows;
}

// The methods that hand their reply to a job once their arguments pass.
bool IsJob(const std::string& method) {
  return std::string(
             " readHidDescriptors captureHidReportDescriptors readUsbDeviceDiagnostics "
             "resetHidDevice captureUsbEnumeration pickSaveFile readHidFeature "
             "readHidInputReport ")
             .find(" " + method + " ") != std::string::npos;
}

class DispatchTest : public testing_support::AttachedBridgeTest<> {
 protected:
  BridgeOperations Operations() override { return FakeOperations(&state_); }
  FakeState state_;
};

TEST_F(DispatchTest, EveryMethodOfTheTable) {
  for (const Row& row : Rows()) {
    SCOPED_TRACE(std::string(row.method) + " " + row.reply);
    state_.mode = row.mode;
    state_.log.clear();
    auto record = Call(row.method, row.args);
    // Sync methods and refused arguments answer before the call returns; a
    // job's reply waits for the window thread's drain.
    EXPECT_EQ(record->replies, IsJob(row.method) && !row.log.empty() ? 0 : 1);
    ASSERT_TRUE(PumpUntil(poster_, bridge_, [&] { return record->replies > 0; }));
    ASSERT_TRUE(testing_support::WaitForJobs(bridge_));
    EXPECT_EQ(record->replies, 1);
    EXPECT_EQ(Text(*record), row.reply);
    EXPECT_EQ(state_.log, row.log);
  }
}

TEST_F(DispatchTest, JobsNeedAnAttachedWindowButArgumentErrorsComeFirst) {
  bridge_.Detach();
  state_.log.clear();
  EXPECT_EQ(Text(*Call("readHidDescriptors", kP)),
            "error native-async-unavailable 原生窗口尚未就绪");
  EXPECT_EQ(state_.log, "");
  EXPECT_EQ(Call("readHidDescriptors", kNone)->code, "hid-invalid-path");
}

TEST_F(DispatchTest, DetachStopsTheFeaturesInOrderAndAttachDetachesFirst) {
  state_.log.clear();
  bridge_.Attach(&messenger_, FakeWindow());
  bridge_.Attach(nullptr, FakeWindow());  // no messenger: ignored
  bridge_.Detach();
  const std::string detach = "stopKeyBlock; stopRaw; rawWindow null; closeAllHid; closeAllSerial";
  EXPECT_EQ(state_.log, detach + "; rawWindow; " + detach);
}

// Without operations every method answers not-implemented, after its
// argument checks (rows that reach no operation answer as they did).
using NoOperationsTest = testing_support::AttachedBridgeTest<>;

TEST_F(NoOperationsTest, ArgumentChecksThenNotImplemented) {
  for (const Row& row : Rows()) {
    EXPECT_EQ(Text(*Call(row.method, row.args)), row.log.empty() ? row.reply : "not implemented")
        << row.method;
  }
  EXPECT_EQ(Call("openHidInput", Map({{"path", V("p")}, {"inputBuffers", Int(1)}}))->code,
            "hid-invalid-argument");
  // Usage pages and usages of 0 to 65535 pass on to the missing operation.
  const int64_t usages[][2] = {{0, 0xFFFF}, {0xFFFF, 0}, {-1, 0}, {0x10000, 0}, {0, 0x10000}};
  for (int i = 0; i < 5; ++i) {
    const EncodableList values{
        Map({{"usagePage", Int(usages[i][0])}, {"usage", Int(usages[i][1])}})};
    const auto reply = Call("encodeHidReport", Map({{"descriptor", kBytes}, {"values", values}}));
    EXPECT_EQ(reply->code, i < 2 ? "" : "hid-invalid-argument") << i;
  }
}

constexpr char kMethods[] = "vek_tool/native";
constexpr char kEvents[] = "vek_tool/native_events";

using ChannelsTest = testing_support::AttachedBridgeTest<FakeBinaryMessenger>;

TEST_F(ChannelsTest, CallsAndEventsTravelEncodedUntilDetach) {
  auto unknown = messenger_.DeliverCall(kMethods, "listHidDevices");  // no operations
  EXPECT_EQ(unknown->replies, 1);
  EXPECT_TRUE(unknown->reply.empty());  // not implemented
  EXPECT_EQ(ToHex(messenger_.DeliverCall(kEvents, "listen")->reply), "0000");
  bridge_.EmitEvent(EncodableMap{{EncodableValue("seq"), EncodableValue(int32_t{1})}});
  poster_.Pump(bridge_);
  ASSERT_EQ(messenger_.sent.size(), 1u);
  EXPECT_EQ(messenger_.sent[0].channel, kEvents);
  EXPECT_EQ(ToHex(messenger_.sent[0].message), "000d0107037365710301000000");
  EXPECT_EQ(ToHex(messenger_.DeliverCall(kEvents, "cancel")->reply), "0000");
  bridge_.EmitEvent(EncodableMap{});
  poster_.Pump(bridge_);
  EXPECT_EQ(messenger_.sent.size(), 1u);
  // No stream left to cancel: an error envelope.
  EXPECT_EQ(ToHex(messenger_.DeliverCall(kEvents, "cancel")->reply).substr(0, 2), "01");
  // Neither a method call nor one the stream knows: answered, not implemented.
  EXPECT_EQ(messenger_.Deliver(kEvents, {0xFF})->replies, 1);
  EXPECT_EQ(messenger_.DeliverCall(kEvents, "pause")->replies, 1);

  bridge_.Detach();
  EXPECT_FALSE(messenger_.HasHandler(kMethods));
  EXPECT_FALSE(messenger_.HasHandler(kEvents));
}

// Number conversions and base64 that the table leaves out.
TEST(BridgeArgumentsTest, ReadersNeverFailAndNeverOverflow) {
  const EncodableValue args = Map({{"a", EncodableValue(-7000.9)}, {"b", EncodableValue(1e19)}});
  EXPECT_EQ(IntegerArgument(&args, "a", 42), -7000);
  EXPECT_EQ(IntegerArgument(&args, "b", 42), std::numeric_limits<int64_t>::max());
  // Base64 skips what is not in its alphabet (every edge of which is here)
  // and drops partial bytes.
  EXPECT_EQ(DecodeBase64Lenient("AZ\naz-09_+/="),
            (std::vector<uint8_t>{0x01, 0x96, 0xB3, 0xD3, 0xDF, 0xBF}));
  EXPECT_EQ(DecodeBase64Lenient("TWE"), (std::vector<uint8_t>{'M', 'a'}));
}

TEST(SaveDialogTest, OneFileTypeFromTheNonEmptyExtensions) {
  EXPECT_EQ(SaveDialogFileTypeFor("", {"html", "", "htm"}).pattern, "*.html;*.htm");
  EXPECT_EQ(SaveDialogFileTypeFor("", {""}).pattern, "*.*");
  EXPECT_EQ(SaveDialogFileTypeFor("", {}).name, "HTML 报告");
  EXPECT_EQ(SaveDialogFileTypeFor("表格", {"csv"}).name, "表格");
  EXPECT_EQ(SaveDialogDefaultExtension({"txt", "csv"}), "txt");
}

TEST(SaveDialogTest, FailureMessagesCarryTheHresult) {
  const std::pair<SaveDialogStep, const char*> cases[] = {
      {SaveDialogStep::kComInit, "保存对话框线程 COM 初始化失败（HRESULT 0x8000FFFF）"},
      {SaveDialogStep::kCreate, "创建保存对话框失败（HRESULT 0x8000FFFF）"},
      {SaveDialogStep::kShow, "保存对话框显示失败（HRESULT 0x8000FFFF）"},
      {SaveDialogStep::kGetResult, "保存对话框未返回文件（HRESULT 0x8000FFFF）"},
  };
  for (const auto& c : cases) EXPECT_EQ(SaveDialogFailureMessage(c.first, 0x8000ffffu), c.second);
}

}  // namespace
}  // namespace vek_native
