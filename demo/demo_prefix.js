'use strict';
// The demo product in a Wine prefix: what its installers left there (files,
// shortcut, uninstall entry, the version values the setup checks), its
// removal before a run, and the run logs the stub keeps.

const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const REPO = path.resolve(__dirname, '..');
const WINE_RUN = path.join(REPO, 'scripts', 'wine-run.sh');

// The demo product's own keys (its package writes them; not the stub's identity).
const PRODUCT_KEY = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Brelvo\\Tessary\\22.0';
const SAMPLES_KEY = `${PRODUCT_KEY}\\Samples`;
const UNINSTALL_KEY = 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall';

// The names the stub of a build tree uses in the prefix, from its demo.env:
// they follow the tree's identity settings, not the defaults.
function identityOf(env) {
  for (const key of ['product_name', 'product_major', 'settings_key']) {
    if (!env[key]) throw new Error(`demo.env has no ${key}: reconfigure the build tree`);
  }
  return { name: env.product_name, major: env.product_major, settingsKey: env.settings_key };
}

// Runs a program in the prefix and resolves with its exit code and output.
// The output goes through a file, not a pipe: Wine's services, if this
// starts them, would hold a pipe open long after the program ended.
function wine(prefix, args, timeoutMs = 120000) {
  const out = fs.mkdtempSync(path.join(os.tmpdir(), 'demo-wine-'));
  const file = path.join(out, 'output');
  const fd = fs.openSync(file, 'w');
  return new Promise((resolve) => {
    const child = spawn('bash', [WINE_RUN, prefix, ...args], { stdio: ['ignore', fd, fd] });
    const timer = setTimeout(() => child.kill('SIGTERM'), timeoutMs);
    child.on('exit', (code) => {
      clearTimeout(timer);
      fs.closeSync(fd);
      const output = fs.readFileSync(file, 'utf8');
      fs.rmSync(out, { recursive: true, force: true });
      resolve({ code, output });
    });
  });
}

// Values of a key as `reg query` lists them ({ name: data }), in one registry view.
async function registryValues(prefix, key, view = 32) {
  const { code, output } = await wine(prefix, ['reg', 'query', key, `/reg:${view}`]);
  if (code !== 0) return null;
  const values = {};
  for (const line of output.split(/\r?\n/)) {
    const match = /^\s+(.*?)\s+(REG_\w+)\s+(.*)$/.exec(line);
    if (match) values[match[1]] = match[3].trim();
  }
  return values;
}

function driveC(prefix) {
  return path.join(prefix, 'drive_c');
}

// The product's folders as the 32-bit installers see Program Files on a 64-bit system.
function productFolder(prefix) {
  return path.join(driveC(prefix), 'Program Files (x86)', 'Brelvo', 'Tessary 22');
}

// The package's Start-menu shortcut: in the machine's menu, or (as Wine's
// Windows Installer makes it) in the installing user's; '' when absent.
function shortcutPath(prefix) {
  const menus = [
    path.join(driveC(prefix), 'ProgramData', 'Microsoft', 'Windows', 'Start Menu', 'Programs'),
    path.join(driveC(prefix), 'users', os.userInfo().username, 'AppData', 'Roaming', 'Microsoft', 'Windows',
      'Start Menu', 'Programs'),
  ];
  const found = menus.map((menu) => path.join(menu, 'Tessary 22', 'Tessary 22 Readme.lnk')).find((f) => fs.existsSync(f));
  return found || '';
}

function filesUnder(folder) {
  if (!fs.existsSync(folder)) return [];
  const files = [];
  for (const entry of fs.readdirSync(folder, { withFileTypes: true, recursive: true })) {
    if (!entry.isFile()) continue;
    const full = path.join(entry.path || entry.parentPath, entry.name);
    files.push({ path: full, bytes: fs.statSync(full).size });
  }
  return files.sort((a, b) => a.path.localeCompare(b.path));
}

// A Linux path in the prefix as Windows programs see it.
function windowsPath(prefix, linuxPath) {
  const relative = path.relative(driveC(prefix), linuxPath);
  return `C:\\${relative.split(path.sep).join('\\')}`;
}

// What the demo product's installers left in the prefix.
async function productState(prefix, productCode) {
  return {
    files: filesUnder(productFolder(prefix)).map((f) => ({ ...f, windowsPath: windowsPath(prefix, f.path) })),
    shortcut: shortcutPath(prefix) ? windowsPath(prefix, shortcutPath(prefix)) : '',
    uninstallEntry: await registryValues(prefix, `${UNINSTALL_KEY}\\${productCode}`),
    productVersion: ((await registryValues(prefix, PRODUCT_KEY)) || {}).Version || '',
    samplesVersion: ((await registryValues(prefix, SAMPLES_KEY)) || {}).Version || '',
  };
}

// The setup's download folder (getTempPath of the product name).
function downloadFolder(prefix, identity) {
  return path.join(userTemp(prefix), identity.name);
}

function userTemp(prefix) {
  return path.join(driveC(prefix), 'users', os.userInfo().username, 'Temp');
}

// Takes the demo product out of the prefix, with what earlier setups left
// for it (their downloads, a record for a resumed run), so that a run starts
// from a machine that never had it.
async function removeProduct(prefix, { productCode, samplesSetup, identity }) {
  await wine(prefix, ['msiexec', '/x', productCode, '/qn']);
  fs.rmSync(downloadFolder(prefix, identity), { recursive: true, force: true });
  if (samplesSetup) await wine(prefix, [samplesSetup, '/uninstall']);
  await wine(prefix, ['reg', 'delete', `${identity.settingsKey}\\ResumeRecord`, '/f']);
  await wine(prefix, ['reg', 'delete', 'HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\RunOnce',
    '/v', `${identity.name}_${identity.major}`, '/f', '/reg:64']);
}

// The folder where the stub keeps a copy of each run's log.
function keptLogFolder(prefix, identity) {
  return path.join(userTemp(prefix), `${identity.name}_log`);
}

// The newest kept log written at or after `since` (ms), or ''.
function keptLogSince(prefix, since, identity) {
  const folder = keptLogFolder(prefix, identity);
  if (!fs.existsSync(folder)) return '';
  let newest = '';
  let newestTime = since - 1000;
  for (const name of fs.readdirSync(folder)) {
    if (!/^installer_log_.*\.txt$/.test(name)) continue;
    const time = fs.statSync(path.join(folder, name)).mtimeMs;
    if (time >= newestTime) {
      newest = path.join(folder, name);
      newestTime = time;
    }
  }
  return newest;
}

module.exports = {
  identityOf,
  wine,
  registryValues,
  productFolder,
  downloadFolder,
  productState,
  removeProduct,
  keptLogFolder,
  keptLogSince,
  windowsPath,
  PRODUCT_KEY,
  SAMPLES_KEY,
};
