'use strict';
// The fault campaign's short page share: a few downloads started by a page in
// the test stub against the chaos server, one of them first killed with its
// stub and resumed. Never success with another file, no hang, no crash, and
// every stop heard within a second (a block-verified one under Wine within
// 5 s: see campaign_test.cpp). STUB_CAMPAIGN_SEED replays a seed.

const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { test } = require('node:test');

const { runPageCampaign, makePlan, SLOW_STOP_MS } = require('./page_campaign');
const { testServers } = require('../browserhost/support');

const DOWNLOADS = 10;

// The first seed from `start` whose first downloads include a killed one.
function seedWithKill(start) {
  for (let seed = start; ; seed += 1) {
    for (let i = 0; i < DOWNLOADS; i += 1) if (makePlan(seed, i).path === 'verified-killed') return seed;
  }
}

test('page downloads against faults: never another file, no hang, no crash, stops within a second', async (t) => {
  const servers = testServers();
  if (!servers) {
    t.skip('STUB_TEST_SERVERS names no test servers (CTest starts them)');
    return;
  }
  const seed = process.env.STUB_CAMPAIGN_SEED
    ? Number(process.env.STUB_CAMPAIGN_SEED)
    : seedWithKill(Math.floor(Math.random() * 1e9));
  t.diagnostic(`page campaign seed ${seed} (STUB_CAMPAIGN_SEED=${seed} replays it)`);
  const folder = path.join(process.env.STUB_TEST_SERVERS, `page-campaign-test-${process.pid}`);
  t.after(() => fs.rmSync(folder, { recursive: true, force: true }));
  const outcomes = [];
  const memory = await runPageCampaign({
    seed,
    first: 0,
    count: DOWNLOADS,
    servers,
    exe: process.env.UIHOST_TEST_STUB,
    folder,
    onOutcome: (o) => outcomes.push(o),
  });
  for (const o of outcomes) t.diagnostic(JSON.stringify(o));
  t.diagnostic(`stub peak resident memory per run (KiB): ${memory.join(' ')}`);
  assert.equal(outcomes.length, DOWNLOADS);
  for (const o of outcomes) {
    const what = JSON.stringify(o);
    assert.equal(o.different, false, `success with another file: ${what}`);
    assert.ok(!o.hang, `hang: ${what}`);
    assert.ok(!o.crash, `crash: ${what}`);
    assert.notEqual(o.code, 10, `Running as a final result: ${what}`);
    // Under Wine a closed WinINet request waits for its pending read and
    // drains an unread body: a block-verified download's stop may wait out a
    // stalled server's pause or the rest of a body.
    if (o.stopped) assert.ok(o.stop_ms <= (o.path === 'plain' ? SLOW_STOP_MS : 5000), `slow stop: ${what}`);
  }
  assert.ok(outcomes.some((o) => o.killed), 'a stub was killed part way');
});
