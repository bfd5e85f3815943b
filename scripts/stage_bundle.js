#!/usr/bin/env node
'use strict';
// Lays out the UI bundle as the executable carries it: the bundle folder as
// written, the jQuery and jQuery UI builds from node_modules (never
// committed), and every SVG image rendered to PNG at 1x and 2x ("name.png",
// "name@2x.png") by Debian's Chromium; the SVG sources themselves stay out.
// An overlay folder, when given, is copied over the result last (a demo puts
// its own configuration scripts there).
//
// Usage: stage_bundle.js --source DIR --output DIR [--modules DIR] [--overlay DIR] [--stamp FILE]

const fs = require('node:fs');
const path = require('node:path');

const CHROMIUM = '/usr/bin/chromium';
const CHROMIUM_FLAGS = ['--no-sandbox', '--disable-gpu', '--disable-background-networking', '--disable-component-update', '--no-first-run'];

// Library files the pages load, with the versions they were written for.
const LIBRARIES = [
  { module: 'jquery', version: '1.11.2', from: 'dist/jquery.min.js', to: 'common/js/jquery-1.11.2.min.js' },
  { module: 'jquery-ui-dist', version: '1.12.1', from: 'jquery-ui.min.js', to: 'common/js/jquery-ui.min.js' },
];

const USAGE = `usage: stage_bundle.js --source DIR --output DIR [--modules DIR] [--overlay DIR] [--stamp FILE]

Lays out a UI bundle as the executable carries it, in --output (emptied
first; it may not be the source, hold it or lie inside it):
  --source DIR    the bundle as written (Load.html at its top)
  --output DIR    the staged bundle, ready for tools/stubpack/stubpack.py pack
  --modules DIR   the npm packages with the jQuery builds (default: this checkout's node_modules; npm ci)
  --overlay DIR   files copied over the result last (other settings to try)
  --stamp FILE    written when done (the build's dependency stamp)
Adds the jQuery builds the pages load and renders every SVG image to PNG at
1x and 2x with /usr/bin/chromium; the SVG sources stay out.`;
const OPTIONS = ['source', 'output', 'modules', 'overlay', 'stamp'];

class UsageError extends Error {}

function parseArguments(argv) {
  const options = { modules: path.join(__dirname, '..', 'node_modules') };
  for (let i = 0; i < argv.length; i += 2) {
    const name = argv[i];
    if (name === '--help' || name === '-h') return { help: true };
    if (!name.startsWith('--') || !OPTIONS.includes(name.slice(2))) throw new UsageError(`unknown argument ${name}`);
    if (i + 1 >= argv.length) throw new UsageError(`${name} needs a value`);
    options[name.slice(2)] = argv[i + 1];
  }
  for (const required of ['source', 'output']) {
    if (!options[required]) throw new UsageError(`--${required} is required`);
  }
  return options;
}

// The output is emptied: never the source, a folder holding it, or one inside it.
function refuseOverlap(source, output) {
  const inside = (child, parent) => child === parent || child.startsWith(parent + path.sep);
  if (inside(source, output) || inside(output, source)) {
    throw new UsageError(`--output ${output} and --source ${source} overlap: the output is emptied first`);
  }
  if (!fs.existsSync(path.join(source, 'Load.html'))) throw new UsageError(`${source} has no Load.html at its top`);
}

function walk(root, relative = '') {
  const files = [];
  for (const entry of fs.readdirSync(path.join(root, relative), { withFileTypes: true })) {
    const child = relative ? `${relative}/${entry.name}` : entry.name;
    if (entry.isDirectory()) files.push(...walk(root, child));
    else if (entry.isFile()) files.push(child);
  }
  return files.sort();
}

function copyInto(output, relative, from) {
  const target = path.join(output, ...relative.split('/'));
  fs.mkdirSync(path.dirname(target), { recursive: true });
  fs.copyFileSync(from, target);
}

function copyLibraries(modules, output) {
  for (const library of LIBRARIES) {
    const folder = path.join(modules, library.module);
    const manifest = JSON.parse(fs.readFileSync(path.join(folder, 'package.json'), 'utf8'));
    if (manifest.version !== library.version) {
      throw new Error(`stage_bundle: ${library.module} is ${manifest.version}, the pages need ${library.version} (npm ci)`);
    }
    copyInto(output, library.to, path.join(folder, library.from));
  }
}

// The drawing size of an SVG from its width and height attributes.
function svgSize(text, file) {
  const tag = /<svg\b[^>]*>/.exec(text);
  const width = tag && /\bwidth="(\d+)"/.exec(tag[0]);
  const height = tag && /\bheight="(\d+)"/.exec(tag[0]);
  if (!width || !height) throw new Error(`stage_bundle: ${file} needs whole-pixel width and height attributes`);
  return { width: Number(width[1]), height: Number(height[1]) };
}

async function renderImages(images, source, output) {
  if (images.length === 0) return;
  const { chromium } = require('playwright-core');
  const browser = await chromium.launch({ executablePath: CHROMIUM, headless: true, args: CHROMIUM_FLAGS });
  try {
    for (const scale of [1, 2]) {
      const context = await browser.newContext({ deviceScaleFactor: scale });
      const page = await context.newPage();
      for (const relative of images) {
        const text = fs.readFileSync(path.join(source, relative), 'utf8');
        const size = svgSize(text, relative);
        const data = Buffer.from(text).toString('base64');
        await page.setViewportSize(size);
        await page.setContent(
          `<html><body style="margin:0;background:transparent"><img style="display:block" width="${size.width}" height="${size.height}" src="data:image/svg+xml;base64,${data}"></body></html>`,
        );
        await page.waitForFunction(() => document.images[0].complete);
        const name = relative.replace(/\.svg$/, scale === 1 ? '.png' : '@2x.png');
        const target = path.join(output, ...name.split('/'));
        fs.mkdirSync(path.dirname(target), { recursive: true });
        await page.screenshot({ path: target, omitBackground: true, clip: { x: 0, y: 0, ...size } });
      }
      await context.close();
    }
  } finally {
    await browser.close();
  }
}

async function main() {
  const options = parseArguments(process.argv.slice(2));
  if (options.help) {
    console.log(USAGE);
    return;
  }
  const source = path.resolve(options.source);
  const output = path.resolve(options.output);
  refuseOverlap(source, output);
  fs.rmSync(output, { recursive: true, force: true });
  fs.mkdirSync(output, { recursive: true });

  const images = [];
  for (const relative of walk(source)) {
    if (relative.endsWith('.svg')) images.push(relative);
    else copyInto(output, relative, path.join(source, relative));
  }
  copyLibraries(path.resolve(options.modules), output);
  await renderImages(images, source, output);
  if (options.overlay) {
    const overlay = path.resolve(options.overlay);
    for (const relative of walk(overlay)) copyInto(output, relative, path.join(overlay, relative));
  }
  const count = walk(output).length;
  if (options.stamp) fs.writeFileSync(options.stamp, `${count} files\n`);
  console.log(`stage_bundle: ${output}: ${count} files (${images.length} images rendered twice)`);
}

main().catch((error) => {
  if (error instanceof UsageError) {
    console.error(`stage_bundle: ${error.message}\n\n${USAGE}`);
    process.exit(2);
  }
  console.error(error.message || error);
  process.exit(1);
});
