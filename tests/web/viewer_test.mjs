// The web mosaic in a real browser. Makes a tile library and a main image,
// lets the program build a JPEG mosaic with its web mosaic beside it, serves
// the output folder from its own loopback server and drives Debian's
// chromium headless through Playwright:
//   - the page opens without a single failed request, from the server and
//     from the disk (file://);
//   - at the start the canvas shows the mosaic: its colours match the JPEG's;
//   - zoomed to one screen pixel per mosaic pixel, full-resolution tiles load;
//   - a right click on a tile opens a popup naming that tile's picture;
//   - the search box finds pictures by part of their names with their use
//     counts, shows names as text, and steps the view through the tiles of
//     the chosen one, by keys and buttons (from the server and from the disk).
// Also checks that the web format alone writes the page and no mosaic file.
//
//   node viewer_test.mjs --program BUILD/bin/tessellarium --data BUILD/share/tessellarium
// Exit 0: passed, 1: failed, 77: skipped (a tool is missing; the reason is printed).
// WEB_TEST_ARTIFACTS=DIR keeps the screenshots there.

import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';
import zlib from 'node:zlib';

const SKIP = 77;
const here = path.dirname(fileURLToPath(import.meta.url));

function option(name) {
  const at = process.argv.indexOf(name);
  return at >= 0 ? process.argv[at + 1] : undefined;
}

function skip(reason) {
  console.log(`web.viewer skipped: ${reason}`);
  process.exit(SKIP);
}

let failures = 0;
function check(condition, what) {
  console.log(`${condition ? 'ok  ' : 'FAIL'} ${what}`);
  if (!condition) failures++;
}

// --- pictures, written as PNG without any library ------------------------------

const crcTable = Array.from({ length: 256 }, (_, n) => {
  let c = n;
  for (let k = 0; k < 8; k++) c = c & 1 ? 0xedb88320 ^ (c >>> 1) : c >>> 1;
  return c >>> 0;
});

function crc32(bytes) {
  let c = 0xffffffff;
  for (const b of bytes) c = crcTable[(c ^ b) & 0xff] ^ (c >>> 8);
  return (c ^ 0xffffffff) >>> 0;
}

function chunk(type, data) {
  const body = Buffer.concat([Buffer.from(type, 'ascii'), data]);
  const length = Buffer.alloc(4);
  length.writeUInt32BE(data.length);
  const crc = Buffer.alloc(4);
  crc.writeUInt32BE(crc32(body));
  return Buffer.concat([length, body, crc]);
}

// An RGB PNG of width × height whose pixel colour is rgb(x, y).
function writePng(file, width, height, rgb) {
  const raw = Buffer.alloc((width * 3 + 1) * height);
  for (let y = 0; y < height; y++) {
    const row = y * (width * 3 + 1);
    for (let x = 0; x < width; x++) raw.set(rgb(x, y), row + 1 + x * 3);
  }
  const header = Buffer.alloc(13);
  header.writeUInt32BE(width, 0);
  header.writeUInt32BE(height, 4);
  header.set([8, 2, 0, 0, 0], 8);
  fs.writeFileSync(file, Buffer.concat([
    Buffer.from([0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a]),
    chunk('IHDR', header), chunk('IDAT', zlib.deflateSync(raw)), chunk('IEND', Buffer.alloc(0))
  ]));
}

// --- the program ------------------------------------------------------------------

function runProgram(program, args, env) {
  const result = spawnSync(program, args, { env, encoding: 'utf8', timeout: 120000 });
  if (result.status !== 0) {
    console.log(`tessellarium ${args.join(' ')}\n${result.stdout}${result.stderr}`);
    throw new Error(`tessellarium ${args[0]} ended with ${result.status}`);
  }
  return result.stdout;
}

