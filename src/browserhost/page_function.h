// A page's script function as the native side holds it in the browser host:
// an automation object whose default member sends the call to the page and
// returns when the page function has returned. Workers reach it through the
// marshalled stream like any script function of the MSHTML host.
#pragma once

#include <windows.h>
#include <dispex.h>

#include <memory>
#include <string>

#include <nlohmann/json.hpp>

namespace stubframework::browserhost {

// Where page functions send their calls: the browser host while it runs.
class PageFunctionSink {
 public:
  virtual ~PageFunctionSink() = default;
  // `args` in script order, as script values. Fills `value` with the page
  // function's result or `error` with what it threw; returns S_OK, or a
  // failure when the page could not be reached.
  virtual HRESULT CallPageFunction(const std::string& id, const nlohmann::json& args, nlohmann::json* value,
                                   std::wstring* error) = 0;
};

// Outlives the host: a worker may still hold a function when the window has
// gone. The host clears the sink when it ends.
struct PageLink {
  PageFunctionSink* sink = nullptr;
};

class PageFunction : public IDispatchEx {
 public:
  // One reference for the caller.
  static PageFunction* Create(std::shared_ptr<PageLink> link, std::string id);
  // The page function behind an object, or null when it is not one of ours.
  static PageFunction* From(IUnknown* object);

  const std::string& id() const { return id_; }

  // IUnknown
  STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
  STDMETHODIMP_(ULONG) AddRef() override;
  STDMETHODIMP_(ULONG) Release() override;
  // IDispatch
  STDMETHODIMP GetTypeInfoCount(UINT* count) override;
  STDMETHODIMP GetTypeInfo(UINT index, LCID lcid, ITypeInfo** info) override;
  STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid, DISPID* ids) override;
  STDMETHODIMP Invoke(DISPID id, REFIID riid, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                      EXCEPINFO* exception, UINT* arg_error) override;
  // IDispatchEx
  STDMETHODIMP GetDispID(BSTR name, DWORD grfdex, DISPID* id) override;
  STDMETHODIMP InvokeEx(DISPID id, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, IServiceProvider* caller) override;
  STDMETHODIMP DeleteMemberByName(BSTR name, DWORD grfdex) override;
  STDMETHODIMP DeleteMemberByDispID(DISPID id) override;
  STDMETHODIMP GetMemberProperties(DISPID id, DWORD fetch, DWORD* properties) override;
  STDMETHODIMP GetMemberName(DISPID id, BSTR* name) override;
  STDMETHODIMP GetNextDispID(DWORD grfdex, DISPID id, DISPID* next) override;
  STDMETHODIMP GetNameSpaceParent(IUnknown** parent) override;

 private:
  PageFunction(std::shared_ptr<PageLink> link, std::string id) : link_(std::move(link)), id_(std::move(id)) {}
  virtual ~PageFunction() = default;

  HRESULT Call(WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception);

  LONG ref_count_ = 1;
  std::shared_ptr<PageLink> link_;
  std::string id_;
};

}  // namespace stubframework::browserhost
