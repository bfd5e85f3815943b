'use strict';
// The framing of the stub connection: a 4-byte little-endian length, then that
// many bytes of UTF-8 JSON.
//
// Limits (src/browserhost/host_channel.h has the same): before the stub's
// hello a connection may send one small frame, the hello (a secret and a
// path); after it, frames up to MAX_FRAME_BYTES, which holds a page's text of
// several million characters. A page's call or answer that would not fit is
// refused with a script error carrying FRAME_TOO_LARGE.

const MAX_HELLO_FRAME_BYTES = 16 * 1024;
const MAX_FRAME_BYTES = 16 * 1024 * 1024;
// HRESULT_FROM_WIN32(ERROR_MESSAGE_EXCEEDS_MAX_SIZE), as the stub reports it.
const FRAME_TOO_LARGE = 0x800710f0;

// Throws a RangeError for a message larger than a frame may be.
function encodeFrame(message) {
  const body = Buffer.from(JSON.stringify(message), 'utf8');
  if (body.length > MAX_FRAME_BYTES) throw new RangeError(`a frame of ${body.length} bytes`);
  const head = Buffer.alloc(4);
  head.writeUInt32LE(body.length, 0);
  return Buffer.concat([head, body]);
}

// Collects bytes and hands out whole messages. A frame larger than the limit,
// or one that is not a JSON object, is an error: the connection must end. The
// first frame is held to `firstLimit`, the rest to `limit`. Bytes are copied
// together once per frame, so a large frame arriving in many pieces costs no
// more than its size.
class FrameReader {
  constructor({ firstLimit = MAX_FRAME_BYTES, limit = MAX_FRAME_BYTES } = {}) {
    this.firstLimit = firstLimit;
    this.limit = limit;
    this.frames = 0;
    this.chunks = [];
    this.length = 0;
    this.size = null; // of the frame being collected, once its head is in
  }

  append(chunk) {
    this.chunks.push(chunk);
    this.length += chunk.length;
  }

  // The next whole message, or null until more bytes come; throws on a bad frame.
  next() {
    if (this.size === null) {
      if (this.length < 4) return null;
      this.joinChunks();
      this.size = this.chunks[0].readUInt32LE(0);
      const limit = this.frames === 0 ? this.firstLimit : this.limit;
      if (this.size > limit) throw new RangeError(`a frame of ${this.size} bytes (at most ${limit})`);
    }
    if (this.length < 4 + this.size) return null;
    this.joinChunks();
    const all = this.chunks[0];
    const text = all.subarray(4, 4 + this.size).toString('utf8');
    const rest = all.subarray(4 + this.size);
    this.chunks = rest.length ? [rest] : [];
    this.length = rest.length;
    this.size = null;
    this.frames += 1;
    const message = JSON.parse(text);
    if (message === null || typeof message !== 'object' || Array.isArray(message)) {
      throw new TypeError('a frame must hold a JSON object');
    }
    return message;
  }

  // Returns the messages completed by `chunk`; throws on a bad frame.
  push(chunk) {
    this.append(chunk);
    const messages = [];
    for (let message = this.next(); message !== null; message = this.next()) messages.push(message);
    return messages;
  }

  joinChunks() {
    if (this.chunks.length > 1) this.chunks = [Buffer.concat(this.chunks, this.length)];
  }
}

module.exports = { encodeFrame, FrameReader, MAX_FRAME_BYTES, MAX_HELLO_FRAME_BYTES, FRAME_TOO_LARGE };
