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

// Runs demo.sh --bundle with `args` to its end; its exit status and output.
async function runBundleMode(name, args, timeoutMs = 240000) {
  const printed = outDir('bundle-mode', `${name}.txt`);
  const fd = fs.openSync(printed, 'w');
  const child = spawn('bash', [path.join(REPO, 'scripts', 'demo.sh'), ...args, '--headless', '--build-dir', build],
    { stdio: ['ignore', fd, fd] });
  const timer = setTimeout(() => child.kill('SIGTERM'), timeoutMs);
  const code = await new Promise((resolve) => child.on('exit', resolve));
  clearTimeout(timer);
  fs.closeSync(fd);
  return { code, output: fs.readFileSync(printed, 'utf8') };
}

test('--click-through presses each forward button, --shots draws each page, a .json overlay sets a script value', async () => {
  const folder = outDir('bundle-mode', 'clicked');
  const shots = outDir('bundle-mode', 'clicked-shots');
  fs.rmSync(folder, { recursive: true, force: true });
  fs.rmSync(shots, { recursive: true, force: true });
  fs.mkdirSync(path.join(folder, 'config'), { recursive: true });
  fs.writeFileSync(path.join(folder, 'config', 'names.js'), 'var FirstTitle = "Shipped";\n');
  fs.writeFileSync(path.join(folder, 'Load.html'), '<!DOCTYPE html><html><head><title>Loading</title>' +
    '<script src="config/names.js"></script></head><body><button id="btn-next" disabled>Next</button><script>' +
    'document.title = FirstTitle; var b = document.getElementById("btn-next");' +
    'setTimeout(function () { b.disabled = false; }, 1500);' +
    'b.onclick = function () { location.href = "Finish.html"; };</script></body></html>\n');
  fs.writeFileSync(path.join(folder, 'Finish.html'), '<!DOCTYPE html><html><head><title>Finish</title></head><body>' +
    '<button id="btn-finish">Finish</button><script>document.getElementById("btn-finish").onclick = function () {' +
    ' window.external.closeWindow(); };</script></body></html>\n');
  const overlay = outDir('bundle-mode', 'names.json');
  fs.writeFileSync(overlay, JSON.stringify({ 'config/names.js': { FirstTitle: 'Overlaid' } }));

  const { code, output } = await runBundleMode('clicked', ['--bundle', folder, '--overlay', overlay, '--shots', shots,
    '--click-through', '--timeout', '120']);
  assert.equal(code, 0, output);
  // The button is pressed only once it is enabled, and the final page's ends the run.
  assert.match(output, /page: Overlaid\n(.*\n)*Overlaid: pressing #btn-next\n(.*\n)*page: Finish\n(.*\n)*Finish: pressing #btn-finish/, output);
  assert.match(output, /pages: Overlaid -> Finish\n/);
  assert.deepEqual(fs.readdirSync(shots).sort(), ['01-Overlaid.png', '02-Finish.png']);
  assert.doesNotMatch(output, /timed out/);
});

test('a page that waits says why: the shipped pages under Wine stop at MinSys, and the time limit ends the run', async () => {
  const shots = outDir('bundle-mode', 'minsys-shots');
  fs.rmSync(shots, { recursive: true, force: true });
  const { code, output } = await runBundleMode('minsys', ['--bundle', path.join(REPO, 'bundle'), '--shots', shots,
    '--click-through', '--timeout', '60']);
  assert.equal(code, 1, output);
  assert.match(output, /MinSys: this machine does not meet Config_MinSys \(failed: [A-Z0-9, ]+\); .*--overlay demo\/wine_settings\.json/, output);
  assert.match(output, /timed out on MinSys: this machine does not meet Config_MinSys/, output);
  assert.ok(fs.readdirSync(shots).some((name) => /-MinSys\.png$/.test(name)), fs.readdirSync(shots).join(' '));
});
