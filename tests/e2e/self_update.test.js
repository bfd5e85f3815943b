'use strict';
// Self-update end to end, with the real launcher under Wine: the user starts
// "setup.exe" (the browser host tests' stub); its working copy's page finds a
// newer stub on nginx, downloads it with block verification and closes; the
// working copy ends with 197800; the launcher starts the newer stub with
// "run=1 update=0", then once more to finish, and that run replaces the user's
// file with itself. The newer stub records each command line it gets.

const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const crypto = require('node:crypto');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { test } = require('node:test');

const { startUiHost } = require('../../tools/uihost/harness');
const { waitFor, wineRun } = require('../browserhost/support');

const SETTINGS_KEY = 'HKCU\\SOFTWARE\\Brelvo\\stubframework\\Tessary\\22';

function testServers() {
  const state = process.env.STUB_TEST_SERVERS;
  if (!state) return null;
  const env = {};
  for (const line of fs.readFileSync(path.join(state, 'servers.env'), 'utf8').split('\n')) {
    const cut = line.indexOf('=');
    if (cut > 0) env[line.slice(0, cut)] = line.slice(cut + 1);
  }
  return env;
}

// A Unix path as the Windows programs see it through drive Z.
function windowsPath(unixPath) {
  return 'Z:' + unixPath.replace(/\//g, '\\');
}

async function setting(name) {
  const { error, stdout } = await wineRun(['reg', 'query', SETTINGS_KEY, '/v', name]);
  const match = !error && new RegExp(`${name}\\s+REG_SZ\\s+(.*)`).exec(stdout);
  return match ? match[1].trim() : null;
}

async function clearSettings() {
  for (const name of ['selfupdate_code', 'update_stub_name']) {
    await wineRun(['reg', 'delete', SETTINGS_KEY, '/v', name, '/f']);
  }
}

// `source` signed with the build's code-signing certificate (padded to a
// multiple of 8 first: osslsigncode's checksum skips a trailing odd byte).
function signedCopy(source, target) {
  const bytes = fs.readFileSync(source);
  const unsigned = `${target}.unsigned`;
  fs.writeFileSync(unsigned, Buffer.concat([bytes, Buffer.alloc((8 - (bytes.length % 8)) % 8)]));
  execFileSync('osslsigncode', ['sign', '-certs', process.env.SIGNING_CERT, '-key', process.env.SIGNING_KEY, '-h', 'sha256',
    '-in', unsigned, '-out', target], { stdio: 'ignore' });
  return fs.readFileSync(target);
}

function recordedLines(file) {
  if (!fs.existsSync(file)) return [];
  return fs.readFileSync(file).toString('utf16le').split('\n').filter((line) => line.length > 0);
}

test('a page updates the stub: 197800, the newer stub with run=1 update=0, then the user file replaced', async (t) => {
  const servers = testServers();
  if (!servers) {
    t.skip('STUB_TEST_SERVERS names no test servers (CTest starts them)');
    return;
  }
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'selfupdate-'));
  const key = `selfupdate_${crypto.randomBytes(6).toString('hex')}`;
  const served = path.join(servers.docroot, key);
  t.after(async () => {
    fs.rmSync(root, { recursive: true, force: true });
    fs.rmSync(served, { recursive: true, force: true });
    await clearSettings();
  });
  await clearSettings();

  // The user's file, and the newer stub with its meta on nginx under the
  // user's file name in other letters.
  const userFile = path.join(root, 'setup.exe');
  fs.copyFileSync(process.env.UIHOST_TEST_STUB, userFile);
  fs.mkdirSync(served);
  // Signed by the same certificate as the user's stub, its .meta signed with
  // the release key the stubs carry: the hand-over checks both.
  const newer = signedCopy(process.env.NEWER_STUB, path.join(root, 'newer.exe'));
  fs.writeFileSync(path.join(served, 'SETUP.EXE'), newer);
  execFileSync(process.env.METATOOL, ['create', path.join(served, 'SETUP.EXE')]);
  if (process.env.STUB_TEST_RELEASE_KEY) {
    execFileSync(process.env.METATOOL, ['sign', '--key', process.env.STUB_TEST_RELEASE_KEY, path.join(served, 'SETUP.EXE.meta')]);
  }
  const url = `http://127.0.0.1:${servers.nginx_port}/${key}/SETUP.EXE`;
  const record = path.join(root, 'record.txt');
  process.env.STUB_RECORD_FILE = windowsPath(record);
  t.after(() => delete process.env.STUB_RECORD_FILE);

  // No run=1: the harness starts the launcher, whose working copy connects.
  const run = await startUiHost({ exe: userFile, args: [], headless: true });
  t.after(() => run.close(5000));
  await run.ready;
  const answers = await run.page.evaluate(
    (address) => ({ skip: window.external.isSkipSelfUpdate(), need: window.external.isNeedSelfUpdate(address) }),
    url,
  );
  assert.deepEqual(answers, { skip: false, need: true });
  await run.page.evaluate((address) => {
    window.calls = [];
    window.external.selfUpdate(address, function (result, total, current) {
      window.calls.push([result, total, current]);
    });
  }, url);
  const calls = await waitFor(
    () => run.page.evaluate(() => (window.calls.length && window.calls[window.calls.length - 1][0] !== 10 ? window.calls : null)),
    'the final callback',
    60000,
  );
  assert.deepEqual(calls[calls.length - 1], [0, newer.length, newer.length]);
  assert.equal(await setting('selfupdate_code'), '197800');
  assert.equal((await setting('update_stub_name')).toLowerCase(), 'setup_update.exe');
  await run.page.evaluate(() => window.external.closeWindow());

  const { code } = await run.exited;
  assert.equal(code, 0, 'the launcher ends with 0');
  // The finishing run is not waited for: it waits for the launcher, then copies.
  await waitFor(() => fs.readFileSync(userFile).equals(newer), "the newer stub in the user's file", 60000);
  const lines = await waitFor(() => (recordedLines(record).length >= 2 ? recordedLines(record) : null), 'two runs', 10000);
  assert.equal(lines.length, 2, lines.join('\n'));
  const first = /^ uihost=127\.0\.0\.1:\d+ run=1 update=0 shortcut="([^"]+)"$/.exec(lines[0]);
  assert.ok(first, lines[0]);
  assert.match(first[1], /\\setup\.exe$/, 'the shortcut names the file the user started');
  assert.match(lines[1], new RegExp(`^${lines[0].replace(/[.*+?^${}()|[\]\\]/g, '\\$&')} newVersionExitCode=\\d+ parentProcessID=\\d+$`));
});

