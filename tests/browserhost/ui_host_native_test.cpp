// The browser host's native pieces that need no harness: the command-line
// choice of host, the framing of the connection, and script values.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "base/variant.h"
#include "browserhost/host_channel.h"
#include "browserhost/page_function.h"
#include "browserhost/script_values.h"
#include "browserhost/ui_host_endpoint.h"
#include "browserhost/utf8_text.h"

namespace stubframework::browserhost {
namespace {

using nlohmann::json;
using base::UniqueVariant;

TEST(UiHostEndpointTest, AcceptsOnlyLoopbackAddressesWithAPort) {
  UiHostEndpoint endpoint;
  ASSERT_TRUE(ParseUiHostEndpoint(L"127.0.0.1:8080", &endpoint));
  EXPECT_EQ(endpoint.address, 0x7F000001u);
  EXPECT_EQ(endpoint.port, 8080);
  ASSERT_TRUE(ParseUiHostEndpoint(L"127.255.3.4:1", &endpoint));
  EXPECT_EQ(endpoint.address, 0x7FFF0304u);
  EXPECT_EQ(endpoint.port, 1);
  EXPECT_TRUE(ParseUiHostEndpoint(L"127.0.0.1:65535", &endpoint));

  for (const wchar_t* refused :
       {L"10.0.0.1:80", L"128.0.0.1:80", L"0.0.0.0:80", L"localhost:80", L"[::1]:80", L"127.0.0.1", L"127.0.0.1:",
        L"127.0.0.1:0", L"127.0.0.1:65536", L"127.0.0.1:80x", L"127.0.0.1:80 ", L" 127.0.0.1:80", L"127.0.0:80",
        L"127.0.0.256:80", L"1270.0.0.1:80", L"127.0.0.1.5:80", L"127.0.0.1:-1", L""}) {
    EXPECT_FALSE(ParseUiHostEndpoint(refused, &endpoint)) << refused;
  }
}

TEST(UiHostEndpointTest, TheWholeArgumentChoosesTheHost) {
  UiHostEndpoint endpoint;
  EXPECT_EQ(ChooseUiHost({L"stub.exe", L"run=1"}, &endpoint), UiHostChoice::kMshtml);
  // The program name is not an argument; names are case-sensitive.
  EXPECT_EQ(ChooseUiHost({L"uihost=127.0.0.1:80", L"UIHOST=127.0.0.1:80"}, &endpoint), UiHostChoice::kMshtml);
  EXPECT_EQ(ChooseUiHost({L"stub.exe", L"xuihost=127.0.0.1:80"}, &endpoint), UiHostChoice::kMshtml);

  EXPECT_EQ(ChooseUiHost({L"stub.exe", L"run=1", L"uihost=127.0.0.1:4321"}, &endpoint), UiHostChoice::kBrowser);
  EXPECT_EQ(endpoint.port, 4321);
  // A remote or named host is refused, not replaced by the MSHTML window.
  EXPECT_EQ(ChooseUiHost({L"stub.exe", L"uihost=192.168.1.10:4321"}, &endpoint), UiHostChoice::kRefused);
  EXPECT_EQ(ChooseUiHost({L"stub.exe", L"uihost=localhost:4321"}, &endpoint), UiHostChoice::kRefused);
  EXPECT_EQ(ChooseUiHost({L"stub.exe", L"uihost="}, &endpoint), UiHostChoice::kRefused);
}

TEST(HostChannelFramingTest, FramesSplitAcrossReadsAndSeveralInOneRead) {
  std::string first;
  std::string second;
  ASSERT_TRUE(EncodeFrame("{\"type\":\"a\"}", &first));
  ASSERT_TRUE(EncodeFrame("{\"type\":\"bb\"}", &second));
  ASSERT_EQ(first.size(), 4u + 12u);
  EXPECT_EQ(first.substr(0, 4), std::string("\x0C\x00\x00\x00", 4));

  std::string stream = first + second;
  std::string buffer;
  std::deque<std::string> texts;
  // One byte at a time: nothing comes out before a frame is whole.
  for (size_t i = 0; i < first.size() - 1; ++i) {
    buffer.push_back(stream[i]);
    ASSERT_TRUE(DecodeFrames(&buffer, &texts));
    EXPECT_TRUE(texts.empty());
  }
  buffer.append(stream.substr(first.size() - 1));
  ASSERT_TRUE(DecodeFrames(&buffer, &texts));
  ASSERT_EQ(texts.size(), 2u);
  EXPECT_EQ(texts[0], "{\"type\":\"a\"}");
  EXPECT_EQ(texts[1], "{\"type\":\"bb\"}");
  EXPECT_TRUE(buffer.empty());
}

TEST(HostChannelFramingTest, AnOversizedLengthEndsTheConnection) {
  ASSERT_EQ(kMaxFrameBytes, 16u << 20);
  std::string buffer("\x01\x00\x00\x01", 4);  // 16 MiB + 1
  std::deque<std::string> texts;
  EXPECT_FALSE(DecodeFrames(&buffer, &texts));
  std::string at_limit("\x00\x00\x00\x01", 4);  // exactly 16 MiB: waits for its bytes
  EXPECT_TRUE(DecodeFrames(&at_limit, &texts));
  EXPECT_TRUE(texts.empty());
  std::string frame;
  EXPECT_TRUE(EncodeFrame(std::string(kMaxFrameBytes, 'x'), &frame));
  EXPECT_FALSE(EncodeFrame(std::string(kMaxFrameBytes + 1, 'x'), &frame));
}

TEST(Utf8TextTest, OnlyUnpairedSurrogatesMakeTextIllFormed) {
  EXPECT_TRUE(IsWellFormedUtf16(L""));
  EXPECT_TRUE(IsWellFormedUtf16(L"Gr\u00FC\u00DF \xD83D\xDE00"));
  for (const wchar_t* lone : {L"\xD800", L"a\xD800", L"\xDC00" L"b", L"\xDE00\xD83D", L"\xD83D\xD83D\xDE00",
                              L"\xD83D\xDE00\xDE00"}) {
    EXPECT_FALSE(IsWellFormedUtf16(lone));
  }
}

TEST(Utf8TextTest, EscapesOfUnpairedSurrogatesBecomeTheReplacementCharacter) {
  const struct {
    const char* json;
    const char* read_as;
  } cases[] = {
      {R"(["a\ud800b"])", R"(["a\ufffdb"])"},
      {R"(["\uDC00"])", R"(["\ufffd"])"},
      {R"(["\ude00\ud83d"])", R"(["\ufffd\ufffd"])"},
      {R"(["\ud83d\ud83d\ude00"])", R"(["\ufffd\ud83d\ude00"])"},
      // Pairs, other escapes, and an escaped backslash before "ud800" stay.
      {R"(["\ud83d\ude00", "\u0041\n\"", "\\ud800"])", R"(["\ud83d\ude00", "\u0041\n\"", "\\ud800"])"},
      {R"(["\ud80"])", R"(["\ud80"])"},
  };
  for (const auto& c : cases) {
    const std::string replaced = ReplaceLoneSurrogateEscapes(c.json);
    EXPECT_EQ(replaced, c.read_as) << c.json;
  }
  // What the parser refused, it now reads.
  EXPECT_TRUE(json::parse(R"({"v":"a\ud800"})", nullptr, false).is_discarded());
  json read = json::parse(ReplaceLoneSurrogateEscapes(R"({"v":"a\ud800"})"), nullptr, false);
  ASSERT_FALSE(read.is_discarded());
  EXPECT_EQ(read["v"], "a\xEF\xBF\xBD");
}

// The harness's end of a channel: a loopback listener that takes one
// connection and writes and reads raw frames.
class FakeHarness {
 public:
  FakeHarness() {
    WSADATA data;
    started_ = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof(address);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0 &&
        ::listen(listener_, 1) == 0 && ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
      endpoint_.address = INADDR_LOOPBACK;
      endpoint_.port = ntohs(address.sin_port);
    }
  }
  ~FakeHarness() {
    if (peer_ != INVALID_SOCKET) ::closesocket(peer_);
    if (listener_ != INVALID_SOCKET) ::closesocket(listener_);
    if (started_) ::WSACleanup();
  }

