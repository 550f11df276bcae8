// A capture helper's system in memory: trace calls that succeed unless told
// otherwise, a converter that writes a chosen XML into a FakeFileSystem, hub
// requests that are logged, a sleep that only records and fixed clocks.
#ifndef VEK_TESTS_SUPPORT_FAKE_CAPTURE_SYSTEM_H_
#define VEK_TESTS_SUPPORT_FAKE_CAPTURE_SYSTEM_H_

#include <string>
#include <vector>

#include "capture/capture_support.h"
#include "capture/capture_system.h"
#include "common/text.h"
#include "support/fake_file_system.h"

namespace vek_native {

class FakeCaptureTraceApi : public TraceApi {
 public:
  explicit FakeCaptureTraceApi(FakeFileSystem* files) : files_(files) {}

  uint32_t start_result = 0;
  std::vector<uint32_t> enable_results;  // per enable call in order; then 0
  bool converter_writes_xml = true;
  std::string xml;
  int enables = 0, stops = 0, conversions = 0;
  int running_sessions = 0;

  bool ReadTempDirectory(std::u16string* directory, uint32_t*) override {
    *directory = Utf8ToUtf16(files_->temp_directory);
    return true;
  }
  uint32_t CurrentProcessId() override { return 77; }
  uint64_t TickCount() override { return 5000; }
  uint32_t StartSession(uint64_t* handle, const std::u16string& name,
                        std::vector<uint8_t>*) override {
    if (start_result == 0) {
      *handle = 9;
      ++running_sessions;
      files_->files[files_->temp_directory + Utf16ToUtf8(name) + ".etl"] = "etl";
    }
    return start_result;
  }
  uint32_t StopSession(uint64_t, const std::u16string&, std::vector<uint8_t>*) override {
    ++stops;
    if (running_sessions > 0) --running_sessions;
    return 0;
  }
  uint32_t EnableProvider(uint64_t, const TraceGuid&, const EnableTraceParameters&) override {
    const size_t index = static_cast<size_t>(enables++);
    return index < enable_results.size() ? enable_results[index] : 0;
  }
  uint32_t EnumerateProviders(uint8_t*, uint32_t*) override { return 1; }
  uint32_t ReadSystemDirectory(std::u16string* directory, uint32_t*) override {
    *directory = u"C:\\Windows\\system32";
    return static_cast<uint32_t>(directory->size());
  }
  bool ReadFileAttributes(const std::u16string& path, uint32_t* attributes) override {
    *attributes = 0x20;
    return files_->files.count(Utf16ToUtf8(path)) != 0;
  }
  void RemoveFile(const std::u16string& path) override {
    uint32_t ignored = 0;
    files_->RemoveFile(Utf16ToUtf8(path), &ignored);
  }
  bool StartHiddenProcess(const std::u16string&, const std::u16string& command_line,
                          uintptr_t* process, uint32_t*) override {
    ++conversions;
    // The converter's output path is the quoted argument after "-o".
    const std::string line = Utf16ToUtf8(command_line);
    const size_t o = line.find("-o \"");
    if (converter_writes_xml && o != std::string::npos) {
      const size_t end = line.find('"', o + 4);
      files_->files[line.substr(o + 4, end - o - 4)] = xml;
    }
    *process = 1;
    return true;
  }
  ProcessWait WaitForProcess(uintptr_t, uint32_t) override { return ProcessWait::kExited; }
  void KillProcess(uintptr_t, uint32_t) override {}
  bool ReadProcessExitCode(uintptr_t, uint32_t* exit_code, uint32_t*) override {
    *exit_code = 0;
    return true;
  }
  void CloseProcess(uintptr_t) override {}

 private:
  FakeFileSystem* files_;
};

class FakeHubPortCycler : public HubPortCycler {
 public:
  bool open_ok = true;
  bool cycle_ok = true;
  uint32_t port = 4;
  std::vector<std::string> calls;
  int open_hubs = 0;

  bool OpenParentHub(const std::string& usb_instance_id, HubHandle* hub, uint32_t* port_out,
                     std::string* error) override {
    calls.push_back("open " + usb_instance_id);
    if (!open_ok) {
      *error = "找不到父集线器";
      return false;
    }
    ++open_hubs;
    *hub = this;
    *port_out = port;
    return true;
  }
  bool CyclePort(HubHandle, uint32_t port_in, std::string* error) override {
    calls.push_back("cycle " + std::to_string(port_in));
    if (!cycle_ok) *error = "端口复位失败";
    return cycle_ok;
  }
  void CloseHub(HubHandle) override {
    calls.push_back("close");
    --open_hubs;
  }
};

// Wires the fakes together; `now` advances by `step_us` per reading.
struct FakeCaptureSystem {
  FakeFileSystem files;
  FakeCaptureTraceApi trace{&files};
  FakeHubPortCycler hub;
  std::vector<uint32_t> sleeps;
  int64_t now = 1000000;
  int64_t step_us = 0;
  CaptureLocalTime local{2026, 12, 6, 9, 30, 15, 42};
  uint64_t system_file_time = 116444736000000000ULL + 10ULL * 1700000000000000ULL;

  CaptureHelperSystem System() {
    CaptureHelperSystem s;
    s.trace = &trace;
    s.files = &files;
    s.hub = &hub;
    s.sleep = [this](uint32_t ms) {
      sleeps.push_back(ms);
      now += static_cast<int64_t>(ms) * 1000;
    };
    s.now_micros = [this] {
      now += step_us;
      return now;
    };
    s.local_time = [this] { return local; };
    s.to_file_time = [this](const CaptureLocalTime& t, uint64_t* ft) {
      if (t.month == 0) return false;
      *ft = system_file_time + 3600ULL * 10000000ULL;
      return true;
    };
    s.system_file_time = [this] { return system_file_time; };
    return s;
  }
};

// The support queries of a machine where every capture is possible.
inline CaptureSupportQueries SupportedCaptureQueries() {
  CaptureSupportQueries q;
  q.read_system_build = [](uint32_t* build) {
    *build = 22631;
    return true;
  };
  q.list_provider_guids = [](std::vector<TraceGuid>* guids, std::string*) {
    guids->clear();
    for (const CaptureProvider& p : kCaptureProviderTable) guids->push_back(p.guid);
    return true;
  };
  q.has_hid_class_provider = [](std::string*) { return true; };
  q.resolve_hub_port = [](const std::string&, uint32_t* port) {
    *port = 2;
    return true;
  };
  q.is_tracerpt_available = [] { return true; };
  return q;
}

// The result location a launcher was given: the last quoted parameter.
inline std::string LastQuotedArgument(const std::string& parameters) {
  const size_t end = parameters.rfind('"');
  const size_t begin = parameters.rfind('"', end - 1);
  return parameters.substr(begin + 1, end - begin - 1);
}

}  // namespace vek_native

#endif  // VEK_TESTS_SUPPORT_FAKE_CAPTURE_SYSTEM_H_
