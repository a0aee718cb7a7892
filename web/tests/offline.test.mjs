// The page works offline and installs: after one visit its service worker has every file,
// so that a reload without a network loads, sings and saves; a new build never reloads a page
// by itself, and replaces the cached one whole when the person reloads for it; the manifest
// names the app and its icons.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import {
  cpSync, mkdtempSync, readdirSync, readFileSync, rmSync, symlinkSync, renameSync, utimesSync,
  writeFileSync,
} from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import {
  serve, launchBrowser, watchProblems, load, listen, takeViews, tappedSamples, areaPixel,
  savedRecording, startSound, sourceRoot, webRoot,
} from './harness.mjs';

let browser;
let scratch;
before(async () => {
  browser = await launchBrowser();
  scratch = mkdtempSync(path.join(os.tmpdir(), 'dc-web-offline-'));
});
after(async () => {
  await browser.close();
  rmSync(scratch, { recursive: true, force: true });
});

// Waits until the service worker has cached the page and controls it.
async function whenOffline(page) {
  await page.evaluate(async () => {
    await navigator.serviceWorker.ready;
    if (!navigator.serviceWorker.controller) {
      await new Promise((resolve) => {
        navigator.serviceWorker.addEventListener('controllerchange', resolve, { once: true });
      });
    }
  });
}

// The files the service worker of the build in `dir` caches, as the build listed them.
function cachedFiles(dir) {
  const list = readFileSync(path.join(dir, 'sw.js'), 'utf8').match(/const kFiles = \[(.*)\];/)[1];
  return [...list.matchAll(/'([^']+)'/g)].map((m) => m[1]).filter((name) => name !== './');
}

test('after one visit the page loads, sings and saves without a network', async (t) => {
  const site = await serve();
  t.after(() => site.server.kill());
  const context = await browser.newContext({ acceptDownloads: true });
  t.after(() => context.close());
  // What the first visit transfers: the page's own requests and its service worker's.
  const responses = [];
  context.on('response', (response) => responses.push(response));
  const page = await context.newPage();
  const problems = watchProblems(page);
  // Every file the page itself asks for, from its first load to its export.
  const asked = new Set();
  page.on('request', (request) => {
    const url = new URL(request.url());
    if (url.origin === new URL(site.url).origin) asked.add(url.pathname);
  });
  await load(page, site.url);
  await whenOffline(page);
  let transferred = 0;
  let byWorker = 0;
  let fromNetwork = 0;
  for (const response of responses) {
    assert.ok(response.url().startsWith(site.url), `nothing is fetched elsewhere: ${response.url()}`);
    if (response.fromServiceWorker()) continue; // answered from the cache, not the network
    const sizes = await response.request().sizes();
    transferred += sizes.responseHeadersSize + Math.max(0, sizes.responseBodySize);
    fromNetwork++;
    if (response.request().serviceWorker()) byWorker++;
  }
  console.log(`first visit: ${transferred} bytes in ${fromNetwork} responses from the network, `
    + `${byWorker} of them to the service worker`);
  // Every file of the build is in the cache.
  const cached = await page.evaluate(async () => {
    const names = [];
    for (const key of await caches.keys()) {
      for (const request of await (await caches.open(key)).keys()) names.push(request.url);
    }
    return names;
  });
  for (const file of cachedFiles(webRoot)) {
    assert.ok(cached.includes(new URL(file, site.url).href), `${file} is cached`);
  }

  await context.setOffline(true);
  await page.reload();
  await page.waitForFunction(() => window.doodleChorus?.ready === true);
  await listen(page);
  await page.getByRole('button', { name: 'record' }).click();
  await takeViews(page);
  const from = await areaPixel(page, 60, 100);
  const to = await areaPixel(page, 180, 60);
  await page.mouse.move(from.x, from.y);
  await page.mouse.down();
  await page.mouse.move(to.x, to.y, { steps: 8 });
  await page.waitForTimeout(300);
  await page.mouse.up();
  await page.getByRole('button', { name: 'recording' }).click();
  const views = await takeViews(page);
  const dots = views.filter((v) => v.type === 'dot');
  assert.ok(dots.length >= 2, 'the drag draws');
  const samples = await tappedSamples(page, dots[0].frame, 4096);
  assert.ok(Math.max(...samples.map(Math.abs)) > 0.01, 'the drag sings');
  const saved = (await savedRecording(page)).toString('latin1');
  // Save writes the stroke: its points, then its release where it ended.
  const lines = saved.split('\r\n').filter((line) => line !== '');
  const drawn = new Set(dots.map((d) => `${d.x};${d.y}`));
  assert.ok(lines.length >= 3, saved);
  assert.match(lines.at(-1), /^180;60;1;\d+$/);
  for (const line of lines.slice(0, -1)) {
    assert.ok(drawn.has(line.split(';').slice(0, 2).join(';')), line);
  }
  // The page loads no file that the build's worker does not cache (and hash into its version);
  // the worklet's module, which playwright does not report, has sung offline above.
  const listed = new Set(['/', '/sw.js', ...cachedFiles(webRoot).map((file) => `/${file}`)]);
  for (const file of asked) assert.ok(listed.has(file), `${file} is in the build's list`);
  assert.deepEqual(problems, []);
});

