'use strict';
// The harness's own rules, without a stub: the framing of the stub connection
// and which request paths may reach a file.

const assert = require('node:assert/strict');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');

const net = require('node:net');

const { encodeFrame, FrameReader, MAX_FRAME_BYTES, MAX_HELLO_FRAME_BYTES } = require('../../tools/uihost/frames');
const { UiHostRun } = require('../../tools/uihost/harness');
const { resolveStatic } = require('../../tools/uihost/static_files');

function head(size) {
  const bytes = Buffer.alloc(4);
  bytes.writeUInt32LE(size, 0);
  return bytes;
}

test('frames survive any split and reject what is not a JSON object', () => {
  const stream = Buffer.concat([encodeFrame({ type: 'a', text: 'Grüße 😀' }), encodeFrame({ type: 'b' })]);
  const reader = new FrameReader();
  const got = [];
  for (const byte of stream) got.push(...reader.push(Buffer.from([byte])));
  assert.deepEqual(got, [{ type: 'a', text: 'Grüße 😀' }, { type: 'b' }]);

  assert.throws(() => new FrameReader().push(head(MAX_FRAME_BYTES + 1)), RangeError);
  const notObject = Buffer.from(JSON.stringify([1]));
  assert.throws(() => new FrameReader().push(Buffer.concat([head(notObject.length), notObject])), TypeError);
});

test('the first frame is held to the hello limit, later ones to the frame limit', () => {
  const hello = { type: 'hello', token: 'x'.repeat(64), startPage: 'C:\\folder\\Load.html' };
  const limits = { firstLimit: MAX_HELLO_FRAME_BYTES, limit: MAX_FRAME_BYTES };
  assert.throws(() => new FrameReader(limits).push(head(MAX_HELLO_FRAME_BYTES + 1)), RangeError);
  // At the limit, the reader waits for the bytes.
  assert.deepEqual(new FrameReader(limits).push(head(MAX_HELLO_FRAME_BYTES)), []);

  // A large frame after the hello, arriving in small pieces, comes out whole.
  const reader = new FrameReader(limits);
  const big = { type: 'result', value: { t: 's', v: 'y'.repeat(MAX_HELLO_FRAME_BYTES * 8) } };
  const stream = Buffer.concat([encodeFrame(hello), encodeFrame(big)]);
  const got = [];
  for (let i = 0; i < stream.length; i += 1000) got.push(...reader.push(stream.subarray(i, i + 1000)));
  assert.deepEqual(got, [hello, big]);
  assert.throws(() => reader.push(head(MAX_FRAME_BYTES + 1)), RangeError);
  // Ours to send: a message that does not fit is refused before it goes.
  assert.throws(() => encodeFrame({ v: 'z'.repeat(MAX_FRAME_BYTES) }), RangeError);
});

// The harness's listener for the stub, without a stub, a browser or Wine.
async function listeningRun(t) {
  const run = new UiHostRun({ exe: 'none', headless: true });
  run.stubServer = net.createServer((socket) => run.acceptStub(socket));
  await new Promise((resolve) => run.stubServer.listen(0, '127.0.0.1', resolve));
  t.after(() => run.stubServer.close());
  return run;
}

function connect(port) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(port, '127.0.0.1', () => resolve(socket));
    socket.on('error', reject);
  });
}

function whenClosed(socket) {
  return new Promise((resolve) => {
    if (socket.destroyed) resolve();
    else socket.on('close', resolve);
  });
}

test('before its hello a connection is closed at a frame larger than a hello, and only a few may wait', async (t) => {
  const run = await listeningRun(t);
  const { port } = run.stubServer.address();
  const started = Date.now();
  const large = await connect(port);
  large.write(head(1024 * 1024));
  await whenClosed(large);
  // At once, not when its ten seconds are up.
  assert.ok(Date.now() - started < 5000, `closed after ${Date.now() - started} ms`);

  const waiting = [];
  for (let i = 0; i < 8; i += 1) waiting.push(await connect(port));
  t.after(() => waiting.forEach((socket) => socket.destroy()));
  const ninth = await connect(port);
  await whenClosed(ninth);
  assert.ok(waiting.every((socket) => !socket.destroyed));
  // A hello without the secret is closed too, and frees its place.
  waiting[0].write(encodeFrame({ type: 'hello', token: 'wrong', startPage: 'C:\\x\\Load.html' }));
  await whenClosed(waiting[0]);
  const next = await connect(port);
  t.after(() => next.destroy());
  await new Promise((resolve) => setTimeout(resolve, 200));
  assert.equal(next.destroyed, false);
  assert.equal(run.stub, null);
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
