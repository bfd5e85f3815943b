#include "browserhost/browser_ui_host.h"

#include <vector>

#include "base/log.h"
#include "base/variant.h"
#include "browserhost/external_caller.h"
#include "browserhost/utf8_text.h"
#include "htmlui/html_external.h"

namespace stubframework::browserhost {

namespace {

using nlohmann::json;

std::string TypeOf(const json& message) {
  auto type = message.find("type");
  return type != message.end() && type->is_string() ? type->get<std::string>() : std::string();
}

std::wstring TextField(const json& message, const char* name) {
  auto field = message.find(name);
  return field != message.end() && field->is_string() ? FromUtf8(field->get<std::string>()) : std::wstring();
}

bool IsPageRequest(const std::string& type) {
  return type == "get" || type == "put" || type == "call" || type == "delete";
}

// VARIANTs made from the page's values, cleared together.
class VariantList {
 public:
  ~VariantList() {
    for (VARIANT& v : items_) ::VariantClear(&v);
  }
  std::vector<VARIANT>* items() { return &items_; }

 private:
  std::vector<VARIANT> items_;
};

ATOM RegisterStandInClass(WNDPROC procedure) {
  static ATOM atom = 0;
  if (atom != 0) return atom;
  WNDCLASSEXW wc = {sizeof(wc)};
  wc.lpfnWndProc = procedure;
  wc.hInstance = ::GetModuleHandleW(nullptr);
  wc.hCursor = ::LoadCursorW(nullptr, IDC_ARROW);
  wc.lpszClassName = kBrowserHostWindowClass;
  atom = ::RegisterClassExW(&wc);
  return atom;
}

}  // namespace

BrowserUiHost::BrowserUiHost(HtmlExternal* bridge, const UiHostEndpoint& endpoint, std::string token,
                             base::Log* log)
    : bridge_(bridge),
      endpoint_(endpoint),
      token_(std::move(token)),
      log_(log),
      link_(std::make_shared<PageLink>()),
      values_(link_) {
  link_->sink = this;
}

BrowserUiHost::~BrowserUiHost() {
  // Page functions that workers still hold fail from now on.
  link_->sink = nullptr;
  if (window_ != nullptr) ::DestroyWindow(window_);
}

void BrowserUiHost::LogError(const wchar_t* what) {
  if (log_ != nullptr) log_->Error(L"UI host: %s", what);
}

bool BrowserUiHost::Run(const std::wstring& start_page) {
  if (bridge_ == nullptr) return false;
  if (!channel_.Connect(endpoint_)) {
    LogError(channel_.error().c_str());
    return false;
  }
  if (!CreateStandInWindow()) {
    LogError(L"the stand-in window could not be created");
    return false;
  }
  caller_ = std::make_unique<ExternalCaller>(static_cast<IDispatchEx*>(bridge_));
  bridge_->SetWindow(window_);
  if (log_ != nullptr) log_->Debug(L"UI host: browser host on port %d", endpoint_.port);
  json hello = {{"type", "hello"}, {"token", token_}, {"startPage", ToUtf8(start_page)}};
  if (channel_.Send(hello) == HostChannel::Sent::kSent) {
    RunLoop();
    LetThePageFinish();
    channel_.Send(json{{"type", "bye"}});
  } else {
    LogError(channel_.error().c_str());
  }
  channel_.Close();
  bridge_->SetWindow(nullptr);
  ::DestroyWindow(window_);
  window_ = nullptr;
  return true;
}

bool BrowserUiHost::CreateStandInWindow() {
  ATOM atom = RegisterStandInClass(StandInProc);
  if (atom == 0) return false;
  // The host window's styles, so that the placement rule sees the same frame;
  // never shown: the browser shows the page.
  window_ = ::CreateWindowExW(WS_EX_APPWINDOW, MAKEINTATOM(atom), nullptr, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              ::GetModuleHandleW(nullptr), nullptr);
  if (window_ == nullptr) return false;
  ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return true;
}

LRESULT CALLBACK BrowserUiHost::StandInProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* host = reinterpret_cast<BrowserUiHost*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (host != nullptr) {
    switch (message) {
      case WM_SIZE:
        if (wparam == SIZE_RESTORED || wparam == SIZE_MAXIMIZED) {
          host->Notify("resize", json{{"width", LOWORD(lparam)}, {"height", HIWORD(lparam)}});
        }
        return 0;
      case WM_CLOSE:
        host->RequestClose();
        return 0;
      default:
        break;
    }
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

void BrowserUiHost::RunLoop() {
  while (!quit_) {
    HANDLE ready = channel_.ready();
    DWORD woken = ::MsgWaitForMultipleObjectsEx(1, &ready, INFINITE, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    if (woken == WAIT_OBJECT_0) {
      json message;
      if (!channel_.Receive(&message)) {
        LogError(L"the harness closed the connection");
        quit_ = true;
        break;
      }
      Handle(message);
      continue;
    }
    // Calls of workers into page functions arrive here as window messages.
    MSG msg;
    while (!quit_ && ::PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        quit_ = true;
        break;
      }
      ::TranslateMessage(&msg);
      ::DispatchMessageW(&msg);
    }
  }
}

void BrowserUiHost::LetThePageFinish() {
  if (channel_.Send(json{{"type", "closing"}}) != HostChannel::Sent::kSent) return;
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    ULONGLONG spent = ::GetTickCount64() - start;
    if (spent >= kPageFinishMs) return;
    json message;
    if (channel_.ReceiveWithin(&message, static_cast<DWORD>(kPageFinishMs - spent)) != HostChannel::Wait::kMessage) {
      return;
    }
    if (TypeOf(message) == "idle") return;
    Handle(message);
  }
}

void BrowserUiHost::Handle(const json& message) {
  std::string type = TypeOf(message);
  if (IsPageRequest(type)) {
    Serve(message);
  } else if (type == "loaded") {
    // As the document site does when a load completes.
    ApplyDefaultSize();
  } else if (type == "title") {
    ::SetWindowTextW(window_, TextField(message, "text").c_str());
  } else if (type == "close") {
    // The browser window was closed: as WM_CLOSE on the host window.
    RequestClose();
  } else if (log_ != nullptr) {
    log_->Error(L"UI host: unexpected message \"%s\"", FromUtf8(type).c_str());
  }
}

void BrowserUiHost::Serve(const json& request) {
  ++serving_;
  std::string type = TypeOf(request);
  std::wstring name = TextField(request, "name");
  json reply = {{"type", "result"}};
  HRESULT hr = S_OK;
  base::UniqueVariant result;
  if (type == "get") {
    ExternalCaller::Kind kind = ExternalCaller::Kind::kMissing;
    hr = caller_->Get(name, &kind, result.Get());
    reply["kind"] = kind == ExternalCaller::Kind::kMethod  ? "method"
                    : kind == ExternalCaller::Kind::kValue ? "value"
                                                           : "missing";
  } else if (type == "put") {
    base::UniqueVariant value;
    hr = values_.ToVariant(request.contains("value") ? request["value"] : json(), value.Get());
    if (SUCCEEDED(hr)) hr = caller_->Put(name, value.Get());
  } else if (type == "call") {
    VariantList args;
    auto list = request.find("args");
    if (list != request.end() && list->is_array()) {
      for (const json& arg : *list) {
        VARIANT v;
        hr = values_.ToVariant(arg, &v);
        if (FAILED(hr)) break;
        args.items()->push_back(v);
      }
    }
    if (SUCCEEDED(hr)) hr = caller_->Call(name, args.items(), result.Get());
  } else if (type == "delete") {
    hr = caller_->Delete(name);
    reply["deleted"] = hr == S_OK;
  }
  if (FAILED(hr)) {
    reply["error"] = static_cast<uint32_t>(hr);
  } else {
    reply["value"] = values_.FromVariant(*result.Get());
  }
  --serving_;
  if (channel_.Send(reply) == HostChannel::Sent::kTooLarge) {
    // The answer does not fit in a frame: the page's call fails, the run goes on.
    channel_.Send(json{{"type", "result"}, {"error", static_cast<uint32_t>(kFrameTooLarge)}});
  }
}

HRESULT BrowserUiHost::Converse(json message, const char* answer_type, json* answer) {
  int64_t sequence = ++sequence_;
  message["seq"] = sequence;
  message["nested"] = serving_ > 0;
  switch (channel_.Send(message)) {
    case HostChannel::Sent::kSent:
      break;
    case HostChannel::Sent::kTooLarge:
      LogError(L"a message for the page does not fit in a frame");
      return kFrameTooLarge;
    case HostChannel::Sent::kFailed:
      return RPC_E_DISCONNECTED;
  }
  for (;;) {
    json incoming;
    if (!channel_.Receive(&incoming)) {
      LogError(L"the harness closed the connection");
      quit_ = true;
      return RPC_E_DISCONNECTED;
    }
    std::string type = TypeOf(incoming);
    auto seq = incoming.find("seq");
    if (type == answer_type && seq != incoming.end() && seq->is_number_integer() && seq->get<int64_t>() == sequence) {
      *answer = std::move(incoming);
      break;
    }
    Handle(incoming);
  }
  // The page's part of a conversation that stood on its own ends here.
  if (serving_ == 0) channel_.Send(json{{"type", "done"}});
  return S_OK;
}

HRESULT BrowserUiHost::CallPageFunction(const std::string& id, const json& args, json* value, std::wstring* error) {
  json answer;
  HRESULT hr = Converse(json{{"type", "invoke"}, {"fn", id}, {"args", args}}, "return", &answer);
  if (FAILED(hr)) return hr;
  if (answer.contains("error")) {
    *error = TextField(answer, "error");
    if (error->empty()) *error = L"the page function failed";
    return S_OK;
  }
  *value = answer.contains("value") ? answer["value"] : json{{"t", "undefined"}};
  return S_OK;
}

void BrowserUiHost::Notify(const char* operation, json fields) {
  fields["type"] = "window";
  fields["op"] = operation;
  channel_.Send(fields);
}

bool BrowserUiHost::RequestClose() {
  if (window_ == nullptr || quit_) return false;
  quit_ = true;
  return true;
}

void BrowserUiHost::Minimize() { Notify("minimize"); }
void BrowserUiHost::Hide() { Notify("hide"); }
void BrowserUiHost::Show() { Notify("show"); }
void BrowserUiHost::Drag() { Notify("drag"); }

void BrowserUiHost::SetWindowSize(int width, int height) {
  // The stand-in window's WM_SIZE tells the harness.
  if (bridge_ != nullptr) bridge_->SetWindowSize(width, height);
}

void BrowserUiHost::ApplyDefaultSize() {
  if (bridge_ != nullptr) bridge_->ApplyDefaultSize();
}

void BrowserUiHost::SetCaption(const std::wstring& caption) {
  if (window_ != nullptr) ::SetWindowTextW(window_, caption.c_str());
  Notify("caption", json{{"text", ToUtf8(caption)}});
}

int BrowserUiHost::ShowMessageBox(const std::wstring& text, const std::wstring& caption, UINT type) {
  json answer;
  json box = {{"type", "box"}, {"text", ToUtf8(text)}, {"caption", ToUtf8(caption)}, {"style", type}};
  if (FAILED(Converse(std::move(box), "answer", &answer))) return 0;
  auto value = answer.find("value");
  return value != answer.end() && value->is_number_integer() ? value->get<int>() : 0;
}

std::wstring BrowserUiHost::PickFolder(const std::wstring& initial) {
  json answer;
  if (FAILED(Converse(json{{"type", "folder"}, {"initial", ToUtf8(initial)}}, "answer", &answer))) return initial;
  auto text = answer.find("text");
  return text != answer.end() && text->is_string() ? FromUtf8(text->get<std::string>()) : initial;
}

}  // namespace stubframework::browserhost
