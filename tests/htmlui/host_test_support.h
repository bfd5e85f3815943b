// Helpers of the host window tests.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "base/property_bag.h"
#include "htmlui/document_guids.h"
#include "htmlui/html_external.h"

namespace testsupport {

// A bridge with one reference for the duration of a test.
class BridgeHolder {
 public:
  BridgeHolder() : bridge_(new stubframework::htmlui::HtmlExternal(bag_)) {}
  ~BridgeHolder() { bridge_->Release(); }
  BridgeHolder(const BridgeHolder&) = delete;
  BridgeHolder& operator=(const BridgeHolder&) = delete;
  stubframework::htmlui::HtmlExternal* get() const { return bridge_; }
  IDispatch* dispatch() const { return static_cast<IDispatchEx*>(bridge_); }

 private:
  stubframework::base::PropertyBag bag_;
  stubframework::htmlui::HtmlExternal* bridge_;
};

// The reference count of a COM object, read through AddRef/Release.
inline ULONG RefCount(IUnknown* object) {
  object->AddRef();
  return object->Release();
}

// Whether this system can create the HTML document object at all.
inline HRESULT HtmlDocumentAvailability() {
  IUnknown* document = nullptr;
  HRESULT hr = ::CoCreateInstance(stubframework::htmlui::kClsidHtmlDocument, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IUnknown, reinterpret_cast<void**>(&document));
  if (document != nullptr) document->Release();
  return hr;
}

// A COM apartment for the test, as the UI thread has.
class Apartment {
 public:
  Apartment() { ::CoInitialize(nullptr); }
  ~Apartment() { ::CoUninitialize(); }
};

}  // namespace testsupport
