#!/usr/bin/env node
'use strict';
// The demo's run (scripts/demo.sh starts it after building): publishes the
// demo product on local servers, packs the demo's settings into the demo
// stub, runs it under Wine through the shipped pages in the browser UI host,
// and prints what happened. Exit status 0 when the product got installed.
//
//   run_demo.js --env BUILD/demo/demo.env --out DIR [--headless|--headed]
//
// DIR receives the servers' state and records, the packed stub, the
// screenshots and report.json; it is emptied first.

const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const path = require('node:path');

const { startUiHost } = require('../tools/uihost/harness');
const { readEnv, writeOverlay, layBundle, packStub } = require('./stub_pack');
const { PageFlow } = require('./page_flow');
const { RELEASE_PATH, metaFileSize, blockCount, demoOverlay } = require('./demo_settings');
const prefixState = require('./demo_prefix');

const REPO = path.resolve(__dirname, '..');
const SERVERS = path.join(__dirname, 'demo_servers.py');
const TELEMETRY_SERVER = path.join(REPO, 'tools', 'telemetry-server', 'telemetry_server.py');
// The block of the MSI whose first transfer the proxy damages.
const DAMAGED_BLOCK = 4;
const FLOW_TIMEOUT_MS = 180000;
const FINAL_PAGES = ['Finish', 'Error', 'Restart'];

function parseArguments(argv) {
  const options = { headless: !process.env.DISPLAY };
  for (let i = 0; i < argv.length; i++) {
    if (argv[i] === '--headless') options.headless = true;
    else if (argv[i] === '--headed') options.headless = false;
    else if (argv[i] === '--env' || argv[i] === '--out') options[argv[i].slice(2)] = argv[++i];
    else throw new Error(`run_demo: unknown argument ${argv[i]}`);
  }
  if (!options.env || !options.out) throw new Error('usage: run_demo.js --env demo.env --out DIR [--headless|--headed]');
  return options;
}

function say(text) {
  process.stdout.write(`${text}\n`);
}

function bytes(n) {
  return Number(n).toLocaleString('en-US');
}

// Publishes the product under RELEASE_PATH; the list and the thank-you page
// follow once the proxy's address is known.
function publish(env, docroot) {
  const release = path.join(docroot, ...RELEASE_PATH.split('/').filter(Boolean));
  fs.mkdirSync(release, { recursive: true });
  for (const file of [env.msi, `${env.msi}.meta`, env.samples_zip, `${env.samples_zip}.meta`]) {
    fs.copyFileSync(file, path.join(release, path.basename(file)));
    // The release key's signature of each .meta, when the build signs with one.
    if (fs.existsSync(`${file}.sig`)) fs.copyFileSync(`${file}.sig`, path.join(release, `${path.basename(file)}.sig`));
  }
  fs.writeFileSync(path.join(docroot, 'tessary', 'thank-you.html'),
    '<!DOCTYPE html><title>Thank you</title><p>Thank you for installing Tessary 22 (demo).</p>\n');
  return release;
}

function startServers(env, state, docroot) {
  const msiPath = `${RELEASE_PATH}/${path.basename(env.msi)}`;
  execFileSync('python3', [SERVERS, 'start', state, '--docroot', docroot, '--corrupt', `${msiPath}:${DAMAGED_BLOCK}`,
    '--telemetry-port', env.telemetry_port, '--collector-port', env.collector_port, '--pki', env.pki,
    '--watch', String(process.pid)], { stdio: ['ignore', 'ignore', 'inherit'] });
  return readEnv(path.join(state, 'servers.env'));
}

function stopServers(state) {
  execFileSync('python3', [SERVERS, 'stop', state], { stdio: 'ignore' });
}

// Verifies the signature up to the certificates the signing certificate
// chains to (the certificate itself when it is self-signed).
function signatureCheck(exe, trusted) {
  try {
    execFileSync('osslsigncode', ['verify', '-CAfile', trusted, '-in', exe], { stdio: 'ignore' });
    return 'ok';
  } catch {
    return 'FAILED';
  }
}

