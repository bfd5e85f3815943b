#include "externalmethods/method_test_support.h"

#include <shellapi.h>

#include <chrono>
#include <map>

#include "base/temp_folder.h"
#include "base/variant.h"
#include "htmlui/host_window.h"

namespace testsupport {

using namespace stubframework;


namespace {

bool ShutdownPrivilege(LUID* luid) { return ::LookupPrivilegeValueW(nullptr, SE_SHUTDOWN_NAME, luid) != FALSE; }

// Window moves per documentless window, counted by its window procedure.
std::map<HWND, int>& Moves() {
  static std::map<HWND, int> moves;
  return moves;
}

LRESULT CALLBACK DocumentlessProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_CREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lparam);
    htmlui::InstallHostWindowData(window, *static_cast<const htmlui::HostWindowParams*>(create->lpCreateParams));
    return 0;
  }
  if (message == WM_WINDOWPOSCHANGED) {
    const auto* pos = reinterpret_cast<const WINDOWPOS*>(lparam);
    if ((pos->flags & (SWP_NOMOVE | SWP_NOSIZE)) != (SWP_NOMOVE | SWP_NOSIZE)) ++Moves()[window];
  }
  return htmlui::HostWindowProc(window, message, wparam, lparam);
}

bool RegisterDocumentlessClass() {
  static const bool registered = [] {
    WNDCLASSEXW wc = {sizeof(wc)};
    wc.lpfnWndProc = DocumentlessProc;
    wc.cbWndExtra = sizeof(void*);
    wc.hInstance = ::GetModuleHandleW(nullptr);
    wc.lpszClassName = htmlui::kWindowClassName;
    return ::RegisterClassExW(&wc) != 0;
  }();
  return registered;
}

std::wstring ReadUtf16(const std::wstring& path) {
  std::wstring text;
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return text;
  wchar_t buffer[1024];
  DWORD read = 0;
  while (::ReadFile(file, buffer, sizeof(buffer), &read, nullptr) && read > 0) text.append(buffer, read / 2);
  ::CloseHandle(file);
  return text;
}

}  // namespace

bool SettableHost::RequestRestart(UINT flags, DWORD reason) {
  restarts.push_back({flags, reason, ShutdownPrivilegeEnabled()});
  return true;
}

bool ShutdownPrivilegeEnabled() {
  LUID luid;
  HANDLE token = nullptr;
  if (!ShutdownPrivilege(&luid) || !::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  BYTE buffer[4096];
  DWORD size = 0;
  bool enabled = false;
  if (::GetTokenInformation(token, TokenPrivileges, buffer, sizeof(buffer), &size)) {
    const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer);
    for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
      const LUID_AND_ATTRIBUTES& p = privileges->Privileges[i];
      if (p.Luid.LowPart == luid.LowPart && p.Luid.HighPart == luid.HighPart) {
        enabled = (p.Attributes & SE_PRIVILEGE_ENABLED) != 0;
      }
    }
  }
  ::CloseHandle(token);
  return enabled;
}

void DisableShutdownPrivilege() {
  TOKEN_PRIVILEGES off = {};
  HANDLE token = nullptr;
  if (!ShutdownPrivilege(&off.Privileges[0].Luid) ||
      !::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) {
    return;
  }
  off.PrivilegeCount = 1;
  ::AdjustTokenPrivileges(token, FALSE, &off, 0, nullptr, nullptr);
  ::CloseHandle(token);
}

void MethodFixture::SetUp() {
  ASSERT_TRUE(SUCCEEDED(::CoInitialize(nullptr)));
  AppFixture::SetUp();
  if (HasFatalFailure()) return;
  host_ = std::make_unique<SettableHost>(app_.get());
  methods_ = std::make_unique<externalmethods::MyExternalMethods>(host_.get());
  ASSERT_TRUE(app_->external()->AttachMethods(methods_.get()));
  work_ = base::MakeUniqueFolder(base::WithTrailingBackslash(temp_));
  ASSERT_FALSE(work_.empty());
}

void MethodFixture::TearDown() {
  AppFixture::TearDown();
  methods_.reset();
  host_.reset();
  ::CoUninitialize();
}

HRESULT MethodFixture::Call(const wchar_t* name, WORD flags, ScriptArgs& args, VARIANT* result) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  EXPECT_EQ(app_->external_dispatch()->GetIDsOfNames(IID_NULL, names, 1, 0, &id), S_OK) << base::ToAnsi(name);
  return app_->external_dispatch()->Invoke(id, IID_NULL, 0, flags, args.params(), result, nullptr, nullptr);
}

std::wstring MethodFixture::Text(const wchar_t* name, ScriptArgs&& args, WORD flags) {
  base::UniqueVariant result;
  EXPECT_EQ(Call(name, flags, args, result.Receive()), S_OK) << base::ToAnsi(name);
  if (result.Type() != VT_BSTR) {
    ADD_FAILURE() << base::ToAnsi(name) << " answered type " << result.Type();
    return L"<not text>";
  }
  return std::wstring(result.Get()->bstrVal, ::SysStringLen(result.Get()->bstrVal));
}