test('a new build published during a recording never reloads the page; the person reloads '
  + 'into it, all of it', async (t) => {
  // The site is a link to a build, so that a second build can take its place on the same
  // origin: build B is this build with a marked page and style, and its own service worker.
  const buildA = path.join(scratch, 'a');
  const buildB = path.join(scratch, 'b');
  cpSync(webRoot, buildA, { recursive: true });
  cpSync(webRoot, buildB, { recursive: true });
  // Build A was published an hour ago: the server's Last-Modified dates (whole seconds) tell
  // the two builds apart, as they do for builds made minutes apart.
  const hourAgo = new Date(Date.now() - 3_600_000);
  for (const file of readdirSync(buildA)) utimesSync(path.join(buildA, file), hourAgo, hourAgo);
  const index = path.join(buildB, 'index.html');
  writeFileSync(index, readFileSync(index, 'utf8').replace('<title>',
    '<meta name="build" content="B">\n<title>'));
  writeFileSync(path.join(buildB, 'style.css'), `${readFileSync(path.join(buildB, 'style.css'),
    'utf8')}\n/* build B */\n`);
  execFileSync('cmake', [`-DDC_WEB_DIR=${buildB}`,
    `-DDC_SW_TEMPLATE=${path.join(sourceRoot, 'web/sw.js')}`,
    `-DDC_WEB_FILES=${cachedFiles(webRoot).join(',')}`,
    '-P', path.join(sourceRoot, 'web/ServiceWorker.cmake')]);
  const version = (dir) => readFileSync(path.join(dir, 'sw.js'), 'utf8')
    .match(/const kVersion = '(\w+)'/)[1];
  assert.notEqual(version(buildB), version(buildA), 'another build, another version');
  const served = path.join(scratch, 'site');
  symlinkSync(buildA, served);
  const site = await serve(served);
  t.after(() => site.server.kill());

  const context = await browser.newContext({ acceptDownloads: true });
  t.after(() => context.close());
  const page = await context.newPage();
  const problems = watchProblems(page);
  await load(page, site.url);
  await whenOffline(page);
  await listen(page);
  assert.equal(await page.locator('meta[name="build"]').count(), 0);
  let navigations = 0;
  page.on('framenavigated', (frame) => {
    if (frame === page.mainFrame()) navigations++;
  });

  // A recording is being drawn when the new build is published and the browser finds it (as
  // it looks now and then by itself).
  await page.getByRole('button', { name: 'record' }).click();
  const stroke = await Promise.all([[40, 150], [80, 120], [120, 90], [160, 60], [200, 40]]
    .map(([x, y]) => areaPixel(page, x, y)));
  await page.mouse.move(stroke[0].x, stroke[0].y);
  await page.mouse.down();
  await page.mouse.move(stroke[1].x, stroke[1].y, { steps: 4 });
  const next = path.join(scratch, 'next');
  symlinkSync(buildB, next);
  renameSync(next, served);
  await page.evaluate(async () => (await navigator.serviceWorker.getRegistration()).update());
  const notice = page.getByRole('status').filter({ hasText: 'A new version' });
  await notice.waitFor();
  for (const at of stroke.slice(2)) await page.mouse.move(at.x, at.y, { steps: 4 });
  await page.mouse.up();
  await page.getByRole('button', { name: 'recording' }).click();
  assert.equal(navigations, 0, 'no reload while recording');
  assert.equal(await page.locator('meta[name="build"]').count(), 0, 'still build A');
  const saved = await savedRecording(page);
  assert.ok(saved.toString('latin1').split('\r\n').length > 5, saved.toString('latin1'));
  assert.equal(navigations, 0, 'no reload after it either, until the person asks');

  // Another tab of build A is open: the new build waits still, and says why.
  const other = await context.newPage();
  watchProblems(other, problems);
  await load(other, site.url);
  assert.equal(await other.locator('meta[name="build"]').count(), 0, 'the other tab is build A');
  await notice.getByRole('button', { name: 'Reload for the new version' }).click();
  await page.waitForFunction(() => /other tabs/.test(document.querySelector('#update-text')
    .textContent));
  assert.equal(navigations, 0, 'no reload while another tab runs build A');
  await other.close();

  // The person reloads for the new version: the page is build B's, from its cache only, with
  // the recording it kept.
  await notice.getByRole('button', { name: 'Reload for the new version' }).click();
  await page.waitForFunction(() => document.querySelector('meta[name="build"]') !== null
    && window.doodleChorus?.ready === true, null, { timeout: 20_000 });
  const cache = await page.evaluate(async () => {
    const keys = await caches.keys();
    const entries = {};
    for (const key of keys) {
      for (const request of await (await caches.open(key)).keys()) {
        const response = await (await caches.open(key)).match(request);
        entries[new URL(request.url).pathname] = Array.from(
          new Uint8Array(await crypto.subtle.digest('SHA-256', await response.arrayBuffer())));
      }
    }
    return { keys, entries };
  });
  assert.deepEqual(cache.keys, [`doodlechorus-${version(buildB)}`]);
  const digest = async (file) => Array.from(new Uint8Array(await crypto.subtle.digest('SHA-256',
    readFileSync(path.join(buildB, file)))));
  for (const file of cachedFiles(buildB)) {
    assert.deepEqual(cache.entries[`/${file}`], await digest(file), `${file} is build B's`);
  }
  assert.deepEqual(cache.entries['/'], await digest('index.html'));
  assert.ok(await page.locator('#update').isHidden(), 'no notice in the new version');
  assert.ok((await savedRecording(page)).equals(saved), 'the recording is kept');
  // The page of build B starts its program in the worklet of build B.
  await listen(page);
  await startSound(page);
  assert.deepEqual(problems, []);
});

