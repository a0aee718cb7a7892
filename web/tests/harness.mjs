// Serves build/web on loopback with Python's http.server and drives Debian's chromium through
// playwright-core: no browser download, no network beyond 127.0.0.1.
import { spawn } from 'node:child_process';
import { createServer } from 'node:net';
import { once } from 'node:events';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { mkdtempSync, rmSync } from 'node:fs';
import os from 'node:os';
import { chromium } from 'playwright-core';

const here = path.dirname(fileURLToPath(import.meta.url));
export const sourceRoot = path.resolve(here, '../..');
export const webRoot = process.env.DC_WEB_ROOT ?? path.join(sourceRoot, 'build/web');

async function freePort() {
  const server = createServer();
  server.listen(0, '127.0.0.1');
  await once(server, 'listening');
  const { port } = server.address();
  server.close();
  await once(server, 'close');
  return port;
}

async function serve(root) {
  const port = await freePort();
  const server = spawn('python3', ['-m', 'http.server', String(port), '--bind', '127.0.0.1',
    '--directory', root], { stdio: ['ignore', 'pipe', 'pipe'] });
  const url = `http://127.0.0.1:${port}/`;
  for (let attempt = 0; attempt < 100; attempt++) {
    try {
      const response = await fetch(url);
      if (response.ok) return { server, url };
    } catch {
      // not listening yet
    }
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  server.kill();
  throw new Error(`http.server did not answer on ${url}`);
}

export const kChromiumArgs = ['--no-sandbox', '--autoplay-policy=no-user-gesture-required',
  '--headless', '--disable-gpu', '--disable-background-networking',
  '--disable-component-update', '--disable-sync', '--no-first-run', '--disable-quic'];

// A served page in a fresh browser; close() ends both.
export async function openPage({ viewport = { width: 1100, height: 800 } } = {}) {
  const { server, url } = await serve(webRoot);
  const profile = mkdtempSync(path.join(os.tmpdir(), 'dc-web-profile-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: '/usr/bin/chromium',
    args: kChromiumArgs,
    headless: true,
    acceptDownloads: true,
    viewport,
  });
  const page = context.pages()[0] ?? await context.newPage();
  const problems = [];
  page.on('console', (message) => {
    if (message.type() === 'error' || message.type() === 'warning') {
      problems.push(`${message.type()}: ${message.text()}`);
    }
  });
  page.on('pageerror', (error) => problems.push(`page error: ${error.message}`));
  await page.goto(url);
  await page.waitForFunction(() => window.doodleChorus?.ready === true);
  return {
    page,
    url,
    problems,
    async close() {
      await context.close();
      server.kill();
      rmSync(profile, { recursive: true, force: true });
    },
  };
}
