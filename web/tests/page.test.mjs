// The page: the desktop window's parts by role and name, no console error, keyboard use, the
// page's hints beside the program's states, pointer input by mouse and finger, Help and About.
// (Accessibility is checked in every state by layout.test.mjs.)
import { test } from 'node:test';
import assert from 'node:assert/strict';
import { pageForTests, takeViews, startSound, areaPixel, tappedSamples } from './harness.mjs';

let page;
const session = pageForTests({ hasTouch: true, sound: false }, (opened) => {
  page = opened.page;
});

test('the page shows every part of the window, found by role and name', async () => {
  const parts = [
    ['img', 'Drawing area: left to right is pitch, top to bottom is vowel'],
    ['button', 'clear'], ['button', 'record'], ['button', 'play'],
    ['slider', 'Playback speed'], ['checkbox', 'Grid'], ['group', 'Scale'],
    ['radio', 'Unrestricted'], ['radio', 'Major'], ['radio', 'Minor'], ['radio', 'Pentatonic'],
    ['combobox', 'Root note'], ['status', 'Current note'],
    ['menuitem', 'File'], ['menuitem', 'Voice'], ['menuitem', '?'],
  ];
  for (const [role, name] of parts) {
    assert.equal(await page.getByRole(role, { name, exact: true }).count(), 1, `${role} "${name}"`);
  }
  // They are the program's labels, which the desktop window shows too.
  const { labels, scaleNames } = await page.evaluate(() => window.doodleChorus.module.tables());
  const programs = [
    ['img', labels.drawingArea], ['button', labels.clear], ['slider', labels.playbackSpeed],
    ['checkbox', labels.grid], ['group', labels.scale], ['combobox', labels.rootNote],
    ['status', labels.currentNote], ...scaleNames.map((name) => ['radio', name]),
  ];
  for (const [role, name] of programs) {
    assert.equal(await page.getByRole(role, { name, exact: true }).count(), 1, `${role} "${name}"`);
  }
  // Start-up states: Unrestricted, the root list at C and disabled, toggles up, Grid enabled.
  assert.ok(await page.getByRole('radio', { name: 'Unrestricted' }).isChecked());
  assert.ok(await page.getByRole('combobox', { name: 'Root note' }).isDisabled());
  assert.equal(await page.getByRole('combobox', { name: 'Root note' }).inputValue(), '0');
  const roots = await page.getByRole('combobox', { name: 'Root note' }).locator('option')
    .allTextContents();
  assert.deepEqual(roots, ['C', 'C#', 'D', 'D#', 'E', 'F', 'F#', 'G', 'G#', 'A', 'A#', 'B']);
  assert.equal(await page.getByRole('button', { name: 'record' }).getAttribute('aria-pressed'),
    'false');
  assert.ok(await page.getByRole('checkbox', { name: 'Grid' }).isEnabled());
  assert.equal(await page.getByRole('slider', { name: 'Playback speed' }).inputValue(), '10');

  await page.getByRole('menuitem', { name: 'File' }).click();
  for (const item of ['Open', 'Save', 'Copy link', 'Export as WAV\u2026', 'Export as MIDI\u2026']) {
    assert.ok(await page.getByRole('menuitem', { name: item }).isVisible(), item);
  }
  await page.keyboard.press('Escape');
  await page.getByRole('menuitem', { name: 'Voice' }).click();
  assert.equal(await page.getByRole('menuitemradio', { name: 'Type 1' }).getAttribute(
    'aria-checked'), 'true');
  assert.equal(await page.getByRole('menuitemradio', { name: 'Type 2' }).getAttribute(
    'aria-checked'), 'false');
  await page.keyboard.press('Escape');
  assert.deepEqual(session.problems, []);
});

