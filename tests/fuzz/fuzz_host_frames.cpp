// The browser host's channel: bytes as they arrive, cut at any point, split
// into frames, each frame read as JSON, and the script values of a message
// decoded. The first input byte chooses how the rest is cut into reads.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <deque>
#include <string>

#include "browserhost/frame_codec.h"
#include "browserhost/script_value.h"

namespace browserhost = stubframework::browserhost;

namespace {

void DecodeValues(const nlohmann::json& message) {
  browserhost::ScriptValue value;
  if (message.contains("value")) browserhost::DecodeScriptValue(message["value"], &value);
  if (message.contains("args") && message["args"].is_array()) {
    for (const nlohmann::json& arg : message["args"]) browserhost::DecodeScriptValue(arg, &value);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t read_size = 1 + data[0];
  std::string buffer;
  std::deque<std::string> texts;
  size_t decoded_bytes = 0;
  for (size_t at = 1; at < size; at += read_size) {
    buffer.append(reinterpret_cast<const char*>(data + at), std::min(read_size, size - at));
    if (!browserhost::DecodeFrames(&buffer, &texts)) return 0;
    while (!texts.empty()) {
      if (texts.front().size() > browserhost::kMaxFrameBytes) abort();
      decoded_bytes += 4 + texts.front().size();
      nlohmann::json message = browserhost::ParseFrameText(texts.front());
      texts.pop_front();
      if (!message.is_discarded() && message.is_object()) DecodeValues(message);
    }
  }
  if (decoded_bytes + buffer.size() != size - 1) abort();  // nothing lost, nothing made up
  return 0;
}
