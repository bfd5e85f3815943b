'use strict';
// What the browser host suites share: a run of the test stub, polling, and
// what the stub leaves behind.

const { execFile } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const { startUiHost, defaultWinePrefix } = require('../../tools/uihost/harness');

const REPO = path.resolve(__dirname, '..', '..');
const SETTINGS_KEY = 'HKCU\\SOFTWARE\\Brelvo\\stubframework\\Tessary\\22';

function testStub() {
  const exe = process.env.UIHOST_TEST_STUB;
  if (!exe) throw new Error('UIHOST_TEST_STUB names no test stub: run these suites through ctest');
  return exe;
}

// A run of the test stub with its page loaded; boxes are answered by `answers`
// (one boolean each, in order; a box beyond them is declined).
async function startTestRun({ answers = [], onFolder } = {}) {
  const queue = [...answers];
  const run = await startUiHost({
    exe: testStub(),
    args: ['run=1'],
    headless: true,
    onBox: async () => (queue.length ? queue.shift() : false),
    onFolder,
  });
  try {
    await run.ready;
  } catch (error) {
    await run.close(5000);
    throw new Error(`${error.message}\n${run.output}`);
  }
  return run;
}

async function waitFor(condition, what, timeoutMs = 20000) {
  const until = Date.now() + timeoutMs;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > until) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
}

function wineRun(args) {
  return new Promise((resolve) => {
    execFile('bash', [path.join(REPO, 'scripts', 'wine-run.sh'), defaultWinePrefix(), ...args], (error, stdout) =>
      resolve({ error, stdout }),
    );
  });
}

// The exit code a Linux parent sees: the low 8 bits of the stored
// self-update code, or of 2147483647 when none is stored.
async function expectedExitCode() {
  const { error, stdout } = await wineRun(['reg', 'query', SETTINGS_KEY, '/v', 'selfupdate_code']);
  const match = !error && /selfupdate_code\s+REG_SZ\s+(-?\d+)/.exec(stdout);
  const code = match ? Number(match[1]) : 2147483647;
  return code & 0xff;
}

// The log the stub kept in its temporary folder's "Tessary_log" that holds
// `marker`; `extractFolder` is the bundle's folder, which lies in that
// temporary folder.
function keptLogWith(extractFolder, marker) {
  const folder = path.join(path.dirname(extractFolder), 'Tessary_log');
  if (!fs.existsSync(folder)) return null;
  for (const name of fs.readdirSync(folder)) {
    if (!/^installer_log_.*\.txt$/.test(name)) continue;
    const text = fs.readFileSync(path.join(folder, name), 'latin1');
    if (text.includes(marker)) return text;
  }
  return null;
}

// The shared test servers' settings (docroot, nginx_port, ...). Null when run
// by hand without them; under CTest their fixture must have started them.
function testServers() {
  const state = process.env.STUB_TEST_SERVERS;
  if (!state) return null;
  if (!fs.existsSync(path.join(state, 'servers.env'))) throw new Error(`no test servers in ${state}`);
  const env = {};
  for (const line of fs.readFileSync(path.join(state, 'servers.env'), 'utf8').split('\n')) {
    const cut = line.indexOf('=');
    if (cut > 0) env[line.slice(0, cut)] = line.slice(cut + 1);
  }
  return env;
}

module.exports = { startTestRun, waitFor, expectedExitCode, keptLogWith, testStub, testServers, wineRun };