// The tile array as the program wrote it, read here on its own so that the
// test does not lean on the viewer's reading of it.
function tileRows(page) {
  const rows = [];
  const pattern = /\[(\d+),(\d+),(\d+),(\d+),(\d+),(\d+),(\d+),"((?:[^"]|"")*)","((?:[^"]|"")*)","((?:[^"]|"")*)"\]/g;
  for (const m of page.matchAll(pattern)) {
    rows.push({ x: +m[1], y: +m[2], width: +m[3], height: +m[4], url: m[8].replaceAll('""', '"'),
      name: m[9].replaceAll('""', '"'), extension: m[10].replaceAll('""', '"') });
  }
  return rows;
}

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

async function waitForServer(url) {
  for (let i = 0; i < 100; i++) {
    try {
      const response = await fetch(url);
      if (response.ok) return;
    } catch {
      // not listening yet
    }
    await new Promise((r) => setTimeout(r, 100));
  }
  throw new Error(`the server at ${url} did not answer`);
}

// --- in the page --------------------------------------------------------------------

async function waitUntilDrawn(page) {
  await page.waitForFunction(() => {
    const r = window.reziroriz;
    const item = r && r.viewer.world.getItemAt(0);
    const settled = r && r.viewer.viewport.getZoom(true) === r.viewer.viewport.getZoom(false);
    return !!item && item.getFullyLoaded() && settled;
  }, null, { timeout: 30000 });
  // One more frame so the last tiles reach the canvas.
  await page.evaluate(() => new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r))));
}

// The mosaic's place on the page, in CSS pixels.
function imageBox(page) {
  return page.evaluate(() => {
    const v = window.reziroriz.viewer;
    const box = v.element.getBoundingClientRect();
    const size = v.world.getItemAt(0).getContentSize();
    const a = v.viewport.imageToViewerElementCoordinates(new OpenSeadragon.Point(0, 0));
    const b = v.viewport.imageToViewerElementCoordinates(new OpenSeadragon.Point(size.x, size.y));
    return { x: box.left + a.x, y: box.top + a.y, width: b.x - a.x, height: b.y - a.y };
  });
}

// Mean colours of a columns × rows grid over two pictures (data URLs or
// same-origin URLs), computed by the browser's own decoders.
function gridColours(page, sources, columns, rows) {
  return page.evaluate(async ({ sources, columns, rows }) => {
    const result = [];
    for (const source of sources) {
      const bitmap = await createImageBitmap(await (await fetch(source)).blob());
      const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
      const context = canvas.getContext('2d');
      context.drawImage(bitmap, 0, 0);
      const pixels = context.getImageData(0, 0, bitmap.width, bitmap.height).data;
      const cells = [];
      for (let r = 0; r < rows; r++) {
        for (let c = 0; c < columns; c++) {
          // The middle of each cell, away from edges that scaling blurs.
          const x0 = Math.floor(((c + 0.2) * bitmap.width) / columns);
          const x1 = Math.floor(((c + 0.8) * bitmap.width) / columns);
          const y0 = Math.floor(((r + 0.2) * bitmap.height) / rows);
          const y1 = Math.floor(((r + 0.8) * bitmap.height) / rows);
          const sum = [0, 0, 0];
          let n = 0;
          for (let y = y0; y < y1; y++) {
            for (let x = x0; x < x1; x++) {
              const i = (y * bitmap.width + x) * 4;
              sum[0] += pixels[i];
              sum[1] += pixels[i + 1];
              sum[2] += pixels[i + 2];
              n++;
            }
          }
          cells.push(sum.map((s) => s / n));
        }
      }
      result.push(cells);
    }
    return result;
  }, { sources, columns, rows });
}

// --- finding a picture --------------------------------------------------------------

const SEA = 'Sonnenuntergang am Meer';
const MARKUP = '<img src=x onerror="window.injected=1"> Äpfel';

// What the search should find for `query`, worked out from the page's rows:
// each picture whose file name holds the query (any case, no accents) once,
// with the number of its tiles.
function expectedMatches(rows, query) {
  const fold = (text) => text.normalize('NFD').replace(/[\u0300-\u036f]/g, '').toLowerCase();
  const found = new Map();
  for (const row of rows) {
    const name = `${row.name}.${row.extension}`;
    if (fold(name).includes(fold(query))) found.set(name, (found.get(name) || 0) + 1);
  }
  return found;
}

