// The instrument fills the screen at every size, in portrait and landscape: the drawing area's
// share of the viewport, the canvas drawn at the screen's resolution, pointer targets of at
// least 44 × 44 CSS px, every control within the first screen under the area on phones and
// tablets held upright, no caption cut or spilling out of its control, no horizontal
// scrolling with any menu or dialog open, Help wrapping, and no accessibility violation in any
// of these states. On an upright phone, where the area is taller than the program's shape, the
// presses reach its corners and its dots are round.
import { test, before, after } from 'node:test';
import assert from 'node:assert/strict';
import { createRequire } from 'node:module';
import { serve, launchBrowser, watchProblems, load, areaPixel, listen, takeViews }
  from './harness.mjs';

const require = createRequire(import.meta.url);
const kTargetPx = 44;
const kSubpixelPx = 0.01; // layout rounding
const kAreaShape = 240 / 200; // the program's area, width / height
// On every screen at least kTallShape times as tall as wide (phones and tablets held upright)
// the area spans the screen from edge to edge and grows taller than the program's shape into the
// height the controls leave, up to kStretchMax times its height in that shape; elsewhere it
// keeps the shape.
const kTallShape = 4 / 3;
const kStretchMax = 1.6;
const kHalfScreen = 0.5;

// phone: a phone held upright, where the area takes at least 70 % of the width; half: the area
// takes at least half the screen; laptop: at least 60 % of the height; upright: a phone or
// tablet held upright, where every control lies above the screen's bottom edge (the 320 × 568
// phone scrolls to its scale: its area and buttons come first). Phones and tablets are touch
// screens with dense pixels.
const kScreens = [
  { width: 320, height: 568, phone: true, half: true, mobile: true, dpr: 2 },
  { width: 360, height: 800, phone: true, half: true, upright: true, mobile: true, dpr: 3 },
  { width: 390, height: 844, phone: true, half: true, upright: true, mobile: true, dpr: 3 },
  { width: 768, height: 1024, half: true, upright: true, mobile: true, dpr: 2 },
  { width: 820, height: 1180, half: true, upright: true, mobile: true, dpr: 2 },
  { width: 800, height: 1280, half: true, upright: true, mobile: true, dpr: 2 },
  { width: 1024, height: 768, mobile: true, dpr: 2 },
  { width: 1280, height: 800, laptop: true, dpr: 1 },
  { width: 1920, height: 1080, laptop: true, dpr: 1 },
  { width: 568, height: 320, mobile: true, dpr: 2 },
  { width: 844, height: 390, mobile: true, dpr: 3 },
  { width: 2560, height: 1440, laptop: true, dpr: 2 },
];

let site;
let browser;
before(async () => {
  site = await serve();
  browser = await launchBrowser();
});
after(async () => {
  await browser.close();
  site.server.kill();
});

// What is wrong with the page as it stands; `open` is the menu or dialog shown, if any.
async function layoutFaults(page, open) {
  return page.evaluate(([targetPx, slackPx, openSelector]) => {
    const faults = [];
    const root = document.documentElement;
    if (root.scrollWidth > root.clientWidth) {
      faults.push(`the page is ${root.scrollWidth} px wide in a ${root.clientWidth} px window`);
    }
    if (openSelector) {
      const box = document.querySelector(openSelector).getBoundingClientRect();
      if (box.left < 0 || box.right > root.clientWidth + slackPx) {
        faults.push(`${openSelector} lies at ${box.left}..${box.right} px`);
      }
    }
    // Every pointer target that can be seen: a control, or the label it sits in.
    const shown = (e) => e.getClientRects().length > 0 && getComputedStyle(e).visibility !== 'hidden';
    const inOpenLayer = (e) => !document.querySelector('dialog[open]') || e.closest('dialog[open]');
    for (const control of document.querySelectorAll('button, input, select, textarea')) {
      if (!shown(control) || !inOpenLayer(control)) continue;
      const target = control.closest('label') ?? control;
      const { width, height } = target.getBoundingClientRect();
      if (width < targetPx - slackPx || height < targetPx - slackPx) {
        const name = control.id || control.textContent.trim() || control.dataset.control
          || control.getAttribute('aria-label');
        faults.push(`"${name}" is a ${width.toFixed(1)} × ${height.toFixed(1)} px target`);
      }
    }
    return faults;
  }, [kTargetPx, kSubpixelPx, open]);
}

