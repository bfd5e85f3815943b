'use strict';
// What the bundle's page tests share: the staged bundle served on
// 127.0.0.1, Debian's Chromium, and pages opened with the fake native side.

const fs = require('node:fs');
const http = require('node:http');
const path = require('node:path');

const { resolveStatic, contentType } = require('../../tools/uihost/static_files');
const { CHROMIUM, CHROMIUM_FLAGS } = require('../../tools/uihost/harness');
const { installFakeExternal } = require('./fake_external');

const REPO = path.resolve(__dirname, '..', '..');
const METHOD_TABLE = path.join(REPO, 'src', 'externalmethods', 'method_table.cpp');
// The table's words for call and argument kinds, as the fake native side's letters.
const KIND_LETTERS = { kMethod: 'M', kMethodOrGet: 'G', kAnyCall: 'U' };
const TYPE_LETTERS = { kText: 'T', kInt: 'I', kBool: 'B', kPageFunction: 'F' };

// The native method table: name, call kind and argument types, read from
// the table the product is built from.
function nativeMethods() {
  const text = fs.readFileSync(METHOD_TABLE, 'utf8');
  const methods = {};
  const row = /\{L"(\w+)",\s*(\w+),\s*\{([^}]*)\}/g;
  for (const match of text.matchAll(row)) {
    const kind = KIND_LETTERS[match[2]];
    const types = match[3].split(',').map((t) => t.trim()).filter(Boolean).map((t) => TYPE_LETTERS[t]);
    if (!kind || types.includes(undefined)) throw new Error(`unreadable table row ${match[1]}`);
    methods[match[1]] = { kind, types: types.join('') };
  }
  if (Object.keys(methods).length !== 85) throw new Error(`the method table has ${Object.keys(methods).length} rows, not 85`);
  return methods;
}

function bundleRoot() {
  const root = process.env.STUB_BUNDLE_DIR;
  if (!root) throw new Error('STUB_BUNDLE_DIR names no staged bundle: run these suites through ctest');
  return fs.realpathSync(root);
}

// Serves the staged bundle, and probe.html of this folder (a page that loads
// the shared scripts and runs nothing itself) as "pages/Probe/page.html" and,
// for the start page's view, as "Probe.html".
async function startServer() {
  const root = bundleRoot();
  const probe = fs.readFileSync(path.join(__dirname, 'probe.html'), 'utf8');
  const probes = { 'pages/Probe/page.html': probe.replace(/\{\{root\}\}/g, '../../'), 'Probe.html': probe.replace(/\{\{root\}\}/g, '') };
  const server = http.createServer((request, response) => {
    const relative = decodeURI(String(request.url).split('?')[0]).replace(/^\//, '');
    if (Object.prototype.hasOwnProperty.call(probes, relative)) {
      response.writeHead(200, { 'Content-Type': 'text/html; charset=utf-8', 'Cache-Control': 'no-store' });
      response.end(probes[relative]);
      return;
    }
    const file = resolveStatic(root, relative);
    if (!file) {
      response.writeHead(404);
      response.end();
      return;
    }
    response.writeHead(200, { 'Content-Type': contentType(file), 'Cache-Control': 'no-store' });
    fs.createReadStream(file).pipe(response);
  });
  await new Promise((resolve) => server.listen(0, '127.0.0.1', resolve));
  return { server, origin: `http://127.0.0.1:${server.address().port}`, close: () => new Promise((r) => server.close(r)) };
}

async function launchBrowser() {
  const { chromium } = require('playwright-core');
  return chromium.launch({ executablePath: CHROMIUM, headless: true, args: CHROMIUM_FLAGS });
}

// Opens `start` (a path in the bundle) with a fake native side whose state
// starts as `native`. Navigations to pages matched by `stopAt` are recorded
// and not followed (the page stays where it is). Returns the page and helpers.
async function openPage(browser, origin, start, options = {}) {
  const context = await browser.newContext({
    viewport: options.viewport || { width: 587, height: 701 },
    screen: options.screen || { width: 1920, height: 1080 },
    deviceScaleFactor: options.deviceScaleFactor || 1,
    serviceWorkers: 'block',
  });
  const config = { origin, methods: nativeMethods(), native: options.native || {} };
  await context.addInitScript({ content: `(${installFakeExternal.toString()})(${JSON.stringify(config)});` });
  const page = await context.newPage();
  const errors = [];
  page.on('pageerror', (error) => errors.push(error));
  // Extra configuration, run right after config.js as if it were part of it.
  if (options.init) {
    await page.route('**/config/config.js', async (route) => {
      const response = await route.fetch();
      route.fulfill({ response, body: `${await response.text()}\n${options.init}\n` });
    });
  }
  // Code appended to a script of the bundle (a test's view into a page).
  for (const [glob, code] of options.append || []) {
    await page.route(glob, async (route) => {
      const response = await route.fetch();
      route.fulfill({ response, body: `${await response.text()}\n${code}\n` });
    });
  }
  const stopped = [];
  if (options.stopAt) {
    await page.route(options.stopAt, (route) => {
      const target = new URL(route.request().url()).pathname;
      if (target !== `/${start}` && route.request().isNavigationRequest() && route.request().frame() === page.mainFrame()) {
        stopped.push(target);
        return route.fulfill({ status: 204 });
      }
      return route.fallback();
    });
  }
  // A page that navigates while it loads (the start page does) never reports
  // its load to the driver once that navigation is turned away: wait for
  // the document itself instead.
  await page.goto(`${origin}/${start}`, { waitUntil: 'commit' });
  await waitFor(() => page.evaluate(() => document.readyState === 'complete').catch(() => false), `${start} to load`);
  const run = {
    page,
    errors,
    stopped,
    // The fake native side's state as the page left it.
    state: () => page.evaluate(() => JSON.parse(sessionStorage.getItem('__fakeExternal'))),
    calls: async (name) => (await run.state()).calls.filter((c) => !name || c.name === name),
    close: () => context.close(),
  };
  return run;
}

// The window the stub opens on `screen` (CSS pixels, as the pages measure
// it), asked for by the pages' own sizing code: its client size in CSS
// pixels and the zoom every later page reads back as uiScaleRate.
async function stubWindow(browser, origin, screen) {
  const run = await openPage(browser, origin, 'Probe.html', { screen, stopAt: '**/*.html' });
  try {
    await run.page.evaluate(() => Startup.sizeWindow());
    const state = await run.state();
    if (state.windowSizes.length !== 1) throw new Error(`sizing asked for ${state.windowSizes.length} windows`);
    const [width, height] = state.windowSizes[0];
    return { viewport: { width, height }, rate: state.native.props.uiScaleRate };
  } finally {
    await run.close();
  }
}

async function waitFor(condition, what, timeoutMs = 10000) {
  const until = Date.now() + timeoutMs;
  for (;;) {
    const value = await condition();
    if (value) return value;
    if (Date.now() > until) throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 25));
  }
}

module.exports = { startServer, launchBrowser, openPage, stubWindow, waitFor, nativeMethods, bundleRoot, REPO };
