// A machine's device nodes, answered the way the configuration manager and
// SetupAPI answer: the tree with each node's location, status and registry
// strings, the device-information sets and the HID interfaces.
#ifndef VEK_TESTS_UNIT_USB_USB_FAKES_H_
#define VEK_TESTS_UNIT_USB_USB_FAKES_H_

#include <map>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

#include "usb/usb_node.h"
#include "usb/usb_node_listing.h"

namespace vek_test {

// The root hub the diagnostics tests put their devices under.
constexpr char kRootHubId[] = "USB\\ROOT_HUB30\\4&1";

using vek_native::DeviceInfoClass;
using vek_native::DevNodeProperty;

struct FakeNode {
  FakeNode(std::string node_id = "", uint32_t parent_node = 0)
      : id(std::move(node_id)), parent(parent_node) {}

  std::string id;
  uint32_t parent = 0;                     // 0: none
  std::optional<std::u16string> location;  // unset: the read fails
  bool present = true;
  uint32_t id_error = 0;  // CM_Get_Device_IDW's result
  // CM_Get_DevNode_Status's result, status and problem; unset: the node is
  // gone (CR_NO_SUCH_DEVINST).
  std::optional<std::tuple<uint32_t, uint32_t, uint32_t>> status =
      std::make_tuple(0u, vek_native::kDnStarted, 0u);
  std::map<DevNodeProperty, std::string> strings;
};

class FakeMachine : public vek_native::DeviceTree,
                    public vek_native::DevNodeProperties,
                    public vek_native::UsbNodeSource {
 public:
  using SetKey = std::tuple<DeviceInfoClass, std::string, uint32_t>;
  static constexpr uint32_t kAllUsb = vek_native::kDigcfAllClasses;

  // Nodes are numbered from 1 in the order added; each is listed in the set
  // of all USB-enumerated devices unless `set` says otherwise.
  uint32_t Add(FakeNode node,
               std::optional<SetKey> set = SetKey{DeviceInfoClass::kNone, "USB", kAllUsb}) {
    nodes.push_back(std::move(node));
    const auto number = static_cast<uint32_t>(nodes.size());
    if (set) sets[*set].emplace_back(number, "");
    return number;
  }
  uint32_t Add(const std::string& id, uint32_t parent, const char16_t* location = nullptr) {
    FakeNode node{id, parent};
    if (location != nullptr) node.location = location;
    return Add(std::move(node));
  }
  FakeNode& Node(uint32_t number) { return nodes.at(number - 1); }
  vek_native::UsbNodeSystem System() { return {this, this, this}; }

  bool GetParentInstanceId(const std::string&, std::string*, uint32_t*) override { return false; }
  uint32_t LocateNode(const std::string& id, uint32_t* node) override {
    return Locate(id, true, node);
  }
  uint32_t ParentNode(uint32_t node, uint32_t* parent) override {
    *parent = Valid(node) ? Node(node).parent : 0;
    return *parent == 0 ? kNoSuchDevNode : 0;
  }
  uint32_t NodeInstanceId(uint32_t node, std::string* id) override {
    if (!Valid(node)) return kNoSuchDevNode;
    if (Node(node).id_error == 0) *id = Node(node).id;
    return Node(node).id_error;
  }
  bool ReadLocationInfo(uint32_t node, std::u16string* text) override {
    if (!Valid(node) || !Node(node).location) return false;
    *text = *Node(node).location;
    return true;
  }
  std::string ReadDevNodeRegistryString(uint32_t node, DevNodeProperty property) override {
    const auto it = Node(node).strings.find(property);
    return it == Node(node).strings.end() ? "" : it->second;
  }
  uint32_t GetStatus(uint32_t node, uint32_t* status, uint32_t* problem) override {
    if (!Node(node).status) return vek_native::kCmNoSuchDevInst;
    uint32_t result = 0;
    std::tie(result, *status, *problem) = *Node(node).status;
    return result;
  }
  bool ReadDeviceInfoSet(const vek_native::DeviceInfoQuery& query,
                         std::vector<vek_native::DeviceInfoEntry>* devices) override {
    const SetKey key{query.device_class, query.enumerator ? query.enumerator : "", query.flags};
    if (key == failing_set) return false;
    for (const auto& [node, spelling] : sets[key]) {
      devices->push_back({node, spelling.empty() ? Node(node).id : spelling});
    }
    return true;
  }
  uint32_t LocateNodeOrPhantom(const std::string& id, uint32_t* node) override {
    return Locate(id, false, node);
  }
  bool ListHidInterfaceNodes(std::vector<vek_native::HidInterfaceNode>* interfaces,
                             uint32_t* error) override {
    *interfaces = hid_interfaces;
    *error = hid_list_error;
    return hid_list_error == 0;
  }
  uint32_t ThreadLastError() override { return 1; }  // ERROR_INVALID_FUNCTION

  std::vector<FakeNode> nodes;
  std::map<SetKey, std::vector<std::pair<uint32_t, std::string>>> sets;  // node, spelling
  SetKey failing_set;
  std::vector<vek_native::HidInterfaceNode> hid_interfaces;
  uint32_t hid_list_error = 0;

 private:
  bool Valid(uint32_t node) const { return node >= 1 && node <= nodes.size(); }
  uint32_t Locate(const std::string& id, bool present_only, uint32_t* node) {
    *node = 0;
    for (uint32_t n = 1; n <= nodes.size(); ++n) {
      if (Node(n).id == id && (Node(n).present || !present_only)) *node = n;
    }
    return *node == 0 ? kNoSuchDevNode : 0;
  }
};

}  // namespace vek_test

#endif  // VEK_TESTS_UNIT_USB_USB_FAKES_H_