// Every caption shown that is wider than its box: a control's (button, label, list, legend,
// output) or a text that names one (the note's caption, the speed, the axes, the page's name).
// A caption that wraps is whole; one cut or spilling out is not.
async function captionFaults(page) {
  return page.evaluate(() => {
    const faults = [];
    const captions = document.querySelectorAll('button, label, legend, select, output, h1 span, '
      + '.note-caption, #speed-text, .pitch-axis span, .vowel-axis li');
    for (const caption of captions) {
      // Shown: laid out, and not a text kept for screen readers alone.
      if (caption.getClientRects().length === 0 || caption.closest('.visually-hidden')) continue;
      if (getComputedStyle(caption).clipPath !== 'none') continue;
      const name = caption.id || caption.textContent.trim() || caption.className;
      if (caption.scrollWidth > caption.clientWidth) {
        faults.push(`"${name}" is ${caption.scrollWidth} px wide in ${caption.clientWidth} px`);
      }
      // A list cuts its chosen option's text inside and tells nothing through its scroll
      // width: it is measured against its own width as its widest option makes it.
      if (caption.matches('select')) {
        const natural = caption.cloneNode(true);
        natural.removeAttribute('id');
        natural.style.cssText = 'position: absolute; visibility: hidden; width: auto; '
          + 'min-width: 0; max-width: none';
        caption.after(natural);
        const neededPx = natural.getBoundingClientRect().width;
        natural.remove();
        const hasPx = caption.getBoundingClientRect().width;
        if (neededPx > hasPx + 0.5) {
          faults.push(`list "${name}" needs ${neededPx.toFixed(0)} px for its options, has `
            + `${hasPx.toFixed(0)} px`);
        }
      }
    }
    return faults;
  });
}

// Every control of the page (not of a menu or dialog) whose bottom edge lies below the screen's
// while the page is scrolled to its top.
async function unreachable(page) {
  return page.evaluate(([slackPx]) => {
    const faults = [];
    for (const control of document.querySelectorAll('main button, main input, main select')) {
      if (control.getClientRects().length === 0) continue;
      const { bottom } = (control.closest('label') ?? control).getBoundingClientRect();
      if (bottom + window.scrollY > window.innerHeight + slackPx) {
        faults.push(`"${control.id || control.textContent.trim() || control.dataset.control}" `
          + `ends at ${bottom.toFixed(0)} px in a ${window.innerHeight} px screen`);
      }
    }
    return faults;
  }, [kSubpixelPx]);
}

async function axeViolations(page) {
  if (!await page.evaluate(() => 'axe' in window)) {
    await page.addScriptTag({ path: require.resolve('axe-core') });
  }
  const result = await page.evaluate(() => window.axe.run());
  return result.violations.map((v) => `${v.id}: ${v.nodes.map((n) => n.target).join(' ')}`);
}

// Runs in the page before its scripts: MIDI ports under the long names devices give, so that the
// MIDI dialog shows its lists.
function installMidiPorts() {
  const port = (type, name) => ({ id: `${type}-${name}`, name, type, state: 'connected',
    manufacturer: '', onmidimessage: null, send() {} });
  const inputs = new Map([['in', port('input', 'USB MIDI Keyboard MIDI 1')]]);
  const outputs = new Map([['out', port('output', 'FLUID Synth: Synth input port')]]);
  Object.defineProperty(Navigator.prototype, 'requestMIDIAccess', {
    configurable: true,
    value: () => Promise.resolve({ inputs, outputs, sysexEnabled: false, onstatechange: null }),
  });
}

