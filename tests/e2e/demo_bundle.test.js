'use strict';
// The demo's bundle mode: any bundle folder runs in the development stub, and
// a change to one of its files reloads the page. The page of the second
// version closes the window, so the run ends only if the reload happened.

const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');
const { test } = require('node:test');

const { outDir } = require('./support');

const REPO = path.resolve(__dirname, '..', '..');
const build = process.env.STUB_BUILD_DIR_UNDER_TEST;

function page(title, script) {
  return `<!DOCTYPE html><html><head><meta charset="utf-8"><title>${title}</title></head>` +
    `<body><p>${title}</p><script>${script}</script></body></html>\n`;
}

async function waitForText(file, text, timeoutMs) {
  const until = Date.now() + timeoutMs;
  while (Date.now() < until) {
    if (fs.readFileSync(file, 'utf8').includes(text)) return true;
    await new Promise((resolve) => setTimeout(resolve, 200));
  }
  return false;
}

test('demo.sh --bundle runs a bundle folder and reloads the page when a file of it changes', async (t) => {
  const folder = outDir('bundle-mode', 'bundle');
  fs.rmSync(folder, { recursive: true, force: true });
  fs.mkdirSync(folder, { recursive: true });
  fs.writeFileSync(path.join(folder, 'Load.html'), page('First version', ''));
  const printed = outDir('bundle-mode', 'output.txt');
  const fd = fs.openSync(printed, 'w');
  const child = spawn('bash', [path.join(REPO, 'scripts', 'demo.sh'), '--bundle', folder, '--headless', '--build-dir', build],
    { stdio: ['ignore', fd, fd] });
  const exited = new Promise((resolve) => child.on('exit', resolve));
  t.after(() => child.exitCode === null && child.kill('SIGTERM'));

  assert.ok(await waitForText(printed, 'page: First version', 120000), fs.readFileSync(printed, 'utf8'));
  fs.writeFileSync(path.join(folder, 'Load.html'), page('Second version', 'setTimeout(function () { window.external.closeWindow(); }, 500);'));
  const timer = setTimeout(() => child.kill('SIGTERM'), 120000);
  const code = await exited;
  clearTimeout(timer);
  fs.closeSync(fd);
  const output = fs.readFileSync(printed, 'utf8');
  assert.equal(code, 0, output);
  assert.match(output, /bundle: reloaded after a change/);
  assert.match(output, /page: Second version/);
});