// Requests the proxy passed on, grouped into totals: a path asked for again
// is a re-fetch.
function downloadFacts(proxyLog) {
  const requests = fs.existsSync(proxyLog)
    ? fs.readFileSync(proxyLog, 'utf8').split('\n').filter(Boolean).map((line) => JSON.parse(line))
    : [];
  const seen = new Set();
  let total = 0;
  let refetched = 0;
  for (const request of requests) {
    if (request.method !== 'GET') continue;
    total += request.bytes;
    if (seen.has(request.path)) refetched += request.bytes;
    seen.add(request.path);
  }
  return { requests, total, refetched };
}

// Which files the stub proved against the release key: each signature it
// fetched, and whether the run refused anything for want of one.
function signatureFacts(env, proxyLog, keptLog) {
  const fetched = downloadFacts(proxyLog).requests
    .filter((r) => r.method === 'GET' && /\.sig(\?|$)/.test(r.path) && r.status === 200)
    .map((r) => r.path.replace(/\?.*$/, '').replace(/\.sig$/, ''));
  const refused = logLines(keptLog, [/ refused: /]).map((line) => line.trim());
  return { key: env.release_key || null, verified: [...new Set(fetched)], refused };
}

function logLines(logFile, patterns) {
  if (!logFile) return [];
  const text = fs.readFileSync(logFile, 'latin1');
  return text.split(/\r?\n/).filter((line) => patterns.some((p) => p.test(line)));
}

function telemetryReport(db) {
  try {
    return execFileSync('python3', [TELEMETRY_SERVER, '--db', db, '--report'], { encoding: 'utf8' });
  } catch (error) {
    return `(no report: ${error.message})`;
  }
}

// Runs the stub through the pages; the run's facts.
async function runStub(exe, prefix, options, shotsDir) {
  const flow = new PageFlow({ shotsDir });
  const started = Date.now();
  const run = await startUiHost({
    exe,
    args: ['run=1'],
    headless: options.headless,
    winePrefix: prefix,
    preparePage: flow.prepare,
    // Nothing in the demo flow asks; should a box come, headless says no.
    onBox: options.headless ? async () => false : undefined,
  });
  let last = '';
  try {
    await run.ready;
    last = await flow.waitForPage(FINAL_PAGES, FLOW_TIMEOUT_MS);
    if (last) {
      await flow.draw();
      // Give a person at the screen a moment to see the last page.
      if (!options.headless) await new Promise((resolve) => setTimeout(resolve, 4000));
      const button = { Finish: '#btn-finish', Error: '#btn-close-page', Restart: '#btn-later' }[last];
      await run.page.click(button, { timeout: 10000 }).catch(() => {});
    }
  } catch (error) {
    say(`demo: ${error.message}`);
  }
  const timer = setTimeout(() => run.close(), 60000);
  const { code } = await run.exited;
  clearTimeout(timer);
  return {
    lastPage: last,
    pages: flow.titles(),
    documents: flow.documents,
    shots: flow.shots,
    pageErrors: flow.errors,
    exitCode: code,
    seconds: (Date.now() - started) / 1000,
    started,
    output: run.output,
  };
}

