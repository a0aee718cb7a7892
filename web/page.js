// The DoodleChorus page: the desktop window's controls as HTML. The program itself (its logic,
// voice and play clock) runs in the audio worklet (worklet.js); this script turns the user's
// actions into the program's events, shows what the program tells it, does the file work of
// the exports with a second instance of the same WebAssembly module, and keeps the drawing
// in the browser and in links (keep.js).
import createDoodleChorus from './doodlechorus.js';
import { withCString } from './cstring.js';
import { Picture } from './picture.js';
import { vowelName } from './vowels.js';
import {
  KeepError, isLinkFragment, keepInBrowser, keptInBrowser, linkFragment, pack, readLinkFragment,
} from './keep.js';

// The drawing area's pixels and colours, as the desktop's drawing area has them.
const kAreaWidthPx = 240;
const kAreaHeightPx = 200;
const kColours = {
  background: 'rgb(255, 255, 255)',
  ink: 'rgb(0, 0, 255)',
  stripLine: 'rgb(192, 192, 192)',
  octaveLine: 'rgb(128, 0, 0)',
};

const kSampleRate = 44100;
const kBytesPerMiB = 1024 * 1024;

const $ = (selector) => document.querySelector(selector);
const area = $('#drawing-area');
const prompt = $('#prompt');
const recordButton = $('#record');
const playButton = $('#play');
const speedSlider = $('#speed');
const speedText = $('#speed-text');
const gridBox = $('#grid');
const rootList = $('#root');
const noteLabel = $('#note');
const openInput = $('#open-file');
const scaleOptions = [...document.querySelectorAll('input[name="scale"]')];

// ---- The module on the main thread: tables and the exports' file work ----

const wasmModule = await compileModule();
const files = await createDoodleChorus({
  instantiateWasm(imports, receive) {
    WebAssembly.instantiate(wasmModule, imports).then((instance) => receive(instance));
    return {};
  },
});
const maxOpenFileBytes = files._dc_max_open_file_bytes();
// The program's ids and ranges, by name, as the module defines them.
const ids = JSON.parse(files.UTF8ToString(files._dc_ids_json()));
// The scale options in the order of the program's scale modes (0 to 3).
const scaleOptionNames = ['unrestrictedOption', 'majorOption', 'minorOption', 'pentatonicOption'];
const kUnrestricted = 0;
const limits = {
  noteCount: files._dc_note_name_count(),
  minSpeedTenths: ids.minSpeedTenths,
  maxSpeedTenths: ids.maxSpeedTenths,
  maxRecordingBytes: maxOpenFileBytes,
};

async function compileModule() {
  const response = fetch('doodlechorus.wasm');
  try {
    return await WebAssembly.compileStreaming(response);
  } catch {
    // A server that does not send application/wasm.
    return WebAssembly.compile(await (await fetch('doodlechorus.wasm')).arrayBuffer());
  }
}

function gridLines(scaleMode) {
  return JSON.parse(files.UTF8ToString(files._dc_grid_lines_json(scaleMode)));
}

// The dots a recording shows when it is opened, as x, y pairs.
function inkOfRecording(bytes) {
  const path = '/ink-of.sav';
  files.FS.writeFile(path, bytes);
  const count = withCString(files, path, (pointer) => files._dc_recording_ink(pointer));
  files.FS.unlink(path);
  const at = files._dc_recording_ink_data() >> 2;
  return files.HEAP32.slice(at, at + 2 * count);
}

// ---- What the controls show: the program's states as it reported them ----

const shown = {
  scaleMode: kUnrestricted,
  rootIndex: 0,
  voiceType: 1,
  speedTenths: ids.minSpeedTenths,
  grid: false,
  recordingLines: 0,
};

function settingsShown() {
  const { scaleMode, rootIndex, voiceType, speedTenths, grid } = shown;
  return { scaleMode, rootIndex, voiceType, speedTenths, grid };
}

// ---- The drawing area and its axes ----

