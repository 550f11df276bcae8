// A machine's device nodes for the listing and the diagnostics: the tree, each
// node's registry facts and status, which device-information sets hold which
// nodes, and the HID interfaces with their nodes.
#ifndef VEK_TESTS_UNIT_USB_USB_FAKES_H_
#define VEK_TESTS_UNIT_USB_USB_FAKES_H_

#include <map>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "support/usb/fake_node_tree.h"
#include "usb/usb_node.h"
#include "usb/usb_node_listing.h"

namespace vek_test {

class FakeProperties : public vek_native::DevNodeProperties {
 public:
  struct State {
    uint32_t result = 0;
    uint32_t status = 0;
    uint32_t problem = 0;
  };
  std::string ReadDevNodeRegistryString(uint32_t node,
                                        vek_native::DevNodeProperty property) override {
    auto it = strings.find({node, property});
    return it == strings.end() ? "" : it->second;
  }
  // A node without a state is gone: CR_NO_SUCH_DEVINST.
  uint32_t GetStatus(uint32_t node, uint32_t* status, uint32_t* problem) override {
    auto it = states.find(node);
    if (it == states.end()) return vek_native::kCmNoSuchDevInst;
    *status = it->second.status;
    *problem = it->second.problem;
    return it->second.result;
  }
  std::map<std::pair<uint32_t, vek_native::DevNodeProperty>, std::string> strings;
  std::map<uint32_t, State> states;
};

class FakeNodeSource : public vek_native::UsbNodeSource {
 public:
  using SetKey = std::tuple<vek_native::DeviceInfoClass, std::string, uint32_t>;

  explicit FakeNodeSource(FakeNodeTree& tree) : tree_(tree) {}

  void AddToSet(vek_native::DeviceInfoClass device_class, const char* enumerator, uint32_t flags,
                uint32_t node, std::string id_as_listed = "") {
    sets[{device_class, enumerator ? enumerator : "", flags}].emplace_back(node,
                                                                           std::move(id_as_listed));
  }

  bool ReadDeviceInfoSet(const vek_native::DeviceInfoQuery& query,
                         std::vector<vek_native::DeviceInfoEntry>* devices) override {
    const SetKey key{query.device_class, query.enumerator ? query.enumerator : "", query.flags};
    ++queries;
    if (failing_sets.count(key) != 0) return false;
    auto it = sets.find(key);
    if (it == sets.end()) return true;
    for (const auto& member : it->second) {
      const std::string& id =
          member.second.empty() ? tree_.Node(member.first).instance_id : member.second;
      devices->push_back({member.first, id});
    }
    return true;
  }

  // Every node the tree knows, present or not.
  uint32_t LocateNodeOrPhantom(const std::string& instance_id, uint32_t* node) override {
    *node = 0;
    for (uint32_t n = 1; n <= tree_.Count(); ++n) {
      if (tree_.Node(n).instance_id == instance_id) {
        *node = n;
        return 0;
      }
    }
    return kCmNoSuchDevNode;
  }

  bool ListHidInterfaceNodes(std::vector<vek_native::HidInterfaceNode>* interfaces,
                             uint32_t* error) override {
    if (hid_list_error != 0) {
      *error = hid_list_error;
      return false;
    }
    *interfaces = hid_interfaces;
    return true;
  }

  uint32_t ThreadLastError() override { return last_error; }

  std::map<SetKey, std::vector<std::pair<uint32_t, std::string>>> sets;
  std::set<SetKey> failing_sets;
  int queries = 0;
  std::vector<vek_native::HidInterfaceNode> hid_interfaces;
  uint32_t hid_list_error = 0;
  uint32_t last_error = 1;  // ERROR_INVALID_FUNCTION

 private:
  FakeNodeTree& tree_;
};

// The three together, as the listing takes them.
struct FakeNodeWorld {
  FakeNodeTree tree;
  FakeProperties properties;
  FakeNodeSource source{tree};

  vek_native::UsbNodeSystem System() { return {&tree, &properties, &source}; }

  // A started node without a problem.
  uint32_t AddStarted(const std::string& id, uint32_t parent) {
    FakeNode added;
    added.instance_id = id;
    added.parent = parent;
    const uint32_t node = tree.Add(std::move(added));
    properties.states[node] = {0, vek_native::kDnStarted, 0};
    return node;
  }
};

}  // namespace vek_test

#endif  // VEK_TESTS_UNIT_USB_USB_FAKES_H_
