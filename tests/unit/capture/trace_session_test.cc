#include "capture/trace_session.h"

#include <gtest/gtest.h>

#include <deque>
#include <set>

namespace vek_native {
namespace {

uint32_t Read32(const std::vector<uint8_t>& b, uint32_t offset) {
  return b[offset] | b[offset + 1] << 8 | b[offset + 2] << 16 |
         static_cast<uint32_t>(b[offset + 3]) << 24;
}

std::u16string ReadString(const std::vector<uint8_t>& b, uint32_t offset) {
  std::u16string s;
  for (uint32_t i = offset; i + 1 < b.size(); i += 2) {
    const char16_t c = static_cast<char16_t>(b[i] | b[i + 1] << 8);
    if (c == 0) break;
    s.push_back(c);
  }
  return s;
}

std::vector<uint8_t> ProviderBlock(const std::vector<TraceGuid>& guids, uint32_t claimed) {
  std::vector<uint8_t> b(8 + guids.size() * 24, 0);
  b[0] = static_cast<uint8_t>(claimed);
  for (size_t i = 0; i < guids.size(); ++i) TraceGuidToBytes(guids[i], b.data() + 8 + i * 24);
  return b;
}

// A machine whose answers each test sets, recording what was asked of it.
class FakeTraceApi : public TraceApi {
 public:
  std::u16string temp_dir = u"C:\\Users\\me\\AppData\\Local\\Temp\\";
  uint32_t temp_error = 0;  // non-zero: GetTempPathW fails with it
  std::deque<uint32_t> start_results;
  std::vector<std::u16string> calls;
  std::vector<std::vector<uint8_t>> start_blocks;
  uint32_t enable_result = 0;
  EnableTraceParameters enable_parameters;
  TraceGuid enabled;
  std::set<std::u16string> removed;

  uint32_t size_result = 122;
  uint32_t list_result = 0;
  std::vector<uint8_t> provider_block;
  int enumerate_calls = 0;

  uint32_t system_length = 19;
  std::u16string system_dir = u"C:\\Windows\\system32";
  std::set<std::u16string> files;    // paths with attributes 0x20
  std::set<std::u16string> folders;  // paths with attributes 0x10
  bool start_process_ok = true;
  ProcessWait wait = ProcessWait::kExited;
  bool exit_code_ok = true;
  uint32_t exit_code = 0;
  std::u16string application, command_line;
  uint32_t timeout_ms = 0;
  int open_processes = 0;
  std::vector<uint32_t> kills;
  bool creates_xml = false;