const picture = new Picture(area, {
  widthPx: kAreaWidthPx,
  heightPx: kAreaHeightPx,
  inkDotRadiusPx: ids.inkDotRadiusPx,
  colours: kColours,
});
picture.repaint({ withGrid: false, lightX: [], darkX: [], inkXY: [] });

// The vowel each band of the voice type starts on, where the vowel map reaches it.
function showVowels(voiceType) {
  const anchors = JSON.parse(files.UTF8ToString(files._dc_vowel_anchors_json(voiceType)));
  const list = $('#vowel-labels');
  list.replaceChildren(...anchors.map(({ y, f1, f2 }) => {
    const item = document.createElement('li');
    item.textContent = vowelName(f1, f2);
    item.style.top = `${(100 * y) / kAreaHeightPx}%`;
    return item;
  }));
  $('#vowels-text').textContent = `Vowels from top to bottom: ${
    [...list.children].map((item) => item.textContent).join(', ')}.`;
}
showVowels(shown.voiceType);

// The prompt goes at the first press, or when the area shows a drawing.
function updatePrompt() {
  if (picture.hasDots()) prompt.hidden = true;
}

// ---- The audio worklet, where the program runs ----

let audioContext = null;
let programNode = null;
const waiting = []; // events sent before the worklet existed, in order
const viewListeners = new Set();
const tapListeners = new Set();
const snapshotWaiters = []; // resolvers of the snapshots asked for, in order

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
      if (message.repaint) picture.repaint(message);
      else picture.drawGridOver(message);
      updatePrompt();
      break;
    case 'dot':
      picture.dot(message.x, message.y);
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
      saveAsked = false;
      download(message.bytes, 'DoodleChorus.sav', 'text/plain');
      break;
    case 'recordingCopy':
      exportRecording(message);
      break;
    case 'snapshot':
      snapshotWaiters.shift()(message);
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
      updateHints();
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
      shown.grid = value === 1;
      break;
    case 'gridEnabled':
      gridBox.disabled = value !== 1;
      break;
    case 'rootEnabled':
      rootList.disabled = value !== 1;
      break;
    case 'voiceType':
      showVoiceType(value);
      break;
    default:
      break;
  }
}

function showVoiceType(voiceType) {
  shown.voiceType = voiceType;
  for (const item of document.querySelectorAll('[role="menuitemradio"]')) {
    item.setAttribute('aria-checked', String(item.dataset.command === `type${voiceType}`));
  }
  showVowels(voiceType);
}

// The page's own hints beside the program's controls: the states the program keeps as the
// desktop has them, said in words.
function updateHints() {
  const recording = recordButton.getAttribute('aria-pressed') === 'true';
  $('#play-hint').hidden = recording || shown.recordingLines > 0;
  $('#scale-hint').hidden = shown.scaleMode !== kUnrestricted;
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
  prompt.hidden = true;
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
  // The stroke's ink, and its lines when recording.
  keepSoon({ recording: recordButton.getAttribute('aria-pressed') === 'true' });
}
area.addEventListener('pointerup', endStroke);
area.addEventListener('pointercancel', endStroke);
area.addEventListener('lostpointercapture', endStroke);

// ---- The controls ----

