// Fake USB hubs declared port by port: each port holds a device with its
// descriptors, answered the way the hub driver answers GET_DESCRIPTOR.
#ifndef VEK_TESTS_UNIT_HID_HUB_FAKE_H_
#define VEK_TESTS_UNIT_HID_HUB_FAKE_H_

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "common/text.h"
#include "hid/hub_api.h"
#include "hid/hub_requests.h"
#include "hid/usb_descriptors.h"

namespace vek_test {

constexpr uint32_t kErrorGenFailure = 31;

struct FakeUsbDevice {
  std::vector<uint8_t> device_descriptor;  // 18 bytes
  std::string driver_key;
  uint8_t speed = 2;
  uint8_t address = 7;
  bool connected = true;
  // Descriptors by (type, index, wIndex, bmRequest); a request for a key not
  // present fails with `refusal_error`.
  std::map<std::tuple<uint8_t, uint8_t, uint16_t, uint8_t>, std::vector<uint8_t>> descriptors;
  uint32_t refusal_error = kErrorGenFailure;
  // The hub driver refuses every GET_DESCRIPTOR (no administrator rights).
  bool refuse_all = false;

  void Set(uint8_t type, uint8_t index, uint16_t w_index, uint8_t bm_request,
           std::vector<uint8_t> bytes) {
    descriptors[{type, index, w_index, bm_request}] = std::move(bytes);
  }
};

struct DescriptorRequestSeen {
  uint32_t port;
  uint8_t bm_request;
  uint8_t type;
  uint8_t index;
  uint16_t w_index;
  uint16_t length;
};

struct FakeHubState {
  std::u16string path;
  uint8_t port_count = 4;
  std::map<uint32_t, FakeUsbDevice> ports;
  std::set<vek_native::HubAccess> refused_access;
  int opens_allowed = -1;  // -1: any number
  std::vector<DescriptorRequestSeen> requests;
  int open_handles = 0;
  uint32_t cycle_error = 0;  // non-zero: the port cycle fails with it
  std::vector<uint32_t> cycled_ports;
};

class FakeUsbHub : public vek_native::UsbHub {
 public:
  explicit FakeUsbHub(FakeHubState* state) : state_(state) { ++state_->open_handles; }
  ~FakeUsbHub() override { --state_->open_handles; }

  bool CyclePort(uint32_t port, uint32_t* error) override {
    if (state_->cycle_error != 0) return Fail(error, state_->cycle_error);
    state_->cycled_ports.push_back(port);
    return true;
  }

  bool GetNodeInformation(std::vector<uint8_t>* buffer, uint32_t* returned,
                          uint32_t* error) override {
    if (buffer->size() < vek_native::kNodeInformationSize) return Fail(error, 122);
    (*buffer)[vek_native::kNodeNumberOfPortsOffset] = state_->port_count;
    *returned = vek_native::kNodeInformationSize;
    return true;
  }

  bool GetConnectionInformation(std::vector<uint8_t>* buffer, uint32_t* returned,
                                uint32_t* error) override {
    const uint32_t port = Le32(*buffer, 0);
    auto it = state_->ports.find(port);
    if (it == state_->ports.end()) {
      *returned = vek_native::kConnectionInformationSize;
      return true;  // NoDeviceConnected (0)
    }
    const FakeUsbDevice& device = it->second;
    std::copy(device.device_descriptor.begin(), device.device_descriptor.end(),
              buffer->begin() + vek_native::kConnectionDeviceDescriptorOffset);
    (*buffer)[vek_native::kConnectionSpeedOffset] = device.speed;
    (*buffer)[vek_native::kConnectionDeviceAddressOffset] = device.address;
    (*buffer)[vek_native::kConnectionStatusOffset] = device.connected ? 1 : 0;
    *returned = vek_native::kConnectionInformationSize;
    return true;
  }