  const UiHostEndpoint& endpoint() const { return endpoint_; }
  bool Accept() {
    peer_ = ::accept(listener_, nullptr, nullptr);
    return peer_ != INVALID_SOCKET;
  }
  bool Write(const std::string& text) {
    std::string frame;
    return EncodeFrame(text, &frame) && ::send(peer_, frame.data(), static_cast<int>(frame.size()), 0) ==
                                            static_cast<int>(frame.size());
  }
  // The text of the next frame.
  std::string Read() {
    std::string head = ReadBytes(4);
    if (head.size() < 4) return std::string();
    uint32_t size = 0;
    for (int i = 3; i >= 0; --i) size = (size << 8) | static_cast<unsigned char>(head[i]);
    return ReadBytes(size);
  }

 private:
  std::string ReadBytes(size_t count) {
    std::string bytes(count, '\0');
    size_t got = 0;
    while (got < count) {
      int n = ::recv(peer_, &bytes[got], static_cast<int>(count - got), 0);
      if (n <= 0) return std::string();
      got += static_cast<size_t>(n);
    }
    return bytes;
  }

  bool started_ = false;
  SOCKET listener_ = INVALID_SOCKET;
  SOCKET peer_ = INVALID_SOCKET;
  UiHostEndpoint endpoint_;
};