$('#clear').addEventListener('click', () => {
  send({ type: 'control', id: ids.clearButton });
  keepSoon();
});
recordButton.addEventListener('click', () => {
  const down = recordButton.getAttribute('aria-pressed') !== 'true';
  recordButton.setAttribute('aria-pressed', String(down)); // the toggle moves as it is clicked
  updateHints();
  send({ type: 'record', down });
  keepSoon({ recording: true });
});
playButton.addEventListener('click', () => {
  const down = playButton.getAttribute('aria-pressed') !== 'true';
  playButton.setAttribute('aria-pressed', String(down));
  send({ type: 'play', down });
});
function speedCaption(tenths) {
  return `${(tenths / ids.tenthsPerSpeed).toFixed(ids.speedDecimals)}${ids.speedSuffix}`;
}
function showSpeed(tenths) {
  speedSlider.value = String(tenths);
  speedText.textContent = speedCaption(tenths);
  speedSlider.setAttribute('aria-valuetext', speedCaption(tenths));
  shown.speedTenths = tenths;
}
speedSlider.addEventListener('input', () => {
  const tenths = Number(speedSlider.value);
  showSpeed(tenths);
  send({ type: 'speed', tenths });
  keepSoon();
});
gridBox.addEventListener('change', () => {
  send({ type: 'grid', ticked: gridBox.checked });
  keepSoon();
});
speedSlider.min = String(ids.minSpeedTenths);
speedSlider.max = String(ids.maxSpeedTenths);
function showScale(scaleMode) {
  shown.scaleMode = scaleMode;
  scaleOptions[scaleMode].checked = true;
  updateHints();
}
for (const [scaleMode, option] of scaleOptions.entries()) {
  option.value = String(ids[option.dataset.control]);
  option.addEventListener('change', () => {
    if (!option.checked) return;
    showScale(scaleMode);
    send({ type: 'control', id: Number(option.value) });
    keepSoon();
  });
}
for (let i = 0; i < limits.noteCount; i++) {
  rootList.add(new Option(files.UTF8ToString(files._dc_note_name(i)), String(i)));
}
rootList.addEventListener('change', () => {
  shown.rootIndex = rootList.selectedIndex;
  send({ type: 'root', index: rootList.selectedIndex });
  keepSoon();
});

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
// A menu opens below its title and moves left as far as it must to stay on the screen.
function placeMenu(menu) {
  menu.style.left = '';
  const kMarginPx = 4;
  const overflowPx = menu.getBoundingClientRect().right - (document.documentElement.clientWidth
    - kMarginPx);
  if (overflowPx > 0) menu.style.left = `${-overflowPx}px`;
}
function openMenu(title, focusItem = 0) {
  closeMenus(title);
  title.setAttribute('aria-expanded', 'true');
  const menu = menuOf(title);
  menu.hidden = false;
  placeMenu(menu);
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

let saveAsked = false; // the next message answers a Save
const commands = {
  open: () => openInput.click(),
  save: () => {
    saveAsked = true;
    send({ type: 'save' });
  },
  'copy-link': () => copyLink(),
  'export-wav': () => send({ type: 'exportRecording', format: 'wav' }),
  'export-midi': () => send({ type: 'exportRecording', format: 'midi' }),
  type1: () => chooseVoiceType(1),
  type2: () => chooseVoiceType(2),
  about: () => send({ type: 'menu', id: ids.menuAbout }),
  help: () => send({ type: 'menu', id: ids.menuHelp }),
};
function chooseVoiceType(voiceType) {
  send({ type: 'menu', id: voiceType === 1 ? ids.menuType1 : ids.menuType2 });
  keepSoon();
}
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
      + `${maxOpenFileBytes / kBytesPerMiB} MiB that DoodleChorus can open in a page.`);
  } else {
    const bytes = await file.arrayBuffer();
    send({ type: 'open', bytes }, [bytes]);
  }
  keepSoon({ recording: true });
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
  // The program's message stays as it is; after a refused Save of an empty recording the page
  // says why beside it.
  const hint = saveAsked && shown.recordingLines === 0
    ? 'There is nothing recorded to save yet: press record, draw, then press it again.' : '';
  saveAsked = false;
  $('#message-title').textContent = title;
  $('#message-text').textContent = text;
  $('#message-hint').textContent = hint;
  $('#message-hint').hidden = hint === '';
  const box = $('#message');
  if (!box.open) box.showModal();
}

function showHelp(text) {
  $('#help-text').value = text;
  const box = $('#help');
  if (!box.open) box.showModal();
  $('#help-text').scrollTop = 0;
}

// ---- Keeping the drawing: in this browser, and in links ----