  bool ReadTempDirectory(std::u16string* directory, uint32_t* error) override {
    if (temp_error != 0) {
      *error = temp_error;
      return false;
    }
    *directory = temp_dir;
    return true;
  }
  uint32_t CurrentProcessId() override { return 4242; }
  uint64_t TickCount() override { return 123456789012ULL; }
  uint32_t StartSession(uint64_t* handle, const std::u16string& name,
                        std::vector<uint8_t>* properties) override {
    calls.push_back(u"start " + name);
    start_blocks.push_back(*properties);
    const uint32_t r = start_results.empty() ? 0 : start_results.front();
    if (!start_results.empty()) start_results.pop_front();
    *handle = r == 0 ? 77 : 0xDEAD;  // a failed start may still scribble on the handle
    return r;
  }
  uint32_t StopSession(uint64_t handle, const std::u16string& name,
                       std::vector<uint8_t>* properties) override {
    calls.push_back(u"stop " + std::u16string(1, static_cast<char16_t>(u'0' + handle % 10)) + u" " +
                    name);
    // Windows writes the stopped session's properties back into the block.
    std::fill(properties->begin(), properties->end(), 0xCD);
    return 0;
  }
  uint32_t EnableProvider(uint64_t handle, const TraceGuid& provider,
                          const EnableTraceParameters& parameters) override {
    calls.push_back(u"enable");
    enabled = provider;
    enable_parameters = parameters;
    return enable_result;
  }
  uint32_t EnumerateProviders(uint8_t* buffer, uint32_t* size) override {
    ++enumerate_calls;
    if (buffer == nullptr) {
      *size = static_cast<uint32_t>(provider_block.size());
      return size_result;
    }
    if (list_result != 0) return list_result;
    std::copy(provider_block.begin(), provider_block.end(), buffer);
    return 0;
  }
  uint32_t ReadSystemDirectory(std::u16string* directory, uint32_t* error) override {
    *error = 5;
    if (system_length > 0 && system_length < 260) *directory = system_dir;
    return system_length;
  }
  bool ReadFileAttributes(const std::u16string& path, uint32_t* attributes) override {
    if (files.count(path))
      *attributes = 0x20;
    else if (folders.count(path))
      *attributes = 0x10;
    else
      return false;
    return true;
  }
  void RemoveFile(const std::u16string& path) override { removed.insert(path); }
  bool StartHiddenProcess(const std::u16string& app, const std::u16string& line, uintptr_t* process,
                          uint32_t* error) override {
    application = app;
    command_line = line;
    if (!start_process_ok) {
      *error = 2;
      return false;
    }
    ++open_processes;
    *process = 9;
    return true;
  }
  ProcessWait WaitForProcess(uintptr_t process, uint32_t timeout) override {
    timeout_ms = timeout;
    return wait;
  }
  void KillProcess(uintptr_t process, uint32_t code) override { kills.push_back(code); }
  bool ReadProcessExitCode(uintptr_t process, uint32_t* code, uint32_t* error) override {
    EXPECT_EQ(*code, 1u);  // initialised before the call
    if (!exit_code_ok) {
      *error = 6;
      return false;
    }
    *code = exit_code;
    if (creates_xml) files.insert(u"C:\\t\\a.xml");
    return true;
  }
  void CloseProcess(uintptr_t process) override { --open_processes; }
};

TEST(BuildTracePropertiesTest, LayoutOfTheBlock) {
  std::vector<uint8_t> block;
  ASSERT_TRUE(BuildTraceProperties(u"abc", u"C:\\x.etl", &block));
  namespace tp = trace_properties;
  // Name "abc" + terminator = 8 bytes at 120; the path starts at 128.
  EXPECT_EQ(block.size(), 128u + 9 * 2);
  const std::pair<uint32_t, uint32_t> fields[] = {
      {tp::kWnodeBufferSize, 146},  {tp::kWnodeClientContext, 1}, {tp::kWnodeFlags, 0x00020000},
      {tp::kBufferSize, 64},        {tp::kMinimumBuffers, 0},     {tp::kMaximumBuffers, 0},
      {tp::kMaximumFileSize, 64},   {tp::kLogFileMode, 1},        {tp::kFlushTimer, 1},
      {tp::kLoggerNameOffset, 120}, {tp::kLogFileNameOffset, 128}};
  for (const auto& f : fields) EXPECT_EQ(Read32(block, f.first), f.second) << f.first;
  for (uint32_t i = tp::kWnodeGuid; i < tp::kWnodeGuid + 16; ++i) EXPECT_EQ(block[i], 0) << i;
  EXPECT_EQ(ReadString(block, 120), u"abc");
  EXPECT_EQ(ReadString(block, 128), u"C:\\x.etl");
  EXPECT_EQ(block[126], 0);  // padding between the strings stays zero
  EXPECT_EQ(block.back(), 0);
}

TEST(BuildTracePropertiesTest, RoundingAndSizeLimit) {
  struct Case {
    size_t name_length, path_length;
    bool ok;
    uint32_t log_offset;
  };
  const Case cases[] = {
      {0, 0, true, 128},  // 2 bytes round up to 8
      {2, 0, true, 128},  // 6 bytes
      {3, 0, true, 128},  // exactly 8 bytes
      {4, 0, true, 136},  // 10 bytes round up to 16
      // The block is always even in size: 65534 is the largest that fits.
      {3, (65534 - 128) / 2 - 1, true, 128},
      {3, (65536 - 128) / 2 - 1, false, 0},
      {40000, 1, false, 0},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> block = {1};
    const bool ok = BuildTraceProperties(std::u16string(c.name_length, u'n'),
                                         std::u16string(c.path_length, u'p'), &block);
    EXPECT_EQ(ok, c.ok) << c.name_length << "/" << c.path_length;
    if (!ok) {
      EXPECT_TRUE(block.empty());
      continue;
    }
    EXPECT_EQ(Read32(block, trace_properties::kLogFileNameOffset), c.log_offset);
    EXPECT_EQ(block.size(), c.log_offset + (c.path_length + 1) * 2);
    EXPECT_LE(block.size(), 65535u);
  }
}

TEST(TraceSessionTest, StartNamesTheSessionAndTheFile) {
  FakeTraceApi api;
  {
    TraceSession session(&api);
    std::string error;
    ASSERT_TRUE(StartTraceSession(session, &error)) << error;
    EXPECT_EQ(session.name(), u"vek_tool_cap_4242_123456789012");
    EXPECT_EQ(session.log_path(),
              u"C:\\Users\\me\\AppData\\Local\\Temp\\vek_tool_cap_4242_123456789012.etl");
    EXPECT_TRUE(session.started());
    EXPECT_EQ(session.handle(), 77u);
    ASSERT_EQ(api.start_blocks.size(), 1u);
    EXPECT_EQ(ReadString(api.start_blocks[0], 120), session.name());

    ASSERT_TRUE(
        EnableTraceProvider(session, kCaptureProviderTable[kHidClassProviderIndex].guid, &error));
    EXPECT_EQ(api.enabled, kCaptureProviderTable[3].guid);
    EXPECT_EQ(api.enable_parameters.control_code, 1u);
    EXPECT_EQ(api.enable_parameters.level, 5u);
    EXPECT_EQ(api.enable_parameters.match_any_keyword, 0xFFFFFFFFFFFFFFFFULL);
    EXPECT_EQ(api.enable_parameters.match_all_keyword, 0u);
    EXPECT_EQ(api.enable_parameters.timeout, 0u);

    StopTraceSession(session);
    EXPECT_FALSE(session.started());
    EXPECT_EQ(session.handle(), 0u);
    EXPECT_TRUE(api.removed.empty());  // the file stays until the session goes
    StopTraceSession(session);         // a second stop calls nothing
  }
  EXPECT_EQ(api.calls,
            (std::vector<std::u16string>{u"start vek_tool_cap_4242_123456789012", u"enable",
                                         u"stop 7 vek_tool_cap_4242_123456789012"}));
  EXPECT_EQ(
      api.removed.count(u"C:\\Users\\me\\AppData\\Local\\Temp\\vek_tool_cap_4242_123456789012.etl"),
      1u);
}

// A leftover session of the same name is stopped and the start repeated
// once. A failed start never stops anything, refuses providers, and still
// deletes the file when the session goes.
TEST(TraceSessionTest, LeftoverSessionIsStoppedAndTheStartRepeatedOnce) {
  struct Case {
    std::deque<uint32_t> results;
    bool ok;
    std::string error;
  };
  const Case cases[] = {
      {{183, 0}, true, ""},
      {{183, 183}, false, "无法启动 ETW 跟踪会话（错误码 183）"},
      {{5}, false, "无法启动 ETW 跟踪会话（错误码 5）"},
  };
  for (const Case& c : cases) {
    FakeTraceApi api;
    api.start_results = c.results;
    {
      TraceSession session(&api);
      std::string error;
      EXPECT_EQ(StartTraceSession(session, &error), c.ok);
      EXPECT_EQ(error, c.error);
      EXPECT_EQ(session.started(), c.ok);
      EXPECT_EQ(session.handle(), c.ok ? 77u : 0u);
      if (c.results.size() == 2) {
        ASSERT_EQ(api.calls.size(), 3u);
        EXPECT_EQ(api.calls[1], u"stop 0 vek_tool_cap_4242_123456789012");  // by name, handle 0
        // The retry gets a fresh block, not the one the stop call overwrote.
        EXPECT_EQ(api.start_blocks[1], api.start_blocks[0]);
      } else {
        EXPECT_EQ(api.calls.size(), 1u);
      }
      if (!c.ok) {
        EXPECT_FALSE(EnableTraceProvider(session, kCaptureProviderTable[0].guid, &error));
        EXPECT_EQ(error, "ETW 跟踪会话未启动");
        EXPECT_FALSE(EnableTraceProvider(session, kCaptureProviderTable[0].guid, nullptr));
      }
    }
    EXPECT_EQ(api.calls.size(), c.ok ? 4u : c.results.size() * 2 - 1);
    EXPECT_EQ(api.removed.size(), 1u);
  }
}

TEST(TraceSessionTest, StartFailuresBeforeTheCall) {
  {
    FakeTraceApi api;
    api.temp_error = 3;
    TraceSession session(&api);
    std::string error;
    EXPECT_FALSE(StartTraceSession(session, &error));
    EXPECT_EQ(error, "无法获取临时目录（错误码 3）");
  }
  {
    FakeTraceApi api;
    api.temp_dir = std::u16string(65000, u't');
    {
      TraceSession session(&api);
      std::string error;
      EXPECT_FALSE(StartTraceSession(session, &error));
      EXPECT_EQ(error, "ETW 会话名称过长，无法创建跟踪会话");
    }
    EXPECT_TRUE(api.calls.empty());  // StartTraceW never called
  }
}

// A session destroyed while running is stopped and its file deleted, also
// after a provider failed to enable.
TEST(TraceSessionTest, EnableFailureAndDestroyingARunningSession) {
  FakeTraceApi api;
  api.enable_result = 87;
  {
    TraceSession session(&api);
    ASSERT_TRUE(StartTraceSession(session, nullptr));
    std::string error;
    EXPECT_FALSE(EnableTraceProvider(session, kCaptureProviderTable[0].guid, &error));
    EXPECT_EQ(error, "无法启用 HID 类驱动 ETW 提供程序（错误码 87）");
  }
  EXPECT_EQ(api.calls.back(), u"stop 7 vek_tool_cap_4242_123456789012");
  EXPECT_EQ(api.removed.size(), 1u);
}

TEST(ProviderDiscoveryTest, HasHidClassProvider) {
  const TraceGuid hid = kCaptureProviderTable[kHidClassProviderIndex].guid;
  const TraceGuid hub = kCaptureProviderTable[0].guid;
  const std::string kMissing =
      "系统未提供 HID 类 ETW "
      "提供程序（Microsoft-Windows-Input-HIDCLASS），无法抓取原始报告描述符。";
  struct Case {
    const char* what;
    uint32_t size_result, list_result;
    std::vector<uint8_t> block;
    bool ok;
    std::string error;
    int calls;
  };
  std::vector<uint8_t> short_block(31, 0);
  const Case cases[] = {
      {"present", 122, 0, ProviderBlock({hub, hid}, 2), true, "", 2},
      {"size 0 from a successful size call", 0, 0, {}, false, kMissing, 1},
      {"under 32 bytes: no second call", 122, 0, short_block, false, kMissing, 1},
      {"absent", 122, 0, ProviderBlock({hub}, 1), false, kMissing, 2},
      {"count beyond the block is not trusted", 122, 0, ProviderBlock({hub}, 200), false, kMissing,
       2},
      {"entries beyond the count are ignored", 122, 0, ProviderBlock({hub, hid}, 1), false,
       kMissing, 2},
      {"size call fails", 5, 0, ProviderBlock({hid}, 1), false,
       "无法枚举系统 ETW 提供程序（TdhEnumerateProviders 错误码 5）。", 1},
      {"second call fails", 122, 122, ProviderBlock({hid}, 1), false,
       "无法枚举系统 ETW 提供程序（TdhEnumerateProviders 错误码 122）。", 2},
  };
  for (const Case& c : cases) {
    FakeTraceApi api;
    api.size_result = c.size_result;
    api.list_result = c.list_result;
    api.provider_block = c.block;
    std::string error;
    EXPECT_EQ(HasHidClassProvider(api, &error), c.ok) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
    EXPECT_EQ(api.enumerate_calls, c.calls) << c.what;
  }
}

TEST(ProviderDiscoveryTest, ListTraceProviderGuids) {
  const TraceGuid a = kCaptureProviderTable[2].guid;
  const TraceGuid b = kCaptureProviderTable[3].guid;
  struct Case {
    const char* what;
    uint32_t size_result, list_result;
    std::vector<uint8_t> block;
    bool ok;
    std::string error;
    std::vector<TraceGuid> guids;
  };
  // clang-format off
  const Case cases[] = {
      {"in system order", 122, 0, ProviderBlock({b, a}, 2), true, "", {b, a}},
      {"empty list", 122, 0, {}, false, "系统 ETW 提供程序列表为空。", {}},
      {"size call fails", 1168, 0, ProviderBlock({a}, 1), false,
       "无法枚举系统 ETW 提供程序（错误码 1168）。", {}},
      {"second call fails", 122, 8, ProviderBlock({a}, 1), false,
       "读取系统 ETW 提供程序列表失败（错误码 8）。", {}},
      {"claimed count bounded by size", 0, 0, ProviderBlock({a}, 9), true, "", {a}},
  };
  // clang-format on
  for (const Case& c : cases) {
    FakeTraceApi api;
    api.size_result = c.size_result;
    api.list_result = c.list_result;
    api.provider_block = c.block;
    std::vector<TraceGuid> guids = {a, a, a};
    std::string error;
    EXPECT_EQ(ListTraceProviderGuids(api, &guids, &error), c.ok) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
    EXPECT_EQ(guids, c.guids) << c.what;
  }
}

TEST(TraceGuidTest, MemoryOrderRoundTrip) {
  uint8_t bytes[16];
  TraceGuidToBytes(kCaptureProviderTable[3].guid, bytes);
  // {6465DA78-E7A0-4F39-B084-8F53C7C30DC6} as Windows stores it.
  const uint8_t expected[16] = {0x78, 0xDA, 0x65, 0x64, 0xA0, 0xE7, 0x39, 0x4F,
                                0xB0, 0x84, 0x8F, 0x53, 0xC7, 0xC3, 0x0D, 0xC6};
  EXPECT_TRUE(std::equal(bytes, bytes + 16, expected));
  EXPECT_EQ(TraceGuidFromBytes(bytes), kCaptureProviderTable[3].guid);
}

TEST(TracerptTest, Availability) {
  struct Case {
    uint32_t length;
    bool file, folder, available;
  };
  const Case cases[] = {{19, true, false, true},   {19, false, true, false},
                        {19, false, false, false}, {0, true, false, false},
                        {260, true, false, false}, {259, true, false, true}};
  for (const Case& c : cases) {
    FakeTraceApi api;
    api.system_length = c.length;
    if (c.file) api.files.insert(u"C:\\Windows\\system32\\tracerpt.exe");
    if (c.folder) api.folders.insert(u"C:\\Windows\\system32\\tracerpt.exe");
    EXPECT_EQ(IsTracerptAvailable(api), c.available) << c.length;
  }
}

TEST(TracerptTest, ConversionOutcomes) {
  struct Case {
    const char* what;
    uint32_t system_length;
    bool start_ok;
    ProcessWait wait;
    bool exit_ok;
    uint32_t exit_code;
    bool creates_xml;
    bool ok;
    std::string error;
    std::vector<uint32_t> kills;
  };
  const auto kExited = ProcessWait::kExited;
  // clang-format off
  const Case cases[] = {
      {"clean run", 19, true, kExited, true, 0, true, true, "", {}},
      {"non-zero exit but XML written", 19, true, kExited, true, 3, true, true, "", {}},
      {"no XML", 19, true, kExited, true, 3, false, false, "tracerpt.exe 未生成 XML（退出码 3）", {}},
      {"time-out", 19, true, ProcessWait::kTimedOut, true, 0, true, false,
       "tracerpt.exe 转换 ETW 跟踪超时", {1}},
      {"failed wait: the child is ended too", 19, true, ProcessWait::kFailed, true, 1, false, false,
       "tracerpt.exe 未生成 XML（退出码 1）", {1}},
      {"exit code unreadable", 19, true, kExited, false, 0, true, false,
       "无法获取 tracerpt.exe 退出码（错误码 6）", {}},
      {"cannot start", 19, false, kExited, true, 0, true, false, "无法启动 tracerpt.exe（错误码 2）", {}},
      {"no system directory", 0, true, kExited, true, 0, true, false, "无法获取系统目录（错误码 5）", {}},
      {"system directory too long", 300, true, kExited, true, 0, true, false,
       "无法获取系统目录（错误码 5）", {}},
  };
  // clang-format on
  for (const Case& c : cases) {
    FakeTraceApi api;
    api.system_length = c.system_length;
    api.start_process_ok = c.start_ok;
    api.wait = c.wait;
    api.exit_code_ok = c.exit_ok;
    api.exit_code = c.exit_code;
    api.creates_xml = c.creates_xml;
    std::string error;
    EXPECT_EQ(ConvertTraceToXml(api, u"C:\\t\\a.etl", u"C:\\t\\a.xml", &error), c.ok) << c.what;
    EXPECT_EQ(error, c.error) << c.what;
    EXPECT_EQ(api.kills, c.kills) << c.what;
    EXPECT_EQ(api.open_processes, 0) << c.what;
    if (c.start_ok && c.system_length == 19) {
      EXPECT_EQ(api.timeout_ms, 120000u) << c.what;
      EXPECT_EQ(api.application, u"C:\\Windows\\system32\\tracerpt.exe");
      EXPECT_EQ(api.command_line,
                u"\"C:\\Windows\\system32\\tracerpt.exe\" \"C:\\t\\a.etl\" "
                u"-of XML -o \"C:\\t\\a.xml\" -lr -y");
    }
  }
}

TEST(ReplaceExtensionTest, Table) {
  struct Case {
    std::u16string in, out;
  };
  const Case cases[] = {
      {u"C:\\Temp\\vek_tool_cap_12_34.etl", u"C:\\Temp\\vek_tool_cap_12_34.xml"},
      {u"C:\\my.dir\\vek_tool_cap_12_34", u"C:\\my.dir\\vek_tool_cap_12_34.xml"},
      {u"/tmp/a.b/c", u"/tmp/a.b/c.xml"},
      {u"name.tar.etl", u"name.tar.xml"},
      {u"noext", u"noext.xml"},
      {u"C:\\dir\\.etl", u"C:\\dir\\.xml"},
  };
  for (const Case& c : cases) EXPECT_EQ(ReplaceExtension(c.in, u".xml"), c.out);
}

}  // namespace
}  // namespace vek_native
