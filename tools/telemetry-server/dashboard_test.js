'use strict';
// The funnel dashboard in Debian's Chromium: a store seeded with known runs,
// the page written by --report-html, every figure in the page checked
// against the seed and the store, the charts checked for clipped captions
// and bars out of proportion, and a screenshot kept.

const assert = require('node:assert/strict');
const { execFileSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const test = require('node:test');

const { CHROMIUM, CHROMIUM_FLAGS } = require('../uihost/harness');

const HERE = __dirname;
const PYTHON = process.env.TELEMETRY_PYTHON || 'python3';
const SHOTS = process.env.TELEMETRY_SCREENSHOTS || path.join(os.tmpdir(), 'telemetry-dashboard-shots');

// Each run: its token, the day it began, what it sent (status words; the
// start report carries the framework's channel "test"), the page of its
// pageview and the result code there; and what the dashboard must make of it.
const RUNS = [
  { token: 'A', day: '2026-11-30', ends: ['completed'], os: 'Windows 10', lang: 'German', page: 'Finish', code: '0', stage: 'ended' },
  { token: 'B', day: '2026-11-30', ends: ['completed'], os: 'Windows 11', lang: 'English', page: 'Finish', code: '0', stage: 'ended' },
  { token: 'C', day: '2026-12-01', ends: ['error occurred'], os: 'Windows 10', lang: 'English', page: 'Downloading', code: '30103', stage: 'started' },
  { token: 'D', day: '2026-12-01', ends: ['error occurred'], os: 'Windows 7', lang: 'French', page: 'Installing', code: '1638', stage: 'downloaded' },
  { token: 'E', day: '2026-12-01', ends: ['downloaded'], os: 'Windows 10', lang: 'English', page: '', code: '', stage: 'downloaded' },
  { token: 'F', day: '2026-12-02', ends: [], os: 'Windows 10', lang: 'English', page: 'Finish', code: '0', stage: 'installed' },
  { token: 'G', day: '2026-12-02', ends: ['canceled'], os: 'Windows 11', lang: 'German', page: '', code: '', stage: 'started' },
  { token: 'H', day: '2026-12-02', ends: ['error occurred'], os: 'Windows 10', lang: 'German', page: 'Downloading', code: '30103', stage: 'started' },
];
const STAGES = ['started', 'downloaded', 'installed', 'ended'];
const FAILED = new Set(['error occurred']);

const SEED = `
import json, sys
sys.path.insert(0, ${JSON.stringify(HERE)})
from telemetry_server_test import analytics_document
from telemetry_store import Store
store = Store(sys.argv[1])
for run in json.load(sys.stdin):
    machine = 'P-' + run['token']
    store.add_analytics(analytics_document(token=run['token'], channel='test', machine=machine, os_name=run['os'],
                                           install_language='English'))
    for word in run['ends']:
        store.add_analytics(analytics_document(token=run['token'], status=word, channel='web', machine=machine,
                                               os_name=run['os'], install_language=run['lang']))
    store.query('SELECT 1')
    with store.db.transaction() as cursor:
        cursor.execute('UPDATE analytics SET time = ? WHERE token = ?', (run['day'] + 'T10:00:00Z', run['token']))
    if run['page']:
        store.add_pageview(('v=1&cid=%s&dp=%%2F%s&cd1=web&cd3=%s' % (machine, run['page'], run['code'])).encode())
        with store.db.transaction() as cursor:
            cursor.execute('UPDATE pageviews SET time = ? WHERE machine_id = ?', (run['day'] + 'T10:05:00Z', machine))
store.count_refused_upload('T-x', 'quota', 100)
store.close()
`;

function expectedFigures() {
  const figures = { runs: RUNS.length, pageviews: RUNS.filter((r) => r.page).length, 'refused.quota': 1 };
  for (const stage of STAGES) {
    figures[`funnel.${stage}`] = RUNS.filter((r) => STAGES.indexOf(r.stage) >= STAGES.indexOf(stage)).length;
  }
  for (const run of RUNS) figures[`day.${run.day}.runs`] = (figures[`day.${run.day}.runs`] || 0) + 1;
  for (const run of RUNS) {
    const word = run.ends.length ? run.ends[run.ends.length - 1] : '(no end report)';
    const stop = `stop.${word}${run.page ? ` at ${run.page}` : ''}`;
    figures[stop] = (figures[stop] || 0) + 1;
  }
  const failures = {};
  for (const [prefix, key] of [['os', 'os'], ['language', 'lang']]) {
    for (const run of RUNS) {
      const name = `${prefix}.${prefix === 'language' && !run.ends.length ? 'English' : run[key]}`;
      const entry = failures[name] || (failures[name] = { runs: 0, failed: 0 });
      if (!run.ends.length) continue;
      entry.runs += 1;
      entry.failed += FAILED.has(run.ends[run.ends.length - 1]) ? 1 : 0;
    }
  }
  for (const run of RUNS) {
    if (FAILED.has(run.ends[run.ends.length - 1])) figures[`result.${run.code}`] = (figures[`result.${run.code}`] || 0) + 1;
  }
  return { figures, failures };
}

test('the dashboard shows the seeded funnel, rates and days, legibly', async () => {
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'telemetry-dashboard-'));
  const db = path.join(dir, 'seeded.db');
  const page = path.join(dir, 'dashboard.html');
  execFileSync(PYTHON, ['-c', SEED, db], { input: JSON.stringify(RUNS) });
  execFileSync(PYTHON, [path.join(HERE, 'telemetry_server.py'), '--db', db, '--report-html', page]);
  // The store itself, read without the report's code.
  const stored = JSON.parse(execFileSync(PYTHON, ['-c',
    'import json, sqlite3, sys; db = sqlite3.connect(sys.argv[1]); print(json.dumps({' +
    '"runs": db.execute("SELECT COUNT(DISTINCT token) FROM analytics").fetchone()[0],' +
    '"pageviews": db.execute("SELECT COUNT(*) FROM pageviews").fetchone()[0],' +
    '"days": dict(db.execute("SELECT substr(MIN(time), 1, 10), 0 FROM analytics GROUP BY token").fetchall())}))',
    db], { encoding: 'utf8' }));

  const { chromium } = require('playwright-core');
  const browser = await chromium.launch({ executablePath: CHROMIUM, headless: true, args: CHROMIUM_FLAGS });
  try {
    const context = await browser.newContext({ viewport: { width: 1500, height: 900 } });
    const tab = await context.newPage();
    await tab.goto(`file://${page}`);
    const shown = await tab.evaluate(() => Object.fromEntries(
      [...document.querySelectorAll('[data-figure]')].map((el) => [el.getAttribute('data-figure'), el.textContent])));
    const { figures, failures } = expectedFigures();
    assert.equal(Number(shown.runs), stored.runs);
    assert.equal(Number(shown.pageviews), stored.pageviews);
    assert.deepEqual(Object.keys(stored.days).sort(), [...new Set(RUNS.map((r) => r.day))].sort());
    for (const [name, value] of Object.entries(figures)) {
      assert.ok(name in shown, `the page shows ${name}`);
      assert.equal(Number.parseInt(shown[name], 10), value, name);
    }
    // Drop-off: the share lost from the stage above.
    for (let i = 1; i < STAGES.length; i++) {
      const before = figures[`funnel.${STAGES[i - 1]}`];
      const lost = before ? (100 * (before - figures[`funnel.${STAGES[i]}`])) / before : 0;
      assert.match(shown[`funnel.${STAGES[i]}`], new RegExp(`\\(-${lost.toFixed(1).replace('.', '\\.')}%\\)`), STAGES[i]);
    }
    for (const [name, { runs, failed }] of Object.entries(failures)) {
      const rate = runs ? (100 * failed) / runs : 0;
      assert.match(shown[name], new RegExp(`^${rate.toFixed(1).replace('.', '\\.')}%  \\(${failed} of ${runs}\\)`), name);
    }
    assert.ok(!('channel.test' in shown), 'no run counts under the start report\'s constant channel');

    // Bars in proportion to their figures, and no caption cut off by its chart.
    const geometry = await tab.evaluate(() => [...document.querySelectorAll('svg')].map((svg) => ({
      width: svg.getBoundingClientRect().width,
      captions: [...svg.querySelectorAll('text')].map((t) => t.getBBox().x + t.getBBox().width),
      // Each label with the bar beside it: the label must end before the bar begins.
      labels: [...svg.querySelectorAll('text.label + rect')].map((bar) => ({
        right: bar.previousElementSibling.getBBox().x + bar.previousElementSibling.getBBox().width,
        bar: bar.getBBox().x,
        text: bar.previousElementSibling.textContent,
      })),
      funnel: [...svg.querySelectorAll('text[data-figure^="funnel."]')].map((t) => t.previousElementSibling.getBBox().width),
    })));
    for (const chart of geometry) {
      for (const right of chart.captions) assert.ok(right <= chart.width + 0.5, `caption ends at ${right} in a ${chart.width} chart`);
      for (const label of chart.labels) assert.ok(label.right <= label.bar - 2, `label "${label.text}" runs into its bar`);
    }
    const bars = geometry.find((chart) => chart.funnel.length).funnel;
    STAGES.forEach((stage, i) => {
      const expected = (bars[0] * figures[`funnel.${stage}`]) / figures['funnel.started'];
      assert.ok(Math.abs(bars[i] - expected) <= 1.5, `${stage} bar ${bars[i]} vs ${expected}`);
    });
    fs.mkdirSync(SHOTS, { recursive: true });
    await tab.screenshot({ path: path.join(SHOTS, 'dashboard.png'), fullPage: true });
  } finally {
    await browser.close();
    fs.rmSync(dir, { recursive: true, force: true });
  }
});