// The states of the page a person meets: at rest, each menu open, each dialog open.
const kStates = [
  { name: 'at rest', inPage: true },
  { name: 'File menu', menu: 'File', open: '#menu-file' },
  { name: 'Voice menu', menu: 'Voice', open: '#menu-voice' },
  { name: 'MIDI menu', menu: 'MIDI', open: '#menu-midi' },
  { name: 'MIDI ports', menu: 'MIDI', item: 'Connect MIDI\u2026', open: '#midi', shown: '#midi-ports' },
  { name: '? menu', menu: '?', open: '#menu-help' },
  { name: 'Help', menu: '?', item: 'Help', open: '#help' },
  { name: 'About', menu: '?', item: 'About', open: '#message' },
  { name: 'Save refused', menu: 'File', item: 'Save', open: '#message' },
  { name: 'Copy link', menu: 'File', item: 'Copy link', open: '#link' },
  // Shown by a link over a kept drawing and by a new build, which this page has not: set up as
  // the page shows them.
  { name: 'Link question', open: '#shared',
    enter: () => document.querySelector('#shared').showModal(),
    leave: () => document.querySelector('#shared').close() },
  { name: 'Exporting', open: '#export',
    enter: () => document.querySelector('#export').showModal(),
    leave: () => document.querySelector('#export').close() },
  { name: 'New version', open: '#update', inPage: true,
    enter: () => { document.querySelector('#update').hidden = false; },
    leave: () => { document.querySelector('#update').hidden = true; } },
];

async function enter(page, state) {
  if (state.enter) await page.evaluate(state.enter);
  if (!state.menu) return;
  await page.getByRole('menuitem', { name: state.menu, exact: true }).click();
  if (state.item) {
    await page.getByRole('menuitem', { name: state.item, exact: true }).click();
    await page.locator(`${state.open}[open]`).waitFor();
  }
  if (state.shown) await page.locator(state.shown).waitFor();
}

async function leave(page, state) {
  if (state.leave) await page.evaluate(state.leave);
  if (!state.menu) return;
  await page.keyboard.press('Escape');
  if (state.item) await page.locator(`${state.open}:not([open])`).waitFor({ state: 'attached' });
}

// Takes the page through the program's states as a person does, calling check(name) in each:
// a scale on the root of the widest name, with its grid; record down while a press on the area
// shows the widest note name; record up with a recording to play; play down.
async function playThrough(page, check) {
  const tables = await page.evaluate(() => window.doodleChorus.tables);
  const widestNote = await page.evaluate((names) => {
    const probe = document.createElement('span');
    probe.style.font = getComputedStyle(document.querySelector('#note')).font;
    document.body.append(probe);
    const widths = names.map((name) => {
      probe.textContent = name;
      return probe.getBoundingClientRect().width;
    });
    probe.remove();
    return names[widths.indexOf(Math.max(...widths))];
  }, tables.noteNames);
  await page.getByRole('radio', { name: 'Major' }).check();
  await page.getByRole('combobox', { name: 'Root note' }).selectOption(widestNote);
  await page.getByRole('checkbox', { name: 'Grid' }).check();
  // A phone that scrolled down to its scale goes back up to draw.
  await page.evaluate(() => window.scrollTo(0, 0));
  const caption = (id, text) => page.waitForFunction(([selector, expected]) =>
    document.querySelector(selector).textContent === expected, [id, text]);

  await page.locator('#record').click();
  await caption('#record', tables.recordDown);
  // A line from left to right, held where the widest name shows, then drawn on to the right
  // edge so that the recording plays long enough to be looked at.
  const kPauseMs = 25;
  let at = await areaPixel(page, 4, 100);
  await page.mouse.move(at.x, at.y);
  await page.mouse.down();
  let shown = false;
  for (let x = 4; x <= 236; x += 4) {
    at = await areaPixel(page, x, 100);
    await page.mouse.move(at.x, at.y);
    await page.waitForTimeout(kPauseMs);
    if (!shown && await page.locator('#note').textContent() === widestNote) {
      shown = true;
      await check(`recording, the note ${widestNote} shown`);
    }
  }
  await page.mouse.up();
  assert.ok(shown, `the line across the area never showed ${widestNote}`);

  await page.locator('#record').click();
  await caption('#record', tables.recordUp);
  await page.waitForFunction(() => !document.querySelector('#play').disabled);
  await check('recorded, ready to play');

  await page.locator('#play').click();
  await caption('#play', tables.playDown);
  await check('playing');
  if (await page.locator('#play').getAttribute('aria-pressed') === 'true') {
    await page.locator('#play').click();
  }
  await caption('#play', tables.playUp);
}

