// Fake HID devices and device trees, declared as tables: a device is a row of
// what it answers (attributes, caps, strings, which open modes it accepts,
// whether it takes writes), a tree is a list of (instance ID, parent ID) nodes.
// Input reports are pushed into a device while readers run.
#ifndef VEK_TESTS_SUPPORT_HID_FAKE_HID_DEVICE_API_H_
#define VEK_TESTS_SUPPORT_HID_FAKE_HID_DEVICE_API_H_

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "hid/device_tree.h"
#include "hid/hid_device_api.h"
#include "support/hex.h"

namespace vek_native {
namespace fake {

struct FakeHidDeviceSpec {
  std::string path;
  std::string parent_instance_id;
  // Access modes CreateFileW accepts; the others fail with ERROR_ACCESS_DENIED.
  std::set<HidAccess> opens = {HidAccess::kReadWrite, HidAccess::kRead, HidAccess::kAttributesOnly};
  bool has_attributes = true;
  HidAttributes attributes;
  bool has_preparsed_data = true;
  // The preparsed data's own bytes (a recorded "HidP KDR" blob), if any.
  std::vector<uint8_t> preparsed_bytes;
  uint32_t caps_status = kHidpStatusSuccess;
  HidCaps caps;
  // The link collection nodes, all counted in the returned length whatever
  // the buffer holds; none: the declared count stands.
  std::vector<HidLinkCollectionNode> link_nodes;
  // The button and value caps records of each report type (HidReportType).
  std::vector<ButtonCapsRecord> buttons[3];
  std::vector<ValueCapsRecord> values[3];
  bool button_caps_fail = false;
  // Strings as UTF-16 (written without a terminator when they fill the
  // buffer); absent ones fail.
  std::map<HidStringKind, std::u16string> strings;
  // Writes: WriteFile fails; HidD_SetOutputReport
  // and HidD_SetFeature fail.
  bool write_file_fails = false;
  bool set_fails = false;
  // Reports read on request, by the ID asked for: the bytes the driver writes
  // from the buffer's start, ID byte included. Other IDs are refused
  // (ERROR_GEN_FAILURE).
  std::map<uint8_t, std::vector<uint8_t>> feature_answers, input_answers;
  bool input_buffers_fails = false;  // with ERROR_INVALID_PARAMETER
  bool stop_event_fails = false;     // with ERROR_NO_SYSTEM_RESOURCES
  bool read_event_fails = false;
};

// What happened to one device, shared by the API and the devices it opened.
struct FakeHidDeviceState {
  std::mutex mutex;
  std::condition_variable changed;
  int open_handles = 0;
  std::vector<std::pair<HidAccess, bool>> open_attempts;  // access, overlapped
  std::deque<std::vector<uint8_t>> pending_reports;
  bool removed = false;
  bool cancel_pends = false;  // a stopped read ends only once this is cleared
  int reads_in_progress = 0;
  std::vector<uint32_t> read_sizes;
  // The writes in call order, as "write|output|feature <hex>" words.
  std::string sent;
  int preparsed_live = 0;
  uint32_t input_buffers = 0;  // the last HidD_SetNumInputBuffers
};

class FakeHidPreparsedData : public HidPreparsedData {
 public:
  FakeHidPreparsedData(const FakeHidDeviceSpec& spec, FakeHidDeviceState& state)
      : spec_(spec), state_(state) {
    std::lock_guard<std::mutex> lock(state_.mutex);
    ++state_.preparsed_live;
  }
  ~FakeHidPreparsedData() override {
    std::lock_guard<std::mutex> lock(state_.mutex);
    --state_.preparsed_live;
  }
  uint32_t GetCaps(HidCaps* caps) override {
    if (spec_.caps_status == kHidpStatusSuccess) *caps = spec_.caps;
    return spec_.caps_status;
  }
  uint32_t GetLinkCollectionNodes(std::vector<HidLinkCollectionNode>* nodes,
                                  uint32_t* length) override {
    Copy(spec_.link_nodes, static_cast<uint16_t>(nodes->size()), nodes);
    *length = static_cast<uint32_t>(spec_.link_nodes.size());
    return kHidpStatusSuccess;
  }
  uint32_t GetButtonCaps(HidReportType type, uint16_t count,
                         std::vector<ButtonCapsRecord>* records) override {
    return spec_.button_caps_fail ? 0xC0110004u : Copy(spec_.buttons[type], count, records);
  }
  uint32_t GetValueCaps(HidReportType type, uint16_t count,
                        std::vector<ValueCapsRecord>* records) override {
    return Copy(spec_.values[type], count, records);
  }
  const void* NativeData() const override { return nullptr; }
  std::vector<uint8_t> Bytes() const override { return spec_.preparsed_bytes; }

 private:
  template <typename Record>
  static uint32_t Copy(const std::vector<Record>& all, uint16_t count,
                       std::vector<Record>* records) {
    records->assign(all.begin(), all.begin() + std::min<size_t>(count, all.size()));
    return kHidpStatusSuccess;
  }

