'use strict';
// Which executables take "uihost=": the product never does; a stub with the
// browser host takes only a loopback address; the development flavour (the
// product's code and bundle with the browser host), started from a folder
// that also holds DLLs planted under the names of DLLs it uses, runs its
// pages, downloads through the delay-loaded system DLLs and never loads the
// planted ones. Each test starts its own stub: none may hold the
// single-instance mutex while another starts.

const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const crypto = require('node:crypto');
const fs = require('node:fs');
const net = require('node:net');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');

const { defaultWinePrefix, startUiHost } = require('../../tools/uihost/harness');
const { expectedExitCode, testServers, waitFor, wineRun } = require('./support');

const WINE_RUN = path.join(__dirname, '..', '..', 'scripts', 'wine-run.sh');
const PLANTED = ['urlmon.dll', 'wininet.dll'];

function required(name) {
  const value = process.env[name];
  if (!value) throw new Error(`${name} is not set: run this suite through ctest`);
  return value;
}

// Runs `exe run=1 <argument>` with a listener on 127.0.0.1 that counts the
// connections it gets; resolves with the exit code and that count.
async function runWithListener(exe, argument) {
  const connections = [];
  const server = net.createServer((socket) => {
    connections.push(socket);
    socket.destroy();
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  try {
    const stub = spawn('bash', [WINE_RUN, defaultWinePrefix(), exe, 'run=1', argument(server.address().port)], {
      stdio: 'ignore',
      env: { ...process.env, UIHOST_TOKEN: 'a'.repeat(64) },
    });
    const code = await new Promise((resolve) => stub.on('exit', resolve));
    return { code, connections: connections.length };
  } finally {
    server.close();
  }
}

test('the product executable ignores uihost= and never connects', async () => {
  const { code, connections } = await runWithListener(required('UIHOST_PRODUCT_EXE'), (port) => `uihost=127.0.0.1:${port}`);
  // A whole run (a second instance would end with 0), and no connection.
  assert.equal(code, await expectedExitCode());
  assert.equal(connections, 0);
});

test('a stub with the browser host refuses a harness named by anything but a loopback address', async () => {
  // "localhost" would reach the listener on 127.0.0.1 if it were resolved.
  const { code, connections } = await runWithListener(required('UIHOST_TEST_STUB'), (port) => `uihost=localhost:${port}`);
  assert.equal(code, await expectedExitCode());
  assert.equal(connections, 0);
});

test('the development flavour downloads through the system DLLs and never loads the ones beside it', async (t) => {
  const servers = testServers();
  if (!servers) {
    t.skip('STUB_TEST_SERVERS names no test servers (CTest starts them)');
    return;
  }
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'tessary-dev-'));
  t.after(() => fs.rmSync(folder, { recursive: true, force: true }));
  const name = `DevPlanted${crypto.randomBytes(4).toString('hex')}.exe`;
  const exe = path.join(folder, name);
  fs.copyFileSync(required('UIHOST_DEV_STUB'), exe);
  for (const dll of PLANTED) fs.copyFileSync(required('PLANTED_DLL'), path.join(folder, dll));
  // Wine prefers its built-in DLLs to files beside a program; for this one it
  // searches the program's folder first, as Windows does for DLLs that are
  // not known DLLs.
  const key = `HKCU\\Software\\Wine\\AppDefaults\\${name}`;
  for (const dll of ['urlmon', 'wininet']) {
    const { error } = await wineRun(['reg', 'add', `${key}\\DllOverrides`, '/v', dll, '/d', 'native,builtin', '/f']);
    assert.equal(error, null);
  }
  t.after(() => wineRun(['reg', 'delete', key, '/f']));

  const file = `dev_${crypto.randomBytes(6).toString('hex')}.bin`;
  const payload = crypto.randomBytes(2 * 1024 * 1024 + 777);
  fs.writeFileSync(path.join(servers.docroot, file), payload);
  t.after(() => fs.rmSync(path.join(servers.docroot, file), { force: true }));
  const url = `http://127.0.0.1:${servers.nginx_port}/${file}`;

  // The shipped start page runs with the product's method table behind it and
  // opens the first page of the flow, which would fetch the shipped (remote)
  // configuration: that page is replaced by a still one, so the checks below
  // run in a document that stays.
  const still = '<!DOCTYPE html><html><head><title>Held</title></head><body></body></html>';
  const preparePage = (page) =>
    page.route('**/pages/**', (route) => route.fulfill({ status: 200, contentType: 'text/html', body: still }));
  const run = await startUiHost({ exe, args: ['run=1'], headless: true, preparePage });
  t.after(() => run.close());
  await run.ready.catch((error) => assert.fail(`${error.message}\n${run.output}`));
  assert.equal(run.startFile, 'Load.html');
  await waitFor(() => run.page.title().then((title) => title === 'Held').catch(() => false), 'the first page of the flow', 30000);
  assert.ok(['32', '64'].includes(await run.page.evaluate(() => window.external.getProperty('osbits'))));

  // The URL moniker reports the size (urlmon)...
  const total = await run.page.evaluate(
    (address) => {
      window.external.initDownloadSize(address, window.external.getResourceLocation() + 'sized.bin', false);
      return window.external.getProperty('downloadTotal');
    },
    url,
  );
  assert.equal(total, String(payload.length));
  // ...and the download worker fetches the file.
  await run.page.evaluate((address) => {
    window.calls = [];
    const target = window.external.getResourceLocation() + 'payload.bin';
    window.external.download(address, target, '', false, false, (result, all, done) => window.calls.push([result, all, done]));
  }, url);
  const final = await waitFor(
    () => run.page.evaluate(() => {
      const last = window.calls[window.calls.length - 1];
      return last && last[0] !== 10 ? last : null;
    }),
    'the final callback',
    60000,
  );
  assert.deepEqual(final, [0, payload.length, payload.length]);
  assert.ok(fs.readFileSync(path.join(run.root, 'payload.bin')).equals(payload));

  for (const dll of PLANTED) assert.equal(fs.existsSync(path.join(folder, `${dll}.loaded`)), false, dll);
});