// The program's recording (when withRecording), ink and controls, as it has them now.
function snapshot(withRecording) {
  return new Promise((resolve) => {
    snapshotWaiters.push(resolve);
    send({ type: 'snapshot', withRecording });
  });
}

function settingsOfSnapshot({ playSpeed, voiceType, scaleMode, rootIndex, gridChecked }) {
  return {
    scaleMode,
    rootIndex,
    voiceType,
    speedTenths: Math.round(playSpeed * ids.tenthsPerSpeed),
    grid: gridChecked === 1,
  };
}

let keptRecording = new Uint8Array(0); // the recording last kept
let packedRecording = ''; // and packed for storage and links
let keepChain = Promise.resolve(); // one keep after the other, in the order asked
let recordingNotKeptSaid = false;

// Keeps the drawing after a change; with the recording when it may have changed.
function keepSoon({ recording = false } = {}) {
  const taken = snapshot(recording);
  keepChain = keepChain.then(async () => {
    const now = await taken;
    if (now.recording !== null) {
      keptRecording = new Uint8Array(now.recording);
      packedRecording = await pack(keptRecording);
      shown.recordingLines = lineCount(keptRecording);
      recordingNotKeptSaid = false;
      updateHints();
    }
    const result = await keepInBrowser({
      packedRecording,
      inkXY: now.ink,
      settings: settingsOfSnapshot(now),
    });
    if (result === 'settingsOnly' && !recordingNotKeptSaid) {
      recordingNotKeptSaid = true;
      showMessage('DoodleChorus', `This recording (${(keptRecording.length / kBytesPerMiB)
        .toFixed(1)} MiB) is too large to be kept in this browser. It plays, but it will be `
        + 'gone after a reload; Save keeps it in a file.');
    }
  });
}

function lineCount(savBytes) {
  let lines = 0;
  for (const byte of savBytes) if (byte === 0x0a) lines++;
  return lines;
}

// Shows a kept or linked drawing at once, and hands it to the program, which takes it when it
// starts: its recording as an opened file, its controls as the user's choices, its ink.
// fromLink: the recording replaces the program's whatever it is. inkXY null: the program shows
// the recording's dots, as Open does (shownInk, to show them before it runs).
function restore({ recording, packed, inkXY, settings, shownInk = null }, fromLink) {
  const { scaleMode, rootIndex, voiceType, speedTenths, grid } = settings;
  if (voiceType !== shown.voiceType) {
    send({ type: 'menu', id: voiceType === 1 ? ids.menuType1 : ids.menuType2 });
    showVoiceType(voiceType);
  }
  if (speedTenths !== shown.speedTenths) {
    send({ type: 'speed', tenths: speedTenths });
    showSpeed(speedTenths);
  }
  if (recording !== null && (fromLink || recording.length > 0)) {
    const bytes = recording.slice().buffer;
    send({ type: 'open', bytes }, [bytes]);
    keptRecording = recording;
    packedRecording = packed;
    shown.recordingLines = lineCount(recording);
    gridBox.checked = false;
    shown.grid = false;
  }
  if (scaleMode !== shown.scaleMode) {
    send({ type: 'control', id: ids[scaleOptionNames[scaleMode]] });
    showScale(scaleMode);
    if (scaleMode !== kUnrestricted) gridBox.disabled = false;
    rootList.disabled = scaleMode === kUnrestricted;
  }
  if (rootIndex !== shown.rootIndex) {
    send({ type: 'root', index: rootIndex });
    rootList.selectedIndex = rootIndex;
    shown.rootIndex = rootIndex;
  }
  const ink = inkXY ?? shownInk ?? new Int32Array(0);
  if (inkXY !== null) {
    const copy = inkXY.slice();
    send({ type: 'restoreInk', inkXY: copy }, [copy.buffer]);
  }
  const withGrid = grid && scaleMode !== kUnrestricted;
  if (withGrid) {
    send({ type: 'grid', ticked: true });
    gridBox.checked = true;
    shown.grid = true;
  }
  picture.repaint({ withGrid, ...(withGrid ? gridLines(scaleMode) : {}), inkXY: ink });
  updatePrompt();
  updateHints();
}

