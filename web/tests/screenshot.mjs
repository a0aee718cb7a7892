// Takes the README's pictures of the page with a scale, its grid and a drawn curve:
// docs/web-screenshot.png on a laptop (1280 × 800) and docs/web-phone-screenshot.png on a
// phone (390 × 844, at twice its CSS pixels).
// Usage (after web/build.sh): node web/tests/screenshot.mjs
import path from 'node:path';
import { serve, launchBrowser, load, listen, areaPixel, sourceRoot } from './harness.mjs';

const kShots = [
  { file: 'web-screenshot.png', viewport: { width: 1280, height: 800 }, deviceScaleFactor: 1 },
  { file: 'web-phone-screenshot.png', viewport: { width: 390, height: 844 },
    deviceScaleFactor: 2, isMobile: true, hasTouch: true },
];

const site = await serve();
const browser = await launchBrowser();
for (const { file, ...screen } of kShots) {
  const context = await browser.newContext(screen);
  const page = await context.newPage();
  await load(page, site.url);
  await listen(page);
  await page.getByRole('radio', { name: 'Major' }).check();
  await page.getByRole('combobox', { name: 'Root note' }).selectOption('D');
  await page.getByRole('checkbox', { name: 'Grid' }).check();
  let at = await areaPixel(page, 8, 150);
  await page.mouse.move(at.x, at.y);
  await page.mouse.down();
  for (let x = 8; x <= 232; x += 3) {
    at = await areaPixel(page, x, Math.round(100 - 70 * Math.sin(x / 30)));
    await page.mouse.move(at.x, at.y);
    await page.waitForTimeout(8);
  }
  await page.mouse.up();
  // The note label shows the last note sung; a press near the end shows one.
  at = await areaPixel(page, 232, 60);
  await page.mouse.move(at.x, at.y);
  await page.mouse.down();
  await page.waitForFunction(() => document.querySelector('#note').textContent !== '');
  await page.waitForTimeout(200);
  await page.screenshot({ path: path.join(sourceRoot, 'docs', file) });
  await page.mouse.up();
  await context.close();
}
await browser.close();
site.server.kill();
