// The browser host's connection to the UI harness: framed JSON over one
// loopback TCP connection. A frame is a 4-byte little-endian length and that
// many bytes of UTF-8 JSON. A reader thread takes frames off the socket, so
// that the UI thread can wait for a message together with its window messages
// or, inside a call, for a message alone.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "base/unique_handle.h"
#include "browserhost/frame_codec.h"
#include "browserhost/ui_host_endpoint.h"

namespace stubframework::browserhost {

// HRESULT_FROM_WIN32(ERROR_MESSAGE_EXCEEDS_MAX_SIZE): a call whose request or
// answer does not fit in a frame. The harness answers the page with the same.
inline constexpr HRESULT kFrameTooLarge = static_cast<HRESULT>(0x800710F0);

class HostChannel {
 public:
  HostChannel();
  ~HostChannel();
  HostChannel(const HostChannel&) = delete;
  HostChannel& operator=(const HostChannel&) = delete;

  // Connects to the endpoint (loopback by construction, checked again on the
  // connected socket) and starts the reader. False with the reason in error().
  bool Connect(const UiHostEndpoint& endpoint);
  enum class Sent { kSent, kTooLarge, kFailed };
  // Sends from the UI thread. kTooLarge: nothing was sent and the connection
  // goes on; kFailed once the connection has failed.
  Sent Send(const nlohmann::json& message);
  // The next message, waiting as long as it takes; false once the connection
  // has ended and no message is left.
  bool Receive(nlohmann::json* message);
  enum class Wait { kMessage, kTimeout, kEnded };
  // The same with a limit in milliseconds.
  Wait ReceiveWithin(nlohmann::json* message, DWORD timeout_ms);
  // Signalled while a message waits or after the connection has ended.
  HANDLE ready() const { return ready_.Get(); }
  // Ends the connection and the reader; later calls fail.
  void Close();

  const std::wstring& error() const { return error_; }

 private:
  void ReadLoop();
  void EndReading();

  SOCKET socket_ = INVALID_SOCKET;
  bool wsa_started_ = false;
  std::thread reader_;
  std::mutex lock_;
  std::deque<nlohmann::json> queue_;  // guarded by lock_
  bool ended_ = false;                // guarded by lock_
  base::UniqueHandle ready_;         // manual reset
  std::wstring error_;
};

}  // namespace stubframework::browserhost
