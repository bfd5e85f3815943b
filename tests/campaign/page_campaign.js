'use strict';
// The fault campaign's page share: downloads that a page starts in the test
// stub (the development flavour's entry sequence with the product's method
// table), so that the real download worker, script bridge and marshalled
// callbacks run, against the chaos behaviour of the fault server. Some
// block-verified downloads are first started in a stub that is killed part
// way, then resumed by a new run. Every download is planned from the seed and
// its index alone.
//
// Used by page_campaign.test.js (the short share, under CTest) and by
// scripts/long_campaign.py through the command line:
//   node tests/campaign/page_campaign.js --seed S --first I --count N --out FILE
// (environment: UIHOST_TEST_STUB, STUB_TEST_SERVERS, STUB_WINEPREFIX).

const crypto = require('node:crypto');
const fs = require('node:fs');
const path = require('node:path');
const zlib = require('node:zlib');

const { startUiHost } = require('../../tools/uihost/harness');

const FAULT_KINDS = [
  'clean', 'drop', 'flip', 'range200', 'etag', 'badrange', 'nolength', 'headersonly',
  'stall', 'status404', 'status500', 'redirect', 'html200', 'unasked206', 'chunkedcut', 'silent',
];
const SOURCE_SIZES = [300000, 1048576 + 777, 3 * 1048576];
// The stub's own settings: attempts pause a second, so a faulty download takes longer here.
const WATCHDOG_STOP_MS = 20000;
const HANG_MS = 20000;
const SLOW_STOP_MS = 1000;
const DOWNLOADS_PER_RUN = 8;

// A small seeded generator (mulberry32) per download.
function generator(seed, index) {
  let state = (Math.imul(seed >>> 0, 0x9e3779b1) ^ Math.imul(index + 1, 0x85ebca6b) ^ 0x5eed) >>> 0;
  return () => {
    state = (state + 0x6d2b79f5) >>> 0;
    let t = state;
    t = Math.imul(t ^ (t >>> 15), t | 1);
    t ^= t + Math.imul(t ^ (t >>> 7), t | 61);
    return ((t ^ (t >>> 14)) >>> 0) / 4294967296;
  };
}

function makePlan(seed, index) {
  const random = generator(seed, index);
  const below = (n) => Math.floor(random() * n);
  const roll = below(100);
  const pathKind = roll < 45 ? 'plain' : roll < 85 ? 'verified' : 'verified-killed';
  const fault = FAULT_KINDS[below(FAULT_KINDS.length)];
  const plan = {
    seed,
    index,
    path: pathKind,
    fault,
    pct: [30, 60, 100][below(3)],
    source: pathKind === 'plain' ? 0 : pathKind === 'verified' ? 1 + below(2) : 2,
    crc: fault === 'flip' || below(2) === 0,
    fresh: pathKind === 'verified-killed' || below(2) === 0,
    stopAfterMs: 0,
    killAfterMs: 300 + below(1200),
  };
  if (fault === 'stall' || fault === 'silent') plan.stopAfterMs = 200 + below(1800);
  else if (below(4) === 0) plan.stopAfterMs = 50 + below(1450);
  return plan;
}

function windowsPath(unixPath) {
  return `Z:${unixPath.replace(/\//g, '\\')}`;
}

// The source files of a seed, in the servers' document root.
function prepareSources(servers, seed) {
  return SOURCE_SIZES.map((size, k) => {
    const name = `page-campaign-${seed}-${k}.bin`;
    const data = crypto.createHash('sha256').update(`${seed}/${k}`).digest();
    const bytes = Buffer.alloc(size);
    // Seeded noise: a counter-mode hash stream.
    for (let at = 0, n = 0; at < size; at += 32, n += 1) {
      crypto.createHash('sha256').update(data).update(String(n)).digest().copy(bytes, at);
    }
    fs.writeFileSync(path.join(servers.docroot, name), bytes);
    const meta = metaOf(bytes);
    fs.writeFileSync(path.join(servers.docroot, `${name}.meta`), meta);
    // Signed as a release pipeline signs it, for a stub that carries the build's test release key.
    if (process.env.STUB_TEST_RELEASE_KEY) {
      const key = fs.readFileSync(process.env.STUB_TEST_RELEASE_KEY);
      fs.writeFileSync(path.join(servers.docroot, `${name}.meta.sig`), crypto.sign('sha256', meta, key));
    }
    return { name, bytes, crc: String(zlib.crc32(bytes) >>> 0) };
  });
}