for (const screen of kScreens) {
  const { width, height, dpr } = screen;
  test(`${width} × ${height}: the area dominates, targets are large, captions whole, nothing `
    + 'scrolls sideways', async () => {
    const context = await browser.newContext({
      viewport: { width, height }, deviceScaleFactor: dpr,
      isMobile: screen.mobile ?? false, hasTouch: screen.mobile ?? false,
    });
    await context.grantPermissions(['clipboard-read', 'clipboard-write'], { origin: site.url });
    await context.addInitScript(installMidiPorts);
    const page = await context.newPage();
    const problems = watchProblems(page);
    await load(page, site.url);
    try {
      const sizes = await page.evaluate(() => {
        const area = document.querySelector('#drawing-area');
        const box = area.getBoundingClientRect();
        // The largest box of anything else: a control, a group, the header, a hint.
        let largest = { size: 0, what: '' };
        for (const element of document.body.querySelectorAll('*')) {
          if (element.contains(area) || element.matches('.controls')) continue;
          const r = element.getBoundingClientRect();
          if (r.width * r.height > largest.size) {
            largest = { size: r.width * r.height, what: element.tagName + (element.id ? `#${element.id}` : '') };
          }
        }
        return { width: box.width, height: box.height, largest,
          backing: [area.width, area.height], css: [area.clientWidth, area.clientHeight],
          dpr: window.devicePixelRatio };
      });
      const widthShare = sizes.width / width;
      const heightShare = sizes.height / height;
      const screenShare = widthShare * heightShare;
      console.log(`${width} × ${height}: the area is ${sizes.width.toFixed(0)} × `
        + `${sizes.height.toFixed(0)} px, ${(100 * widthShare).toFixed(0)} % of the width, `
        + `${(100 * heightShare).toFixed(0)} % of the height, `
        + `${(100 * screenShare).toFixed(0)} % of the screen`);
      // The program's shape, to within a pixel of rounding; on a tall screen the full width,
      // and a height from the shape's to kStretchMax times it.
      const shapeHeight = sizes.css[0] / kAreaShape;
      if (height >= kTallShape * width) {
        assert.ok(sizes.width >= width - kSubpixelPx, `the area is ${sizes.width} px of ${width}`);
        assert.ok(sizes.css[1] >= shapeHeight - 1 && sizes.css[1] <= kStretchMax * shapeHeight + 1,
          `the area is ${sizes.css} CSS px`);
      } else {
        assert.ok(Math.abs(sizes.css[1] - shapeHeight) <= 1, `the area is ${sizes.css} CSS px`);
      }
      if (screen.phone) assert.ok(widthShare >= 0.7, `width share ${widthShare}`);
      if (screen.half) assert.ok(screenShare >= kHalfScreen, `screen share ${screenShare}`);
      if (screen.laptop) assert.ok(heightShare >= 0.6, `height share ${heightShare}`);
      assert.ok(sizes.width * sizes.height > sizes.largest.size,
        `${sizes.largest.what} is larger than the area`);
      // Drawn at the device's resolution, not stretched.
      assert.equal(sizes.dpr, dpr);
      assert.ok(sizes.backing[0] >= 0.9 * sizes.css[0] * dpr
        && sizes.backing[1] >= 0.9 * sizes.css[1] * dpr,
        `backing store ${sizes.backing} for ${sizes.css} CSS px at ${dpr}×`);

      const faults = [];
      const look = async (name, { open, inPage = true, axe = true } = {}) => {
        const found = [...await layoutFaults(page, open), ...await captionFaults(page)];
        if (screen.upright && inPage) found.push(...await unreachable(page));
        if (axe) found.push(...(await axeViolations(page)).map((v) => `axe ${v}`));
        faults.push(...found.map((fault) => `${name}: ${fault}`));
      };
      for (const state of kStates) {
        await enter(page, state);
        await look(state.name, { open: state.open, inPage: state.inPage ?? false });
        if (state.name === 'Help') {
          // The program's text wraps in the box; nothing hides beyond its right edge.
          const [scrollWidth, clientWidth] = await page.locator('#help-text')
            .evaluate((box) => [box.scrollWidth, box.clientWidth]);
          if (scrollWidth > clientWidth) faults.push(`Help: its text is ${scrollWidth} px wide`);
        }
        await leave(page, state);
      }
      // While recording and playing the moment passes: looked at without axe's long run.
      await playThrough(page, (name) => look(name, { axe: name.startsWith('recorded') }));
      assert.deepEqual(faults, []);
      assert.deepEqual(problems, []);
    } finally {
      await context.close();
    }
  });
}

