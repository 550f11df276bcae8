#ifndef VEK_CHANNELS_METHOD_CALL_H_
#define VEK_CHANNELS_METHOD_CALL_H_

#include <memory>
#include <string>

#include "channels/encodable_value.h"

namespace vek_native {

// A decoded method call: the method name and its arguments (may be absent).
class MethodCall {
 public:
  MethodCall(std::string method_name, std::unique_ptr<EncodableValue> arguments)
      : method_name_(std::move(method_name)), arguments_(std::move(arguments)) {}
  MethodCall(const MethodCall&) = delete;
  MethodCall& operator=(const MethodCall&) = delete;
  ~MethodCall() = default;

  const std::string& method_name() const { return method_name_; }
  // nullptr when the call carried no arguments.
  const EncodableValue* arguments() const { return arguments_.get(); }

 private:
  std::string method_name_;
  std::unique_ptr<EncodableValue> arguments_;
};

}  // namespace vek_native

#endif  // VEK_CHANNELS_METHOD_CALL_H_
