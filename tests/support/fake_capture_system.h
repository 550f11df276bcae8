// A capture helper's system in memory, on a FakeFileSystem's disk: trace and
// converter calls that succeed unless told otherwise, hub requests that are
// logged, a sleep that only records and fixed clocks.
#ifndef VEK_TESTS_SUPPORT_FAKE_CAPTURE_SYSTEM_H_
#define VEK_TESTS_SUPPORT_FAKE_CAPTURE_SYSTEM_H_

#include <deque>
#include <string>
#include <vector>

#include "capture/capture_support.h"
#include "capture/capture_system.h"
#include "common/text.h"
#include "support/fake_file_system.h"

namespace vek_native {

// A started session creates its trace file; the converter writes `xml` to the
// path after "-o". The calls are logged in order.
class FakeTraceApi : public TraceApi {
 public:
  explicit FakeTraceApi(FakeFileSystem* files) : files_(files) {}

  std::deque<uint32_t> start_results, enable_results;  // per call; then 0
  uint32_t size_result = 122, list_result = 0;         // TdhEnumerateProviders' two calls
  std::vector<uint8_t> provider_block;
  uint32_t system_length = 19;  // GetSystemDirectoryW: 0 fails, 260 and up too long
  bool converter_writes_xml = true;
  ProcessWait wait = ProcessWait::kExited;
  uint32_t exit_code = 0;
  std::string xml;

  std::vector<std::string> calls;
  std::vector<std::vector<uint8_t>> start_blocks;
  int running_sessions = 0, open_processes = 0;

  bool ReadTempDirectory(std::u16string* directory, uint32_t* error) override {
    std::string temp;
    const bool ok = files_->GetTempDirectory(&temp, error);
    *directory = Utf8ToUtf16(temp);
    return ok;
  }
  uint32_t CurrentProcessId() override { return 4242; }
  uint64_t TickCount() override { return 123456789012ULL; }
  uint32_t StartSession(uint64_t* handle, const std::u16string& name,
                        std::vector<uint8_t>* properties) override {
    start_blocks.push_back(*properties);
    const uint32_t result = Log("start " + Utf16ToUtf8(name), &start_results);
    *handle = result == 0 ? 77 : 0xDEAD;  // a failed start may still scribble on the handle
    running_sessions += result == 0 ? 1 : 0;
    if (result == 0) files_->files[files_->temp_directory + Utf16ToUtf8(name) + ".etl"] = "etl";
    return result;
  }
  uint32_t StopSession(uint64_t handle, const std::u16string& name,
                       std::vector<uint8_t>* properties) override {
    running_sessions -= handle != 0 ? 1 : 0;
    // Windows writes the stopped session's properties back into the block.
    std::fill(properties->begin(), properties->end(), 0xCD);
    return Log("stop " + std::to_string(handle) + " " + Utf16ToUtf8(name));
  }
  uint32_t EnableProvider(uint64_t, const TraceGuid&, const EnableTraceParameters&) override {
    return Log("enable", &enable_results);
  }
  uint32_t EnumerateProviders(uint8_t* buffer, uint32_t* size) override {
    *size = static_cast<uint32_t>(provider_block.size());
    if (buffer == nullptr) return size_result;
    std::copy(provider_block.begin(), provider_block.end(), buffer);
    return list_result;
  }
  uint32_t ReadSystemDirectory(std::u16string* directory, uint32_t* error) override {
    *directory = u"C:\\Windows\\system32";
    *error = 5;
    return system_length;
  }
  bool ReadFileAttributes(const std::u16string& path, uint32_t* attributes) override {
    const std::string p = Utf16ToUtf8(path);
    *attributes = files_->directories.count(p) ? 0x10 : 0x20;
    return files_->files.count(p) + files_->directories.count(p) != 0;
  }
  void RemoveFile(const std::u16string& path) override {
    files_->files.erase(Utf16ToUtf8(path));
    Log("remove " + Utf16ToUtf8(path));
  }
  bool StartHiddenProcess(const std::u16string&, const std::u16string& command_line,
                          uintptr_t* process, uint32_t*) override {
    const std::string line = Utf16ToUtf8(command_line);
    calls.push_back("run " + line);
    const size_t o = line.find("-o \"") + 4;
    if (converter_writes_xml) files_->files[line.substr(o, line.find('"', o) - o)] = xml;
    *process = 9;
    ++open_processes;
    return true;
  }
  ProcessWait WaitForProcess(uintptr_t, uint32_t timeout_ms) override {
    Log("wait " + std::to_string(timeout_ms));
    return wait;
  }
  void KillProcess(uintptr_t, uint32_t exit_code) override {
    Log("kill " + std::to_string(exit_code));
  }
  bool ReadProcessExitCode(uintptr_t, uint32_t* code, uint32_t*) override {
    *code = exit_code;
    return true;
  }
  void CloseProcess(uintptr_t) override { --open_processes; }

