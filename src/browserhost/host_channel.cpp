#include "browserhost/host_channel.h"

#include <ws2tcpip.h>

#include "base/wide_format.h"

namespace stubframework::browserhost {

namespace {

bool IsLoopback(const sockaddr_in& address) { return (ntohl(address.sin_addr.s_addr) >> 24) == 127; }

}  // namespace

HostChannel::HostChannel() : ready_(::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

HostChannel::~HostChannel() { Close(); }

bool HostChannel::Connect(const UiHostEndpoint& endpoint) {
  WSADATA data;
  int started = ::WSAStartup(MAKEWORD(2, 2), &data);
  if (started != 0) {
    error_ = base::Format(L"WSAStartup failed with %d", started);
    return false;
  }
  wsa_started_ = true;
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(endpoint.address);
  address.sin_port = htons(endpoint.port);
  if (!IsLoopback(address) || !ready_) {
    error_ = L"the UI host must be on the loopback network";
    return false;
  }
  socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket_ == INVALID_SOCKET) {
    error_ = base::Format(L"socket failed with %d", ::WSAGetLastError());
    return false;
  }
  if (::connect(socket_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    error_ = base::Format(L"connect to port %d failed with %d", endpoint.port, ::WSAGetLastError());
    return false;
  }
  // Small frames go out at once: every call of the page waits for its answer.
  BOOL no_delay = TRUE;
  ::setsockopt(socket_, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&no_delay), sizeof(no_delay));
  sockaddr_in peer = {};
  int peer_size = sizeof(peer);
  if (::getpeername(socket_, reinterpret_cast<sockaddr*>(&peer), &peer_size) != 0 || !IsLoopback(peer)) {
    error_ = L"the connected peer is not on the loopback network";
    return false;
  }
  reader_ = std::thread([this] { ReadLoop(); });
  return true;
}

HostChannel::Sent HostChannel::Send(const nlohmann::json& message) {
  if (socket_ == INVALID_SOCKET) return Sent::kFailed;
  std::string frame;
  if (!EncodeFrame(message.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace), &frame)) {
    return Sent::kTooLarge;
  }
  size_t sent = 0;
  while (sent < frame.size()) {
    int n = ::send(socket_, frame.data() + sent, static_cast<int>(frame.size() - sent), 0);
    if (n <= 0) {
      error_ = base::Format(L"send failed with %d", ::WSAGetLastError());
      return Sent::kFailed;
    }
    sent += static_cast<size_t>(n);
  }
  return Sent::kSent;
}

bool HostChannel::Receive(nlohmann::json* message) { return ReceiveWithin(message, INFINITE) == Wait::kMessage; }

HostChannel::Wait HostChannel::ReceiveWithin(nlohmann::json* message, DWORD timeout_ms) {
  const ULONGLONG start = ::GetTickCount64();
  for (;;) {
    {
      std::lock_guard<std::mutex> hold(lock_);
      if (!queue_.empty()) {
        *message = std::move(queue_.front());
        queue_.pop_front();
        if (queue_.empty() && !ended_) ::ResetEvent(ready_.Get());
        return Wait::kMessage;
      }
      if (ended_) return Wait::kEnded;
    }
    DWORD left = INFINITE;
    if (timeout_ms != INFINITE) {
      ULONGLONG spent = ::GetTickCount64() - start;
      if (spent >= timeout_ms) return Wait::kTimeout;
      left = static_cast<DWORD>(timeout_ms - spent);
    }
    ::WaitForSingleObject(ready_.Get(), left);
  }
}

void HostChannel::ReadLoop() {
  std::string buffer;
  std::deque<std::string> texts;
  char chunk[16384];
  for (;;) {
    int n = ::recv(socket_, chunk, sizeof(chunk), 0);
    if (n <= 0) break;
    buffer.append(chunk, static_cast<size_t>(n));
    if (!DecodeFrames(&buffer, &texts)) break;
    bool bad = false;
    while (!texts.empty()) {
      nlohmann::json message = ParseFrameText(texts.front());
      texts.pop_front();
      if (message.is_discarded() || !message.is_object()) {
        bad = true;
        break;
      }
      std::lock_guard<std::mutex> hold(lock_);
      queue_.push_back(std::move(message));
      ::SetEvent(ready_.Get());
    }
    if (bad) break;
  }
  EndReading();
}

void HostChannel::EndReading() {
  std::lock_guard<std::mutex> hold(lock_);
  ended_ = true;
  ::SetEvent(ready_.Get());
}

void HostChannel::Close() {
  if (socket_ != INVALID_SOCKET) {
    // Wakes the reader out of recv; it then ends.
    ::shutdown(socket_, SD_BOTH);
    if (reader_.joinable()) reader_.join();
    ::closesocket(socket_);
    socket_ = INVALID_SOCKET;
  }
  if (reader_.joinable()) reader_.join();
  if (wsa_started_) {
    ::WSACleanup();
    wsa_started_ = false;
  }
  EndReading();
}

}  // namespace stubframework::browserhost
