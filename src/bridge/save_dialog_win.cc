#include <windows.h>
#include <shobjidl.h>

#include <deque>
#include <exception>
#include <mutex>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "bridge/save_dialog.h"
#include "common/completion_latch.h"
#include "common/detached_thread.h"
#include "common/scoped_win.h"
#include "common/text.h"

namespace vek_native {
namespace {

// Spelled out here so the program needs no GUID import library.
const CLSID kClsidFileSaveDialog = {
    0xC0B4E2F3, 0xBA21, 0x4773, {0x8D, 0xBA, 0x33, 0x5E, 0xC9, 0x46, 0xEB, 0x8B}};
const IID kIidFileSaveDialog = {
    0x84BCCD23, 0x5FDE, 0x4CDB, {0xAE, 0xA4, 0xAF, 0x64, 0xB8, 0x3D, 0x78, 0xAB}};
const IID kIidShellItem = {
    0x43826D1E, 0xE718, 0x42EE, {0xBC, 0x55, 0xA1, 0xE2, 0x61, 0xC3, 0x7B, 0xFE}};

// Overwrite prompt, file-system items only, the folder must exist; set
// outright rather than merged with the dialog's current options.
constexpr DWORD kSaveOptions = 0x842;
static_assert(kSaveOptions == (FOS_OVERWRITEPROMPT | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST),
              "save dialog options");

uint32_t Code(HRESULT hr) { return static_cast<uint32_t>(hr); }

// Runs the dialog with COM already initialised on this thread.
bool RunDialog(HWND owner, const std::string& suggested_name, const std::string& default_directory,
               const std::string& filter_name, const std::vector<std::string>& extensions,
               std::string* path, std::string* message) {
  ScopedComPtr<IFileSaveDialog> dialog;
  HRESULT hr = CoCreateInstance(kClsidFileSaveDialog, nullptr, CLSCTX_INPROC_SERVER,
                                kIidFileSaveDialog, reinterpret_cast<void**>(dialog.Receive()));
  if (FAILED(hr) || !dialog.IsValid()) {
    *message = SaveDialogFailureMessage(SaveDialogStep::kCreate, Code(hr));
    return false;
  }
  dialog->SetOptions(kSaveOptions);
  if (!suggested_name.empty()) dialog->SetFileName(Utf8ToWide(suggested_name).c_str());
  const std::string default_extension = SaveDialogDefaultExtension(extensions);
  if (!default_extension.empty()) {
    dialog->SetDefaultExtension(Utf8ToWide(default_extension).c_str());
  }
  const SaveDialogFileType type = SaveDialogFileTypeFor(filter_name, extensions);
  const std::wstring type_name = Utf8ToWide(type.name);
  const std::wstring type_pattern = Utf8ToWide(type.pattern);
  COMDLG_FILTERSPEC spec = {type_name.c_str(), type_pattern.c_str()};
  dialog->SetFileTypes(1, &spec);
  dialog->SetFileTypeIndex(1);
  if (!default_directory.empty()) {
    // A folder that does not resolve leaves the system's choice in place.
    ScopedComPtr<IShellItem> folder;
    if (SUCCEEDED(SHCreateItemFromParsingName(Utf8ToWide(default_directory).c_str(), nullptr,
                                              kIidShellItem,
                                              reinterpret_cast<void**>(folder.Receive()))) &&
        folder.IsValid()) {
      dialog->SetDefaultFolder(folder.Get());
    }
  }

  hr = dialog->Show(owner);
  if (Code(hr) == kSaveDialogCancelled) return true;
  if (FAILED(hr)) {
    *message = SaveDialogFailureMessage(SaveDialogStep::kShow, Code(hr));
    return false;
  }
  ScopedComPtr<IShellItem> item;
  hr = dialog->GetResult(item.Receive());
  if (FAILED(hr) || !item.IsValid()) {
    *message = SaveDialogFailureMessage(SaveDialogStep::kGetResult, Code(hr));
    return false;
  }
  ScopedCoTaskMemory<wchar_t> name;
  if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, name.Receive())) && name.IsValid()) {
    *path = WideToUtf8(name.Get());
  }
  if (path->empty()) {
    *message = kSaveDialogEmptyPathMessage;
    return false;
  }
  return true;
}

