// How a worker thread calls a page's script function: the script method
// marshals the function on the UI thread, the worker unmarshals it inside the
// multithreaded apartment, and COM carries each call back to the UI thread,
// which runs it while pumping messages. Every worker goes through these.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <cstdint>

#include "base/log.h"
#include "htmlui/run_state.h"

namespace stubframework::htmlui {

// The handler side: holds the marshalled function until a worker takes it.
class CallbackStream {
 public:
  CallbackStream() = default;
  // A stream that no worker took is released with its marshalled data.
  ~CallbackStream();
  CallbackStream(const CallbackStream&) = delete;
  CallbackStream& operator=(const CallbackStream&) = delete;

  // On the UI thread. On failure logs "<method_log_name>: CoMarshalInterThreadInterfaceInStream
  // failed with %x" and returns the failure, which the handler hands to script.
  HRESULT Marshal(base::Log* log, const wchar_t* method_log_name, IDispatch* callback);
  // Hands the stream to the worker, which owns it from then on.
  IStream* Detach();

 private:
  IStream* stream_ = nullptr;
};

// The worker side: lives for the worker's whole run.
class PageCallback {
 public:
  // Joins the multithreaded apartment and unmarshals `stream` (always
  // consumed). On failure logs "<worker_name> CoGetInterfaceAndReleaseStream
  // failed with: %x" (two blanks before "failed"); the worker must then end
  // without calling.
  PageCallback(base::Log* log, const wchar_t* worker_name, IStream* stream);
  // Releases the function, then leaves the apartment.
  ~PageCallback();
  PageCallback(const PageCallback&) = delete;
  PageCallback& operator=(const PageCallback&) = delete;

  bool connected() const { return function_ != nullptr; }

  // Calls the page's function with (result) or (result, total, current), all
  // 32-bit integers; wider counts pass their low 32 bits. Returns when the
  // script function has returned; its result is not looked at.
  HRESULT Call(LONG result);
  HRESULT Call(LONG result, uint64_t total, uint64_t current);

 private:
  // `args` in script order.
  HRESULT Invoke(const LONG* args, UINT count);

  IDispatch* function_ = nullptr;
  bool joined_ = false;
};

// Starts a worker thread that `run` keeps, stops and joins; false when no
// thread could be made, the run is closing, or there is no run to own it (the
// caller still owns `job` then).
bool StartWorkerThread(RunState* run, LPTHREAD_START_ROUTINE worker, void* job);

}  // namespace stubframework::htmlui