function printReport(report) {
  say('');
  say('demo: report');
  say(`  the product: ${report.product.path}: ${bytes(report.product.bytes)} bytes, signature ${report.product.signature} (verified up to ${report.signingCa})`);
  say(`  the stub the demo ran: ${report.stub.path}: ${bytes(report.stub.bytes)} bytes, signature ${report.stub.signature}`);
  say('    (the development flavour: the product\'s code and bundle with the browser UI host, since MSHTML');
  say('    cannot run under Wine), with the demo\'s settings laid over the bundle\'s configuration:');
  for (const [file, settings] of Object.entries(report.settings)) {
    for (const [name, value] of Object.entries(settings)) {
      const shown = Array.isArray(value) && value.length && value[0].files
        ? `[${value.map((c) => c.files.map((f) => f.name).join(', ')).join('; ')}]`
        : JSON.stringify(value);
      say(`      ${file}: ${name} = ${shown}`);
    }
  }
  say(`  pages shown: ${report.run.pages.join(' -> ')}`);
  say(`  downloads through the proxy in front of nginx (it flipped a byte of MSI block ${DAMAGED_BLOCK} in the first answer):`);
  for (const r of report.downloads.requests) {
    const range = r.range ? ` [${r.range}]` : '';
    const flipped = r.flipped !== null && r.flipped !== undefined ? `  <- byte ${bytes(r.flipped)} flipped (block ${Math.floor(r.flipped / 1048576)})` : '';
    say(`    ${r.method} ${r.path}${range}  ${r.status}  ${bytes(r.bytes)} bytes${flipped}`);
  }
  say(`  bytes downloaded: ${bytes(report.downloads.total)}; re-fetched: ${bytes(report.downloads.refetched)}`);
  const sig = report.signatures;
  say(sig.key
    ? `  verified against the release key's signatures (${sig.key}): ${sig.verified.join(', ') || 'NOTHING'}`
    : '  no release key: downloads were checked against their .meta only');
  for (const line of sig.refused) say(`    refused: ${line.replace(/^\[\d+ /, '[').slice(0, 150)}`);
  say(`  blocks verified (SHA-1 per 1 MiB block against the .meta): ${report.blocks.map((b) => `${b.file} ${b.blocks}`).join(', ')}`);
  say('  the run log says:');
  for (const line of report.logLines) say(`    ${line.trim().replace(/^\[\d+ /, '[').slice(0, 150)}`);
  say(`  seconds: ${report.run.seconds.toFixed(1)} (stub start to exit)`);
  say(`  exit code: ${report.run.exitCode} (as Linux sees it: the low 8 bits; 255 is 2147483647, a run with no self-update pending)`);
  say(`  installed in the Wine prefix ${report.prefix}:`);
  for (const f of report.installed.files) say(`    ${f.windowsPath} (${bytes(f.bytes)} bytes)`);
  say(`    shortcut: ${report.installed.shortcut || 'MISSING'}`);
  const entry = report.installed.uninstallEntry;
  say(entry ? `    uninstall entry ${report.productCode}: ${entry.DisplayName} ${entry.DisplayVersion || ''} (${entry.UninstallString || ''})` : '    uninstall entry: MISSING');
  say(`    version values: product ${report.installed.productVersion || 'MISSING'}, samples ${report.installed.samplesVersion || 'MISSING'}`);
  say(`  kept log: ${report.keptLog || 'MISSING'}`);
  say(`  screenshots: ${report.screenshots} (${report.run.shots.length} pages)`);
  say('  telemetry service, funnel report for the run:');
  for (const line of report.telemetry.trimEnd().split('\n')) say(`    ${line}`);
  say(`demo: ${report.ok ? 'the product is installed' : `FAILED: ${report.problems.join('; ')}`}`);
}

function problemsOf(report) {
  const problems = [];
  if (report.run.lastPage !== 'Finish') problems.push(`the run ended on ${report.run.lastPage || 'no final page'}`);
  if (report.downloads.refetched === 0) problems.push('nothing was re-fetched after the damaged block');
  if (report.installed.files.length === 0) problems.push('no product files');
  if (!report.installed.uninstallEntry) problems.push('no uninstall entry');
  if (!report.installed.samplesVersion) problems.push('the samples are not installed');
  if (!report.keptLog) problems.push('no kept log');
  if (report.signatures.refused.length) problems.push(`refused for want of a signature: ${report.signatures.refused.length}`);
  if (report.signatures.key && report.signatures.verified.length < 3) {
    problems.push(`only ${report.signatures.verified.length} of the list and two .meta files were proved against signatures`);
  }
  if (report.run.pageErrors.length) problems.push(`script errors: ${report.run.pageErrors.join(' | ')}`);
  return problems;
}