// With the release key the stubs carry: anyone's program with a .meta anyone
// can make is refused by the working copy, and the launcher starts nothing.
test("a self-made .meta for anyone's program: refused, never started, the user's file kept", async (t) => {
  const servers = testServers();
  if (!servers) {
    t.skip('STUB_TEST_SERVERS names no test servers (CTest starts them)');
    return;
  }
  if (!process.env.STUB_TEST_RELEASE_KEY) {
    t.skip('this build carries no test release key');
    return;
  }
  const root = fs.mkdtempSync(path.join(os.tmpdir(), 'selfupdate-'));
  const key = `selfupdate_${crypto.randomBytes(6).toString('hex')}`;
  const served = path.join(servers.docroot, key);
  t.after(async () => {
    fs.rmSync(root, { recursive: true, force: true });
    fs.rmSync(served, { recursive: true, force: true });
    await clearSettings();
  });
  await clearSettings();
  const userFile = path.join(root, 'setup.exe');
  fs.copyFileSync(process.env.UIHOST_TEST_STUB, userFile);
  const original = fs.readFileSync(userFile);
  fs.mkdirSync(served);
  // The recording stub as it is: unsigned, with a .meta made by anyone.
  fs.copyFileSync(process.env.NEWER_STUB, path.join(served, 'SETUP.EXE'));
  execFileSync(process.env.METATOOL, ['create', path.join(served, 'SETUP.EXE')]);
  const url = `http://127.0.0.1:${servers.nginx_port}/${key}/SETUP.EXE`;
  const record = path.join(root, 'record.txt');
  process.env.STUB_RECORD_FILE = windowsPath(record);
  t.after(() => delete process.env.STUB_RECORD_FILE);

  const run = await startUiHost({ exe: userFile, args: [], headless: true });
  t.after(() => run.close(5000));
  await run.ready;
  await run.page.evaluate((address) => {
    window.calls = [];
    window.external.selfUpdate(address, function (result, total, current) {
      window.calls.push([result, total, current]);
    });
  }, url);
  const calls = await waitFor(
    () => run.page.evaluate(() => (window.calls.length && window.calls[window.calls.length - 1][0] !== 10 ? window.calls : null)),
    'the final callback',
    60000,
  );
  assert.equal(calls[calls.length - 1][0], 4, 'Failure');
  assert.equal(await setting('update_stub_name'), '', 'no name for the launcher');
  await run.page.evaluate(() => window.external.closeWindow());
  await run.exited;
  // Give a wrongly started stub the time it would need to record itself.
  await new Promise((resolve) => setTimeout(resolve, 3000));
  assert.deepEqual(recordedLines(record), [], 'the served program never ran');
  assert.ok(fs.readFileSync(userFile).equals(original), "the user's file is unchanged");
});