async function typeQuery(page, query) {
  await page.fill('#search-input', '');
  await page.type('#search-input', query);
}

function listedMatches(page) {
  return page.$$eval('#search-results [role=option]', (options) => options.map((o) => ({
    name: o.querySelector('.result-name').textContent, uses: o.querySelector('.result-uses').textContent
  })));
}

// Until the view has stopped moving.
async function waitUntilStill(page) {
  await page.waitForFunction(() => {
    const v = window.reziroriz.viewer.viewport;
    const now = v.getBounds(true);
    const target = v.getBounds(false);
    return Math.abs(now.x - target.x) + Math.abs(now.y - target.y) + Math.abs(now.width - target.width) < 1e-6;
  }, null, { timeout: 10000 });
}

// The mosaic's part in view, and the outline of the current tile on the page, in mosaic pixels.
function viewState(page) {
  return page.evaluate(() => {
    const v = window.reziroriz.viewer;
    const seen = v.viewport.viewportToImageRectangle(v.viewport.getBounds(true));
    const current = document.querySelectorAll('.mark.current');
    let outline = null;
    if (current.length === 1) {
      const r = current[0].getBoundingClientRect();
      const box = v.element.getBoundingClientRect();
      const a = v.viewport.viewerElementToImageCoordinates(new OpenSeadragon.Point(r.left - box.left, r.top - box.top));
      const b = v.viewport.viewerElementToImageCoordinates(new OpenSeadragon.Point(r.right - box.left, r.bottom - box.top));
      outline = { x: a.x, y: a.y, width: b.x - a.x, height: b.y - a.y };
    }
    return { seen: { x: seen.x, y: seen.y, width: seen.width, height: seen.height }, outline,
      marks: document.querySelectorAll('.mark').length, currents: current.length,
      position: document.getElementById('search-position').textContent };
  });
}

