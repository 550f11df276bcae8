#include "capture/elevated_helper.h"

#include <utility>

#include "common/format.h"
#include "common/text.h"

namespace vek_native {
namespace {

constexpr uint32_t kErrorAlreadyExists = 183;
// The user declined the elevation prompt.
constexpr uint32_t kErrorCancelled = 1223;
// A helper ended on time-out gets this exit code.
constexpr uint32_t kTerminatedExitCode = 1;
// TerminateProcess only starts the termination; the dying helper may still
// hold its result files open, so clean-up waits for it to be gone first.
constexpr uint32_t kTerminationGraceMs = 5000;

std::string WithBackslashes(std::string_view path) {
  std::string out(path);
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

bool IsAbsoluteWindowsPath(std::string_view path) {
  const bool drive = path.size() >= 3 &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z')) &&
                     path[1] == ':' && path[2] == '\\';
  const bool unc = path.size() >= 3 && path[0] == '\\' && path[1] == '\\' && path[2] != '\\';
  return drive || unc;
}

bool IsAcceptableNameCharacter(char c) {
  const auto u = static_cast<unsigned char>(c);
  if (u < 0x20) return false;
  switch (c) {
    case '\\':
    case ':':
    case '*':
    case '?':
    case '"':
    case '<':
    case '>':
    case '|':
      return false;
    default:
      return true;
  }
}

std::string_view TrimMetaKey(std::string_view text) {
  const char* kSpace = " \t\r\n";
  const size_t first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) return std::string_view();
  const size_t last = text.find_last_not_of(kSpace);
  return text.substr(first, last - first + 1);
}

}  // namespace

HelperParameter HelperParameter::Text(std::string text) {
  HelperParameter p;
  p.kind = Kind::kText;
  p.text = std::move(text);
  return p;
}

HelperParameter HelperParameter::Number(int64_t number) {
  HelperParameter p;
  p.kind = Kind::kNumber;
  p.number = number;
  return p;
}

std::string CodedMessage::Format(uint32_t code) const { return CodedText(before, code, after); }

std::string QuoteCommandLineArgument(std::string_view text) {
  // CommandLineToArgvW: 2n backslashes before a quote give n backslashes and
  // the quote delimits; 2n+1 give n backslashes and a literal quote;
  // backslashes elsewhere are literal. UTF-8 continuation bytes never equal
  // '"' or '\\', so working on bytes is safe.
  std::string out = "\"";
  size_t backslashes = 0;
  for (const char c : text) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    if (c == '"') {
      out.append(backslashes * 2 + 1, '\\');
    } else {
      out.append(backslashes, '\\');
    }
    out += c;
    backslashes = 0;
  }
  out.append(backslashes * 2, '\\');
  out += '"';
  return out;
}

bool BuildHelperParameterText(const std::string& helper_switch,
                              const std::vector<HelperParameter>& parameters, std::string* text) {
  std::string out = helper_switch;
  for (const HelperParameter& p : parameters) {
    out += ' ';
    if (p.kind == HelperParameter::Kind::kNumber) {
      out += std::to_string(p.number);
      continue;
    }
    if (p.text.find('\0') != std::string::npos) return false;
    out += QuoteCommandLineArgument(p.text);
  }
  *text = std::move(out);
  return true;
}

void RemoveResultLocation(FileSystem& fs, const HelperLaunchValues& values,
                          const std::string& location) {
  if (location.empty()) return;
  uint32_t ignored = 0;
  if (values.result_kind == ResultLocationKind::kFile) {
    fs.RemoveFile(location, &ignored);
    for (const std::string& suffix : values.companion_suffixes) {
      fs.RemoveFile(location + suffix, &ignored);
    }
    return;
  }
  for (const std::string& name : values.directory_files) {
    fs.RemoveFile(location + "\\" + name, &ignored);
  }
  fs.RemoveEmptyDirectory(location, &ignored);
}

