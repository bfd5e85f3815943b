#!/usr/bin/env node
'use strict';
// Runs any bundle folder in the browser UI host against the built development
// stub, for bundle authors (scripts/demo.sh --bundle DIR starts it):
//
//   run_bundle.js --env BUILD/demo/demo.env --bundle DIR --out WORKDIR [--headless|--headed]
//                 [--overlay DIR|FILE.json] [--shots DIR] [--click-through] [--timeout SECONDS] [-- stub arguments]
//
// The folder is staged as the build stages the product's bundle (jQuery
// added, SVG images rendered), packed into a copy of the development stub and
// run under Wine. While it runs, a change to a file of the folder stages it
// again, puts it where the stub extracted its bundle and reloads the page.
// Ends when the stub ends (Ctrl-C closes it) or the time runs out.

const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const { startUiHost } = require('../tools/uihost/harness');
const { PageWalker } = require('../tools/uihost/page_walker');
const { readEnv, packStub, writeOverlay } = require('./stub_pack');

const REPO = path.resolve(__dirname, '..');
const RELOAD_DELAY_MS = 300;
// Without a display nobody can click: a headless run, or one that clicks by
// itself, ends after this long unless --timeout says otherwise.
const UNATTENDED_TIMEOUT_S = 300;

const USAGE = `usage: run_bundle.js --env demo.env --bundle DIR --out WORKDIR [--headless|--headed]
                     [--overlay DIR|FILE.json] [--shots DIR] [--click-through] [--timeout SECONDS] [-- stub arguments]
  --overlay DIR        files that replace the bundle's own after staging
  --overlay FILE.json  settings appended to the bundle's scripts, {"config/config.js": {"Config_MinSys": []}}
                       (demo/wine_settings.json lets the shipped pages past the minimum-system check under Wine)
  --shots DIR          a screenshot of every page shown
  --click-through      press each page's forward button (Next, Install, Finish, ...)
  --timeout SECONDS    end the run after this long (0: never; default ${UNATTENDED_TIMEOUT_S} when headless or
                       clicking through, else never)`;

function parseArguments(argv) {
  const options = { headless: !process.env.DISPLAY, stubArgs: [], clickThrough: false };
  for (let i = 0; i < argv.length; i++) {
    if (argv[i] === '--') {
      options.stubArgs = argv.slice(i + 1);
      break;
    }
    if (argv[i] === '--help' || argv[i] === '-h') return { help: true };
    if (argv[i] === '--headless') options.headless = true;
    else if (argv[i] === '--headed') options.headless = false;
    else if (argv[i] === '--click-through') options.clickThrough = true;
    else if (['--env', '--bundle', '--out', '--overlay', '--shots', '--timeout'].includes(argv[i]) && i + 1 < argv.length) {
      options[argv[i].slice(2)] = argv[++i];
    } else throw new Error(`run_bundle: unknown argument ${argv[i]}\n${USAGE}`);
  }
  if (!options.env || !options.bundle || !options.out) throw new Error(USAGE);
  if (options.timeout !== undefined && !/^\d{1,6}$/.test(options.timeout)) {
    throw new Error(`run_bundle: --timeout ${options.timeout}: whole seconds\n${USAGE}`);
  }
  const unattended = options.headless || options.clickThrough;
  options.timeoutMs = 1000 * (options.timeout !== undefined ? Number(options.timeout) : unattended ? UNATTENDED_TIMEOUT_S : 0);
  return options;
}

// Stages the folder; an overlay folder replaces files, an overlay of
// settings (.json) is appended to the staged scripts it names.
function stage(source, output, overlay) {
  const args = [path.join(REPO, 'scripts', 'stage_bundle.js'), '--source', source, '--output', output,
    '--modules', path.join(REPO, 'node_modules')];
  if (overlay && !overlay.endsWith('.json')) args.push('--overlay', overlay);
  execFileSync('node', args, { stdio: ['ignore', 'ignore', 'inherit'] });
  if (overlay && overlay.endsWith('.json')) {
    const settings = JSON.parse(fs.readFileSync(overlay, 'utf8'));
    const laid = writeOverlay(output, `${output}-settings`, settings);
    fs.cpSync(laid, output, { recursive: true, force: true });
    fs.rmSync(laid, { recursive: true, force: true });
  }
  return output;
}