async function checkSearch(page, rows, where, artifacts) {
  // The box is reached from the keyboard.
  await page.evaluate(() => document.activeElement && document.activeElement.blur());
  await page.keyboard.press('/');
  check(await page.evaluate(() => document.activeElement.id) === 'search-input', `${where}: "/" goes to the search box`);
  check(await page.evaluate(() => {
    const input = document.getElementById('search-input');
    return !!input.labels.length && input.labels[0].textContent.length > 0 && input.getAttribute('role') === 'combobox';
  }), `${where}: the search box is labelled`);

  // Part of a name: every picture holding it, once, with its use count.
  for (const query of ['tile 1', 'MEER', 'apfel', 'no such picture']) {
    await typeQuery(page, query);
    const listed = await listedMatches(page);
    const expected = expectedMatches(rows, query);
    const right = listed.length === expected.size && listed.every((m) => expected.has(m.name) &&
      m.uses === `used ${expected.get(m.name)} time${expected.get(m.name) === 1 ? '' : 's'}`);
    check(right, `${where}: "${query}" lists ${expected.size} picture(s) with their use counts ` +
      `(${listed.map((m) => `${m.name}: ${m.uses}`).join('; ')})`);
    if (query === 'tile 1') {
      check(expected.size > 1, `${where}: "${query}" matches several pictures`);
      if (artifacts) fs.writeFileSync(path.join(artifacts, `search-list-${where === 'server' ? 'http' : 'file'}.png`), await page.screenshot());
    }
    if (query === 'apfel') {
      check(expected.size === 1 && listed.length === 1 && listed[0].name === `${MARKUP}.png`,
        `${where}: a name with markup is listed as its text`);
      check(await page.evaluate(() => window.injected === undefined && !document.querySelector('#search img')),
        `${where}: no markup of a name reaches the page`);
    }
    if (query === 'no such picture') {
      check(await page.textContent('#search-status') !== '' && await page.isHidden('#search-results'),
        `${where}: a search without result says so`);
    }
  }

  // Choose the picture from the keyboard; the view goes to each of its tiles in turn.
  const tiles = rows.filter((r) => `${r.name}.${r.extension}` === `${SEA}.png`);
  check(tiles.length >= 2, `${where}: the picture looked for covers several tiles (${tiles.length})`);
  await typeQuery(page, 'meer');
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('Enter');
  const size = await page.evaluate(() => window.reziroriz.viewer.world.getItemAt(0).getContentSize().x);
  // Forward by Enter in the box, the Next button and the N key, then back with P.
  const moves = [];
  for (let i = 1; i < tiles.length; i++) moves.push({ by: ['n', 'Enter', 'button'][i % 3], expect: i });
  moves.push({ by: 'p', expect: tiles.length - 2 }, { by: 'button', expect: tiles.length - 1 }, { by: 'n', expect: 0 });
  let expect = 0;
  let how = 'choice';
  for (let step = 0; step <= moves.length; step++) {
    await waitUntilStill(page);
    const state = await viewState(page);
    const t = tiles[expect];
    const inside = state.seen.x <= t.x && state.seen.y <= t.y &&
      state.seen.x + state.seen.width >= t.x + t.width && state.seen.y + state.seen.height >= t.y + t.height;
    const o = state.outline;
    const outlined = !!o && Math.abs(o.x - t.x) < 3 && Math.abs(o.y - t.y) < 3 &&
      Math.abs(o.width - t.width) < 3 && Math.abs(o.height - t.height) < 3;
    check(inside && state.seen.width < size * 0.9 && outlined && state.marks === tiles.length &&
      state.position.startsWith(`Tile ${expect + 1} of ${tiles.length},`),
      `${where}: after the ${how} the view is zoomed to tile ${expect + 1} of ${tiles.length} at ${t.x}, ${t.y}, ` +
      `outlined with all ${state.marks} (view ${state.seen.x.toFixed(0)}, ${state.seen.y.toFixed(0)}, ` +
      `${state.seen.width.toFixed(0)} wide; ${state.position})`);
    if (step === 0 && artifacts) {
      fs.writeFileSync(path.join(artifacts, `search-tile-${where === 'server' ? 'http' : 'file'}.png`), await page.screenshot());
    }
    if (step === moves.length) break;
    const move = moves[step];
    if (move.by === 'button') {
      await page.click(move.expect === (expect + 1) % tiles.length ? '#search-next' : '#search-previous');
    } else if (move.by === 'Enter') {
      await page.focus('#search-input');
      await page.keyboard.press('Enter');
    } else {
      // N and P away from the text field, as after a click on the mosaic.
      await page.evaluate(() => document.activeElement && document.activeElement.blur());
      await page.keyboard.press(move.by);
    }
    how = move.by === 'button' ? 'button' : `${move.by} key`;
    expect = move.expect;
  }

  // Escape in the box ends the search and takes the outlines away.
  await page.focus('#search-input');
  await page.keyboard.press('Escape');
  const after = await viewState(page);
  check(after.marks === 0 && await page.isHidden('#search-steps') &&
    await page.inputValue('#search-input') === '', `${where}: Escape ends the search`);

  // On a phone's screen the box leaves the zoom buttons free.
  if (where === 'server') {
    const wide = page.viewportSize();
    await page.setViewportSize({ width: 400, height: 760 });
    await typeQuery(page, 'e');
    const overlap = await page.evaluate(() => {
      const box = document.getElementById('search').getBoundingClientRect();
      return window.reziroriz.viewer.controls.some((c) => {
        const r = c.element.getBoundingClientRect();
        return r.width > 0 && r.left < box.right && box.left < r.right && r.top < box.bottom && box.top < r.bottom;
      });
    });
    check(!overlap, 'on a narrow screen the search box leaves the zoom buttons free');
    if (artifacts) fs.writeFileSync(path.join(artifacts, 'search-narrow.png'), await page.screenshot());
    await page.keyboard.press('Escape');
    await page.setViewportSize(wide);
  }
}

// --- the test ------------------------------------------------------------------------