bool LaunchElevatedHelper(ProcessLauncher& launcher, FileSystem& fs,
                          const HelperLaunchValues& values, HelperRunResult* result) {
  *result = HelperRunResult();
  uint32_t error = 0;

  std::string temp_directory;
  if (!fs.GetTempDirectory(&temp_directory, &error)) {
    result->message = values.temp_directory_failure.Format(error);
    return false;
  }
  const bool is_file = values.result_kind == ResultLocationKind::kFile;
  const std::string location =
      TempName(temp_directory, values.result_prefix, launcher.CurrentProcessId(),
               NextTempNameTick(launcher.TickCount64()), is_file ? ".txt" : "");
  if (is_file) {
    RemoveResultLocation(fs, values, location);
  } else if (!fs.MakeDirectory(location, &error) && error != kErrorAlreadyExists) {
    result->message = values.create_directory_failure.Format(error);
    return false;
  }
  result->result_location = location;

  auto fail = [&](std::string message) {
    RemoveResultLocation(fs, values, location);
    result->message = std::move(message);
    return false;
  };

  // Without an in-process operation the elevated process starts the helper
  // like anyone else; "runas" then raises no prompt.
  if (launcher.IsProcessElevated() && values.run_in_process) {
    result->ran_in_process = true;
    result->exit_code = values.run_in_process(location);
    return true;
  }

  std::string own_path;
  if (!launcher.GetOwnPath(&own_path, &error)) {
    return fail(values.own_path_failure.Format(error));
  }
  std::vector<HelperParameter> parameters = values.parameters;
  parameters.push_back(HelperParameter::Text(location));
  std::string parameter_text;
  if (!BuildHelperParameterText(values.helper_switch, parameters, &parameter_text)) {
    return fail(kParameterHasNulMessage);
  }

  ProcessLauncher::ProcessHandle process = nullptr;
  bool started = false;
  if (values.initialise_com) {
    // Every successful initialisation, S_FALSE included, is balanced.
    const ProcessLauncher::ComInit com = launcher.InitializeCom();
    started = launcher.StartElevated(own_path, parameter_text, &process, &error);
    if (com != ProcessLauncher::ComInit::kFailed) launcher.UninitializeCom();
  } else {
    started = launcher.StartElevated(own_path, parameter_text, &process, &error);
  }
  if (!started) {
    if (error == kErrorCancelled) {
      result->cancelled = true;
      return fail(values.declined_message);
    }
    return fail(values.start_failure.Format(error));
  }
  // Without a handle there is nothing to wait for and no exit code to read;
  // waiting on a null handle would report a failure as a finished helper.
  if (process == nullptr) {
    return fail(values.no_handle_message.empty() ? std::string(kDefaultNoHandleMessage)
                                                 : values.no_handle_message);
  }

  const ProcessLauncher::WaitResult wait = launcher.Wait(process, values.wait_limit_ms);
  const bool ends_helper = wait == ProcessLauncher::WaitResult::kTimedOut ||
                           (values.wait_ending == HelperWaitEnding::kAnyButSignalled &&
                            wait != ProcessLauncher::WaitResult::kSignalled);
  if (ends_helper) {
    launcher.Terminate(process, kTerminatedExitCode);
    launcher.Wait(process, kTerminationGraceMs);
    launcher.Close(process);
    if (values.remove_result_on_timeout) RemoveResultLocation(fs, values, location);
    result->message = values.timeout_message;
    return false;
  }

  uint32_t exit_code = 0;
  const bool have_code = launcher.GetExitCode(process, &exit_code, &error);
  launcher.Close(process);
  if (!have_code) return fail(values.exit_code_failure.Format(error));
  result->exit_code = exit_code;
  return true;
}

bool IsResultLocationFor(std::string_view path, std::string_view temp_directory,
                         std::string_view prefix) {
  if (prefix.empty() || temp_directory.empty()) return false;
  std::string temp = WithBackslashes(temp_directory);
  if (temp.back() != '\\') temp += '\\';
  const std::string full = WithBackslashes(path);
  if (!IsAbsoluteWindowsPath(temp)) return false;
  if (!EqualsIgnoreAsciiCase(std::string_view(full).substr(0, temp.size()), temp)) return false;
  // The name holds no separator, so "..", "." and subfolders cannot lead
  // out of the temporary directory.
  const std::string_view name = std::string_view(full).substr(temp.size());
  if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return false;
  for (const char c : name) {
    if (!IsAcceptableNameCharacter(c)) return false;
  }
  return true;
}

bool IsResultLocationFor(FileSystem& fs, const std::string& path, std::string_view prefix,
                         std::string* message) {
  std::string temp_directory;
  uint32_t error = 0;
  if (fs.GetTempDirectory(&temp_directory, &error) &&
      IsResultLocationFor(path, temp_directory, prefix)) {
    return true;
  }
  if (message) *message = "结果路径不在临时目录中或名称不符，拒绝写入：" + path;
  return false;
}

std::string MetaValue(std::string_view text, std::string_view key) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const size_t equals = line.find('=');
    if (equals != std::string_view::npos && TrimMetaKey(line.substr(0, equals)) == key) {
      return std::string(line.substr(equals + 1));
    }
    start = end + 1;
  }
  return std::string();
}

}  // namespace vek_native
