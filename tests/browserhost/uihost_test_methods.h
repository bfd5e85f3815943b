// The product's method table plus methods that only the browser host tests
// need, in the test build only.
#pragma once

#include "externalmethods/product/my_external_methods.h"

namespace testsupport {

class UiHostTestMethods : public stubframework::externalmethods::MyExternalMethods {
 public:
  explicit UiHostTestMethods(stubframework::externalmethods::MethodHost* host);

  // startTicker(count, callback): a worker thread calls the page function
  // with (10, count, i) for i = 1..count, then (0, count, count). After each
  // call has returned it sets the property "tickerReturned" to i, so that the
  // page can see that a call returned only after the page function had.
  HRESULT StartTicker(WORD flags, DISPPARAMS* params, VARIANT* result);

  // uiHostOperation(name, text) -> text: one operation of the host seam that
  // no script method uses yet ("minimize", "hide", "show", "drag", "caption",
  // "folder", "okCancel"), so that the browser host's side of each is tested.
  HRESULT UiHostOperation(WORD flags, DISPPARAMS* params, VARIANT* result);

  // childSeesToken() -> bool: whether a program this process starts finds
  // the harness's secret (UIHOST_TOKEN) in its environment.
  HRESULT ChildSeesToken(WORD flags, DISPPARAMS* params, VARIANT* result);
};

}  // namespace testsupport
