// The DoodleChorus page: the desktop window's controls as HTML. The program itself (its logic,
// voice and play clock) runs in the audio worklet (worklet.js); this script turns the user's
// actions into the program's events, shows what the program tells it, and does the file work
// of the exports with a second instance of the same WebAssembly module.
import createDoodleChorus from './doodlechorus.js';
import { withCString } from './cstring.js';

// The drawing area's pixels and colours, as the desktop's drawing area has them.
const kAreaWidthPx = 240;
const kAreaHeightPx = 200;
const kWhite = [255, 255, 255];
const kInkColour = [0, 0, 255];
const kStripLineColour = [192, 192, 192];
const kOctaveLineColour = [128, 0, 0];

const kSampleRate = 44100;

const $ = (selector) => document.querySelector(selector);
const area = $('#drawing-area');
const areaContext = area.getContext('2d');
const image = areaContext.createImageData(kAreaWidthPx, kAreaHeightPx);
const recordButton = $('#record');
const playButton = $('#play');
const speedSlider = $('#speed');
const speedText = $('#speed-text');
const gridBox = $('#grid');
const rootList = $('#root');
const noteLabel = $('#note');
const openInput = $('#open-file');

// ---- The module on the main thread: tables and the exports' file work ----

const wasmModule = await compileModule();
const files = await createDoodleChorus({
  instantiateWasm(imports, receive) {
    WebAssembly.instantiate(wasmModule, imports).then((instance) => receive(instance));
    return {};
  },
});
const inkDotPixels = files.HEAP32.slice(
  files._dc_ink_dot_pixels() >> 2,
  (files._dc_ink_dot_pixels() >> 2) + 2 * files._dc_ink_dot_pixel_count());
const maxOpenFileBytes = files._dc_max_open_file_bytes();
// The program's ids and ranges, by name, as the module defines them.
const ids = JSON.parse(files.UTF8ToString(files._dc_ids_json()));

async function compileModule() {
  const response = fetch('doodlechorus.wasm');
  try {
    return await WebAssembly.compileStreaming(response);
  } catch {
    // A server that does not send application/wasm.
    return WebAssembly.compile(await (await fetch('doodlechorus.wasm')).arrayBuffer());
  }
}

// ---- The drawing area ----

function paintPixel(x, y, [r, g, b]) {
  if (x < 0 || y < 0 || x >= kAreaWidthPx || y >= kAreaHeightPx) return;
  const at = 4 * (y * kAreaWidthPx + x);
  image.data[at] = r;
  image.data[at + 1] = g;
  image.data[at + 2] = b;
  image.data[at + 3] = 255;
}

function fillWhite() {
  for (let y = 0; y < kAreaHeightPx; y++) {
    for (let x = 0; x < kAreaWidthPx; x++) paintPixel(x, y, kWhite);
  }
}

function drawDot(x, y) {
  for (let i = 0; i < inkDotPixels.length; i += 2) {
    paintPixel(x + inkDotPixels[i], y + inkDotPixels[i + 1], kInkColour);
  }
}

function drawVerticalLine(x, colour) {
  for (let y = 0; y < kAreaHeightPx; y++) paintPixel(x, y, colour);
}

function showCanvas() {
  areaContext.putImageData(image, 0, 0);
}

// repaint: white first; grid lines (strip edges, then octave starts); then the ink.
function drawCanvas({ repaint, withGrid, lightX, darkX, inkXY }) {
  if (repaint) fillWhite();
  if (withGrid) {
    for (const x of lightX) drawVerticalLine(x, kStripLineColour);
    for (const x of darkX) drawVerticalLine(x, kOctaveLineColour);
  }
  for (let i = 0; i < inkXY.length; i += 2) drawDot(inkXY[i], inkXY[i + 1]);
  showCanvas();
}

fillWhite();
showCanvas();

// ---- The audio worklet, where the program runs ----

let audioContext = null;
let programNode = null;
const waiting = []; // events sent before the worklet existed, in order
const viewListeners = new Set();
const tapListeners = new Set();
const pendingDownloads = new Map();

function send(message, transfer = []) {
  if (programNode) programNode.port.postMessage(message, transfer);
  else waiting.push([message, transfer]);
}

