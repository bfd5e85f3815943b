#include "browserhost/frame_codec.h"

#include "browserhost/json_escapes.h"

namespace stubframework::browserhost {

namespace {

uint32_t ReadLength(const std::string& buffer, size_t at) {
  const auto* b = reinterpret_cast<const unsigned char*>(buffer.data() + at);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) | (static_cast<uint32_t>(b[2]) << 16) |
         (static_cast<uint32_t>(b[3]) << 24);
}

}  // namespace

bool EncodeFrame(const std::string& text, std::string* frame) {
  if (text.size() > kMaxFrameBytes) return false;
  uint32_t size = static_cast<uint32_t>(text.size());
  frame->clear();
  for (int i = 0; i < 4; ++i) frame->push_back(static_cast<char>((size >> (8 * i)) & 0xFF));
  frame->append(text);
  return true;
}

bool DecodeFrames(std::string* buffer, std::deque<std::string>* texts) {
  // Frames are taken from a moving start and the buffer is cut once, so that
  // many small frames in one read cost no more than their bytes.
  size_t at = 0;
  bool ok = true;
  while (buffer->size() - at >= 4) {
    uint32_t size = ReadLength(*buffer, at);
    if (size > kMaxFrameBytes) {
      ok = false;
      break;
    }
    if (buffer->size() - at - 4 < size) break;
    texts->push_back(buffer->substr(at + 4, size));
    at += 4 + static_cast<size_t>(size);
  }
  buffer->erase(0, at);
  return ok;
}

nlohmann::json ParseFrameText(const std::string& text) {
  nlohmann::json message = nlohmann::json::parse(text, nullptr, false);
  if (!message.is_discarded()) return message;
  return nlohmann::json::parse(ReplaceLoneSurrogateEscapes(text), nullptr, false);
}

}  // namespace stubframework::browserhost