async function main() {
  const program = option('--program');
  const data = option('--data');
  if (!program || !data) {
    console.log('usage: node viewer_test.mjs --program TESSELLARIUM --data DATA_FOLDER');
    process.exit(2);
  }
  const chromiumPath = ['/usr/bin/chromium', '/usr/lib/chromium/chromium'].find((p) => fs.existsSync(p));
  if (!chromiumPath) skip('chromium is not installed (scripts/install-deps)');
  if (spawnSync('python3', ['--version']).status !== 0) skip('python3 is not installed');
  let chromium;
  try {
    ({ chromium } = createRequire(path.join(here, 'package.json'))('playwright-core'));
  } catch {
    skip('playwright-core is not installed in tests/web (scripts/install-deps)');
  }
  if (!fs.existsSync(path.join(data, 'webviewer', 'openseadragon', 'openseadragon.min.js'))) {
    skip('the data folder has no OpenSeadragon (scripts/install-deps, then build again)');
  }

  const work = fs.mkdtempSync(path.join(os.tmpdir(), 'tess-web-'));
  const artifacts = process.env.WEB_TEST_ARTIFACTS;
  const env = { ...process.env, TESSELLARIUM_CONFIG_PATH: path.join(work, 'settings'), TESSELLARIUM_DATA_DIR: data };
  let server;
  let browser;
  try {
    // 1. Forty plain tiles of distinct colours and a main image of colour fields.
    fs.mkdirSync(path.join(work, 'tiles'));
    for (let i = 0; i < 40; i++) {
      const colour = [(i * 61) % 256, (i * 97 + 40) % 256, (i * 151 + 80) % 256];
      writePng(path.join(work, 'tiles', `tile ${i}.png`), 64, 48, () => colour);
    }
    // Two more whose names the search looks for, each exactly the colour of
    // one field of the main image so that it covers that field.
    writePng(path.join(work, 'tiles', `${SEA}.png`), 64, 48, () => [240, 240, 75]);
    writePng(path.join(work, 'tiles', `${MARKUP}.png`), 64, 48, () => [0, 0, 255]);
    writePng(path.join(work, 'main.png'), 320, 240, (x, y) => [
      Math.floor(x / 80) * 80, Math.floor(y / 60) * 80, 255 - Math.floor(x / 80) * 60
    ]);
    runProgram(program, ['list', 'create', path.join(work, 'tiles.tzc'), '--include', path.join(work, 'tiles') + '/'], env);

    // 2. A JPEG mosaic of 1,200 × 900 with its web mosaic: four levels, the
    // popups with the full text and the pictures copied beside the page. The
    // title holds what the page's data block must not end at.
    const title = 'A "quoted" <!--<script> </script> <\\/ mosaic & more';
    const out = path.join(work, 'out');
    const common = ['--list', path.join(work, 'tiles.tzc'), '--yes', '--quiet',
      '--set', 'MosaicSizeUnit=pixel', '--set', 'MosaicSizeWidth=1200', '--set', 'MosaicSizeHeight=900',
      '--set', 'TileSize=12', '--set', 'DuplicateSpacing=0', '--set', 'RezIrorizPopUpText=4',
      '--set', 'RezIrorizCopyImages=1', '--set', `RezIrorizTitle=${title}`];
    runProgram(program, ['mosaic', path.join(work, 'main.png'), ...common, '--set', 'FileFormat=jpg',
      '--set', 'RezIroriz=1', '--output', path.join(out, 'm.jpg')], env);
    const webFolder = path.join(out, 'm RezIroriz');
    const index = path.join(webFolder, 'index.html');
    check(fs.existsSync(path.join(out, 'm.jpg')) && fs.existsSync(index), 'a JPEG mosaic with its web mosaic beside it');
    const page = fs.readFileSync(index, 'utf8');
    const rows = tileRows(page);
    check(rows.length === 12 * 12, `the page lists every tile (${rows.length})`);

    // 3. The web format alone: the page and no mosaic file.
    // It has no popups, so its page knows no picture to search for.
    const alone = runProgram(program, ['mosaic', path.join(work, 'main.png'), ...common, '--set', 'FileFormat=web',
      '--set', 'RezIrorizPopUpText=0', '--output', path.join(work, 'alone', 'w.jpg')], env);
    check(alone.trim() === path.join(work, 'alone', 'w RezIroriz', 'index.html') &&
      fs.existsSync(alone.trim()), 'the web format alone names its page');
    check(fs.readdirSync(path.join(work, 'alone')).every((f) => !f.endsWith('.jpg')), 'the web format alone writes no mosaic file');

    // 4. The server and the browser.
    const port = await freePort();
    server = spawn('python3', ['-m', 'http.server', String(port), '--bind', '127.0.0.1', '--directory', out],
      { stdio: 'ignore' });
    const origin = `http://127.0.0.1:${port}`;
    await waitForServer(`${origin}/m.jpg`);
    browser = await chromium.launch({ executablePath: chromiumPath, headless: true, args: ['--no-sandbox'] });
    const context = await browser.newContext({ viewport: { width: 1000, height: 700 } });
    const viewerPage = await context.newPage();
    const failed = [];
    const tilesLoaded = new Set();
    viewerPage.on('requestfailed', (r) => failed.push(`${r.url()} (${r.failure()?.errorText})`));
    viewerPage.on('response', (r) => {
      if (r.status() >= 400) failed.push(`${r.url()} (${r.status()})`);
      const m = /\/mosaic\/\d+\/(\d+)-\d+-\d+\.jpg$/.exec(r.url());
      if (m && r.ok()) tilesLoaded.add(Number(m[1]));
    });
    viewerPage.on('pageerror', (e) => failed.push(`page error: ${e.message}`));

    await viewerPage.goto(`${origin}/m%20RezIroriz/index.html`);
    await waitUntilDrawn(viewerPage);
    check(await viewerPage.title() === title, `the page title is the mosaic title (${await viewerPage.title()})`);
    check(await viewerPage.textContent('#attribution') === title, 'the attribution shows the title');
    const levels = await viewerPage.evaluate(() => window.reziroriz.levels.length);
    check(levels === 4, `four zoom levels (${levels})`);

    // 5. Low zoom: the canvas shows the mosaic's colours.
    if (artifacts) fs.writeFileSync(path.join(artifacts, 'home.png'), await viewerPage.screenshot());
    // Only the mosaic: the navigator, the buttons and the caption lie over it.
    await viewerPage.evaluate(() => {
      const v = window.reziroriz.viewer;
      const overlays = [document.getElementById('caption'), document.getElementById('search'), v.navigator && v.navigator.element,
        ...v.controls.map((c) => c.element)];
      overlays.forEach((e) => { if (e) e.style.visibility = 'hidden'; });
    });
    const box = await imageBox(viewerPage);
    const shot = await viewerPage.screenshot({ clip: box });
    await viewerPage.evaluate(() => {
      const v = window.reziroriz.viewer;
      const overlays = [document.getElementById('caption'), document.getElementById('search'), v.navigator && v.navigator.element,
        ...v.controls.map((c) => c.element)];
      overlays.forEach((e) => { if (e) e.style.visibility = ''; });
    });
    const probe = await context.newPage();
    await probe.goto(`${origin}/`);
    const [seen, mosaic] = await gridColours(probe, [`data:image/png;base64,${shot.toString('base64')}`, `${origin}/m.jpg`], 12, 9);
    let worst = 0;
    let spread = 0;
    const mean = mosaic.reduce((a, c) => a.map((v, i) => v + c[i] / mosaic.length), [0, 0, 0]);
    for (let i = 0; i < mosaic.length; i++) {
      for (let k = 0; k < 3; k++) {
        worst = Math.max(worst, Math.abs(seen[i][k] - mosaic[i][k]));
        spread = Math.max(spread, Math.abs(seen[i][k] - mean[k]));
      }
    }
    check(spread > 40, `the canvas is drawn, not blank (colours spread ${spread.toFixed(1)})`);
    check(worst < 24, `the canvas's colours match the mosaic's (worst difference ${worst.toFixed(1)})`);

    // 6. The deepest level: one screen pixel per mosaic pixel loads full-resolution tiles.
    await viewerPage.evaluate(() => {
      const v = window.reziroriz.viewer;
      v.viewport.zoomTo(v.viewport.imageToViewportZoom(1.0), null, true);
      v.viewport.applyConstraints(true);
    });
    await waitUntilDrawn(viewerPage);
    check(tilesLoaded.has(levels - 1), `full-resolution tiles loaded (levels seen: ${[...tilesLoaded].sort()})`);
    if (artifacts) fs.writeFileSync(path.join(artifacts, 'deep.png'), await viewerPage.screenshot());

    // 7. A right click on the tile in the middle of the view names its picture.
    const centre = await viewerPage.evaluate(() => {
      const v = window.reziroriz.viewer;
      const c = v.viewport.viewportToImageCoordinates(v.viewport.getCenter(true));
      return { x: c.x, y: c.y };
    });
    const target = rows.find((t) => centre.x >= t.x && centre.x < t.x + t.width && centre.y >= t.y && centre.y < t.y + t.height);
    check(!!target, 'the tile array has the tile in the middle');
    if (target) {
      const point = await viewerPage.evaluate((t) => {
        const v = window.reziroriz.viewer;
        const p = v.viewport.imageToViewerElementCoordinates(new OpenSeadragon.Point(t.x + t.width / 2, t.y + t.height / 2));
        const box = v.element.getBoundingClientRect();
        return { x: box.left + p.x, y: box.top + p.y };
      }, target);
      await viewerPage.mouse.click(point.x, point.y, { button: 'right' });
      await viewerPage.waitForSelector('#popup:not([hidden])', { timeout: 5000 });
      const text = await viewerPage.textContent('#popup');
      check(text.includes(`${target.name}.${target.extension}`), `the popup names ${target.name}.${target.extension}`);
      await viewerPage.waitForFunction(() => {
        const img = document.querySelector('#popup img');
        return img && img.complete && img.naturalWidth > 0;
      }, null, { timeout: 5000 }).then(() => check(true, 'the popup shows the copied picture'),
        () => check(false, 'the popup shows the copied picture'));
      if (artifacts) fs.writeFileSync(path.join(artifacts, 'popup.png'), await viewerPage.screenshot());
    }
    check(failed.length === 0, `no request failed${failed.length ? ': ' + failed.join(', ') : ''}`);

    // 8. Straight from the disk.
    const diskPage = await context.newPage();
    const diskFailures = [];
    diskPage.on('requestfailed', (r) => diskFailures.push(r.url()));
    diskPage.on('pageerror', (e) => diskFailures.push(`page error: ${e.message}`));
    await diskPage.goto(pathToFileURL(index).href);
    await waitUntilDrawn(diskPage);
    check(diskFailures.length === 0, `the page works from file://${diskFailures.length ? ': ' + diskFailures.join(', ') : ''}`);

    // 9. Finding a picture, on the page from the server and on the one from the disk;
    // a page without popups offers no search.
    const bare = await context.newPage();
    await bare.goto(pathToFileURL(alone.trim()).href);
    await waitUntilDrawn(bare);
    check(await bare.isHidden('#search'), 'a page without popups has no search box');
    await checkSearch(viewerPage, rows, 'server', artifacts);
    await checkSearch(diskPage, rows, 'file://', artifacts);
    check(failed.length === 0 && diskFailures.length === 0,
      `no request failed while searching${failed.length + diskFailures.length ? ': ' + [...failed, ...diskFailures].join(', ') : ''}`);
  } finally {
    if (browser) await browser.close();
    if (server) server.kill();
    fs.rmSync(work, { recursive: true, force: true });
  }
  console.log(failures ? `${failures} check(s) failed` : 'all checks passed');
  process.exit(failures ? 1 : 0);
}

main().catch((error) => {
  console.log(`FAIL ${error.stack || error}`);
  process.exit(1);
});