// Restages the folder into the running stub's extracted bundle and reloads.
function watchAndReload(source, staged, overlay, run) {
  let timer = null;
  let busy = false;
  const reload = async () => {
    if (busy || !run.root) return;
    busy = true;
    try {
      stage(source, staged, overlay);
      fs.cpSync(staged, run.root, { recursive: true, force: true });
      await run.page.reload();
      process.stdout.write('bundle: reloaded after a change\n');
    } catch (error) {
      process.stdout.write(`bundle: not reloaded: ${error.message}\n`);
    } finally {
      busy = false;
    }
  };
  const watcher = fs.watch(source, { recursive: true }, () => {
    clearTimeout(timer);
    timer = setTimeout(reload, RELOAD_DELAY_MS);
  });
  return () => {
    clearTimeout(timer);
    watcher.close();
  };
}

async function main(argv) {
  const options = parseArguments(argv);
  if (options.help) {
    process.stdout.write(`${USAGE}\n`);
    return 0;
  }
  const env = readEnv(options.env);
  // The prefix the caller chose (as setup.sh and the tests honour it), else the build tree's.
  if (process.env.STUB_WINEPREFIX) env.wineprefix = process.env.STUB_WINEPREFIX;
  const source = path.resolve(options.bundle);
  if (!fs.existsSync(path.join(source, 'Load.html'))) throw new Error(`${source} has no Load.html (the start page)`);
  const overlay = options.overlay ? path.resolve(options.overlay) : '';
  if (overlay && !fs.existsSync(overlay)) throw new Error(`the overlay ${overlay} does not exist`);
  const out = path.resolve(options.out);
  fs.rmSync(out, { recursive: true, force: true });
  const staged = stage(source, path.join(out, 'staged'), overlay);
  const exe = packStub({ image: env.dev_stub_image, bundle: staged, output: path.join(out, path.basename(env.dev_stub_image).replace(/\.image\.exe$/, '.exe')),
    cert: env.signing_cert, key: env.signing_key });
  process.stdout.write(`bundle: ${source} in ${exe} (${options.headless ? 'headless' : 'a Chromium window'}); edits reload the page\n`);

  const run = await startUiHost({ exe, args: ['run=1', ...options.stubArgs], headless: options.headless,
    winePrefix: env.wineprefix });
  run.on('window', (op) => process.stdout.write(`window: ${JSON.stringify(op)}\n`));
  run.on('pageerror', (error) => process.stdout.write(`page error: ${error.message}\n`));
  const stop = () => run.close();
  process.on('SIGINT', stop);
  process.on('SIGTERM', stop);
  let unwatch = () => {};
  let walker = null;
  run.ready.then(
    () => {
      walker = new PageWalker(run, { shotsDir: options.shots ? path.resolve(options.shots) : '',
        clickThrough: options.clickThrough, timeoutMs: options.timeoutMs,
        say: (line) => process.stdout.write(`${line}\n`) });
      walker.done.then(() => { if (walker.timedOut) run.close(); });
      unwatch = watchAndReload(source, staged, overlay, run);
    },
    (error) => process.stderr.write(`bundle: ${error.message}\n${run.output}`),
  );
  const { code } = await run.exited;
  unwatch();
  if (walker) walker.stop();
  process.stdout.write(`pages: ${walker ? walker.pages.join(' -> ') : '(none)'}\n`);
  process.stdout.write(`exit code (low 8 bits): ${code} (255: 2147483647, a run with no self-update pending)\n`);
  return code === null || (walker && walker.timedOut) ? 1 : 0;
}

main(process.argv.slice(2)).then(
  (status) => process.exit(status),
  (error) => {
    process.stderr.write(`bundle: ${error.stack || error}\n`);
    process.exit(1);
  },
);
