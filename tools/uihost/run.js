#!/usr/bin/env node
'use strict';
// Runs a stub executable in the browser UI host by hand:
//
//   node tools/uihost/run.js [--headless|--headed] [--verbose] [--shots DIR] [--click-through]
//                            [--timeout SECONDS] STUB.exe [stub arguments...]
//
// The stub runs under Wine in the project's prefix (STUB_WINEPREFIX, else
// build/wineprefix) with "uihost=127.0.0.1:PORT" added to its arguments; its
// bundle's pages open in Debian's Chromium, headed when a display exists.
// Message boxes appear as the browser's dialogs (headless: declined). Prints
// each page's title, why a page waits, the window operations and the exit
// code; ends when the stub ends or the time runs out.

const path = require('node:path');
const { startUiHost } = require('./harness');
const { PageWalker } = require('./page_walker');

// Nobody can click a headless run, or one that clicks by itself: it ends
// after this long unless --timeout says otherwise.
const UNATTENDED_TIMEOUT_S = 300;

const USAGE = `usage: run.js [--headless|--headed] [--verbose] [--shots DIR] [--click-through] [--timeout SECONDS]
              STUB.exe [stub arguments...]
  --headless | --headed  Chromium without or with a window (default: a window when DISPLAY is set)
  --verbose              the harness's own messages
  --shots DIR            a screenshot of every page
  --click-through        press each page's forward button (Next, Install, Finish, ...)
  --timeout SECONDS      end the run after this long (0: never; default ${UNATTENDED_TIMEOUT_S} when headless or
                         clicking through, else never)
The stub runs under Wine in STUB_WINEPREFIX (else build/wineprefix). Exit status 0 when the stub
ended by itself; its exit code 255 is 2147483647 (no self-update pending) as Linux keeps its low 8 bits.`;

class UsageError extends Error {}

// Options up to the stub's path; everything after it is the stub's.
function parseArguments(argv) {
  const options = { headless: !process.env.DISPLAY, verbose: false, clickThrough: false, shots: '' };
  let i = 0;
  for (; i < argv.length && argv[i].startsWith('-'); i++) {
    const arg = argv[i];
    if (arg === '--help' || arg === '-h') return { help: true };
    if (arg === '--headless') options.headless = true;
    else if (arg === '--headed') options.headless = false;
    else if (arg === '--verbose') options.verbose = true;
    else if (arg === '--click-through') options.clickThrough = true;
    else if ((arg === '--shots' || arg === '--timeout') && i + 1 < argv.length) options[arg.slice(2)] = argv[++i];
    else throw new UsageError(`unknown argument ${arg}`);
  }
  if (i >= argv.length) throw new UsageError('no STUB.exe');
  if (options.timeout !== undefined && !/^\d{1,6}$/.test(options.timeout)) {
    throw new UsageError(`--timeout ${options.timeout}: whole seconds`);
  }
  const unattended = options.headless || options.clickThrough;
  options.timeoutMs = 1000 * (options.timeout !== undefined ? Number(options.timeout) : unattended ? UNATTENDED_TIMEOUT_S : 0);
  options.exe = argv[i];
  options.args = argv.slice(i + 1);
  return options;
}

async function main(argv) {
  let options;
  try {
    options = parseArguments(argv);
  } catch (error) {
    if (!(error instanceof UsageError)) throw error;
    process.stderr.write(`run.js: ${error.message}\n${USAGE}\n`);
    return 2;
  }
  if (options.help) {
    process.stdout.write(`${USAGE}\n`);
    return 0;
  }
  const say = (line) => process.stdout.write(`${line}\n`);
  const run = await startUiHost({ exe: path.resolve(options.exe), args: options.args, headless: options.headless,
    verbose: options.verbose });
  run.on('window', (op) => say(`window: ${JSON.stringify(op)}`));
  let walker = null;
  run.ready.then(
    () => {
      say(`start page: ${run.startUrl.replace(run.secret, '<secret>')}`);
      walker = new PageWalker(run, { shotsDir: options.shots ? path.resolve(options.shots) : '',
        clickThrough: options.clickThrough, timeoutMs: options.timeoutMs, say });
      walker.done.then(() => { if (walker.timedOut) run.close(); });
    },
    (error) => process.stderr.write(`uihost: ${error.message}\n`),
  );
  const stop = () => run.close();
  process.on('SIGINT', stop);
  process.on('SIGTERM', stop);
  const { code } = await run.exited;
  if (walker) walker.stop();
  say(`exit code (low 8 bits): ${code}`);
  return code === null || (walker && walker.timedOut) ? 1 : 0;
}

main(process.argv.slice(2)).then(
  (status) => process.exit(status),
  (error) => {
    process.stderr.write(`uihost: ${error.stack || error}\n`);
    process.exit(1);
  },
);
