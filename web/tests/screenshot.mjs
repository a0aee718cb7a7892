// Takes docs/web-screenshot.png: the page with a scale, its grid and a drawn curve.
// Usage (after web/build.sh): node web/tests/screenshot.mjs
import path from 'node:path';
import { openPage, listen, areaPixel, sourceRoot } from './harness.mjs';

const session = await openPage({ viewport: { width: 1040, height: 700 } });
const { page } = session;
await listen(page);
await page.getByRole('radio', { name: 'Major' }).check();
await page.getByRole('combobox', { name: 'Root note' }).selectOption('D');
await page.getByRole('checkbox', { name: 'Grid' }).check();
let at = await areaPixel(page, 8, 150);
await page.mouse.move(at.x, at.y);
await page.mouse.down();
for (let x = 8; x <= 232; x += 4) {
  at = await areaPixel(page, x, Math.round(100 - 70 * Math.sin(x / 30)));
  await page.mouse.move(at.x, at.y);
  await page.waitForTimeout(8);
}
await page.mouse.up();
await page.waitForTimeout(200);
await page.screenshot({ path: path.join(sourceRoot, 'docs/web-screenshot.png') });
await session.close();