test('on an area stretched taller than the program\'s shape the corners are reached and a dot '
  + 'is round', async () => {
  const context = await browser.newContext({ viewport: { width: 390, height: 844 },
    deviceScaleFactor: 3, isMobile: true, hasTouch: true });
  const page = await context.newPage();
  const problems = watchProblems(page);
  await load(page, site.url);
  try {
    await listen(page);
    const box = await page.evaluate(() => {
      const area = document.querySelector('#drawing-area');
      const rect = area.getBoundingClientRect();
      return { left: rect.left + area.clientLeft, top: rect.top + area.clientTop,
        width: area.clientWidth, height: area.clientHeight, backing: [area.width, area.height] };
    });
    const [scaleX, scaleY] = [box.backing[0] / 240, box.backing[1] / 200]; // device px a pixel
    assert.ok(scaleY > 1.2 * scaleX, `the area is ${box.width} × ${box.height} CSS px`);
    // A press inside each corner's last CSS pixel, then one in the middle.
    const kInsidePx = 0.5;
    const presses = [[box.left + kInsidePx, box.top + kInsidePx],
      [box.left + box.width - kInsidePx, box.top + box.height - kInsidePx]];
    const middle = await areaPixel(page, 120, 100);
    presses.push([middle.x, middle.y]);
    for (const [x, y] of presses) {
      await page.mouse.move(x, y);
      await page.mouse.down();
      await page.mouse.up();
    }
    await page.waitForFunction((count) => window.heard.views.filter((v) => v.type === 'dot')
      .length >= count, presses.length);
    const dots = (await takeViews(page)).filter((v) => v.type === 'dot').map((v) => [v.x, v.y]);
    assert.deepEqual(dots, [[0, 0], [239, 199], [120, 100]]);
    await page.evaluate(() => new Promise((resolve) => requestAnimationFrame(resolve)));
    // The ink's reach from the middle dot's centre across and down, in device pixels: a circle
    // reaches as far both ways (the ellipse the area's two scales would give reaches
    // scaleY / scaleX times as far down).
    const reach = await page.evaluate(([centreX, centreY]) => {
      const canvas = document.querySelector('#drawing-area');
      const copy = document.createElement('canvas');
      copy.width = canvas.width;
      copy.height = canvas.height;
      const context = copy.getContext('2d', { willReadFrequently: true });
      context.drawImage(canvas, 0, 0);
      const { data } = context.getImageData(0, 0, copy.width, copy.height);
      const inked = (x, y) => data[4 * (y * copy.width + x)] < 128
        && data[4 * (y * copy.width + x) + 2] > 128;
      const x0 = Math.floor(centreX);
      const y0 = Math.floor(centreY);
      let across = 0;
      while (inked(x0 + across + 1, y0)) across++;
      let down = 0;
      while (inked(x0, y0 + down + 1)) down++;
      return { centre: inked(x0, y0), across, down };
    }, [120.5 * scaleX, 100.5 * scaleY]);
    assert.ok(reach.centre, 'the dot is inked at its centre');
    assert.ok(reach.across >= scaleX, `the dot reaches ${reach.across} device px across`);
    assert.ok(Math.abs(reach.across - reach.down) <= 1,
      `the dot reaches ${reach.across} device px across and ${reach.down} down`);
    assert.deepEqual(problems, []);
  } finally {
    await context.close();
  }
});
