#include "bridge/valid_utf8_result.h"

#include <utility>

#include "common/text.h"

namespace vek_native {

bool HoldsOnlyValidUtf8(const EncodableValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) return IsValidUtf8(*text);
  if (const auto* list = std::get_if<EncodableList>(&value)) {
    for (const EncodableValue& item : *list) {
      if (!HoldsOnlyValidUtf8(item)) return false;
    }
  } else if (const auto* map = std::get_if<EncodableMap>(&value)) {
    for (const auto& entry : *map) {
      if (!HoldsOnlyValidUtf8(entry.first) || !HoldsOnlyValidUtf8(entry.second)) return false;
    }
  }
  return true;
}

EncodableValue RepairUtf8Texts(const EncodableValue& value) {
  if (const auto* text = std::get_if<std::string>(&value)) {
    return EncodableValue(RepairUtf8(*text));
  }
  if (const auto* list = std::get_if<EncodableList>(&value)) {
    EncodableList repaired;
    repaired.reserve(list->size());
    for (const EncodableValue& item : *list) repaired.push_back(RepairUtf8Texts(item));
    return EncodableValue(std::move(repaired));
  }
  if (const auto* map = std::get_if<EncodableMap>(&value)) {
    EncodableMap repaired;
    for (const auto& entry : *map) {
      repaired.emplace(RepairUtf8Texts(entry.first), RepairUtf8Texts(entry.second));
    }
    return EncodableValue(std::move(repaired));
  }
  return value;
}

void ValidUtf8Result::SuccessInternal(const EncodableValue* result) {
  if (result == nullptr) {
    inner_->Success();
  } else if (HoldsOnlyValidUtf8(*result)) {
    // The usual case: the value goes on as it is, without a copy.
    inner_->Success(*result);
  } else {
    inner_->Success(RepairUtf8Texts(*result));
  }
}

void ValidUtf8Result::ErrorInternal(const std::string& error_code, const std::string& error_message,
                                    const EncodableValue* error_details) {
  if (error_details == nullptr) {
    inner_->Error(RepairUtf8(error_code), RepairUtf8(error_message));
  } else {
    inner_->Error(RepairUtf8(error_code), RepairUtf8(error_message),
                  RepairUtf8Texts(*error_details));
  }
}

void ValidUtf8Result::NotImplementedInternal() { inner_->NotImplemented(); }

}  // namespace vek_native