test('Help and About show the program\'s texts', async () => {
  await page.getByRole('menuitem', { name: '?' }).click();
  await page.getByRole('menuitem', { name: 'Help' }).click();
  const help = page.getByRole('dialog', { name: 'DoodleChorus Help' });
  const text = await help.getByRole('textbox').inputValue();
  const expected = await page.evaluate(() => window.doodleChorus.module.helpText());
  assert.equal(text, expected);
  assert.ok(text.startsWith('\n*Left click in the rectangular window area'));
  // The page's own paragraph, after the program's text: touch, pen and keyboard.
  const ownWords = await help.locator('p').textContent();
  for (const word of [/one finger/, /pen/, /keyboard/, /Copy link/]) {
    assert.match(ownWords, word);
  }
  await help.getByRole('button', { name: 'Close' }).click();

  await page.getByRole('menuitem', { name: '?' }).click();
  await page.getByRole('menuitem', { name: 'About' }).click();
  const about = page.getByRole('dialog', { name: 'About' });
  await about.waitFor();
  assert.match(await about.textContent(), /DoodleChorus v1\.01[^]*Make your drawings truly sing!/);
  await about.getByRole('button', { name: 'OK' }).click();
});

test('every control is reached and worked with the keyboard alone', async () => {
  await page.getByRole('menuitem', { name: 'File' }).focus();
  const reached = new Set();
  for (let i = 0; i < 20; i++) {
    await page.keyboard.press('Tab');
    reached.add(await page.evaluate(() => {
      const e = document.activeElement;
      return e.id || e.getAttribute('value') || e.textContent;
    }));
  }
  // (The root list is disabled while Unrestricted is selected.)
  for (const id of ['clear', 'record', 'play', 'speed', 'grid', '101']) {
    assert.ok(reached.has(id), `Tab reaches ${id}: ${[...reached]}`);
  }
  // Voice > Type 2 by arrows and Enter: the program moves the check mark.
  await page.getByRole('menuitem', { name: 'Voice' }).focus();
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('Enter');
  await page.waitForFunction(() => document.querySelector('[data-command="type2"]')
    .getAttribute('aria-checked') === 'true');
  // The arrow keys move among the scale options; the root list follows.
  await page.getByRole('radio', { name: 'Unrestricted' }).focus();
  await page.keyboard.press('ArrowDown');
  assert.ok(await page.getByRole('radio', { name: 'Major' }).isChecked());
  await page.waitForFunction(() => !document.querySelector('#root').disabled);
  await page.getByRole('radio', { name: 'Major' }).press('ArrowUp');
  await page.waitForFunction(() => document.querySelector('#root').disabled);
  await page.getByRole('menuitem', { name: 'Voice' }).click();
  await page.getByRole('menuitemradio', { name: 'Type 1' }).click();
});

test('the page says in words what the program\'s states mean, and the states stay the desktop\'s',
  async () => {
    const hint = (id) => page.locator(`#${id}`);
    await page.getByRole('radio', { name: 'Unrestricted' }).check();
    // Grid in Unrestricted: the program unticks and disables it, as the desktop does; the
    // page's hint, which describes the box, says why.
    assert.ok(await hint('scale-hint').isVisible());
    const grid = page.getByRole('checkbox', { name: 'Grid' });
    assert.match(await grid.evaluate((box) => document.getElementById(
      box.getAttribute('aria-describedby')).textContent), /with a scale/);
    if (await grid.isEnabled()) {
      await grid.click();
      await page.waitForFunction(() => document.querySelector('#grid').disabled);
      assert.equal(await grid.isChecked(), false);
    }
    // The note label stays blank while drawing in Unrestricted, and names notes in a scale.
    await takeViews(page);
    const at = await areaPixel(page, 100, 100);
    await page.mouse.move(at.x, at.y);
    await page.mouse.down();
    await page.waitForFunction(() => window.heard.views.some((v) => v.type === 'dot'));
    assert.equal(await page.locator('#note').textContent(), '');
    await page.mouse.up();
    await page.getByRole('radio', { name: 'Major' }).check();
    assert.ok(await hint('scale-hint').isHidden());
    await page.mouse.move(at.x, at.y);
    await page.mouse.down();
    await page.waitForFunction(() => document.querySelector('#note').textContent !== '');
    await page.mouse.up();
    await page.getByRole('radio', { name: 'Unrestricted' }).check();
    // Play with nothing recorded: the hint says so, and goes once something is recorded.
    assert.ok(await hint('play-hint').isVisible());
    assert.equal(await page.getByRole('button', { name: 'play' }).getAttribute(
      'aria-describedby'), 'play-hint');
    // The toggle shows what the program reports, and the hint goes with it.
    await page.getByRole('button', { name: 'record' }).click();
    await page.getByRole('button', { name: 'recording' }).waitFor();
    assert.ok(await hint('play-hint').isHidden(), 'no hint while recording');
    await page.mouse.move(at.x, at.y);
    await page.mouse.down();
    await page.mouse.up();
    await page.getByRole('button', { name: 'recording' }).click();
    await hint('play-hint').waitFor({ state: 'hidden' });
    await page.getByRole('button', { name: 'record' }).click();
    await page.getByRole('button', { name: 'recording' }).click();
    await hint('play-hint').waitFor({ state: 'visible' });
    assert.deepEqual(session.problems, []);
  });

