// Reports go through the proxy the user set for Internet Explorer, and
// straight to the service when the bypass list names its host.
#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "telemetry/analytics.h"
#include "telemetry/capture_log.h"
#include "telemetry/telemetry_service.h"

namespace stubframework::telemetry {
namespace {

const wchar_t kConnections[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
const wchar_t kSettingsValue[] = L"DefaultConnectionSettings";

// Sets the user's connection settings (the binary form Internet Explorer
// keeps) and puts the old ones back afterwards.
class UserProxySettings {
 public:
  UserProxySettings() {
    ::RegCreateKeyExW(HKEY_CURRENT_USER, kConnections, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr);
    DWORD size = 0;
    had_value_ = ::RegQueryValueExW(key_, kSettingsValue, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS;
    if (had_value_) {
      saved_.resize(size);
      ::RegQueryValueExW(key_, kSettingsValue, nullptr, nullptr, saved_.data(), &size);
    }
  }
  ~UserProxySettings() {
    if (had_value_) {
      ::RegSetValueExW(key_, kSettingsValue, 0, REG_BINARY, saved_.data(), static_cast<DWORD>(saved_.size()));
    } else {
      ::RegDeleteValueW(key_, kSettingsValue);
    }
    ::RegCloseKey(key_);
  }
  void Set(const std::string& proxy, const std::string& bypass) {
    std::vector<BYTE> blob;
    auto dword = [&blob](DWORD v) { blob.insert(blob.end(), reinterpret_cast<BYTE*>(&v), reinterpret_cast<BYTE*>(&v) + 4); };
    auto text = [&](const std::string& t) {
      dword(static_cast<DWORD>(t.size()));
      blob.insert(blob.end(), t.begin(), t.end());
    };
    dword(0x46);  // settings version
    dword(0);
    dword(0x1 | 0x2);  // direct and proxy
    text(proxy);
    text(bypass);
    text("");  // no configuration script
    blob.resize(blob.size() + 32);
    ::RegSetValueExW(key_, kSettingsValue, 0, REG_BINARY, blob.data(), static_cast<DWORD>(blob.size()));
  }

 private:
  HKEY key_ = nullptr;
  bool had_value_ = false;
  std::vector<BYTE> saved_;
};

// A proxy that takes one connection and keeps what it was asked.
class OneShotProxy {
 public:
  OneShotProxy() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address));
    int length = sizeof(address);
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    ::listen(listener_, 1);
    thread_ = std::thread([this] { Serve(); });
  }
  ~OneShotProxy() {
    ::closesocket(listener_);
    if (thread_.joinable()) thread_.join();
    ::WSACleanup();
  }
  unsigned short port() const { return port_; }
  // The request head it received, once it has.
  std::string Request() {
    if (thread_.joinable()) thread_.join();
    return request_;
  }

 private:
  void Serve() {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(listener_, &ready);
    timeval wait = {10, 0};
    if (::select(0, &ready, nullptr, nullptr, &wait) != 1) return;
    SOCKET client = ::accept(listener_, nullptr, nullptr);
    if (client == INVALID_SOCKET) return;
    char buffer[2048];
    while (request_.find("\r\n\r\n") == std::string::npos && request_.size() < 8192) {
      int got = ::recv(client, buffer, sizeof(buffer), 0);
      if (got <= 0) break;
      request_.append(buffer, got);
    }
    ::closesocket(client);
  }

  SOCKET listener_ = INVALID_SOCKET;
  unsigned short port_ = 0;
  std::thread thread_;
  std::string request_;
};

class NoSource final : public ReportSource {
 public:
  ReportIdentity Identity() override { return ReportIdentity(); }
  int Status() override { return 0; }
};

using ProxyTest = testsupport::TelemetryServiceTest;

TEST_F(ProxyTest, ReportsGoThroughTheUsersProxyUnlessItsBypassListNamesTheHost) {
  UserProxySettings settings;
  NoSource source;
  testsupport::CaptureLog log;
  {
    OneShotProxy proxy;
    settings.Set("127.0.0.1:" + std::to_string(proxy.port()), "");
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config = {};
    bool read = ::WinHttpGetIEProxyConfigForCurrentUser(&config) && config.lpszProxy != nullptr;
    for (LPWSTR text : {config.lpszProxy, config.lpszProxyBypass, config.lpszAutoConfigUrl}) {
      if (text != nullptr) ::GlobalFree(text);
    }
    if (!read) GTEST_SKIP() << "this Wine does not report the user's proxy settings";
    EXPECT_FALSE(Analytics(&source, service().Endpoints(), &log).SendStartReport()) << "the proxy answers nothing";
    std::string asked = proxy.Request();
    std::string expected = "CONNECT localhost:" + std::to_string(service().telemetry_port()) + " HTTP/1.1\r\n";
    EXPECT_EQ(asked.compare(0, expected.size(), expected), 0) << asked;
    EXPECT_NE(asked.find("User-Agent: Kandrel Message Client/1.0\r\n"), std::string::npos) << asked;
  }
  settings.Set("127.0.0.1:1", "localhost");
  EXPECT_TRUE(Analytics(&source, service().Endpoints(), &log).SendStartReport()) << "straight to the service";
}

}  // namespace
}  // namespace stubframework::telemetry