function metaOf(bytes) {
  const head = Buffer.alloc(8);
  head.writeBigInt64LE(BigInt(bytes.length));
  const parts = [head];
  for (let at = 0; at < bytes.length; at += 1048576) {
    parts.push(crypto.createHash('sha1').update(bytes.subarray(at, at + 1048576)).digest());
  }
  return Buffer.concat(parts);
}

function chaosUrl(servers, plan, run, sources) {
  const percent = run === 'child' ? '0s' : String(plan.pct);
  const key = `p${plan.seed}-${plan.index}-${run}`;
  return `http://127.0.0.1:${servers.fault_port}/chaos/${key}/${plan.fault}/${percent}/${sources[plan.source].name}`;
}

// Peak resident memory of a Linux process, in KiB (0 when it is gone).
function peakRssKiB(pid) {
  try {
    const match = /VmHWM:\s+(\d+) kB/.exec(fs.readFileSync(`/proc/${pid}/status`, 'utf8'));
    return match ? Number(match[1]) : 0;
  } catch {
    return 0;
  }
}

async function startRun(exe) {
  const run = await startUiHost({ exe, args: ['run=1'], headless: true, onBox: async () => false });
  try {
    await run.ready;
  } catch (error) {
    await run.close(5000);
    throw new Error(`${error.message}\n${run.output}`);
  }
  run.crashed = false;
  run.closingByUs = false;
  run.exited.then(() => {
    if (!run.closingByUs) run.crashed = true;
  });
  return run;
}

// One download in the page: resolves with its end, or with a hang.
function pageDownload(run, { url, target, crc, resume, stopAfterMs }) {
  const inPage = run.page.evaluate(
    (a) =>
      new Promise((resolve) => {
        const started = Date.now();
        let stoppedAt = -1;
        const timer = setTimeout(() => {
          stoppedAt = Date.now();
          window.external.stopDownload();
        }, a.stopAfterMs);
        window.external.download(a.url, a.target, a.crc, false, a.resume, function (result) {
          if (result === 10) return;
          clearTimeout(timer);
          const ended = Date.now();
          resolve({ code: result, ms: ended - started, stopMs: stoppedAt < 0 ? -1 : ended - stoppedAt });
        });
      }),
    { url, target, crc, resume, stopAfterMs },
  );
  const hang = new Promise((resolve) => {
    const timer = setTimeout(() => resolve({ hang: true }), stopAfterMs + HANG_MS);
    inPage.finally(() => clearTimeout(timer)).catch(() => {});
  });
  return Promise.race([inPage.catch((error) => ({ gone: String(error.message || error) })), hang]);
}

async function closeRun(run, memory) {
  memory.push(peakRssKiB(run.process.pid));
  run.closingByUs = true;
  await run.close(20000);
}

function killRun(run) {
  run.closingByUs = true;
  try {
    process.kill(run.process.pid, 'SIGKILL');
  } catch {
    // already gone
  }
  return run.close(5000);
}

