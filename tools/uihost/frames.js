'use strict';
// The framing of the stub connection: a 4-byte little-endian length, then that
// many bytes of UTF-8 JSON.

const MAX_FRAME_BYTES = 64 * 1024 * 1024;

function encodeFrame(message) {
  const body = Buffer.from(JSON.stringify(message), 'utf8');
  if (body.length > MAX_FRAME_BYTES) throw new RangeError('frame too large');
  const head = Buffer.alloc(4);
  head.writeUInt32LE(body.length, 0);
  return Buffer.concat([head, body]);
}

// Collects bytes and hands out whole messages. A frame larger than the limit,
// or one that is not a JSON object, is an error: the connection must end.
class FrameReader {
  constructor() {
    this.buffer = Buffer.alloc(0);
  }

  // Returns the messages completed by `chunk`; throws on a bad frame.
  push(chunk) {
    this.buffer = this.buffer.length ? Buffer.concat([this.buffer, chunk]) : chunk;
    const messages = [];
    while (this.buffer.length >= 4) {
      const size = this.buffer.readUInt32LE(0);
      if (size > MAX_FRAME_BYTES) throw new RangeError(`frame of ${size} bytes`);
      if (this.buffer.length < 4 + size) break;
      const text = this.buffer.subarray(4, 4 + size).toString('utf8');
      this.buffer = this.buffer.subarray(4 + size);
      const message = JSON.parse(text);
      if (message === null || typeof message !== 'object' || Array.isArray(message)) {
        throw new TypeError('a frame must hold a JSON object');
      }
      messages.push(message);
    }
    return messages;
  }
}

module.exports = { encodeFrame, FrameReader, MAX_FRAME_BYTES };
