// The framing of the browser host's messages and the reading of a frame's
// JSON, without Windows headers (they also build natively, for fuzzing). A
// frame is a 4-byte little-endian length and that many bytes of UTF-8 JSON.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include <nlohmann/json.hpp>

namespace stubframework::browserhost {

// The largest frame either side sends (tools/uihost/frames.js has the same
// limit): a page's text of several million characters fits. A larger frame
// from the harness ends the connection; a message of ours that would be
// larger is not sent (the call it belongs to fails with kFrameTooLarge).
inline constexpr uint32_t kMaxFrameBytes = 16u << 20;

// The 4-byte length prefix and the text; false for text too long for a frame.
bool EncodeFrame(const std::string& text, std::string* frame);
// Splits complete frames off the front of `buffer` into `texts`; false when a
// frame announces more than kMaxFrameBytes.
bool DecodeFrames(std::string* buffer, std::deque<std::string>* texts);

// A frame's JSON. A page's text may hold an unpaired surrogate, which JSON
// writes as an escape that the parser refuses; such a message is read with
// U+FFFD instead. Discarded (is_discarded()) when the text is no JSON.
nlohmann::json ParseFrameText(const std::string& text);

}  // namespace stubframework::browserhost
