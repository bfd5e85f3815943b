'use strict';
// What the end-to-end suites share: the build's demo files, a development
// stub packed with settings of the test, a run through the pages, and the
// shared nginx.

const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');

const { startUiHost } = require('../../tools/uihost/harness');
const { readEnv, writeOverlay, layBundle, packStub } = require('../../demo/stub_pack');
const { PageFlow } = require('../../demo/page_flow');
const prefixState = require('../../demo/demo_prefix');
const { testServers, expectedExitCode } = require('../browserhost/support');

const FINAL_PAGES = ['Finish', 'Error', 'Restart'];

function buildEnv() {
  const file = process.env.STUB_DEMO_ENV;
  if (!file) throw new Error('STUB_DEMO_ENV names no demo.env: run these suites through ctest');
  return readEnv(file);
}

function outDir(...parts) {
  const root = process.env.E2E_OUT || path.join(__dirname, '..', '..', 'build', 'e2e');
  return path.join(root, ...parts);
}

// The shared nginx; these suites need it (CTest starts it).
function nginx() {
  const servers = testServers();
  if (!servers) throw new Error('STUB_TEST_SERVERS names no test servers: run these suites through ctest');
  return { ...servers, base: `http://127.0.0.1:${servers.nginx_port}` };
}

// Copies a file, its .meta and the .meta's release signature into nginx's
// document root under `relative`.
function publish(servers, source, relative) {
  const target = path.join(servers.docroot, ...relative.split('/'));
  fs.mkdirSync(path.dirname(target), { recursive: true });
  fs.copyFileSync(source, target);
  for (const suffix of ['.meta', '.meta.sig']) {
    if (fs.existsSync(`${source}${suffix}`)) fs.copyFileSync(`${source}${suffix}`, `${target}${suffix}`);
  }
  return target;
}

function uniqueKey(name) {
  return `${name}_${crypto.randomBytes(5).toString('hex')}`;
}

// The development stub with `bundle` (default: the build's) and the overlay
// files of `settings`, in its own folder under the suite's output.
function packDevStub(env, name, settings, bundle = env.bundle) {
  const work = outDir('stubs', name);
  fs.rmSync(work, { recursive: true, force: true });
  const overlay = writeOverlay(bundle, path.join(work, 'overlay'), settings);
  return packStub({ image: env.dev_stub_image, bundle: layBundle(bundle, overlay, work),
    output: path.join(work, 'TessarySetupDev.exe') });
}

// The requests nginx logged for paths that contain `key`: [method, uri, range, if-range, status].
function nginxRequests(servers, key) {
  return fs.readFileSync(servers.nginx_log, 'utf8').split('\n').filter((line) => line.includes(key))
    .map((line) => line.split('\t'));
}

// Starts a stub run through the pages, drawing each page into `shotsDir`.
async function startFlow(env, exe, { args = ['run=1'], scale = 1, shotsDir = '' } = {}) {
  const flow = new PageFlow({ shotsDir });
  const run = await startUiHost({ exe, args, headless: true, deviceScaleFactor: scale, winePrefix: env.wineprefix,
    preparePage: flow.prepare, onBox: async () => false });
  try {
    await run.ready;
  } catch (error) {
    await run.close(5000);
    throw new Error(`${error.message}\n${run.output}`);
  }
  return { run, flow, started: Date.now() };
}

// Waits for a final page, draws it, presses its button and waits for the
// stub to end. The final page's title.
async function finishFlow({ run, flow }, button) {
  const last = await flow.waitForPage(FINAL_PAGES, 240000);
  if (last) {
    await flow.draw();
    const chosen = button || { Finish: '#btn-finish', Error: '#btn-close-page', Restart: '#btn-later' }[last];
    await run.page.click(chosen, { timeout: 10000 });
  }
  const timer = setTimeout(() => run.close(), 60000);
  const exited = await run.exited;
  clearTimeout(timer);
  return { last, exitCode: exited.code };
}

module.exports = {
  buildEnv,
  outDir,
  nginx,
  publish,
  uniqueKey,
  packDevStub,
  nginxRequests,
  startFlow,
  finishFlow,
  expectedExitCode,
  prefixState,
};
