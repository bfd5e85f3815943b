'use strict';
// The harness's own rules, without a stub: the framing of the stub connection
// and which request paths may reach a file.

const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');

const { encodeFrame, FrameReader, MAX_FRAME_BYTES } = require('../../tools/uihost/frames');
const { resolveStatic } = require('../../tools/uihost/static_files');

test('frames survive any split and reject what is not a JSON object', () => {
  const stream = Buffer.concat([encodeFrame({ type: 'a', text: 'Grüße 😀' }), encodeFrame({ type: 'b' })]);
  const reader = new FrameReader();
  const got = [];
  for (const byte of stream) got.push(...reader.push(Buffer.from([byte])));
  assert.deepEqual(got, [{ type: 'a', text: 'Grüße 😀' }, { type: 'b' }]);

  const tooLong = Buffer.alloc(4);
  tooLong.writeUInt32LE(MAX_FRAME_BYTES + 1, 0);
  assert.throws(() => new FrameReader().push(tooLong), RangeError);
  const notObject = Buffer.from(JSON.stringify([1]));
  const head = Buffer.alloc(4);
  head.writeUInt32LE(notObject.length, 0);
  assert.throws(() => new FrameReader().push(Buffer.concat([head, notObject])), TypeError);
});

test('only files inside the extracted folder are served', (t) => {
  const base = fs.mkdtempSync(path.join(os.tmpdir(), 'uihost-static-'));
  t.after(() => fs.rmSync(base, { recursive: true, force: true }));
  const root = path.join(base, 'bundle');
  fs.mkdirSync(path.join(root, 'img'), { recursive: true });
  fs.writeFileSync(path.join(root, 'Load.html'), 'page');
  fs.writeFileSync(path.join(root, 'img', 'a b.png'), 'png');
  fs.writeFileSync(path.join(base, 'secret.txt'), 'outside');
  fs.symlinkSync(path.join(base, 'secret.txt'), path.join(root, 'link.txt'));
  const real = fs.realpathSync(root);

  assert.equal(resolveStatic(real, 'Load.html'), path.join(real, 'Load.html'));
  assert.equal(resolveStatic(real, 'img/a%20b.png'), path.join(real, 'img', 'a b.png'));
  // Names as a Windows page may write them.
  assert.equal(resolveStatic(real, 'load.HTML'), path.join(real, 'Load.html'));
  for (const bad of [
    '../secret.txt',
    '..%2Fsecret.txt',
    'img/../../secret.txt',
    'img/%2e%2e/%2e%2e/secret.txt',
    '..%5Csecret.txt',
    'img%5C..%5C..%5Csecret.txt',
    '%2Fetc%2Fpasswd',
    'C:%5Cwindows%5Cwin.ini',
    'link.txt',
    'img',
    'img/',
    '',
    'Load.html%00.png',
    '%E0%A4%A',
    'missing.html',
  ]) {
    assert.equal(resolveStatic(real, bad), null, bad);
  }
});