function linkRefusal(error) {
  if (error instanceof KeepError && error.reason === 'tooLarge') {
    return `This link holds a recording larger than the ${maxOpenFileBytes / kBytesPerMiB} MiB `
      + 'that DoodleChorus can open in a page, so it is not opened. Your drawing stays as it was.';
  }
  return 'This link does not hold a recording DoodleChorus can read: it may have been cut '
    + 'short when it was copied. Your drawing stays as it was.';
}

// A link's fragment is read once, then taken off the address, so that a reload shows the
// drawing as it is by then (kept in the browser) and not the link's again.
async function takeLink() {
  const fragment = location.hash.slice(1);
  if (!isLinkFragment(fragment)) return null;
  history.replaceState(null, '', location.pathname + location.search);
  try {
    return await readLinkFragment(fragment, limits);
  } catch (error) {
    showMessage('DoodleChorus', linkRefusal(error));
    return null;
  }
}

async function copyLink() {
  const now = await snapshot(true);
  const recording = new Uint8Array(now.recording);
  const url = new URL(location.href);
  url.hash = linkFragment(await pack(recording), settingsOfSnapshot(now));
  const link = url.href;
  $('#link-url').value = link;
  const holds = recording.length > 0 ? 'Whoever opens it hears your recording, with your '
    + 'settings.' : 'Nothing is recorded yet: it holds your settings only.';
  let status = `The link is on the clipboard. ${holds}`;
  try {
    await navigator.clipboard.writeText(link);
  } catch {
    status = `Copy the link below. ${holds}`;
  }
  $('#link-status').textContent = status;
  const shareButton = $('#link-share');
  shareButton.hidden = typeof navigator.share !== 'function';
  shareButton.onclick = () => navigator.share({ title: 'DoodleChorus', url: link })
    .catch(() => {}); // the person closed the share sheet
  const box = $('#link');
  if (!box.open) box.showModal();
  $('#link-url').select();
}
$('#link-copy').addEventListener('click', async () => {
  const field = $('#link-url');
  field.select();
  try {
    await navigator.clipboard.writeText(field.value);
    $('#link-status').textContent = 'The link is on the clipboard.';
  } catch {
    $('#link-status').textContent = 'The browser does not let the page copy: the link is '
      + 'selected, copy it with the keyboard or the browser\'s menu.';
  }
});

// A link opened in a running page (pasted into the address bar): the same as a new visit.
async function openLink() {
  const linked = await takeLink();
  if (linked === null) return false;
  const { recording, packed, settings } = linked;
  const inkXY = inkOfRecording(recording);
  restore({ recording, packed, inkXY: null, settings, shownInk: inkXY }, true);
  // Kept at once, as the program will have it: the link's recording and its dots.
  keepChain = keepChain.then(() => keepInBrowser({ packedRecording: packed, inkXY, settings }));
  return true;
}
window.addEventListener('hashchange', openLink);

if (!await openLink()) {
  const kept = await keptInBrowser(limits);
  if (kept !== null) restore(kept, false);
}
updateHints();

// ---- Offline: the service worker keeps the page's files ----

if ('serviceWorker' in navigator) {
  // A page that a worker served already is being updated when another worker takes over: it
  // loads the new build whole, with the drawing it has kept.
  const updating = navigator.serviceWorker.controller !== null;
  navigator.serviceWorker.addEventListener('controllerchange', () => {
    if (updating) keepChain.then(() => location.reload());
  });
  // Without a worker (a page opened from a file, a browser that refuses it) the page works
  // all the same, only not offline: nothing to tell the person. A page served by a worker asks
  // for a newer build at every visit, which fails quietly offline.
  navigator.serviceWorker.register('sw.js')
    .then((registration) => (updating ? registration.update() : registration))
    .catch(() => {});
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
