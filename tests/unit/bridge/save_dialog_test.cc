// The save dialog's portable rules: the arguments as the bridge reads them
// (through a recording operation), the one file-type entry, the default
// extension, and the failure messages.
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bridge/native_bridge.h"
#include "bridge/save_dialog.h"
#include "common/format.h"
#include "unit/bridge/bridge_test_support.h"

namespace vek_native {
namespace {

using testing_support::FakeWindow;
using testing_support::NullMessenger;
using testing_support::PumpUntil;
using testing_support::QueuePoster;
using testing_support::ReplyRecord;

struct SeenCall {
  WindowHandle owner = nullptr;
  std::string filter_name;
  std::vector<std::string> extensions;
};

// Sends "pickSaveFile" with `extensions` as "filterExtensions" through the
// bridge and returns what the operation was handed.
SeenCall DispatchPick(EncodableValue extensions, std::string filter_name = "") {
  QueuePoster poster;
  NullMessenger messenger;
  NativeBridge bridge;
  bridge.SetPoster(&poster);
  auto seen = std::make_shared<SeenCall>();
  BridgeOperations ops;
  ops.pick_save_file = [seen](WindowHandle owner, const std::string&, const std::string&,
                              const std::string& name, const std::vector<std::string>& list,
                              std::string* path, std::string*) {
    seen->owner = owner;
    seen->filter_name = name;
    seen->extensions = list;
    path->clear();  // the user cancelled
    return true;
  };
  bridge.SetOperations(ops);
  bridge.Attach(&messenger, FakeWindow());
  EncodableMap args;
  args[EncodableValue("filterExtensions")] = std::move(extensions);
  if (!filter_name.empty()) args[EncodableValue("filterName")] = EncodableValue(filter_name);
  auto reply = testing_support::Call(bridge, "pickSaveFile", EncodableValue(std::move(args)));
  EXPECT_TRUE(PumpUntil(poster, bridge, [&] { return reply->replies == 1; }));
  // A cancelled dialog answers null, not an error.
  EXPECT_EQ(reply->kind, ReplyRecord::kSuccess);
  EXPECT_TRUE(reply->value.IsNull());
  bridge.Detach();
  return *seen;
}

EncodableValue List(std::vector<EncodableValue> values) {
  return EncodableValue(EncodableList(std::move(values)));
}

TEST(SaveDialogTest, FileTypeAndDefaultExtensionFollowTheExtensionsSent) {
  struct Case {
    const char* label;
    EncodableValue sent;
    std::string pattern;
    std::string default_extension;
  };
  const Case cases[] = {
      {"empty list", List({}), "*.html", "html"},
      {"html, empty, htm",
       List({EncodableValue("html"), EncodableValue(""), EncodableValue("htm")}), "*.html;*.htm",
       "html"},
      {"empty first", List({EncodableValue(""), EncodableValue("txt")}), "*.txt", ""},
      {"numbers only", List({EncodableValue(int32_t{1}), EncodableValue(2.5)}), "*.html", "html"},
      {"not a list", EncodableValue("html"), "*.html", "html"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const SeenCall seen = DispatchPick(c.sent);
    EXPECT_EQ(seen.owner, FakeWindow());
    const SaveDialogFileType type = SaveDialogFileTypeFor(seen.filter_name, seen.extensions);
    EXPECT_EQ(type.name, "HTML 报告");
    EXPECT_EQ(type.pattern, c.pattern);
    EXPECT_EQ(SaveDialogDefaultExtension(seen.extensions), c.default_extension);
  }
}

TEST(SaveDialogTest, NamedFilterKeepsItsNameAndOnlyEmptyExtensionsGiveEverything) {
  const SeenCall seen = DispatchPick(List({EncodableValue("csv")}), "表格");
  EXPECT_EQ(SaveDialogFileTypeFor(seen.filter_name, seen.extensions).name, "表格");
  // Reached only by callers other than the bridge, which never sends an
  // empty list on.
  EXPECT_EQ(SaveDialogFileTypeFor("", {"", ""}).pattern, "*.*");
  EXPECT_EQ(SaveDialogFileTypeFor("", {}).pattern, "*.*");
  EXPECT_EQ(SaveDialogFileTypeFor("", {}).name, "HTML 报告");
  EXPECT_EQ(SaveDialogDefaultExtension({}), "");
}

TEST(SaveDialogTest, FailureMessagesCarryTheHresultInEightUpperCaseDigits) {
  struct Case {
    SaveDialogStep step;
    uint32_t hresult;
    const char* message;
  };
  const Case cases[] = {
      {SaveDialogStep::kComInit, 0x80010106u,
       "保存对话框线程 COM 初始化失败（HRESULT 0x80010106）"},
      {SaveDialogStep::kCreate, 0x80040154u, "创建保存对话框失败（HRESULT 0x80040154）"},
      {SaveDialogStep::kShow, 0x80004005u, "保存对话框显示失败（HRESULT 0x80004005）"},
      {SaveDialogStep::kGetResult, 0u, "保存对话框未返回文件（HRESULT 0x00000000）"},
      {SaveDialogStep::kGetResult, 0x8000ffffu, "保存对话框未返回文件（HRESULT 0x8000FFFF）"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SaveDialogFailureMessage(c.step, c.hresult), c.message);
  }
  EXPECT_EQ(FormatHresult(0x1u), "0x00000001");
  EXPECT_EQ(FormatHresult(0xFFFFFFFFu), "0xFFFFFFFF");
  EXPECT_EQ(FormatHresult(kSaveDialogCancelled), "0x800704C7");
}

}  // namespace
}  // namespace vek_native
