// Stands in for the stub where a test must start it as the system would. With
// the arguments "register CODE 0|1" it registers itself as the product's
// uninstall entry through setUninstallRegistryFromStub. Started any other way,
// it asks isUninstallModeLaunch and isSkipSelfUpdate, and appends one line to
// the file named by STUB_RECORD_FILE: the two answers, "uninstallMode",
// "defaultOption" and its own path, separated by "|".
#include <windows.h>
#include <oleauto.h>
#include <shellapi.h>

#include <memory>
#include <string>

#include "app/application.h"
#include "base/variant.h"
#include "externalmethods/product/my_external_methods.h"

namespace {

using stubframework::app::Application;

HRESULT Invoke(Application& app, const wchar_t* name, VARIANT* args, UINT count, VARIANT* result) {
  IDispatch* external = app.external_dispatch();
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = external->GetIDsOfNames(IID_NULL, names, 1, 0, &id);
  if (FAILED(hr)) return hr;
  DISPPARAMS params = {args, nullptr, count, 0};
  return external->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &params, result, nullptr, nullptr);
}

bool AskBool(Application& app, const wchar_t* name) {
  stubframework::base::UniqueVariant result;
  return SUCCEEDED(Invoke(app, name, nullptr, 0, result.Receive())) && result.Type() == VT_BOOL &&
         result.Get()->boolVal == VARIANT_TRUE;
}

void AppendRecord(const std::wstring& line) {
  wchar_t path[MAX_PATH] = {};
  if (::GetEnvironmentVariableW(L"STUB_RECORD_FILE", path, MAX_PATH) == 0) return;
  HANDLE file = ::CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, 0,
                              nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  ::WriteFile(file, line.data(), static_cast<DWORD>(line.size() * sizeof(wchar_t)), &written, nullptr);
  ::CloseHandle(file);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  std::unique_ptr<Application> app = Application::Create();
  if (!app) return 2;
  stubframework::externalmethods::MyExternalMethods methods(app.get());
  app->external()->AttachMethods(&methods);

  int argc = 0;
  LPWSTR* argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv != nullptr && argc == 4 && std::wstring(argv[1]) == L"register") {
    stubframework::base::UniqueVariant args[2];  // last script argument first
    args[0].SetBool(std::wstring(argv[3]) == L"1");
    args[1].SetText(argv[2]);
    VARIANT laid_out[2] = {*args[0].Get(), *args[1].Get()};
    HRESULT hr = Invoke(*app, L"setUninstallRegistryFromStub", laid_out, 2, nullptr);
    ::LocalFree(argv);
    return SUCCEEDED(hr) ? 0 : 3;
  }
  if (argv != nullptr) ::LocalFree(argv);

  const bool uninstall = AskBool(*app, L"isUninstallModeLaunch");
  const bool skip = AskBool(*app, L"isSkipSelfUpdate");
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  AppendRecord(std::wstring(uninstall ? L"true" : L"false") + L"|" + (skip ? L"true" : L"false") + L"|" +
               app->external()->GetProperty(L"uninstallMode") + L"|" + app->external()->GetProperty(L"defaultOption") +
               L"|" + self + L"\n");
  return 0;
}