  const FakeHidDeviceSpec& spec_;
  FakeHidDeviceState& state_;
};

class FakeHidReadChannel : public HidReadChannel {
 public:
  FakeHidReadChannel(const FakeHidDeviceSpec& spec, FakeHidDeviceState& state)
      : spec_(spec), state_(state) {}
  bool PrepareReads() override { return !spec_.read_event_fails; }
  HidReadStatus Read(uint8_t* buffer, uint32_t size, uint32_t* transferred) override {
    std::unique_lock<std::mutex> lock(state_.mutex);
    state_.read_sizes.push_back(size);
    ++state_.reads_in_progress;
    state_.changed.notify_all();
    state_.changed.wait(lock, [&] {
      return (stopped_ && !state_.cancel_pends) || state_.removed ||
             !state_.pending_reports.empty();
    });
    --state_.reads_in_progress;
    state_.changed.notify_all();  // a test may wait for the loop to leave its read
    if (stopped_) return HidReadStatus::kStopped;
    if (!state_.pending_reports.empty()) {
      std::vector<uint8_t> report = std::move(state_.pending_reports.front());
      state_.pending_reports.pop_front();
      const size_t n = std::min<size_t>(report.size(), size);
      if (n > 0) std::memcpy(buffer, report.data(), n);
      *transferred = static_cast<uint32_t>(n);
      state_.changed.notify_all();
      return HidReadStatus::kData;
    }
    // Removed: ReadFile fails at once (ERROR_DEVICE_NOT_CONNECTED).
    return HidReadStatus::kFailed;
  }
  void Stop() override {
    std::lock_guard<std::mutex> lock(state_.mutex);
    stopped_ = true;  // sticky, like a signalled manual-reset event
    state_.changed.notify_all();
  }

 private:
  const FakeHidDeviceSpec& spec_;
  FakeHidDeviceState& state_;
  bool stopped_ = false;  // guarded by state_.mutex
};

class FakeHidDevice : public HidDevice {
 public:
  FakeHidDevice(const FakeHidDeviceSpec& spec, FakeHidDeviceState& state)
      : spec_(spec), state_(state) {
    std::lock_guard<std::mutex> lock(state_.mutex);
    ++state_.open_handles;
  }
  ~FakeHidDevice() override {
    std::lock_guard<std::mutex> lock(state_.mutex);
    --state_.open_handles;
  }
  bool GetAttributes(HidAttributes* attributes) override {
    if (!spec_.has_attributes) return false;
    *attributes = spec_.attributes;
    return true;
  }
  std::unique_ptr<HidPreparsedData> GetPreparsedData() override {
    if (!spec_.has_preparsed_data) return nullptr;
    return std::make_unique<FakeHidPreparsedData>(spec_, state_);
  }
  bool GetString(HidStringKind kind, char16_t* buffer, uint32_t buffer_bytes) override {
    auto it = spec_.strings.find(kind);
    if (it == spec_.strings.end()) return false;
    const size_t units = std::min<size_t>(it->second.size(), buffer_bytes / 2);
    std::memcpy(buffer, it->second.data(), units * 2);
    return true;
  }
  bool WriteReport(const std::vector<uint8_t>& report, uint32_t* written,
                   uint32_t* error) override {
    *written = static_cast<uint32_t>(report.size());
    return Log("write", report, !spec_.write_file_fails, error);
  }
  bool SetOutputReport(std::vector<uint8_t>* report, uint32_t* error) override {
    return Log("output", *report, !spec_.set_fails, error);
  }
  bool SetFeature(std::vector<uint8_t>* report, uint32_t* error) override {
    return Log("feature", *report, !spec_.set_fails, error);
  }
  bool GetFeature(std::vector<uint8_t>* report, uint32_t, uint32_t* transferred,
                  uint32_t* error) override {
    return Answer(spec_.feature_answers, report, transferred, error);
  }
  bool GetInputReport(std::vector<uint8_t>* report, uint32_t, uint32_t* transferred,
                      uint32_t* error) override {
    return Answer(spec_.input_answers, report, transferred, error);
  }
  bool SetNumInputBuffers(uint32_t count, uint32_t* error) override {
    std::lock_guard<std::mutex> lock(state_.mutex);
    if (!spec_.input_buffers_fails) state_.input_buffers = count;
    *error = 87;
    return !spec_.input_buffers_fails;
  }
  std::unique_ptr<HidReadChannel> CreateReadChannel(uint32_t* error) override {
    if (spec_.stop_event_fails) {
      *error = 1450;
      return nullptr;
    }
    return std::make_unique<FakeHidReadChannel>(spec_, state_);
  }
  void* NativeHandle() const override { return nullptr; }

