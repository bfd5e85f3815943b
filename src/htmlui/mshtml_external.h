// The automation side of window.external: IDispatchEx over a list of named
// methods (supplied by the derived class) and script's own expando properties.
// Every call arrives on the UI thread, so the reference count is plain.
#pragma once

#include <windows.h>
#include <dispex.h>

#include "htmlui/expando_list.h"

namespace stubframework::htmlui {

// IDispatchEx, {A6EF9860-C720-11D0-9337-00A0C90DCAA9}; the import libraries declare but do not define it.
inline constexpr IID kIidDispatchEx = {0xA6EF9860, 0xC720, 0x11D0, {0x93, 0x37, 0x00, 0xA0, 0xC9, 0x0D, 0xCA, 0xA9}};

// Identifiers: a method is 1 + its position; an expando kExpandoBase + its position.
inline constexpr DISPID kExpandoBase = static_cast<DISPID>(0x80000000);

class MSHTMLExternal : public IDispatchEx {
 public:
  MSHTMLExternal() = default;
  MSHTMLExternal(const MSHTMLExternal&) = delete;
  MSHTMLExternal& operator=(const MSHTMLExternal&) = delete;

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

  HWND window() const { return window_; }
  const ExpandoList& expandos() const { return expandos_; }

 protected:
  virtual ~MSHTMLExternal() = default;

  // The script methods, in identifier order.
  virtual int MethodCount() const = 0;
  virtual const wchar_t* MethodName(int index) const = 0;
  virtual HRESULT CallMethod(int index, WORD flags, DISPPARAMS* params, VARIANT* result) = 0;

  void StoreWindow(HWND window) { window_ = window; }

 private:
  // Position of the method with that name, or -1.
  int FindMethod(const wchar_t* name, bool ignore_case) const;
  HRESULT InvokeExpando(int index, LCID lcid, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, IServiceProvider* caller);

  LONG ref_count_ = 1;
  ExpandoList expandos_;
  HWND window_ = nullptr;
};

}  // namespace stubframework::htmlui