 private:
  uint32_t Log(const std::string& call, std::deque<uint32_t>* results = nullptr) {
    calls.push_back(call);
    if (results == nullptr || results->empty()) return 0;
    const uint32_t result = results->front();
    results->pop_front();
    return result;
  }

  FakeFileSystem* files_;
};

// Hub requests that are logged; the port cycle fails when told to.
class FakeHubPortCycler : public HubPortCycler {
 public:
  bool cycle_ok = true;
  std::vector<std::string> calls;
  int open_hubs = 0;

  bool OpenParentHub(const std::string& usb_instance_id, HubHandle* hub, uint32_t* port,
                     std::string*) override {
    calls.push_back("open " + usb_instance_id);
    *hub = this;
    *port = 4;
    ++open_hubs;
    return true;
  }
  bool CyclePort(HubHandle, uint32_t port, std::string* error) override {
    calls.push_back("cycle " + std::to_string(port));
    *error = "端口复位失败";
    return cycle_ok;
  }
  void CloseHub(HubHandle) override {
    calls.push_back("close");
    --open_hubs;
  }
};

// Wires the fakes together; `now` advances by `step_us` per reading and by
// each sleep. The system clock reads 2023-11-14T22:13:20Z, the local one an
// hour later.
struct FakeCaptureSystem {
  FakeFileSystem files;
  FakeTraceApi trace{&files};
  FakeHubPortCycler hub;
  std::vector<uint32_t> sleeps;
  int64_t now = 1000000;
  int64_t step_us = 0;
  CaptureHelperSystem system = System();

  CaptureHelperSystem System() {
    static constexpr uint64_t kFileTime = 116444736000000000ULL + 17000000000000000ULL;
    CaptureHelperSystem s;
    s.trace = &trace;
    s.files = &files;
    s.hub = &hub;
    s.sleep = [this](uint32_t ms) {
      sleeps.push_back(ms);
      now += static_cast<int64_t>(ms) * 1000;
    };
    s.now_micros = [this] { return now += step_us; };
    s.local_time = [] { return CaptureLocalTime{2026, 12, 6, 9, 30, 15, 42}; };
    s.to_file_time = [](const CaptureLocalTime&, uint64_t* file_time) {
      *file_time = kFileTime + 36000000000ULL;
      return true;
    };
    s.system_file_time = [] { return kFileTime; };
    return s;
  }
};

// A query that sets its output to `value` and succeeds.
template <typename T>
auto Answers(T value) {
  return [value](T* out, auto&&...) {
    *out = value;
    return true;
  };
}

// The support queries of a machine where every capture is possible.
inline CaptureSupportQueries SupportedCaptureQueries() {
  CaptureSupportQueries q;
  q.read_system_build = Answers(uint32_t{22631});
  q.list_provider_guids =
      Answers(std::vector<TraceGuid>{kCaptureProviderTable[0].guid, kCaptureProviderTable[1].guid,
                                     kCaptureProviderTable[2].guid, kCaptureProviderTable[3].guid});
  q.has_hid_class_provider = [](std::string*) { return true; };
  q.resolve_hub_port = [](const std::string&, uint32_t* port) { return Answers(2u)(port); };
  q.is_tracerpt_available = [] { return true; };
  return q;
}

}  // namespace vek_native

#endif  // VEK_TESTS_SUPPORT_FAKE_CAPTURE_SYSTEM_H_