async function main(argv) {
  const options = parseArguments(argv);
  const env = readEnv(options.env);
  // The prefix the caller chose (as setup.sh and the tests honour it), else the build tree's.
  if (process.env.STUB_WINEPREFIX) env.wineprefix = process.env.STUB_WINEPREFIX;
  const out = path.resolve(options.out);
  fs.rmSync(out, { recursive: true, force: true });
  const state = path.join(out, 'servers');
  const docroot = path.join(out, 'docroot');
  fs.mkdirSync(state, { recursive: true });
  const prefix = env.wineprefix;
  const identity = prefixState.identityOf(env);
  const signingCa = env.signing_ca || env.signing_cert;

  publish(env, docroot);
  const servers = startServers(env, state, docroot);
  try {
    const base = `http://127.0.0.1:${servers.proxy_port}`;
    const sizes = { msi: metaFileSize(`${env.msi}.meta`), zip: metaFileSize(`${env.samples_zip}.meta`) };
    const settings = demoOverlay(base, sizes);
    const overlay = writeOverlay(env.bundle, path.join(out, 'overlay'), settings);
    // The list the setup fetches is the one the overlay carries, signed as a
    // release pipeline signs it (the stub loads no unsigned list).
    const servedList = path.join(docroot, ...RELEASE_PATH.split('/').filter(Boolean), 'installerlist.js');
    fs.copyFileSync(path.join(overlay, 'config', 'installerlist.js'), servedList);
    if (env.release_key) execFileSync(env.metatool, ['sign', '--key', env.release_key, servedList], { stdio: 'ignore' });
    const stub = packStub({ image: env.demo_stub_image, bundle: layBundle(env.bundle, overlay, out),
      output: path.join(out, path.basename(env.demo_stub_image).replace(/\.image\.exe$/, '.exe')), cert: env.signing_cert, key: env.signing_key });
    say(`demo: servers on 127.0.0.1: downloads ${base} (a proxy in front of nginx on ${servers.nginx_port}), telemetry https://localhost:${servers.telemetry_port}, pageviews http://127.0.0.1:${servers.collector_port}`);

    say('demo: removing an earlier demo install from the prefix; trusting the telemetry service\'s test CA');
    await prefixState.removeProduct(prefix, { productCode: env.msi_product_code, samplesSetup: env.samples_setup, identity });
    const trusted = await prefixState.wine(prefix, [env.trust_ca, path.join(env.pki, 'ca.der')]);
    if (trusted.code !== 0) say(`demo: could not trust the test CA: ${trusted.output.trim()}`);

    say(`demo: running the stub through the pages (${options.headless ? 'headless Chromium' : 'a Chromium window'}) ...`);
    const shotsDir = path.join(out, 'screenshots');
    const run = await runStub(stub, prefix, options, shotsDir);
    const keptLog = prefixState.keptLogSince(prefix, run.started, identity);
    const report = {
      product: { path: env.product_exe, bytes: fs.statSync(env.product_exe).size, signature: signatureCheck(env.product_exe, signingCa) },
      stub: { path: stub, bytes: fs.statSync(stub).size, signature: signatureCheck(stub, signingCa) },
      signingCa,
      identity,
      settings,
      productCode: env.msi_product_code,
      run: { ...run, output: undefined },
      downloads: downloadFacts(servers.proxy_log),
      blocks: [
        { file: path.basename(env.msi), blocks: blockCount(sizes.msi) },
        { file: path.basename(env.samples_zip), blocks: blockCount(sizes.zip) },
      ],
      // Per file: the ranges asked, the first block that failed its hash, the
      // verdict; then each installer's result.
      logLines: logLines(keptLog, [/SetRange> Range:/, /Existing file holds/, /Hash mismatch found for block/, /Hash success/,
        /InstallMsi .*, return/, /Install ".*, return/]),
      signatures: signatureFacts(env, servers.proxy_log, keptLog),
      installed: await prefixState.productState(prefix, env.msi_product_code),
      prefix,
      keptLog,
      screenshots: shotsDir,
      telemetry: '',
    };
    stopServers(state);
    report.telemetry = telemetryReport(path.join(state, 'telemetry.db'));
    report.problems = problemsOf(report);
    report.ok = report.problems.length === 0;
    fs.writeFileSync(path.join(out, 'report.json'), `${JSON.stringify(report, null, 2)}\n`);
    printReport(report);
    if (!report.ok && run.output) say(`demo: the stub's output:\n${run.output}`);
    return report.ok ? 0 : 1;
  } finally {
    stopServers(state);
  }
}

main(process.argv.slice(2)).then(
  (status) => process.exit(status),
  (error) => {
    process.stderr.write(`demo: ${error.stack || error}\n`);
    process.exit(1);
  },
);
