'use strict';
// Puts a bundle with settings of its own into a development stub: the
// settings are appended to copies of the bundle's configuration scripts (an
// overlay folder whose files replace the bundle's own, as
// scripts/stage_bundle.js --overlay and STUB_DEV_BUNDLE_OVERLAY lay it), and
// the result is zipped onto the stub's bare image by scripts/pack_bundle.py.
// The demo and the end-to-end tests use it; the bundle itself is never edited.

const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const REPO = path.resolve(__dirname, '..');

// key=value lines (the build's demo.env, the servers' servers.env).
function readEnv(file) {
  const env = {};
  for (const line of fs.readFileSync(file, 'utf8').split('\n')) {
    const cut = line.indexOf('=');
    if (cut > 0) env[line.slice(0, cut)] = line.slice(cut + 1);
  }
  return env;
}

// The text appended to a configuration script: one assignment per setting,
// its value as an ES5 literal. Names are script names ("Config_MinSys",
// "installParams.DOWNLOAD_URL"), never text from elsewhere.
function settingsText(settings) {
  const lines = ['', '// Settings of this run, laid over the shipped ones.'];
  for (const [name, value] of Object.entries(settings)) {
    if (!/^[A-Za-z_$][\w$]*(\.[A-Za-z_$][\w$]*)*$/.test(name)) throw new Error(`not a script name: ${name}`);
    lines.push(`${name} = ${JSON.stringify(value)};`);
  }
  return `${lines.join('\n')}\n`;
}

// Writes overlayDir: for each bundle-relative file of `files`, the bundle's
// own script (if any) followed by its settings.
function writeOverlay(bundleDir, overlayDir, files) {
  fs.rmSync(overlayDir, { recursive: true, force: true });
  for (const [relative, settings] of Object.entries(files)) {
    const source = path.join(bundleDir, ...relative.split('/'));
    const shipped = fs.existsSync(source) ? fs.readFileSync(source, 'utf8') : '';
    const target = path.join(overlayDir, ...relative.split('/'));
    fs.mkdirSync(path.dirname(target), { recursive: true });
    fs.writeFileSync(target, shipped + settingsText(settings));
  }
  return overlayDir;
}

// The bundle with the overlay's files laid over it, in `workDir`/bundle.
function layBundle(bundleDir, overlayDir, workDir) {
  const laid = path.join(workDir, 'bundle');
  fs.rmSync(laid, { recursive: true, force: true });
  fs.cpSync(bundleDir, laid, { recursive: true });
  if (overlayDir) fs.cpSync(overlayDir, laid, { recursive: true, force: true });
  return laid;
}

// Packs `bundle` onto the bare `image` as `output`, signed when cert and key
// are given.
function packStub({ image, bundle, output, cert, key }) {
  const args = [path.join(REPO, 'scripts', 'pack_bundle.py'), '--image', image, '--bundle', bundle, '--output', output];
  if (cert && key) args.push('--cert', cert, '--key', key);
  fs.mkdirSync(path.dirname(output), { recursive: true });
  execFileSync('python3', args, { stdio: ['ignore', 'ignore', 'inherit'] });
  return output;
}

module.exports = { readEnv, settingsText, writeOverlay, layBundle, packStub };
