// hardgas-view in a real browser: headless Chromium, driven by playwright-core, loads the page
// for a small run and for a folder without snapshots.
//
//   node tests/view_test.mjs --hardgas build/hardgas
//
// Needs what tools/setup.sh installs: Debian's chromium and tools/view/node_modules.
import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import { createRequire } from 'node:module';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.dirname(path.dirname(fileURLToPath(import.meta.url)));
const { chromium } = createRequire(path.join(root, 'tools', 'view', 'package.json'))('playwright-core');
const hardgas = process.argv[process.argv.indexOf('--hardgas') + 1];
assert.ok(process.argv.includes('--hardgas') && hardgas, 'usage: view_test.mjs --hardgas PATH');

const BACKGROUND = [0x15, 0x18, 0x1d];
const servers = [];
let browser = null;
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'hardgas-view-'));

// Two species, specular walls and a metal plane: everything the page draws.
function makeFolders() {
  const example = path.join(root, 'examples', 'mixture-metal-plane');
  const run = path.join(scratch, 'run');
  const empty = path.join(scratch, 'empty');
  for (const folder of [run, empty]) fs.cpSync(example, folder, { recursive: true });
  const configPath = path.join(run, 'config.json');
  const config = JSON.parse(fs.readFileSync(configPath, 'utf8'));
  Object.assign(config, { max_collision_count: 5000, save_particles_state_every: 1000, flush_state_buffer_every: 1000 });
  fs.writeFileSync(configPath, JSON.stringify(config));
  const result = spawnSync(hardgas, [run], { stdio: ['ignore', 'ignore', 'pipe'], timeout: 60000 });
  assert.equal(result.status, 0, `hardgas failed: ${result.stderr}`);
  return { run, empty };
}

// What state.bin holds, read by its own layout: N, the snapshot count and the last time.
function snapshotsOf(folder) {
  const state = JSON.parse(fs.readFileSync(path.join(folder, 'state.json'), 'utf8'));
  const n = state.num_molecules;
  const frames = state.states_saved;
  const bytes = fs.readFileSync(path.join(folder, 'state.bin'));
  assert.ok(frames >= 3 && bytes.length >= frames * 8 * (1 + 6 * n), 'the run wrote too few snapshots');
  return { n, frames, lastTime: bytes.readDoubleLE((frames - 1) * 8 * (1 + 6 * n)) };
}

function serve(folder) {
  const server = spawn(path.join(root, 'tools', 'hardgas-view'), [folder, '--port', '0', '--no-open'],
    { stdio: ['ignore', 'pipe', 'pipe'] });
  servers.push(server);
  return new Promise((resolve, reject) => {
    let output = '';
    const timer = setTimeout(() => reject(new Error(`hardgas-view printed no URL: ${output}`)), 15000);
    const read = (chunk) => {
      output += chunk;
      const url = output.match(/http:\/\/127\.0\.0\.1:\d+\//);
      if (url) {
        clearTimeout(timer);
        resolve(url[0]);
      }
    };
    server.stdout.on('data', read);
    server.stderr.on('data', read);
    server.on('exit', (code) => reject(new Error(`hardgas-view exited with ${code}: ${output}`)));
  });
}

// Share of the screenshot's pixels that differ from the page's background, and from another
// screenshot, decoded by the browser itself.
async function pixelShares(page, png, otherPng) {
  return page.evaluate(async ([a, b, background]) => {
    const pixels = async (base64) => {
      const image = new Image();
      image.src = `data:image/png;base64,${base64}`;
      await image.decode();
      const canvas = new OffscreenCanvas(image.width, image.height);
      const context = canvas.getContext('2d');
      context.drawImage(image, 0, 0);
      return context.getImageData(0, 0, image.width, image.height).data;
    };
    const first = await pixels(a);
    const second = await pixels(b);
    let drawn = 0;
    let changed = 0;
    for (let i = 0; i < first.length; i += 4) {
      const away = (p, q) => Math.abs(p[i] - q[0]) + Math.abs(p[i + 1] - q[1]) + Math.abs(p[i + 2] - q[2]) > 30;
      if (away(first, background)) drawn++;
      if (away(first, [second[i], second[i + 1], second[i + 2]])) changed++;
    }
    return { drawn: drawn / (first.length / 4), changed: changed / (first.length / 4) };
  }, [png.toString('base64'), otherPng.toString('base64'), BACKGROUND]);
}

async function main() {
  const { run, empty } = makeFolders();
  const expected = snapshotsOf(run);
  const [runUrl, emptyUrl] = await Promise.all([serve(run), serve(empty)]);

  browser = await chromium.launch({
    executablePath: '/usr/bin/chromium',
    args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader'],
  });
  const page = await browser.newPage({ viewport: { width: 800, height: 600 } });
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));

  await page.goto(runUrl);
  const status = page.locator('#status');
  await page.waitForSelector('#status[data-frame="0"]', { timeout: 20000 });
  assert.equal(Number(await status.getAttribute('data-spheres')), expected.n);
  assert.equal(Number(await status.getAttribute('data-frames')), expected.frames);
  assert.match(await status.textContent(), new RegExp(`^${expected.n} spheres, ${expected.frames} frames$`));
  const firstShot = await page.screenshot();

  await page.locator('#slider').fill(String(expected.frames - 1));
  await page.waitForSelector(`#status[data-frame="${expected.frames - 1}"]`, { timeout: 10000 });
  assert.equal(Number(await status.getAttribute('data-time')), expected.lastTime);
  const lastShot = await page.screenshot();
  const shares = await pixelShares(page, lastShot, firstShot);
  assert.ok(shares.drawn > 0.03, `the screenshot is nearly blank: ${(100 * shares.drawn).toFixed(2)} % drawn`);
  assert.ok(shares.changed > 0.005, `the last frame looks like the first: ${(100 * shares.changed).toFixed(2)} % changed`);
  await page.locator('#colour').selectOption('speed');
  await page.waitForFunction(() => document.getElementById('legend').textContent.includes('m/s'));
  const bySpeed = await pixelShares(page, await page.screenshot(), lastShot);
  assert.ok(bySpeed.changed > 0.005, `colouring by speed changed ${(100 * bySpeed.changed).toFixed(2)} % of the pixels`);
  assert.ok(await page.locator('#message').isHidden(), await page.locator('#message').textContent());

  await page.goto(emptyUrl);
  await page.waitForSelector('#message:not([hidden])', { timeout: 20000 });
  assert.match(await page.locator('#message').textContent(), /no snapshots/);
  assert.equal(await status.getAttribute('data-frames'), '0');
  assert.deepEqual(errors, []);
  console.log(`view: ${expected.n} spheres, ${expected.frames} frames; last frame ${(100 * shares.drawn).toFixed(1)} % drawn, `
    + `${(100 * shares.changed).toFixed(1)} % changed from the first, ${(100 * bySpeed.changed).toFixed(1)} % by speed`);
}

try {
  await main();
  console.log('1 passed, 0 failed');
} catch (e) {
  console.error(e);
  console.log('0 passed, 1 failed');
  process.exitCode = 1;
} finally {
  if (browser) await browser.close();
  for (const server of servers) server.kill();
  fs.rmSync(scratch, { recursive: true, force: true });
}