TEST(HostChannelTest, AnUnpairedSurrogateOrAnOversizedMessageLeavesTheConnectionOpen) {
  // The harness goes first at the end, as the real one ends the connection
  // when the stub closes: the channel's reader then sees the end.
  HostChannel channel;
  FakeHarness harness;
  ASSERT_NE(harness.endpoint().port, 0);
  ASSERT_TRUE(channel.Connect(harness.endpoint())) << std::string(channel.error().begin(), channel.error().end());
  ASSERT_TRUE(harness.Accept());

  // What a page's text with a lone surrogate looks like in the harness's JSON.
  ASSERT_TRUE(harness.Write(R"({"type":"put","name":"a\udc00b","value":{"t":"s","v":"\ud800"}})"));
  ASSERT_TRUE(harness.Write(R"({"type":"get","name":"after"})"));
  json message;
  ASSERT_EQ(channel.ReceiveWithin(&message, 10000), HostChannel::Wait::kMessage);
  EXPECT_EQ(message["name"], "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(message["value"]["v"], "\xEF\xBF\xBD");
  ASSERT_EQ(channel.ReceiveWithin(&message, 10000), HostChannel::Wait::kMessage);
  EXPECT_EQ(message["name"], "after");

  // Ours: a message that does not fit in a frame is not sent, and the next one is.
  EXPECT_EQ(channel.Send(json{{"type", "result"}, {"value", std::string(kMaxFrameBytes, 'x')}}),
            HostChannel::Sent::kTooLarge);
  EXPECT_EQ(channel.Send(json{{"type", "result"}, {"value", 1}}), HostChannel::Sent::kSent);
  EXPECT_EQ(json::parse(harness.Read()), (json{{"type", "result"}, {"value", 1}}));
}

// A sink that records what page functions ask and answers with a value.
class RecordingSink : public PageFunctionSink {
 public:
  HRESULT CallPageFunction(const std::string& id, const json& args, json* value, std::wstring* error) override {
    ids.push_back(id);
    received.push_back(args);
    if (!throw_text.empty()) {
      *error = throw_text;
      return S_OK;
    }
    *value = answer;
    return S_OK;
  }
  std::vector<std::string> ids;
  std::vector<json> received;
  json answer = json{{"t", "i"}, {"v", 7}};
  std::wstring throw_text;
};

class ScriptValuesTest : public ::testing::Test {
 protected:
  ScriptValuesTest() : link_(std::make_shared<PageLink>()), values_(link_) { link_->sink = &sink_; }

  json RoundTrip(const json& value) {
    UniqueVariant v;
    EXPECT_EQ(values_.ToVariant(value, v.Get()), S_OK) << value.dump();
    return values_.FromVariant(*v.Get());
  }

  RecordingSink sink_;
  std::shared_ptr<PageLink> link_;
  ScriptValues values_;
};

TEST_F(ScriptValuesTest, PageValuesBecomeTheVariantsAScriptEngineMakes) {
  UniqueVariant v;
  ASSERT_EQ(values_.ToVariant(json{{"t", "i"}, {"v", 5}}, v.Get()), S_OK);
  EXPECT_EQ(v.Type(), VT_I4);
  ASSERT_EQ(values_.ToVariant(json{{"t", "d"}, {"v", 100.5}}, v.Receive()), S_OK);
  EXPECT_EQ(v.Type(), VT_R8);
  EXPECT_EQ(v.Get()->dblVal, 100.5);
  ASSERT_EQ(values_.ToVariant(json{{"t", "b"}, {"v", true}}, v.Receive()), S_OK);
  EXPECT_EQ(v.Type(), VT_BOOL);
  EXPECT_EQ(v.Get()->boolVal, VARIANT_TRUE);
  ASSERT_EQ(values_.ToVariant(json{{"t", "null"}}, v.Receive()), S_OK);
  EXPECT_EQ(v.Type(), VT_NULL);
  ASSERT_EQ(values_.ToVariant(json{{"t", "undefined"}}, v.Receive()), S_OK);
  EXPECT_EQ(v.Type(), VT_EMPTY);
  // UTF-8 of the page to UTF-16, a character outside the BMP included.
  ASSERT_EQ(values_.ToVariant(json{{"t", "s"}, {"v", "Gr\xC3\xBC\xC3\x9F \xF0\x9F\x98\x80"}}, v.Receive()), S_OK);
  ASSERT_EQ(v.Type(), VT_BSTR);
  EXPECT_EQ(std::wstring(v.Get()->bstrVal), L"Gr\u00FC\u00DF \xD83D\xDE00");
}

TEST_F(ScriptValuesTest, ValuesSurviveTheRoundTripAtTheirBoundaries) {
  for (const json& value : {json{{"t", "i"}, {"v", 2147483647}}, json{{"t", "i"}, {"v", -2147483647 - 1}},
                            json{{"t", "d"}, {"v", -0.25}}, json{{"t", "b"}, {"v", false}}, json{{"t", "s"}, {"v", ""}},
                            json{{"t", "s"}, {"v", "a\"b\\c\n"}}, json{{"t", "null"}}, json{{"t", "undefined"}}}) {
    EXPECT_EQ(RoundTrip(value), value);
  }
}

TEST_F(ScriptValuesTest, TextWithoutAUtf8FormCrossesAsItsCodeUnits) {
  // A lone surrogate from the page reaches the native side intact...
  UniqueVariant v;
  ASSERT_EQ(values_.ToVariant(json{{"t", "s"}, {"u", {0xD800, 0x61, 0xDFFF, 0}}}, v.Get()), S_OK);
  ASSERT_EQ(v.Type(), VT_BSTR);
  EXPECT_EQ(std::wstring(v.Get()->bstrVal, ::SysStringLen(v.Get()->bstrVal)), std::wstring(L"\xD800" L"a\xDFFF\0", 4));
  // ...and goes back the same way.
  EXPECT_EQ(values_.FromVariant(*v.Get()), (json{{"t", "s"}, {"u", {0xD800, 0x61, 0xDFFF, 0}}}));
  // Well-formed text, a pair included, goes as UTF-8 whichever way it came.
  ASSERT_EQ(values_.ToVariant(json{{"t", "s"}, {"u", {0xD83D, 0xDE00}}}, v.Receive()), S_OK);
  EXPECT_EQ(values_.FromVariant(*v.Get()), (json{{"t", "s"}, {"v", "\xF0\x9F\x98\x80"}}));
  EXPECT_EQ(RoundTrip(json{{"t", "s"}, {"u", json::array()}}), (json{{"t", "s"}, {"v", ""}}));
}

TEST_F(ScriptValuesTest, MalformedValuesAreRefused) {
  for (const json& value : {json{{"t", "i"}, {"v", 2147483648LL}}, json{{"t", "i"}, {"v", 1.5}},
                            json{{"t", "s"}, {"v", 3}}, json{{"t", "b"}, {"v", 1}}, json{{"t", "fn"}, {"id", ""}},
                            json{{"t", "s"}, {"u", {0x10000}}}, json{{"t", "s"}, {"u", {-1}}},
                            json{{"t", "s"}, {"u", {1.5}}}, json{{"t", "s"}, {"u", "text"}},
                            json{{"t", "s"}, {"u", {"a"}}}, json{{"t", "s"}},
                            // Unsigned beyond 63 bits: once read as -1.
                            json::parse(R"({"t":"i","v":18446744073709551615})"),
                            json::parse(R"({"t":"s","u":[18446744073709551615]})"),
                            json{{"t", "date"}}, json{{"v", 1}}, json("text"), json()}) {
    UniqueVariant v;
    EXPECT_EQ(values_.ToVariant(value, v.Get()), E_INVALIDARG) << value.dump();
    EXPECT_EQ(v.Type(), VT_EMPTY);
  }
}

TEST_F(ScriptValuesTest, NativeValuesOfOtherTypesReachThePage) {
  UniqueVariant v;
  v.Get()->vt = VT_UI4;
  v.Get()->ulVal = 4000000000u;
  EXPECT_EQ(values_.FromVariant(*v.Get()), (json{{"t", "i"}, {"v", 4000000000LL}}));
  // A text by reference is read through.
  BSTR text = ::SysAllocString(L"by reference");
  VARIANT by_ref;
  by_ref.vt = VT_BSTR | VT_BYREF;
  by_ref.pbstrVal = &text;
  EXPECT_EQ(values_.FromVariant(by_ref), (json{{"t", "s"}, {"v", "by reference"}}));
  ::SysFreeString(text);
  // Other types go as text.
  v.Clear();
  v.Get()->vt = VT_I2;
  v.Get()->iVal = -3;
  EXPECT_EQ(values_.FromVariant(*v.Get()), (json{{"t", "i"}, {"v", -3}}));
  v.Clear();
  v.Get()->vt = VT_CY;
  v.Get()->cyVal.int64 = 25000;  // 2.5
  json currency = values_.FromVariant(*v.Get());
  EXPECT_EQ(currency["t"], "s");
}

TEST_F(ScriptValuesTest, APageFunctionCallsThePageWithItsArgumentsInScriptOrder) {
  UniqueVariant function;
  ASSERT_EQ(values_.ToVariant(json{{"t", "fn"}, {"id", "doc.3"}}, function.Get()), S_OK);
  ASSERT_EQ(function.Type(), VT_DISPATCH);
  // Handed back to the page, it is the same page function.
  EXPECT_EQ(values_.FromVariant(*function.Get()), (json{{"t", "fn"}, {"id", "doc.3"}}));

  // (10, 200, 50) as a worker passes it: last argument first.
  VARIANT args[3];
  for (VARIANT& a : args) {
    ::VariantInit(&a);
    a.vt = VT_I4;
  }
  args[0].lVal = 50;
  args[1].lVal = 200;
  args[2].lVal = 10;
  DISPPARAMS params = {args, nullptr, 3, 0};
  UniqueVariant result;
  IDispatch* target = function.Get()->pdispVal;
  ASSERT_EQ(target->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &params, result.Get(), nullptr, nullptr), S_OK);
  ASSERT_EQ(sink_.received.size(), 1u);
  EXPECT_EQ(sink_.ids[0], "doc.3");
  EXPECT_EQ(sink_.received[0],
            json::parse(R"([{"t":"i","v":10},{"t":"i","v":200},{"t":"i","v":50}])"));
  EXPECT_EQ(result.Type(), VT_I4);
  EXPECT_EQ(result.Get()->lVal, 7);

  // Another member, or a call that is not one, is not the page function.
  EXPECT_EQ(target->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(target->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_PROPERTYGET, &params, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(sink_.received.size(), 1u);
}

TEST_F(ScriptValuesTest, APageFunctionThatThrowsOrOutlivesItsHostFails) {
  UniqueVariant function;
  ASSERT_EQ(values_.ToVariant(json{{"t", "fn"}, {"id", "doc.1"}}, function.Get()), S_OK);
  IDispatch* target = function.Get()->pdispVal;
  DISPPARAMS none = {nullptr, nullptr, 0, 0};

  sink_.throw_text = L"boom";
  EXCEPINFO exception = {};
  EXPECT_EQ(target->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, &exception, nullptr),
            DISP_E_EXCEPTION);
  EXPECT_EQ(std::wstring(exception.bstrDescription), L"boom");
  ::SysFreeString(exception.bstrSource);
  ::SysFreeString(exception.bstrDescription);

  // The host has gone: the call fails at once and reaches nobody.
  link_->sink = nullptr;
  EXPECT_EQ(target->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
            RPC_E_DISCONNECTED);
  EXPECT_EQ(sink_.received.size(), 1u);
}

}  // namespace
}  // namespace stubframework::browserhost
