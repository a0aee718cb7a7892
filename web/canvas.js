// The drawing area: the program's picture of it, its axes, the prompt that invites the first
// press, and the pointer that draws (mouse, pen or one finger) turned into the program's events.
import { ids, paintOf, vowelLabels } from './bridge.js';
import { $ } from './dom.js';
import { Picture } from './picture.js';
import { notifyObservers, onProgram, send } from './program-port.js';

const area = $('#drawing-area');
const prompt = $('#prompt');
const kUnrestricted = 0;

const picture = new Picture(area, {
  widthPx: ids.areaWidthPx,
  heightPx: ids.areaHeightPx,
  inkDotRadiusPx: ids.inkDotRadiusPx,
  kinds: { fill: ids.paintFill, columns: ids.paintColumns, dots: ids.paintDots },
});
picture.paint(paintOf(false, kUnrestricted, new Int32Array(0)));

// The pitch axis in the program's words.
$('#pitch-low').textContent = ids.pitchLow;
$('#pitch-title').textContent = ids.pitchTitle;
$('#pitch-high').textContent = ids.pitchHigh;

// The vowel each band of the voice type starts on, where the vowel map reaches it, named by
// the program as the nearest vowel of spoken English.
export function showVowels(voiceType) {
  const list = $('#vowel-labels');
  list.replaceChildren(...vowelLabels(voiceType).map(({ y, name }) => {
    const item = document.createElement('li');
    item.textContent = name;
    item.style.top = `${(100 * y) / ids.areaHeightPx}%`;
    return item;
  }));
  $('#vowels-text').textContent = `Vowels from top to bottom: ${
    [...list.children].map((item) => item.textContent).join(', ')}.`;
}

// The prompt goes at the first press, or when the area shows a drawing. Until the area listens
// (the end of the page's start-up) it says the page is getting ready, not "press": on a slow
// machine and network the page's files arrive seconds after its text, and a press invited
// before then would be lost.
function updatePrompt() {
  if (picture.hasDots()) prompt.hidden = true;
}
export function invitePress() {
  prompt.textContent = ids.drawPrompt;
}

// Shows a drawing before the program has it (kept, or a link's): its grid and its ink.
export function showDrawing(withGrid, scaleMode, inkXY) {
  picture.paint(paintOf(withGrid, scaleMode, inkXY));
  updatePrompt();
}

// What a paint did, as the page's listeners hear it: a whole picture ('canvas': repaint, the
// grid's columns, the ink as x, y pairs) or the dots added ('dot' each).
function viewsOfPaint(painted, frame) {
  if (painted.length === 1 && painted[0].kind === 'dots') {
    const { xy } = painted[0];
    const dots = [];
    for (let i = 0; i + 1 < xy.length; i += 2) dots.push({ type: 'dot', x: xy[i], y: xy[i + 1], frame });
    return dots;
  }
  const columns = painted.filter((step) => step.kind === 'columns').map((step) => step.xs);
  const ink = painted.find((step) => step.kind === 'dots');
  return [{
    type: 'canvas',
    frame,
    repaint: painted[0]?.kind === 'fill',
    withGrid: columns.length > 0,
    lightX: columns[0] ?? [],
    darkX: columns[1] ?? [],
    inkXY: ink ? ink.xy : [],
  }];
}
// A render quantum's paints: each call's steps end at ends[i], made at frames[i].
onProgram('paint', ({ steps, ends, frames }) => {
  let from = 0;
  for (const [i, end] of ends.entries()) {
    for (const view of viewsOfPaint(picture.paint(steps.subarray(from, end)), frames[i])) {
      notifyObservers(view);
    }
    from = end;
  }
  updatePrompt();
});

// The pointer that draws; others are ignored until it lifts. onPress: a stroke begins;
// onStrokeEnd: it ended (its ink, and its lines when recording, are the program's now).
export function listenToPointer({ onPress, onStrokeEnd }) {
  let drawingPointer = null;
  const areaPoint = (event) => {
    const box = area.getBoundingClientRect();
    // Content box: the canvas's border is not part of the picture.
    const left = box.left + area.clientLeft;
    const top = box.top + area.clientTop;
    return {
      x: Math.floor(((event.clientX - left) * ids.areaWidthPx) / area.clientWidth),
      y: Math.floor(((event.clientY - top) * ids.areaHeightPx) / area.clientHeight),
    };
  };
  const sendPointer = (action, event, buttons) => {
    const { x, y } = areaPoint(event);
    send({ type: 'pointer', action, x, y, buttons });
  };
  area.addEventListener('pointerdown', (event) => {
    if (drawingPointer !== null || event.button !== 0) return;
    drawingPointer = event.pointerId;
    prompt.hidden = true;
    onPress();
    area.setPointerCapture(event.pointerId); // a drag that leaves the area goes on drawing
    event.preventDefault();
    sendPointer(ids.leftPress, event, ids.leftButtonBit);
  });
  area.addEventListener('pointermove', (event) => {
    if (event.pointerId !== drawingPointer) return;
    sendPointer(ids.move, event, ids.leftButtonBit);
  });
  const endStroke = (event) => {
    if (event.pointerId !== drawingPointer) return;
    drawingPointer = null;
    sendPointer(ids.leftRelease, event, 0);
    onStrokeEnd();
  };
  area.addEventListener('pointerup', endStroke);
  area.addEventListener('pointercancel', endStroke);
  area.addEventListener('lostpointercapture', endStroke);
}