// The first press or key anywhere starts the sound (browsers allow audio only after one).
async function startAudio() {
  if (audioContext) {
    if (audioContext.state === 'suspended') audioContext.resume();
    return;
  }
  audioContext = new AudioContext({ sampleRate: kSampleRate, latencyHint: 'interactive' });
  try {
    await audioContext.audioWorklet.addModule('worklet.js');
    programNode = new AudioWorkletNode(audioContext, 'doodlechorus', {
      numberOfInputs: 0,
      numberOfOutputs: 1,
      outputChannelCount: [1],
      processorOptions: { wasmModule, seed: crypto.getRandomValues(new Uint32Array(4)) },
    });
  } catch (error) {
    showMessage('DoodleChorus', `The sound cannot start: ${error.message}`);
    return;
  }
  programNode.port.onmessage = (event) => onProgramMessage(event.data);
  programNode.connect(audioContext.destination);
  for (const [message, transfer] of waiting.splice(0)) {
    programNode.port.postMessage(message, transfer);
  }
  if (tapListeners.size > 0) send({ type: 'tap', on: true });
}
document.addEventListener('pointerdown', startAudio, { capture: true });
document.addEventListener('keydown', startAudio, { capture: true });

function onProgramMessage(message) {
  switch (message.type) {
    case 'canvas':
      drawCanvas(message);
      break;
    case 'dot':
      drawDot(message.x, message.y);
      showCanvas();
      break;
    case 'note':
      noteLabel.value = message.name;
      break;
    case 'state':
      showState(message.control, message.value);
      break;
    case 'message':
      showMessage(message.title, message.text);
      break;
    case 'help':
      showHelp(message.text);
      break;
    case 'saved':
      download(message.bytes, 'DoodleChorus.sav', 'text/plain');
      break;
    case 'recordingCopy':
      exportRecording(message);
      break;
    case 'failed':
      console.error(`DoodleChorus stopped: ${message.what}`);
      showMessage('DoodleChorus', 'DoodleChorus has stopped after a fault. Reload the page to '
        + 'start it again.');
      break;
    case 'tap':
      for (const listener of tapListeners) listener(message.frame, message.samples);
      return;
    default:
      break;
  }
  for (const listener of viewListeners) listener(message);
}

function showState(control, value) {
  switch (control) {
    case 'recording':
      recordButton.setAttribute('aria-pressed', String(value === 1));
      recordButton.textContent = value === 1 ? ids.recordDown : ids.recordUp;
      break;
    case 'playing':
      playButton.setAttribute('aria-pressed', String(value === 1));
      playButton.textContent = value === 1 ? ids.playDown : ids.playUp;
      break;
    case 'playEnabled':
      playButton.disabled = value !== 1;
      break;
    case 'gridChecked':
      gridBox.checked = value === 1;
      break;
    case 'gridEnabled':
      gridBox.disabled = value !== 1;
      break;
    case 'rootEnabled':
      rootList.disabled = value !== 1;
      break;
    case 'voiceType':
      for (const item of document.querySelectorAll('[role="menuitemradio"]')) {
        item.setAttribute('aria-checked', String(item.dataset.command === `type${value}`));
      }
      break;
    default:
      break;
  }
}

// ---- Pointer input: mouse, pen and one finger ----

let drawingPointer = null; // the pointer that draws; others are ignored until it lifts

function areaPoint(event) {
  const box = area.getBoundingClientRect();
  // Content box: the canvas's border is not part of the picture.
  const left = box.left + area.clientLeft;
  const top = box.top + area.clientTop;
  return {
    x: Math.floor(((event.clientX - left) * kAreaWidthPx) / area.clientWidth),
    y: Math.floor(((event.clientY - top) * kAreaHeightPx) / area.clientHeight),
  };
}

function sendPointer(action, event, buttons) {
  const { x, y } = areaPoint(event);
  send({ type: 'pointer', action, x, y, buttons });
}

area.addEventListener('pointerdown', (event) => {
  if (drawingPointer !== null || event.button !== 0) return;
  drawingPointer = event.pointerId;
  area.setPointerCapture(event.pointerId); // a drag that leaves the area goes on drawing
  event.preventDefault();
  sendPointer(ids.leftPress, event, ids.leftButtonBit);
});
area.addEventListener('pointermove', (event) => {
  if (event.pointerId !== drawingPointer) return;
  sendPointer(ids.move, event, ids.leftButtonBit);
});
function endStroke(event) {
  if (event.pointerId !== drawingPointer) return;
  drawingPointer = null;
  sendPointer(ids.leftRelease, event, 0);
}
area.addEventListener('pointerup', endStroke);
area.addEventListener('pointercancel', endStroke);
area.addEventListener('lostpointercapture', endStroke);