  bool GetConnectionDriverKeyName(std::vector<uint8_t>* buffer, uint32_t* returned,
                                  uint32_t* error) override {
    auto it = state_->ports.find(Le32(*buffer, 0));
    if (it == state_->ports.end()) return Fail(error, kErrorGenFailure);
    const std::u16string name = vek_native::Utf8ToUtf16(it->second.driver_key);
    size_t offset = 8;
    for (char16_t unit : name) {
      (*buffer)[offset++] = static_cast<uint8_t>(unit);
      (*buffer)[offset++] = static_cast<uint8_t>(unit >> 8);
    }
    *returned = static_cast<uint32_t>(offset + 2);
    return true;
  }

  bool GetDescriptorFromNodeConnection(std::vector<uint8_t>* buffer, uint32_t* returned,
                                       uint32_t* error) override {
    const std::vector<uint8_t>& b = *buffer;
    if (b.size() < 12 || b[5] != 6) return Fail(error, 87);
    auto le16 = [&](size_t at) { return vek_native::ReadLe16(b.data(), at); };
    DescriptorRequestSeen seen{Le32(b, 0), b[4], b[7], b[6], le16(8), le16(10)};
    state_->requests.push_back(seen);
    if (b.size() < 12u + seen.length) return Fail(error, 87);
    auto port = state_->ports.find(seen.port);
    if (port == state_->ports.end()) return Fail(error, kErrorGenFailure);
    const FakeUsbDevice& device = port->second;
    if (device.refuse_all) return Fail(error, device.refusal_error);
    auto it = device.descriptors.find({seen.type, seen.index, seen.w_index, seen.bm_request});
    if (it == device.descriptors.end()) return Fail(error, device.refusal_error);
    const size_t n = std::min<size_t>(it->second.size(), seen.length);
    std::copy(it->second.begin(), it->second.begin() + n, buffer->begin() + 12);
    *returned = static_cast<uint32_t>(12 + n);
    return true;
  }

 private:
  static uint32_t Le32(const std::vector<uint8_t>& b, size_t offset) {
    return b[offset] | (b[offset + 1] << 8) | (b[offset + 2] << 16) |
           (static_cast<uint32_t>(b[offset + 3]) << 24);
  }
  static bool Fail(uint32_t* error, uint32_t code) {
    *error = code;
    return false;
  }
  FakeHubState* state_;
};

class FakeUsbHubApi : public vek_native::UsbHubApi {
 public:
  FakeHubState& AddHub(const std::u16string& path) {
    hubs_.push_back(std::make_unique<FakeHubState>());
    hubs_.back()->path = path;
    return *hubs_.back();
  }

  std::vector<std::u16string> ListHubPaths() override {
    std::vector<std::u16string> paths;
    for (const auto& hub : hubs_) paths.push_back(hub->path);
    return paths;
  }

  std::unique_ptr<vek_native::UsbHub> OpenHubWithAccess(const std::u16string& hub_path,
                                                        vek_native::HubAccess access,
                                                        uint32_t* error) override {
    opens.push_back(access);
    for (const auto& hub : hubs_) {
      if (hub->path != hub_path) continue;
      if (hub->refused_access.count(access) != 0 || hub->opens_allowed == 0) {
        *error = 5;  // ERROR_ACCESS_DENIED
        return nullptr;
      }
      if (hub->opens_allowed > 0) --hub->opens_allowed;
      return std::make_unique<FakeUsbHub>(hub.get());
    }
    *error = 2;
    return nullptr;
  }

  std::string DriverKeyOf(const std::string& instance_id) override {
    auto it = driver_keys.find(instance_id);
    return it == driver_keys.end() ? "" : it->second;
  }

  int OpenHandles() const {
    int count = 0;
    for (const auto& hub : hubs_) count += hub->open_handles;
    return count;
  }

  std::vector<vek_native::HubAccess> opens;
  std::map<std::string, std::string> driver_keys;

 private:
  std::vector<std::unique_ptr<FakeHubState>> hubs_;
};

// A string descriptor of an ASCII text.
inline std::vector<uint8_t> StringDescriptor(const std::string& text) {
  std::vector<uint8_t> bytes{static_cast<uint8_t>(2 + 2 * text.size()), 3};
  for (char c : text) {
    bytes.push_back(static_cast<uint8_t>(c));
    bytes.push_back(0);
  }
  return bytes;
}

}  // namespace vek_test

#endif  // VEK_TESTS_UNIT_HID_HUB_FAKE_H_