test('a drag released outside the area ends the stroke at its edge', async () => {
  await startSound(page);
  await takeViews(page);
  const inside = await areaPixel(page, 200, 100);
  const box = await page.locator('#drawing-area').boundingBox();
  await page.mouse.move(inside.x, inside.y);
  await page.mouse.down();
  await page.mouse.move(box.x + box.width + 60, inside.y, { steps: 4 });
  await page.mouse.up();
  await page.waitForTimeout(100);
  const views = await takeViews(page);
  const dots = views.filter((v) => v.type === 'dot');
  assert.deepEqual(dots.at(-1), { ...dots.at(-1), x: 240, y: 100 });
  // A quantum's paints reach the page in one message at its end, after its other messages:
  // the release is found by its frame.
  const release = views.find((v) => v.type === 'note' && v.name === ''
    && v.frame >= dots.at(-1).frame);
  assert.ok(release, 'the release outside reached the program');
  const after = await tappedSamples(page, release.frame + 4000 + 128, 2048);
  assert.equal(Math.max(...after.map(Math.abs)), 0, 'silent after the fade-out');
});

test('one finger draws; the page neither scrolls nor zooms, a second finger is ignored',
  async () => {
    // A small screen, where the page is taller than the window and could scroll.
    await page.setViewportSize({ width: 600, height: 420 });
    assert.ok(await page.evaluate(() => document.documentElement.scrollHeight > innerHeight));
    await page.getByRole('button', { name: 'clear' }).click();
    await page.evaluate(() => window.scrollTo(0, 0));
    await takeViews(page);
    const cdp = await page.context().newCDPSession(page);
    const touch = (type, points) => cdp.send('Input.dispatchTouchEvent', {
      type, touchPoints: points.map(([x, y], id) => ({ x, y, id })),
    });
    // The finger moves up, which would scroll the page down, and a second one joins.
    const a = await areaPixel(page, 40, 150);
    const b = await areaPixel(page, 80, 100);
    const c = await areaPixel(page, 120, 50);
    const other = await areaPixel(page, 200, 120);
    await touch('touchStart', [[a.x, a.y]]);
    await touch('touchMove', [[b.x, b.y]]);
    await touch('touchStart', [[b.x, b.y], [other.x, other.y]]);
    await touch('touchMove', [[c.x, c.y], [other.x - 40, other.y - 40]]);
    await touch('touchEnd', []);
    await page.waitForTimeout(100);
    const views = await takeViews(page);
    const dots = views.filter((v) => v.type === 'dot').map((v) => [v.x, v.y]);
    assert.deepEqual(dots, [[40, 150], [80, 100], [120, 50]]);
    assert.ok(views.some((v) => v.type === 'note' && v.name === ''), 'the lift released');
    const view = await page.evaluate(() => [window.scrollX, window.scrollY,
      window.visualViewport.scale]);
    assert.deepEqual(view, [0, 0, 1]);
    assert.deepEqual(session.problems, []);
  });
