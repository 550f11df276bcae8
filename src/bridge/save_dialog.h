// The save dialog: the portable rules (the one file-type entry, the default
// extension, the failure messages) and the dialog routine itself, which is
// Windows code (save_dialog_win.cc).
#ifndef VEK_BRIDGE_SAVE_DIALOG_H_
#define VEK_BRIDGE_SAVE_DIALOG_H_

#include <cstdint>
#include <string>
#include <vector>

#include "bridge/bridge_operations.h"

namespace vek_native {

// The type entry offered when the caller names none.
extern const char kDefaultSaveFilterName[];

// The single file-type entry the dialog offers.
struct SaveDialogFileType {
  std::string name;
  std::string pattern;
};

// Name: the filter name, or the default one when empty. Pattern: "*." + every
// non-empty extension, in order, joined with ";"; "*.*" when none is left.
SaveDialogFileType SaveDialogFileTypeFor(const std::string& filter_name,
                                         const std::vector<std::string>& extensions);

// The first extension (without a dot); empty when the list is empty or the
// first one is empty, in which case the dialog sets no default extension.
std::string SaveDialogDefaultExtension(const std::vector<std::string>& extensions);

// The steps of the dialog routine that can fail with an HRESULT.
enum class SaveDialogStep { kComInit, kCreate, kShow, kGetResult };

// The failure message of a step: its prefix, the HRESULT as "0x%08lX", "）".
std::string SaveDialogFailureMessage(SaveDialogStep step, uint32_t hresult);

// The message when the dialog hands back an empty path.
extern const char kSaveDialogEmptyPathMessage[];

// The HRESULT the dialog answers when the user cancels.
constexpr uint32_t kSaveDialogCancelled = 0x800704C7u;

// Shows the system's save dialog owned by `owner` and waits for the user.
// Dialogs run one at a time on the process's dialog thread, in its own COM
// apartment (see save_dialog_win.cc for why), or on the calling thread when
// that thread cannot be started. True with the chosen path, or true with an
// empty path when the user cancelled; false with a message otherwise.
// Windows only.
bool ShowSaveDialog(WindowHandle owner, const std::string& suggested_name,
                    const std::string& default_directory, const std::string& filter_name,
                    const std::vector<std::string>& extensions, std::string* path,
                    std::string* message);

}  // namespace vek_native

#endif  // VEK_BRIDGE_SAVE_DIALOG_H_
