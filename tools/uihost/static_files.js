'use strict';
// Maps a request path to a file inside the folder the stub extracted its
// bundle into. Nothing outside that folder is ever served: no "..", no
// absolute or drive paths, no backslashes, no links that lead out.

const fs = require('node:fs');
const path = require('node:path');

const CONTENT_TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.htm': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.json': 'application/json',
  '.txt': 'text/plain; charset=utf-8',
  '.xml': 'application/xml',
  '.png': 'image/png',
  '.jpg': 'image/jpeg',
  '.jpeg': 'image/jpeg',
  '.gif': 'image/gif',
  '.svg': 'image/svg+xml',
  '.ico': 'image/x-icon',
  '.bmp': 'image/bmp',
  '.woff': 'font/woff',
  '.woff2': 'font/woff2',
  '.ttf': 'font/ttf',
};

function contentType(file) {
  return CONTENT_TYPES[path.extname(file).toLowerCase()] || 'application/octet-stream';
}

// The path's segments, decoded, or null when any of them is unsafe.
function safeSegments(relative) {
  if (relative === '') return null;
  const segments = [];
  for (const raw of relative.split('/')) {
    let segment;
    try {
      segment = decodeURIComponent(raw);
    } catch {
      return null;
    }
    if (segment === '' || segment === '.' || segment === '..') return null;
    if (/[\\/:\0]/.test(segment)) return null;
    segments.push(segment);
  }
  return segments;
}

// The entry of `folder` named `name`, compared without regard to case when no
// exact match exists: the pages were written for a file system that ignores it.
function findEntry(folder, name) {
  const exact = path.join(folder, name);
  if (fs.existsSync(exact)) return exact;
  let entries;
  try {
    entries = fs.readdirSync(folder);
  } catch {
    return null;
  }
  const lower = name.toLowerCase();
  const match = entries.find((entry) => entry.toLowerCase() === lower);
  return match === undefined ? null : path.join(folder, match);
}

// `root` must be a real path (fs.realpathSync). Returns the file's real path,
// or null when the request names nothing that may be served.
function resolveStatic(root, relative) {
  const segments = safeSegments(relative);
  if (segments === null) return null;
  let current = root;
  for (const segment of segments) {
    current = findEntry(current, segment);
    if (current === null) return null;
  }
  let real;
  try {
    real = fs.realpathSync(current);
  } catch {
    return null;
  }
  if (!real.startsWith(root.endsWith(path.sep) ? root : root + path.sep)) return null;
  try {
    if (!fs.statSync(real).isFile()) return null;
  } catch {
    return null;
  }
  return real;
}

module.exports = { resolveStatic, contentType, safeSegments };