 private:
  // As the HID class driver counts: without report IDs the 0 in front is not
  // part of the answer.
  static bool Answer(const std::map<uint8_t, std::vector<uint8_t>>& answers,
                     std::vector<uint8_t>* report, uint32_t* transferred, uint32_t* error) {
    const auto it = answers.find((*report)[0]);
    *error = 31;
    if (it == answers.end()) return false;
    const size_t n = std::min(it->second.size(), report->size());
    std::copy_n(it->second.begin(), n, report->begin());
    *transferred = static_cast<uint32_t>((*report)[0] == 0 && n > 0 ? n - 1 : n);
    return true;
  }
  bool Log(const char* kind, const std::vector<uint8_t>& report, bool ok, uint32_t* error) {
    std::lock_guard<std::mutex> lock(state_.mutex);
    state_.sent +=
        (state_.sent.empty() ? "" : " ") + std::string(kind) + " " + vek_test::ToHex(report);
    if (!ok) *error = 31;  // ERROR_GEN_FAILURE
    return ok;
  }
  const FakeHidDeviceSpec& spec_;
  FakeHidDeviceState& state_;
};

// The machine's HID devices, in enumeration order.
class FakeHidDeviceApi : public HidDeviceApi {
 public:
  FakeHidDeviceApi() = default;
  explicit FakeHidDeviceApi(std::vector<FakeHidDeviceSpec> specs) {
    for (auto& spec : specs) Add(std::move(spec));
  }
  void Add(FakeHidDeviceSpec spec) {
    devices_.push_back(std::make_unique<Entry>());
    devices_.back()->spec = std::move(spec);
  }

  bool enumeration_fails = false;  // with ERROR_NOT_ENOUGH_MEMORY

  bool EnumerateInterfaces(std::vector<HidInterfaceEntry>* entries, uint32_t* error) override {
    if (enumeration_fails) {
      *error = 8;
      return false;
    }
    for (const auto& d : devices_) {
      if (!d->spec.path.empty()) entries->push_back({d->spec.path, d->spec.parent_instance_id});
    }
    return true;
  }

  std::unique_ptr<HidDevice> Open(const std::string& path, HidAccess access, bool overlapped,
                                  uint32_t* error) override {
    Entry* entry = Find(path);
    if (!entry) {
      *error = 2;  // ERROR_FILE_NOT_FOUND
      return nullptr;
    }
    {
      std::lock_guard<std::mutex> lock(entry->state.mutex);
      entry->state.open_attempts.emplace_back(access, overlapped);
    }
    if (entry->spec.opens.count(access) == 0) {
      *error = 5;
      return nullptr;
    }
    return std::make_unique<FakeHidDevice>(entry->spec, entry->state);
  }

  FakeHidDeviceState& State(const std::string& path) { return Find(path)->state; }

  void PushReport(const std::string& path, std::vector<uint8_t> report) {
    FakeHidDeviceState& state = State(path);
    std::lock_guard<std::mutex> lock(state.mutex);
    state.pending_reports.push_back(std::move(report));
    state.changed.notify_all();
  }
  void Remove(const std::string& path) {
    FakeHidDeviceState& state = State(path);
    std::lock_guard<std::mutex> lock(state.mutex);
    state.removed = true;
    state.changed.notify_all();
  }
  int OpenHandles(const std::string& path) {
    FakeHidDeviceState& state = State(path);
    std::lock_guard<std::mutex> lock(state.mutex);
    return state.open_handles;
  }
  // Waits until every pushed report was read and a read is waiting again.
  void WaitUntilDrained(const std::string& path) {
    FakeHidDeviceState& state = State(path);
    std::unique_lock<std::mutex> lock(state.mutex);
    state.changed.wait(
        lock, [&] { return state.pending_reports.empty() && state.reads_in_progress > 0; });
  }

 private:
  struct Entry {
    FakeHidDeviceSpec spec;
    FakeHidDeviceState state;
  };
  Entry* Find(const std::string& path) {
    for (auto& d : devices_) {
      if (d->spec.path == path) return d.get();
    }
    return nullptr;
  }
  std::vector<std::unique_ptr<Entry>> devices_;
};

// A device tree as (instance ID -> parent ID) rows; unknown IDs fail like
// CM_Locate_DevNodeW does for a missing node.
class FakeDeviceTree : public DeviceTree {
 public:
  FakeDeviceTree() = default;
  explicit FakeDeviceTree(std::map<std::string, std::string> parents)
      : parents_(std::move(parents)) {}
  bool GetParentInstanceId(const std::string& instance_id, std::string* parent_id,
                           uint32_t* cm_error) override {
    auto it = parents_.find(instance_id);
    if (it == parents_.end()) {
      *cm_error = 13;  // CR_NO_SUCH_DEVNODE
      return false;
    }
    *parent_id = it->second;
    return true;
  }

 private:
  std::map<std::string, std::string> parents_;
};

}  // namespace fake
}  // namespace vek_native

#endif  // VEK_TESTS_SUPPORT_HID_FAKE_HID_DEVICE_API_H_
