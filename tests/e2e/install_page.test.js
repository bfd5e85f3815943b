'use strict';
// A page of its own in the development flavour of the product: it downloads
// the demo product's Windows Installer package from nginx with block
// verification against its .meta, installs it, and hears 0 from both
// workers; the product is in the prefix afterwards.

const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { test, after } = require('node:test');

const { buildEnv, nginx, publish, uniqueKey, packDevStub, nginxRequests, startFlow, prefixState } = require('./support');

const env = buildEnv();
const servers = nginx();
const prefix = env.wineprefix;
const product = { productCode: env.msi_product_code, samplesSetup: env.samples_setup, identity: prefixState.identityOf(env) };
const BUNDLE = path.join(__dirname, 'bundle');

after(() => prefixState.removeProduct(prefix, product));

test('a page downloads a package block by block, installs it and hears 0 from both workers', async () => {
  await prefixState.removeProduct(prefix, product);
  const key = uniqueKey('install');
  const published = publish(servers, env.msi, `${key}/Tessary-22.0.msi`);
  const url = `${servers.base}/${key}/Tessary-22.0.msi`;
  const exe = packDevStub(env, 'install-page', { 'config/params.js': { 'Params.url': url } }, BUNDLE);

  const { run } = await startFlow(env, exe);
  try {
    await run.page.waitForFunction(() => window.Done === true, null, { timeout: 180000, polling: 200 });
    const calls = await run.page.evaluate(() => window.Calls);
    const size = fs.statSync(published).size;
    assert.deepEqual(calls.download[calls.download.length - 1], [0, size, size]);
    for (const [result] of calls.download.slice(0, -1)) assert.equal(result, 10);
    assert.equal(calls.install[calls.install.length - 1][0], 0);
    assert.equal(calls.install.filter(([result]) => result !== 10).length, 1, 'one final install call');
  } finally {
    await run.close();
  }

  // The block-verified path: the .meta first, then the package. With the
  // release key the stub carries, the .meta and its signature are fetched and
  // checked before the download begins, which proves the blocks against
  // those bytes: the .meta is asked for once.
  const asked = nginxRequests(servers, key).map(([method, uri]) => `${method} ${uri}`);
  const meta = `GET /${key}/Tessary-22.0.msi.meta`;
  const expected = env.release_key
    ? [meta, `${meta}.sig`, `GET /${key}/Tessary-22.0.msi`]
    : [meta, `GET /${key}/Tessary-22.0.msi`];
  assert.deepEqual(asked.slice(0, expected.length), expected);
  assert.equal(asked.filter((line) => line === meta).length, 1, 'the .meta is fetched once');
  const state = await prefixState.productState(prefix, env.msi_product_code);
  assert.ok(state.files.some((f) => f.path.endsWith(`${path.sep}Readme.txt`)), JSON.stringify(state.files));
  assert.equal(state.uninstallEntry && state.uninstallEntry.DisplayName, 'Tessary 22');
});
