'use strict';
// A real download from nginx, driven by a page: the page calls download()
// with a page function, the download worker fetches the file over HTTP and
// reports through the marshalled callback, and the file lands on disk intact.

const assert = require('node:assert/strict');
const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');
const { test } = require('node:test');

const { startTestRun, testServers, waitFor } = require('./support');

test('a page downloads a file from nginx and hears progress, then NoError, in order', async (t) => {
  const servers = testServers();
  if (!servers) {
    t.skip('STUB_TEST_SERVERS names no test servers (CTest starts them)');
    return;
  }
  const name = `uihost_${crypto.randomBytes(6).toString('hex')}.bin`;
  const payload = crypto.randomBytes(3 * 1024 * 1024 + 12345);
  fs.writeFileSync(path.join(servers.docroot, name), payload);
  t.after(() => fs.rmSync(path.join(servers.docroot, name), { force: true }));

  const run = await startTestRun();
  t.after(() => run.close());
  const url = `http://127.0.0.1:${servers.nginx_port}/${name}`;
  await run.page.evaluate((address) => {
    window.calls = [];
    const target = window.external.getResourceLocation() + 'payload.bin';
    window.external.download(address, target, '', false, false, function (result, total, current) {
      window.calls.push([result, total, current]);
    });
  }, url);
  const calls = await waitFor(
    () => run.page.evaluate(() => (window.calls.length && window.calls[window.calls.length - 1][0] !== 10 ? window.calls : null)),
    'the final callback',
    60000,
  );
  const final = calls[calls.length - 1];
  assert.deepEqual(final, [0, payload.length, payload.length]);
  let previous = 0;
  for (const [result, total, current] of calls.slice(0, -1)) {
    assert.equal(result, 10);
    assert.ok(current >= previous && current <= total, `${current} after ${previous} of ${total}`);
    previous = current;
  }
  const landed = fs.readFileSync(path.join(run.root, 'payload.bin'));
  assert.equal(landed.length, payload.length);
  assert.ok(landed.equals(payload), 'the downloaded bytes are the served bytes');
});
