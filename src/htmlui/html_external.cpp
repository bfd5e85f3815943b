#include "htmlui/html_external.h"

#include "htmlui/window_placement.h"

namespace stubframework::htmlui {

HtmlExternal::HtmlExternal(base::PropertyBag& properties, RunState* run) : bag_(properties), run_(run) {}

bool HtmlExternal::AttachMethods(ScriptMethods* methods) {
  if (methods == nullptr) return false;
  std::vector<ScriptMethods::Entry> entries(methods->Count());
  if (!methods->Enumerate(entries.data(), entries.size())) return false;
  names_.clear();
  for (const auto& entry : entries) names_.emplace_back(entry.name);
  entries_ = std::move(entries);
  for (size_t i = 0; i < entries_.size(); ++i) entries_[i].name = names_[i].c_str();
  methods_ = methods;
  properties_.emplace(bag_, methods->lock());
  if (window() != nullptr) methods_->SetHostWindow(window());
  properties_->SetDownloadTotal(1);
  properties_->SetDownloadCurrent(0);
  properties_->SetInstallTotal(1);
  properties_->SetInstallCurrent(0);
  return true;
}

HRESULT HtmlExternal::CallMethod(int index, WORD flags, DISPPARAMS* params, VARIANT* result) {
  return (methods_->*entries_[index].handler)(flags, params, result);
}

void HtmlExternal::SetWindow(HWND window) {
  if (window == this->window()) return;
  StoreWindow(window);
  if (methods_ != nullptr) methods_->SetHostWindow(window);
}

void HtmlExternal::SetWindowSize(int width, int height) {
  HWND host = window();
  if (host == nullptr) return;
  RECT place = PlaceWindowRect(width, height, PlacementInputsFor(host));
  int w = place.right - place.left;
  int h = place.bottom - place.top;
  if (w == width_ && h == height_) return;
  width_ = w;
  height_ = h;
  ::SetWindowPos(host, nullptr, place.left, place.top, w, h, SWP_NOOWNERZORDER | SWP_NOACTIVATE | SWP_NOZORDER);
}

void HtmlExternal::ApplyDefaultSize() {
  HWND host = window();
  RECT client = {};
  if (host == nullptr || !::GetClientRect(host, &client)) return;
  if (client.right - client.left != 0 && client.bottom - client.top != 0) return;
  SetWindowSize(kDefaultWidth, kDefaultHeight);
}

void HtmlExternal::SetProperty(const std::wstring& name, const std::wstring& value) {
  if (properties_) properties_->SetProperty(name, value);
}

std::wstring HtmlExternal::GetProperty(const std::wstring& name) {
  return properties_ ? properties_->GetProperty(name) : std::wstring();
}

void HtmlExternal::SetDownloadTotal(unsigned long value) {
  if (properties_) properties_->SetDownloadTotal(value);
}
void HtmlExternal::SetDownloadCurrent(unsigned long value) {
  if (properties_) properties_->SetDownloadCurrent(value);
}
void HtmlExternal::SetInstallTotal(unsigned long value) {
  if (properties_) properties_->SetInstallTotal(value);
}
void HtmlExternal::SetInstallCurrent(unsigned long value) {
  if (properties_) properties_->SetInstallCurrent(value);
}
long HtmlExternal::GetDownloadTotal() { return properties_ ? properties_->GetDownloadTotal() : 0; }
long HtmlExternal::GetDownloadCurrent() { return properties_ ? properties_->GetDownloadCurrent() : 0; }
long HtmlExternal::GetInstallTotal() { return properties_ ? properties_->GetInstallTotal() : 0; }
long HtmlExternal::GetInstallCurrent() { return properties_ ? properties_->GetInstallCurrent() : 0; }

void HtmlExternal::Progress(unsigned done, unsigned total) {
  SetInstallCurrent(static_cast<unsigned long>(done * 0.1));
  SetInstallTotal(total);
}

}  // namespace stubframework::htmlui