// ---- The controls ----

$('#clear').addEventListener('click', () => send({ type: 'control', id: ids.clearButton }));
recordButton.addEventListener('click', () => {
  const down = recordButton.getAttribute('aria-pressed') !== 'true';
  recordButton.setAttribute('aria-pressed', String(down)); // the toggle moves as it is clicked
  send({ type: 'record', down });
});
playButton.addEventListener('click', () => {
  const down = playButton.getAttribute('aria-pressed') !== 'true';
  playButton.setAttribute('aria-pressed', String(down));
  send({ type: 'play', down });
});
function speedCaption(tenths) {
  return `${(tenths / ids.tenthsPerSpeed).toFixed(ids.speedDecimals)}${ids.speedSuffix}`;
}
speedSlider.addEventListener('input', () => {
  const tenths = Number(speedSlider.value);
  speedText.textContent = speedCaption(tenths);
  speedSlider.setAttribute('aria-valuetext', speedCaption(tenths));
  send({ type: 'speed', tenths });
});
gridBox.addEventListener('change', () => send({ type: 'grid', ticked: gridBox.checked }));
speedSlider.min = String(ids.minSpeedTenths);
speedSlider.max = String(ids.maxSpeedTenths);
for (const option of document.querySelectorAll('input[name="scale"]')) {
  option.value = String(ids[option.dataset.control]);
  option.addEventListener('change', () => {
    if (option.checked) send({ type: 'control', id: Number(option.value) });
  });
}
for (let i = 0; i < files._dc_note_name_count(); i++) {
  rootList.add(new Option(files.UTF8ToString(files._dc_note_name(i)), String(i)));
}
rootList.addEventListener('change', () => send({ type: 'root', index: rootList.selectedIndex }));

// ---- Menus ----

const menuTitles = [...document.querySelectorAll('[role="menubar"] > li > [role="menuitem"]')];

function menuOf(title) {
  return document.getElementById(title.getAttribute('aria-controls'));
}
function itemsOf(menu) {
  return [...menu.querySelectorAll('[role^="menuitem"]')];
}
function closeMenus(exceptTitle = null) {
  for (const title of menuTitles) {
    if (title === exceptTitle) continue;
    title.setAttribute('aria-expanded', 'false');
    menuOf(title).hidden = true;
  }
}
function openMenu(title, focusItem = 0) {
  closeMenus(title);
  title.setAttribute('aria-expanded', 'true');
  const menu = menuOf(title);
  menu.hidden = false;
  const items = itemsOf(menu);
  items.at(focusItem)?.focus();
}
for (const [index, title] of menuTitles.entries()) {
  title.addEventListener('click', () => {
    if (title.getAttribute('aria-expanded') === 'true') closeMenus();
    else openMenu(title);
  });
  title.addEventListener('keydown', (event) => {
    const next = (step) => menuTitles[(index + step + menuTitles.length) % menuTitles.length];
    if (event.key === 'ArrowDown') openMenu(title);
    else if (event.key === 'ArrowUp') openMenu(title, -1);
    else if (event.key === 'ArrowRight') next(1).focus();
    else if (event.key === 'ArrowLeft') next(-1).focus();
    else if (event.key === 'Escape') closeMenus();
    else return;
    event.preventDefault();
  });
  const menu = menuOf(title);
  menu.addEventListener('keydown', (event) => {
    const items = itemsOf(menu);
    const at = items.indexOf(document.activeElement);
    const moveTo = (i) => items[(i + items.length) % items.length].focus();
    if (event.key === 'ArrowDown') moveTo(at + 1);
    else if (event.key === 'ArrowUp') moveTo(at - 1);
    else if (event.key === 'Home') moveTo(0);
    else if (event.key === 'End') moveTo(-1);
    else if (event.key === 'Escape') {
      closeMenus();
      title.focus();
    } else if (event.key === 'ArrowRight' || event.key === 'ArrowLeft') {
      openMenu(menuTitles[(index + (event.key === 'ArrowRight' ? 1 : -1) + menuTitles.length)
        % menuTitles.length]);
    } else return;
    event.preventDefault();
  });
}
document.addEventListener('pointerdown', (event) => {
  if (!event.target.closest('[role="menubar"]')) closeMenus();
});