// Runs downloads first .. first + count - 1; onOutcome(outcome) hears each.
// Returns the stub runs' peak resident memory in KiB.
async function runPageCampaign({ seed, first, count, servers, exe, folder, onOutcome }) {
  fs.mkdirSync(folder, { recursive: true });
  const sources = prepareSources(servers, seed);
  const memory = [];
  let run = null;
  let inRun = 0;
  for (let index = first; index < first + count; index += 1) {
    const plan = makePlan(seed, index);
    const dest = path.join(folder, `${plan.path}.bin`);
    if (plan.path === 'plain' || plan.fresh) fs.rmSync(dest, { force: true });
    const outcome = { seed, i: index, path: plan.path, fault: plan.fault, pct: plan.pct, crc: plan.crc, via: 'page' };

    if (plan.path === 'verified-killed') {
      if (run) await closeRun(run, memory);
      run = null;
      const doomed = await startRun(exe);
      const child = pageDownload(doomed, {
        url: chaosUrl(servers, plan, 'child', sources),
        target: windowsPath(dest),
        crc: '',
        resume: true,
        stopAfterMs: 600000,
      });
      const ended = await Promise.race([child, new Promise((r) => setTimeout(() => r(null), plan.killAfterMs))]);
      outcome.killed = ended === null;
      if (ended === null) {
        memory.push(peakRssKiB(doomed.process.pid));
        await killRun(doomed);
      } else {
        outcome.crash = doomed.crashed;
        await closeRun(doomed, memory);
      }
    }

    if (!run) {
      run = await startRun(exe);
      inRun = 0;
    }
    const ended = await pageDownload(run, {
      url: chaosUrl(servers, plan, plan.path === 'verified-killed' ? 'resume' : 'run', sources),
      target: windowsPath(dest),
      crc: plan.path === 'plain' && plan.crc ? sources[plan.source].crc : '',
      resume: plan.path !== 'plain',
      stopAfterMs: plan.stopAfterMs || WATCHDOG_STOP_MS,
    });
    if (ended.hang || ended.gone) {
      outcome.code = -1;
      outcome.hang = Boolean(ended.hang);
      outcome.crash = Boolean(ended.gone) || run.crashed;
      outcome.identical = false;
      outcome.different = false;
      await killRun(run);
      run = null;
    } else {
      outcome.code = ended.code;
      outcome.ms = ended.ms;
      outcome.stopped = ended.stopMs >= 0;
      outcome.stop_ms = ended.stopMs;
      const same = ended.code === 0 && fs.existsSync(dest) && fs.readFileSync(dest).equals(sources[plan.source].bytes);
      outcome.identical = same;
      outcome.different = ended.code === 0 && !same;
      outcome.crash = Boolean(outcome.crash);
      inRun += 1;
      if (inRun >= DOWNLOADS_PER_RUN) {
        await closeRun(run, memory);
        run = null;
      }
    }
    onOutcome(outcome);
  }
  if (run) await closeRun(run, memory);
  return memory;
}

module.exports = { runPageCampaign, makePlan, FAULT_KINDS, SLOW_STOP_MS };

if (require.main === module) {
  const args = {};
  for (let i = 2; i + 1 < process.argv.length; i += 2) args[process.argv[i].replace(/^--/, '')] = process.argv[i + 1];
  const state = process.env.STUB_TEST_SERVERS;
  const env = {};
  for (const line of fs.readFileSync(path.join(state, 'servers.env'), 'utf8').split('\n')) {
    const cut = line.indexOf('=');
    if (cut > 0) env[line.slice(0, cut)] = line.slice(cut + 1);
  }
  const out = fs.openSync(args.out, 'a');
  runPageCampaign({
    seed: Number(args.seed),
    first: Number(args.first || 0),
    count: Number(args.count),
    servers: env,
    exe: process.env.UIHOST_TEST_STUB,
    folder: path.join(state, `page-campaign-${process.pid}`),
    onOutcome: (outcome) => fs.writeSync(out, `${JSON.stringify(outcome)}\n`),
  })
    .then((memory) => {
      fs.writeSync(out, `${JSON.stringify({ memory: { stub_peak_rss_kib: memory } })}\n`);
      process.exit(0);
    })
    .catch((error) => {
      process.stderr.write(`${error.stack || error}\n`);
      process.exit(1);
    });
}
