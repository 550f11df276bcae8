// A device tree declared node by node: instance ID, parent, presence and the
// LocationInfo property, answered the way the configuration manager answers.
#ifndef VEK_TESTS_SUPPORT_USB_FAKE_NODE_TREE_H_
#define VEK_TESTS_SUPPORT_USB_FAKE_NODE_TREE_H_

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "hid/device_tree.h"

namespace vek_test {

constexpr uint32_t kCmNoSuchDevNode = 0x0D;
constexpr uint32_t kCmFailure = 0x13;

struct FakeNode {
  std::string instance_id;
  uint32_t parent = 0;  // 0: the node has no parent
  bool present = true;
  // Set: LocationInfo reads as a string with this text. Unset: the read fails
  // or the property has another type.
  std::optional<std::u16string> location;
  uint32_t id_error = 0;  // CM_Get_Device_IDW's result for this node
};

class FakeNodeTree : public vek_native::DeviceTree {
 public:
  // Nodes are numbered from 1 in the order added.
  uint32_t Add(FakeNode node) {
    nodes_.push_back(std::move(node));
    return static_cast<uint32_t>(nodes_.size());
  }
  FakeNode& Node(uint32_t number) { return nodes_[number - 1]; }
  uint32_t Count() const { return static_cast<uint32_t>(nodes_.size()); }

  bool GetParentInstanceId(const std::string& instance_id, std::string* parent_id,
                           uint32_t* cm_error) override {
    uint32_t node = 0;
    uint32_t result = LocateNode(instance_id, &node);
    uint32_t parent = 0;
    if (result == 0) result = ParentNode(node, &parent);
    if (result == 0) result = NodeInstanceId(parent, parent_id);
    *cm_error = result;
    return result == 0;
  }
  uint32_t LocateNode(const std::string& instance_id, uint32_t* node) override {
    *node = 0;
    for (size_t i = 0; i < nodes_.size(); ++i) {
      if (nodes_[i].instance_id == instance_id && nodes_[i].present) {
        *node = static_cast<uint32_t>(i + 1);
        return 0;
      }
    }
    return kCmNoSuchDevNode;
  }
  uint32_t ParentNode(uint32_t node, uint32_t* parent) override {
    *parent = 0;
    if (!Valid(node) || Node(node).parent == 0) return kCmNoSuchDevNode;
    *parent = Node(node).parent;
    return 0;
  }
  uint32_t NodeInstanceId(uint32_t node, std::string* instance_id) override {
    if (!Valid(node)) return kCmNoSuchDevNode;
    if (Node(node).id_error != 0) return Node(node).id_error;
    *instance_id = Node(node).instance_id;
    return 0;
  }
  bool ReadLocationInfo(uint32_t node, std::u16string* text) override {
    location_reads.push_back(node);
    if (!Valid(node) || !Node(node).location) return false;
    *text = *Node(node).location;
    return true;
  }

  std::vector<uint32_t> location_reads;

 private:
  bool Valid(uint32_t node) const { return node >= 1 && node <= nodes_.size(); }
  std::vector<FakeNode> nodes_;
};

}  // namespace vek_test

#endif  // VEK_TESTS_SUPPORT_USB_FAKE_NODE_TREE_H_