const commands = {
  open: () => openInput.click(),
  save: () => send({ type: 'save' }),
  'export-wav': () => send({ type: 'exportRecording', format: 'wav' }),
  'export-midi': () => send({ type: 'exportRecording', format: 'midi' }),
  type1: () => send({ type: 'menu', id: ids.menuType1 }),
  type2: () => send({ type: 'menu', id: ids.menuType2 }),
  about: () => send({ type: 'menu', id: ids.menuAbout }),
  help: () => send({ type: 'menu', id: ids.menuHelp }),
};
for (const item of document.querySelectorAll('[data-command]')) {
  item.addEventListener('click', () => {
    closeMenus();
    // Focus goes back to the menu's title, as it does when a desktop menu closes.
    document.getElementById(item.closest('[role="menu"]').getAttribute('aria-labelledby'))
      .focus();
    commands[item.dataset.command]();
  });
}

// ---- Files ----

// Open: the chosen file's bytes go to the worklet, which answers the program's open dialog
// with them. A file larger than the program's memory can take is refused here.
openInput.addEventListener('change', async () => {
  const [file] = openInput.files;
  openInput.value = '';
  if (!file) {
    send({ type: 'open', bytes: null });
  } else if (file.size > maxOpenFileBytes) {
    send({ type: 'open', bytes: null }); // as a cancelled dialog: the recording stays
    showMessage('Informer', `"${file.name}" is not opened: it is larger than the `
      + `${maxOpenFileBytes / (1024 * 1024)} MiB that DoodleChorus can open in a page.`);
  } else {
    const bytes = await file.arrayBuffer();
    send({ type: 'open', bytes }, [bytes]);
  }
});
openInput.addEventListener('cancel', () => send({ type: 'open', bytes: null }));

function download(bytes, name, mimeType) {
  const url = URL.createObjectURL(new Blob([bytes], { type: mimeType }));
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60_000);
}

// Export: the worklet sends a copy of the recording and the controls in force; this module
// renders it as the render tool does.
function exportRecording({ format, bytes, playSpeed, voiceType, scaleMode, rootIndex }) {
  const inPath = '/export-in.sav';
  const outPath = format === 'wav' ? '/export-out.wav' : '/export-out.mid';
  files.FS.writeFile(inPath, new Uint8Array(bytes));
  const exporter = format === 'wav' ? files._dc_export_wav : files._dc_export_midi;
  const result = withCString(files, inPath, (input) => withCString(files, outPath,
    (output) => exporter(input, output, playSpeed, voiceType, scaleMode, rootIndex)));
  files.FS.unlink(inPath);
  if (result !== 0) {
    showMessage('Informer', format === 'wav'
      ? 'Your DoodleChorus sound is not exported!'
      : 'Your DoodleChorus MIDI file is not exported!');
    return;
  }
  const output = files.FS.readFile(outPath);
  files.FS.unlink(outPath);
  if (format === 'wav') download(output, 'DoodleChorus.wav', 'audio/wav');
  else download(output, 'DoodleChorus.mid', 'audio/midi');
}

// ---- Message box and Help ----

function showMessage(title, text) {
  $('#message-title').textContent = title;
  $('#message-text').textContent = text;
  const box = $('#message');
  if (!box.open) box.showModal();
}

function showHelp(text) {
  $('#help-text').value = text;
  const box = $('#help');
  if (!box.open) box.showModal();
  $('#help-text').scrollTop = 0;
}

// For embedding pages and tests: the worklet's rendered samples (frame of the first sample,
// Float32Array) and the program's view calls, each stamped with the sample clock's frame.
window.doodleChorus = {
  ready: true,
  sampleRate: kSampleRate,
  module: files,
  tap(listener) {
    tapListeners.add(listener);
    if (tapListeners.size === 1) send({ type: 'tap', on: true });
    return () => {
      tapListeners.delete(listener);
      if (tapListeners.size === 0) send({ type: 'tap', on: false });
    };
  },
  observe(listener) {
    viewListeners.add(listener);
    return () => viewListeners.delete(listener);
  },
};