// One save dialog asked of the dialog thread, answered through `done`.
struct DialogRequest {
  HWND owner = nullptr;
  std::string suggested_name;
  std::string default_directory;
  std::string filter_name;
  std::vector<std::string> extensions;
  bool ok = false;
  std::string path;
  std::string message;
  CompletionLatch done;
};

// Every save dialog of the process runs on one long-lived thread, one dialog
// at a time. Under Wine, each new COM apartment registers an RPC endpoint that
// is never given back, and Wine's RPC server waits on at most 64 of them: the
// 64th thread to open a dialog hung for ever inside it (its shell view's
// RegisterDragDrop marshals through COM), and with it every later dialog. One
// thread is one apartment, however many dialogs it shows. Its apartment stays
// initialised for the life of the process; while idle it pumps its messages,
// as a single-threaded apartment must.
class DialogThread {
 public:
  static DialogThread& Get() {
    static DialogThread* const thread = new DialogThread();  // lives as long as the process
    return *thread;
  }

  // Runs the request on the dialog thread and waits for its answer (as long
  // as the user takes). False when the thread cannot be started.
  bool Run(DialogRequest* request) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!started_) {
        wake_.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
        if (!wake_.IsValid()) return false;
        try {
          StartDetachedThread([this] { Loop(); });
        } catch (const std::exception&) {
          wake_.Reset();
          return false;
        }
        started_ = true;
      }
      queue_.push_back(request);
    }
    SetEvent(wake_.Get());
    request->done.Wait();
    return true;
  }

 private:
  void Loop() {
    const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    for (;;) {
      DialogRequest* request = Next();
      if (request == nullptr) {
        const HANDLE wake = wake_.Get();
        MsgWaitForMultipleObjects(1, &wake, FALSE, INFINITE, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
          TranslateMessage(&msg);
          DispatchMessageW(&msg);
        }
        continue;
      }
      if (FAILED(init)) {
        request->message = SaveDialogFailureMessage(SaveDialogStep::kComInit, Code(init));
      } else {
        request->ok =
            RunDialog(request->owner, request->suggested_name, request->default_directory,
                      request->filter_name, request->extensions, &request->path, &request->message);
      }
      request->done.Signal();
    }
  }

  DialogRequest* Next() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (queue_.empty()) return nullptr;
    DialogRequest* request = queue_.front();
    queue_.pop_front();
    return request;
  }

  std::mutex mutex_;
  std::deque<DialogRequest*> queue_;
  bool started_ = false;
  ScopedHandle wake_;  // auto-reset: a request was queued
};
static_assert(!std::is_copy_constructible_v<DialogThread>, "owns its wake event");

// The dialog on the calling thread, in a COM apartment of its own: what is
// left when the dialog thread cannot be started.
bool ShowOnThisThread(HWND owner, const std::string& suggested_name,
                      const std::string& default_directory, const std::string& filter_name,
                      const std::vector<std::string>& extensions, std::string* path,
                      std::string* message) {
  const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) {
    *message = SaveDialogFailureMessage(SaveDialogStep::kComInit, Code(hr));
    return false;
  }
  const bool ok =
      RunDialog(owner, suggested_name, default_directory, filter_name, extensions, path, message);
  CoUninitialize();
  return ok;
}

}  // namespace

bool ShowSaveDialog(WindowHandle owner, const std::string& suggested_name,
                    const std::string& default_directory, const std::string& filter_name,
                    const std::vector<std::string>& extensions, std::string* path,
                    std::string* message) {
  path->clear();
  DialogRequest request;
  request.owner = static_cast<HWND>(owner);
  request.suggested_name = suggested_name;
  request.default_directory = default_directory;
  request.filter_name = filter_name;
  request.extensions = extensions;
  if (!DialogThread::Get().Run(&request)) {
    return ShowOnThisThread(request.owner, suggested_name, default_directory, filter_name,
                            extensions, path, message);
  }
  *path = std::move(request.path);
  *message = std::move(request.message);
  return request.ok;
}

}  // namespace vek_native