test('the manifest names the app, and its icons are there in their sizes', async (t) => {
  const site = await serve();
  t.after(() => site.server.kill());
  const page = await browser.newPage();
  t.after(() => page.close());
  await load(page, site.url);
  const href = await page.locator('link[rel="manifest"]').getAttribute('href');
  const manifest = await (await fetch(new URL(href, site.url))).json();
  assert.equal(manifest.name, 'DoodleChorus');
  assert.ok(manifest.short_name.length > 0 && manifest.short_name.length <= 12);
  assert.equal(manifest.display, 'standalone');
  assert.match(manifest.theme_color, /^#[0-9a-f]{6}$/i);
  assert.equal(new URL(manifest.start_url, new URL(href, site.url)).href, site.url);
  for (const size of [192, 512]) {
    const icon = manifest.icons.find((i) => i.sizes === `${size}x${size}`);
    assert.ok(icon, `an icon of ${size} px`);
    assert.equal(icon.type, 'image/png');
    const png = Buffer.from(await (await fetch(new URL(icon.src, site.url))).arrayBuffer());
    assert.ok(png.subarray(1, 4).equals(Buffer.from('PNG')), `${icon.src} is a PNG`);
    assert.deepEqual([png.readUInt32BE(16), png.readUInt32BE(20)], [size, size], icon.src);
  }
});