LONG MethodFixture::Int(const wchar_t* name, ScriptArgs&& args) {
  base::UniqueVariant result;
  EXPECT_EQ(Call(name, 3, args, result.Receive()), S_OK) << base::ToAnsi(name);
  EXPECT_EQ(result.Type(), VT_I4) << base::ToAnsi(name);
  return result.Get()->lVal;
}

bool MethodFixture::Bool(const wchar_t* name, ScriptArgs&& args, WORD flags) {
  base::UniqueVariant result;
  EXPECT_EQ(Call(name, flags, args, result.Receive()), S_OK) << base::ToAnsi(name);
  EXPECT_EQ(result.Type(), VT_BOOL) << base::ToAnsi(name);
  EXPECT_TRUE(result.Get()->boolVal == VARIANT_TRUE || result.Get()->boolVal == VARIANT_FALSE);
  return result.Get()->boolVal == VARIANT_TRUE;
}

DocumentlessWindow::DocumentlessWindow(htmlui::HtmlExternal* bridge) : ui_(bridge) {
  EXPECT_TRUE(RegisterDocumentlessClass());
  htmlui::HostWindowParams params{L"C:\\bundle\\Load.html", bridge, &quit_};
  window_ = ::CreateWindowExW(WS_EX_APPWINDOW, htmlui::kWindowClassName, nullptr, WS_POPUP | WS_VISIBLE, 0, 0, 0, 0,
                              nullptr, nullptr, ::GetModuleHandleW(nullptr), &params);
  EXPECT_NE(window_, nullptr);
}

DocumentlessWindow::~DocumentlessWindow() {
  if (::IsWindow(window_)) ::DestroyWindow(window_);
  Moves().erase(window_);
}

int DocumentlessWindow::moves() const {
  auto it = Moves().find(window_);
  return it == Moves().end() ? 0 : it->second;
}

DialogAnswerer::DialogAnswerer(Match match, UINT message, WPARAM wparam) {
  const DWORD process = ::GetCurrentProcessId();
  thread_ = std::thread([this, match, message, wparam, process] {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!stop_ && std::chrono::steady_clock::now() < deadline) {
      HWND found = nullptr;
      for (HWND dialog = ::FindWindowExW(nullptr, nullptr, L"#32770", nullptr); dialog != nullptr;
           dialog = ::FindWindowExW(nullptr, dialog, L"#32770", nullptr)) {
        DWORD owner_process = 0;
        ::GetWindowThreadProcessId(dialog, &owner_process);
        if (owner_process == process && ::IsWindowVisible(dialog) && match(dialog)) {
          found = dialog;
          break;
        }
      }
      if (found != nullptr) {
        wchar_t caption[256] = {};
        ::GetWindowTextW(found, caption, 256);
        caption_ = caption;
        ::PostMessageW(found, message, wparam, 0);
        answered_ = true;
        return;
      }
      ::Sleep(20);
    }
  });
}

DialogAnswerer::~DialogAnswerer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
}

bool DialogAnswerer::Answered() {
  if (thread_.joinable()) thread_.join();
  return answered_;
}

DialogAnswerer::Match Caption(const std::wstring& caption) {
  return [caption](HWND dialog) {
    wchar_t text[256] = {};
    ::GetWindowTextW(dialog, text, 256);
    return caption == text;
  };
}

Probe::Probe(const std::wstring& folder) : path_(folder + L"probe_app.exe") {
  EXPECT_TRUE(::CopyFileW(testsupport::WindowsPathOf(PROBE_APP_EXE).c_str(), path_.c_str(), FALSE)) << PROBE_APP_EXE;
}

std::vector<std::wstring> Probe::Starts(size_t at_least, int wait_ms) const {
  std::vector<std::wstring> lines;
  auto read = [&] {
    lines.clear();
    std::wstring text = ReadUtf16(path_ + L".log");
    size_t start = 0;
    for (size_t end; (end = text.find(L'\n', start)) != std::wstring::npos; start = end + 1) {
      lines.push_back(text.substr(start, end - start));
    }
    return lines.size() >= at_least;
  };
  WaitFor(read, wait_ms);
  return lines;
}

std::vector<std::wstring> SplitArgs(const std::wstring& command_line) {
  std::vector<std::wstring> args;
  int count = 0;
  LPWSTR* argv = ::CommandLineToArgvW(command_line.c_str(), &count);
  if (argv == nullptr) return args;
  for (int i = 0; i < count; ++i) args.emplace_back(argv[i]);
  ::LocalFree(argv);
  return args;
}


bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

bool WriteFileBytes(const std::wstring& path, const std::string& bytes) {
  HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool ok = ::WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
            written == bytes.size();
  ::CloseHandle(file);
  return ok;
}

bool WaitFor(const std::function<bool()>& done, int wait_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    ::Sleep(20);
  }
  return true;
}

}  // namespace testsupport
