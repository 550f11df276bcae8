#include "capture/trace_session.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "capture/trace_text.h"
#include "support/fake_capture_system.h"

namespace vek_native {
namespace {

const std::string kName = "vek_tool_cap_4242_123456789012";
const std::string kTrace = "C:\\Users\\u\\AppData\\Local\\Temp\\" + kName + ".etl";

// EVENT_TRACE_PROPERTIES of the 64-bit build: size, zero GUID, QPC clock,
// traced-GUID flag, 64 KiB buffers, 64 MiB sequential file, 1 s flush, then
// the name at 120 and the path at the next multiple of 8.
TEST(TraceSessionTest, PropertiesBlock) {
  std::vector<uint8_t> block;
  ASSERT_TRUE(BuildTraceProperties(u"a\u4E2Dc", u"C:\\x", &block));
  EXPECT_EQ(BytesToHex(block), "8A000000" + std::string(72, '0') + "010000000000020040000000" +
                                   std::string(16, '0') + "400000000100000001000000" +
                                   std::string(80, '0') + "8000000078000000" +
                                   "61002D4E6300000043003A005C0078000000");
  EXPECT_FALSE(BuildTraceProperties(u"abc", std::u16string(32703, u'p'), &block));
  // So a temporary directory that long gives no session.
  FakeFileSystem files;
  files.temp_directory = std::string(32700, 'p');
  FakeTraceApi api(&files);
  TraceSession session(&api);
  std::string error;
  EXPECT_FALSE(StartTraceSession(session, &error));
  EXPECT_EQ(error, "ETW 会话名称过长，无法创建跟踪会话");
}

// A leftover session of the same name is stopped by name and the start
// repeated once with a fresh block. Providers are refused unless started; a
// running session is stopped when it goes, and its file always goes with it.
TEST(TraceSessionTest, StartEnableStopAndTheFileGoesWithTheSession) {
  const std::string start = "start " + kName, stop0 = "stop 0 " + kName,
                    stop77 = "stop 77 " + kName, remove = "remove " + kTrace;
  const std::tuple<std::deque<uint32_t>, std::string, std::vector<std::string>> cases[] = {
      {{183, 0}, "", {start, stop0, start, "enable", stop77, remove}},
      {{183, 183}, "无法启动 ETW 跟踪会话（错误码 183）", {start, stop0, start, remove}},
      {{5}, "无法启动 ETW 跟踪会话（错误码 5）", {start, remove}}};
  for (const auto& [results, expected_error, calls] : cases) {
    FakeFileSystem files;
    FakeTraceApi api(&files);
    api.start_results = results;
    api.enable_results = {87};
    {
      TraceSession session(&api);
      std::string error;
      EXPECT_EQ(StartTraceSession(session, &error), expected_error.empty());
      EXPECT_EQ(error, expected_error);
      EXPECT_EQ(session.handle(), expected_error.empty() ? 77u : 0u);
      EXPECT_FALSE(EnableTraceProvider(session, kCaptureProviderTable[0].guid, &error));
      EXPECT_EQ(error, expected_error.empty() ? "无法启用 HID 类驱动 ETW 提供程序（错误码 87）"
                                              : "ETW 跟踪会话未启动");
    }
    EXPECT_EQ(api.calls, calls);
    EXPECT_TRUE(files.files.empty());
    EXPECT_EQ(api.start_blocks.front(), api.start_blocks.back());
  }
}

// TdhEnumerateProviders' block: a count, 4 reserved bytes, 24-byte entries
// that start with the GUID in memory order, and 16 bytes that make no entry.
std::vector<uint8_t> ProviderBlock(const std::vector<TraceGuid>& guids, uint8_t claimed) {
  std::vector<uint8_t> b(8 + guids.size() * 24 + 16, 0);
  b[0] = claimed;
  for (size_t i = 0; i < guids.size(); ++i) TraceGuidToBytes(guids[i], b.data() + 8 + i * 24);
  return b;
}

TEST(TraceSessionTest, Providers) {
  // The manifests' {AC52AD17-CC01-4F85-8DF5-4DCE4333C99B} USBHUB3,
  // {C88A4EF5-D048-4013-9408-E04B7DB2814A} USBPORT, {30E1D284-5D88-459C-83FD-6345B39B19EC}
  // USBXHCI and {6465DA78-E7A0-4F39-B084-8F53C7C30DC6} Input-HIDCLASS, as Windows lays them out.
  std::string guids;
  for (const CaptureProvider& p : kCaptureProviderTable) {
    uint8_t bytes[17];
    bytes[16] = 0xEE;  // past the GUID: left alone
    TraceGuidToBytes(p.guid, bytes);
    guids += BytesToHex(bytes, 17) + " ";
  }
  EXPECT_EQ(guids,
            "17AD52AC01CC854F8DF54DCE4333C99BEE F54E8AC848D013409408E04B7DB2814AEE "
            "84D2E130885D9C4583FD6345B39B19ECEE 78DA6564A0E7394FB0848F53C7C30DC6EE ");
  // What each reader makes of a provider list: found or the error, then the
  // error or the providers listed.
  // The other provider's GUID differs from HIDCLASS's in Data1 alone.
  const TraceGuid hid = kCaptureProviderTable[3].guid;
  TraceGuid other = hid;
  other.data1 ^= 1;
  const auto read = [&](uint32_t size_result, uint32_t list_result, std::vector<uint8_t> block) {
    FakeFileSystem files;
    FakeTraceApi api(&files);
    api.size_result = size_result;
    api.list_result = list_result;
    api.provider_block = block;
    std::string found, listed;
    std::vector<TraceGuid> guids = {hid};
    if (HasHidClassProvider(api, &found)) found = "found";
    if (ListTraceProviderGuids(api, &guids, &listed)) {
      for (const TraceGuid& g : guids) listed += g == hid ? "hid " : "other ";
    }
    return found + " | " + listed;
  };
  const std::string kMissing =
      "系统未提供 HID 类 ETW "
      "提供程序（Microsoft-Windows-Input-HIDCLASS），无法抓取原始报告描述符。";
  EXPECT_EQ(read(122, 0, ProviderBlock({hid, other}, 2)), "found | hid other ");
  EXPECT_EQ(read(0, 0, ProviderBlock({other, hid}, 200)), "found | other hid ");  // bounded by size
  EXPECT_EQ(read(122, 0, ProviderBlock({other, hid}, 1)), kMissing + " | other ");
  EXPECT_EQ(read(122, 8, ProviderBlock({hid}, 1)),
            "无法枚举系统 ETW 提供程序（TdhEnumerateProviders 错误码 8）。 | "
            "读取系统 ETW 提供程序列表失败（错误码 8）。");
  EXPECT_EQ(read(5, 0, {}),
            "无法枚举系统 ETW 提供程序（TdhEnumerateProviders 错误码 5）。 | "
            "无法枚举系统 ETW 提供程序（错误码 5）。");
  EXPECT_EQ(read(122, 0, {}), kMissing + " | 系统 ETW 提供程序列表为空。");
}

TEST(TraceSessionTest, Tracerpt) {
  const std::string kTracerpt = "C:\\Windows\\system32\\tracerpt.exe";
  // The conversion's error ("" on success) and whether the child was ended,
  // for GetSystemDirectoryW's result and a converter that may not end in time
  // or write the XML (exit code 3: no verdict).
  const auto convert = [&](uint32_t length, ProcessWait wait, bool writes) {
    FakeFileSystem files;
    files.files[kTracerpt] = "exe";
    FakeTraceApi api(&files);
    api.system_length = length;
    api.wait = wait;
    api.converter_writes_xml = writes;
    api.exit_code = 3;
    EXPECT_EQ(IsTracerptAvailable(api), length != 0 && length < 260);
    std::string error;
    const bool converted = ConvertTraceToXml(api, u"C:\\t\\a.etl", u"C:\\t\\a.xml", &error);
    EXPECT_EQ(converted, error.empty());
    EXPECT_EQ(api.open_processes, 0);
    return error + (std::count(api.calls.begin(), api.calls.end(), "kill 1") ? " (ended)" : "");
  };
  const auto kExited = ProcessWait::kExited;
  EXPECT_EQ(convert(259, kExited, true), "");
  EXPECT_EQ(convert(19, kExited, false), "tracerpt.exe 未生成 XML（退出码 3）");
  EXPECT_EQ(convert(19, ProcessWait::kTimedOut, true), "tracerpt.exe 转换 ETW 跟踪超时 (ended)");
  EXPECT_EQ(convert(19, ProcessWait::kFailed, true), " (ended)");  // its XML still counts
  EXPECT_EQ(convert(260, kExited, true), "无法获取系统目录（错误码 5）");
  FakeFileSystem files;
  FakeTraceApi api(&files);
  ASSERT_TRUE(ConvertTraceToXml(api, u"C:\\t\\a.etl", u"C:\\t\\a.xml", nullptr));
  EXPECT_EQ(api.calls, (std::vector<std::string>{"run \"" + kTracerpt +
                                                     "\" \"C:\\t\\a.etl\" -of XML -o "
                                                     "\"C:\\t\\a.xml\" -lr -y",
                                                 "wait 120000"}));
  // Only a dot in the last name starts an extension.
  EXPECT_EQ(ReplaceExtension(u"C:\\t\\a.etl", u".xml"), u"C:\\t\\a.xml");
  EXPECT_EQ(ReplaceExtension(u"C:\\t.d\\a", u".xml"), u"C:\\t.d\\a.xml");
}

}  // namespace
}  // namespace vek_native
