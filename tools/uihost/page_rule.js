'use strict';
// Which addresses are the stub's own pages in the browser host: those the
// harness serves from the extracted bundle, under this run's secret. Only
// they reach the native side; the browser window never shows anything else
// (a web address is reported as one for the default browser instead).

const { safeSegments } = require('./static_files');

const RPC_SEGMENT = '__uihost__';

// The path's segments after the secret, decoded once; null when one of them
// could lead elsewhere than it reads ("..", ".", empty, slashes or
// backslashes in disguise, a control character, a bad escape).
function bundleSegments(pathname, secret) {
  const prefix = `/${secret}/`;
  if (!pathname.startsWith(prefix)) return null;
  const segments = safeSegments(pathname.slice(prefix.length));
  // Stricter than serving a file: no escape left after decoding, no control character.
  if (segments === null || segments.some((segment) => /[%\u0000-\u001f]/.test(segment))) return null;
  return segments;
}

// True when `address` is a page of the bundle as this run serves it:
// http, exactly the harness's origin, under the secret, not its endpoint.
function isBundlePage(address, origin, secret) {
  if (typeof address !== 'string' || typeof secret !== 'string' || !/^[0-9a-f]{64}$/.test(secret)) return false;
  let url;
  try {
    url = new URL(address);
  } catch {
    return false;
  }
  if (url.protocol !== 'http:' || url.origin !== origin || url.username !== '' || url.password !== '') return false;
  const segments = bundleSegments(url.pathname, secret);
  return segments !== null && segments[0] !== RPC_SEGMENT;
}

// What the browser window does with a navigation of its top frame:
// 'load' a bundle page, 'browser' for a web address (the default browser's
// job, not the host's), 'refuse' anything else.
function classifyNavigation(address, origin, secret) {
  if (isBundlePage(address, origin, secret)) return 'load';
  let url;
  try {
    url = new URL(address);
  } catch {
    return 'refuse';
  }
  if (url.protocol !== 'http:' && url.protocol !== 'https:') return 'refuse';
  // The harness's own origin outside the bundle is nobody's web page; a user
  // part lets an address read as another host.
  if (url.origin === origin || url.username !== '' || url.password !== '' || url.hostname === '') return 'refuse';
  return 'browser';
}

module.exports = { isBundlePage, classifyNavigation };
