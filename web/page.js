// The DoodleChorus page: the desktop window's controls as HTML. The program itself (its logic,
// voice and play clock) runs in the audio worklet (worklet.js); this script turns the user's
// actions into the program's events, shows what the program tells it, has its worker
// (worker.js) read opened files and make the exports, and keeps the drawing in the browser and
// in links (keep.js). The module on this thread gives the tables: ids, captions, messages.
import createDoodleChorus from './doodlechorus.js';
import { Picture } from './picture.js';
import { setUpMidi } from './midi.js';
import {
  KeepError, isLinkFragment, keepInBrowser, keptInBrowser, linkFragment, pack, readLinkFragment,
} from './keep.js';

const kSampleRate = 44100;
// An export shows its progress once it has run this long, ms.
const kExportProgressAfterMs = 300;
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

// ---- The module on the main thread: the program's tables ----

const wasmModule = await compileModule();
const files = await createDoodleChorus({
  instantiateWasm(imports, receive) {
    WebAssembly.instantiate(wasmModule, imports).then((instance) => receive(instance));
    return {};
  },
});
// The program's ids, ranges, captions, messages and kinds of files, by name, as the module
// defines them.
const ids = JSON.parse(files.UTF8ToString(files._dc_tables_json()));
const maxOpenFileBytes = ids.maxOpenFileBytes;
const kAreaWidthPx = ids.areaWidthPx;
const kAreaHeightPx = ids.areaHeightPx;
// The scale options in the order of the program's scale modes (0 to 3).
const scaleOptionNames = ['unrestrictedOption', 'majorOption', 'minorOption', 'pentatonicOption'];
const kUnrestricted = 0;
const limits = {
  noteCount: ids.noteNames.length,
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

// The program's whole picture of a drawing (its grid when withGrid, its ink as x, y pairs) as
// paint steps: a kept drawing is shown with it before the program runs.
function paintOf(withGrid, scaleMode, inkXY) {
  const pointer = files._malloc(Math.max(inkXY.byteLength, 1));
  files.HEAP32.set(inkXY, pointer >> 2);
  const at = files._dc_canvas_paint(withGrid ? 1 : 0, scaleMode, pointer, inkXY.length / 2) >> 2;
  files._free(pointer);
  return files.HEAP32.slice(at, at + files._dc_canvas_paint_size());
}

// Menu captions as the program has them; the page's own items keep theirs.
const kMenuItemNames = {
  open: 'menuOpen',
  save: 'menuSave',
  'export-wav': 'menuExportWav',
  'export-midi': 'menuExportMidi',
  type1: 'menuType1',
  type2: 'menuType2',
  about: 'menuAbout',
  help: 'menuHelp',
};
{
  const captions = new Map(ids.menus.flatMap((menu) => menu.items)
    .map((item) => [item.name, item.caption]));
  for (const item of document.querySelectorAll('[data-command]')) {
    const caption = captions.get(kMenuItemNames[item.dataset.command]);
    if (caption !== undefined) item.textContent = caption;
  }
  const titles = document.querySelectorAll(
    '[role="menubar"] > li > [role="menuitem"]:not([data-page-menu])');
  for (const [index, menu] of ids.menus.entries()) titles[index].textContent = menu.title;
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
  kinds: { fill: ids.paintFill, columns: ids.paintColumns, dots: ids.paintDots },
});
picture.paint(paintOf(false, kUnrestricted, new Int32Array(0)));

// The pitch axis in the program's words.
$('#pitch-low').textContent = ids.pitchLow;
$('#pitch-title').textContent = ids.pitchTitle;
$('#pitch-high').textContent = ids.pitchHigh;

// The vowel each band of the voice type starts on, where the vowel map reaches it, named by
// the program as the nearest vowel of spoken English.
function showVowels(voiceType) {
  const labels = JSON.parse(files.UTF8ToString(files._dc_vowel_labels_json(voiceType)));
  const list = $('#vowel-labels');
  list.replaceChildren(...labels.map(({ y, name }) => {
    const item = document.createElement('li');
    item.textContent = name;
    item.style.top = `${(100 * y) / kAreaHeightPx}%`;
    return item;
  }));
  $('#vowels-text').textContent = `Vowels from top to bottom: ${
    [...list.children].map((item) => item.textContent).join(', ')}.`;
}
showVowels(shown.voiceType);

// The prompt goes at the first press, or when the area shows a drawing. Until the area listens
// (the end of the start-up below) it says the page is getting ready, not "press": on a slow
// machine and network the page's files arrive seconds after its text, and a press invited
// before then would be lost.
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
      processorOptions: { wasmModule },
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
    case 'paint':
      for (const painted of viewsOfPaint(picture.paint(message.steps), message.frame)) {
        for (const listener of viewListeners) listener(painted);
      }
      updatePrompt();
      return;
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
    case 'store':
      saveAsked = false;
      download(message.bytes, message.name);
      break;
    case 'export':
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
    case 'midi':
      midi.send(message.bytes, heardAtMs(message.contextFrame));
      return;
    case 'tap':
      for (const listener of tapListeners) listener(message.frame, message.samples, message.sentMs);
      return;
    default:
      break;
  }
  for (const listener of viewListeners) listener(message);
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
// desktop has them, said in words. Whoever opened a shared recording is invited to play it in
// the same place, until they play, record, draw or open a file.
const playHint = $('#play-hint');
const kNothingRecordedHint = playHint.textContent;
const kInviteToPlayHint = 'Press play to hear it.';
let invitedToPlay = false;
function updateHints() {
  const recording = recordButton.getAttribute('aria-pressed') === 'true';
  playHint.textContent = invitedToPlay ? kInviteToPlayHint : kNothingRecordedHint;
  playHint.classList.toggle('invite', invitedToPlay);
  playHint.hidden = !invitedToPlay && (recording || shown.recordingLines > 0);
  $('#scale-hint').hidden = shown.scaleMode !== kUnrestricted;
}

// ---- MIDI: a keyboard plays the voice, the drawing plays a synthesizer ----

// performance.now()'s time minus the context's output time, ms, as getOutputTimestamp pairs
// them. A reading jitters by a fraction of a ms, and now and then by 2 ms (in headless
// chromium) while the audio thread catches up; MIDI keeps to the sample clock instead: a
// reading moves the estimate by a small share (the two clocks drift apart by far less than a
// ms a second), and only a jump larger than kClockJumpMs (the sound restarted, the device
// changed) is taken at once.
const kClockJumpMs = 5;
const kClockFollowShare = 0.02;
let clockOffsetMs = null;
function outputClockOffsetMs() {
  const { contextTime, performanceTime } = audioContext.getOutputTimestamp();
  const readingMs = performanceTime - contextTime * 1000;
  if (clockOffsetMs === null || Math.abs(readingMs - clockOffsetMs) > kClockJumpMs) {
    clockOffsetMs = readingMs;
  } else {
    clockOffsetMs += (readingMs - clockOffsetMs) * kClockFollowShare;
  }
  return clockOffsetMs;
}

// The context frame (context time × sample rate) the audio thread renders for a MIDI input
// event of performance time `ms`: the frame heard then, plus the output's latency (which the
// rendering runs ahead by), plus the time for the message to reach the audio thread, which
// renders a callback's quanta in one go: a callback (baseLatency) and a render quantum, as a
// desktop's MIDI waits one period. (Without it, messages came up to 453 frames late in
// headless chromium.) The worklet hands a message that comes later still over at once.
// -Infinity before the sound runs.
const kMidiInSlackFrames = 128;
function inputFrameAt(ms) {
  if (!audioContext || audioContext.state !== 'running') return -Infinity;
  const heardSeconds = (ms - outputClockOffsetMs()) / 1000;
  return (heardSeconds + audioContext.outputLatency + audioContext.baseLatency) * kSampleRate
    + kMidiInSlackFrames;
}

// The performance time, ms, at which context frame `frame` is heard: a MIDI output message goes
// out with the sound it belongs to.
function heardAtMs(frame) {
  return (frame / kSampleRate) * 1000 + outputClockOffsetMs();
}

const midi = setUpMidi({
  item: $('#midi-item'),
  dialog: $('#midi'),
  status: $('#midi-status'),
  ports: $('#midi-ports'),
  inputList: $('#midi-input'),
  outputList: $('#midi-output'),
  onInput(triples, timeStampMs) {
    const messages = Uint8Array.from(triples);
    send({ type: 'midiIn', messages, contextFrame: inputFrameAt(timeStampMs) },
      [messages.buffer]);
  },
  onOutputChosen(open) {
    send({ type: 'midiOut', open });
  },
});

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
  invitedToPlay = false;
  updateHints();
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
  invitedToPlay = false;
  const down = recordButton.getAttribute('aria-pressed') !== 'true';
  recordButton.setAttribute('aria-pressed', String(down)); // the toggle moves as it is clicked
  updateHints();
  send({ type: 'record', down });
  keepSoon({ recording: true });
});
playButton.addEventListener('click', () => {
  if (invitedToPlay) {
    invitedToPlay = false;
    updateHints();
  }
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
for (const [index, name] of ids.noteNames.entries()) rootList.add(new Option(name, String(index)));
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
let openHint = ''; // why the file being opened is refused, said beside the program's message
const commands = {
  open: () => openInput.click(),
  save: () => {
    saveAsked = true;
    send({ type: 'menu', id: ids.menuSave });
  },
  'copy-link': () => copyLink(),
  'export-wav': () => send({ type: 'menu', id: ids.menuExportWav }),
  'export-midi': () => send({ type: 'menu', id: ids.menuExportMidi }),
  type1: () => chooseVoiceType(1),
  type2: () => chooseVoiceType(2),
  midi: () => midi.choose(),
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

// The worker: it reads opened recordings and makes the exports, one job after the other. An
// export that runs long shows its progress and can be cancelled, which ends the worker: a new
// one takes the next job.
let worker = null;
let nextJobId = 1;
const jobs = new Map(); // id: { resolve, onProgress }
function startWorker() {
  worker = new Worker('worker.js', { type: 'module' });
  worker.postMessage({ type: 'module', wasmModule });
  worker.onmessage = (event) => {
    const { id, type } = event.data;
    const job = jobs.get(id);
    if (!job) return;
    if (type === 'progress') {
      job.onProgress?.(event.data.done / event.data.total);
      return;
    }
    jobs.delete(id);
    job.resolve(event.data);
  };
}
startWorker();
function workerJob(message, transfer, onProgress = null) {
  return new Promise((resolve) => {
    const id = nextJobId++;
    jobs.set(id, { resolve, onProgress });
    worker.postMessage({ id, ...message }, transfer);
  });
}
function cancelJobs() {
  worker.terminate();
  for (const job of jobs.values()) job.resolve({ cancelled: true });
  jobs.clear();
  startWorker();
}

// A recording's bytes read into the parts the program takes (off the audio thread), with the
// dots it shows when it is opened as x, y pairs; null when its lines do not fit in memory.
async function readRecording(bytes) {
  const copy = bytes.slice().buffer;
  const parsed = await workerJob({ type: 'parse', bytes: copy }, [copy]);
  if (parsed.tooLarge || parsed.cancelled) return null;
  return { ...parsed, ink: new Int32Array(parsed.ink) };
}

// The open dialog's answer for the program: a recording read, or why there is none.
function sendOpen(read) {
  if (read === null) {
    send({ type: 'open', answer: 'tooLarge' });
    return;
  }
  const { lines, text, points, released } = read;
  send({ type: 'open', answer: 'recording', lines, text, points, released },
    [text, points, released]);
}

// Open: the chosen file is read by the worker and handed to the program, which answers its open
// dialog with it. A file larger than the program's memory can take is refused here, as one
// whose lines do not fit.
openInput.addEventListener('change', async () => {
  invitedToPlay = false;
  const [file] = openInput.files;
  openInput.value = '';
  if (!file) {
    send({ type: 'open', answer: 'cancel' });
  } else if (file.size > maxOpenFileBytes) {
    openHint = `"${file.name}" is larger than the ${maxOpenFileBytes / kBytesPerMiB} MiB that `
      + 'DoodleChorus can open in a page.';
    send({ type: 'open', answer: 'tooLarge' });
  } else {
    let bytes = null;
    try {
      bytes = new Uint8Array(await file.arrayBuffer());
    } catch {
      send({ type: 'open', answer: 'unreadable' });
      return;
    }
    sendOpen(await readRecording(bytes));
  }
  keepSoon({ recording: true });
});
openInput.addEventListener('cancel', () => send({ type: 'open', answer: 'cancel' }));

const kMimeTypes = { '.sav': 'text/plain', '.wav': 'audio/wav', '.mid': 'audio/midi' };
// bytes: an ArrayBuffer, a typed array or a Blob (which the new Blob refers to, uncopied).
function download(bytes, name) {
  const extension = name.slice(name.lastIndexOf('.')).toLowerCase();
  const url = URL.createObjectURL(new Blob([bytes], { type: kMimeTypes[extension] }));
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60_000);
}

// Export: the program hands over its recording's lines and the controls in force; the worker
// renders them as the render tool does, and the file is offered as a download.
async function exportRecording({ name, kind, text, settings }) {
  const box = $('#export');
  const bar = $('#export-progress');
  bar.value = 0;
  const shownSoon = setTimeout(() => {
    if (!box.open) box.showModal();
  }, kExportProgressAfterMs);
  // The dialog closed by the person, with Cancel or Escape, ends the export: no file is offered
  // after they turned it down. Its close counts, not its cancel event, which browsers skip for
  // an Escape without a recent press or key.
  let finished = false;
  const closedByPerson = () => {
    if (!finished) cancelJobs();
  };
  box.addEventListener('close', closedByPerson, { once: true });
  const result = await workerJob({ type: 'export', kind, text: text.buffer, settings },
    [text.buffer], (fraction) => {
      bar.value = fraction;
    });
  finished = true;
  box.removeEventListener('close', closedByPerson);
  clearTimeout(shownSoon);
  if (box.open) box.close();
  if (result.cancelled) return;
  if (result.failed) {
    showMessage(ids.informerTitle, ids.notSavedText);
    return;
  }
  download(result.file, name);
}

// ---- Message box and Help ----

function showMessage(title, text) {
  // The program's message stays as it is; after a refused Save of an empty recording the page
  // says why beside it.
  let hint = saveAsked && shown.recordingLines === 0
    ? 'There is nothing recorded to save yet: press record, draw, then press it again.' : '';
  if (text === ids.notOpenedText && openHint !== '') hint = openHint;
  saveAsked = false;
  openHint = '';
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

// A link's drawing opened over a different drawing this browser keeps is not kept: the kept one
// stays as it was, for a reload and for the other tabs, until the person changes the link's
// drawing, which makes it theirs. Until then the link stays in the address, so that a reload
// asks again instead of showing the kept drawing without a word.
let linkShownUnkept = false;
function forgetLink() {
  linkShownUnkept = false;
  history.replaceState(null, '', location.pathname + location.search);
}

// Keeps the drawing after a change; with the recording when it may have changed.
function keepSoon({ recording = false } = {}) {
  if (linkShownUnkept) forgetLink();
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
  for (let at = savBytes.indexOf(0x0a); at !== -1; at = savBytes.indexOf(0x0a, at + 1)) lines++;
  return lines;
}

// Shows a kept or linked drawing at once, and hands it to the program, which takes it when it
// starts: its recording as an opened file, its controls as the user's choices, its ink.
// fromLink: the recording replaces the program's whatever it is. inkXY null: the program shows
// the recording's dots, as Open does. The recording is read by the worker first; what was read
// is returned (null when no recording was opened). alreadyRead: readRecording's answer for this
// recording, when the caller has it.
async function restore({ recording, packed, inkXY, settings }, fromLink, alreadyRead = undefined) {
  const opening = recording !== null && (fromLink || recording.length > 0);
  let read = null;
  if (opening) read = alreadyRead === undefined ? await readRecording(recording) : alreadyRead;
  const { scaleMode, rootIndex, voiceType, speedTenths, grid } = settings;
  if (voiceType !== shown.voiceType) {
    send({ type: 'menu', id: voiceType === 1 ? ids.menuType1 : ids.menuType2 });
    showVoiceType(voiceType);
  }
  if (speedTenths !== shown.speedTenths) {
    send({ type: 'speed', tenths: speedTenths });
    showSpeed(speedTenths);
  }
  if (opening) {
    sendOpen(read);
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
  const ink = inkXY ?? read?.ink ?? new Int32Array(0);
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
  picture.paint(paintOf(withGrid, scaleMode, ink));
  updatePrompt();
  updateHints();
  return read;
}

function linkRefusal(error) {
  if (error instanceof KeepError && error.reason === 'tooLarge') {
    return `This link holds a recording larger than the ${maxOpenFileBytes / kBytesPerMiB} MiB `
      + 'that DoodleChorus can open in a page, so it is not opened. Your drawing stays as it was.';
  }
  return 'This link does not hold a recording DoodleChorus can read: it may have been cut '
    + 'short when it was copied. Your drawing stays as it was.';
}

// The drawing of the link in the address, or null. The link is taken off the address once its
// drawing is kept or turned down (forgetLink), so that a reload shows the drawing as it is by
// then (kept in the browser) and not the link's again; a link refused is taken off at once.
async function takeLink() {
  const fragment = location.hash.slice(1);
  if (!isLinkFragment(fragment)) return null;
  try {
    return await readLinkFragment(fragment, limits, files);
  } catch (error) {
    forgetLink();
    showMessage('DoodleChorus', linkRefusal(error));
    return null;
  }
}

function sameValues(a, b) {
  return a.length === b.length && a.every((value, i) => value === b[i]);
}

// Whether the drawing this browser keeps holds work of the person's (a recording or ink) that
// opening the link's drawing (its recording, showing its dots) would not show as it is.
function keptDiffers(kept, linked, linkInkXY) {
  if (kept === null || kept.recording === null) return false; // settings only
  if (kept.recording.length === 0 && kept.inkXY.length === 0) return false;
  return !sameValues(kept.recording, linked.recording) || !sameValues(kept.inkXY, linkInkXY);
}

// Asks whether to open a link's drawing instead of the one this browser keeps: true to open it.
// Escape keeps the person's own.
function askToOpenShared() {
  const box = $('#shared');
  box.returnValue = '';
  box.showModal();
  return new Promise((resolve) => {
    box.addEventListener('close', () => resolve(box.returnValue === 'open'), { once: true });
  });
}

async function copyLink() {
  const now = await snapshot(true);
  const recording = new Uint8Array(now.recording);
  const url = new URL(location.href);
  url.hash = await linkFragment(recording, settingsOfSnapshot(now), limits, files);
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

// Opens the link in the address, at a visit or in a running page (pasted into the address bar).
// A link never takes the place of a drawing this browser keeps: where that drawing differs,
// the person chooses; keeping theirs changes nothing, and the link's drawing opened instead is
// kept only once they change it. Whoever opens a recording is invited to play it.
async function openLink() {
  const linked = await takeLink();
  if (linked === null) return;
  const { recording, packed, settings } = linked;
  const read = await readRecording(recording);
  const linkInkXY = read?.ink ?? new Int32Array(0);
  await keepChain; // this tab's own last change is kept first
  // The recording this tab shows counts too where the browser does not keep it (too large to
  // keep, or another tab kept its own since), unless it is a link's drawing left unchanged.
  const tabDiffers = !linkShownUnkept && keptRecording.length > 0
    && !sameValues(keptRecording, recording);
  const asked = tabDiffers || keptDiffers(await keptInBrowser(limits), linked, linkInkXY);
  if (asked && !await askToOpenShared()) {
    forgetLink();
    return;
  }
  await restore({ recording, packed, inkXY: null, settings }, true, read);
  if (asked) {
    linkShownUnkept = true;
  } else {
    forgetLink();
    // Kept at once, as the program will have it: the link's recording and its dots.
    keepChain = keepChain.then(() => keepInBrowser({ packedRecording: packed, inkXY: linkInkXY,
      settings }));
  }
  if (read !== null && read.lines > 0) {
    invitedToPlay = true;
    updateHints();
    playButton.focus(); // its description is the invitation
  }
}
window.addEventListener('hashchange', openLink);

// The kept drawing first, so that a link's question is asked over the person's own drawing.
{
  const kept = await keptInBrowser(limits);
  if (kept !== null) await restore(kept, false);
}
await openLink();
updateHints();
// The area listens and the program starts at the first press: the prompt may invite it now.
prompt.textContent = ids.drawPrompt;

// ---- Offline: the service worker keeps the page's files ----

if ('serviceWorker' in navigator) {
  // A new build never reloads a page by itself, which could cut a recording or a drag short:
  // its worker waits (sw.js) until every page of the old build is closed, and the page offers
  // the reload. Asked for, the new worker takes over and the page loads the new build whole,
  // with the drawing it has kept.
  const updating = navigator.serviceWorker.controller !== null;
  const notice = $('#update');
  let reloadAsked = false;
  const offerNewVersion = (registration) => {
    if (registration.waiting && navigator.serviceWorker.controller) notice.hidden = false;
  };
  navigator.serviceWorker.addEventListener('controllerchange', () => {
    if (reloadAsked) keepChain.then(() => location.reload());
  });
  navigator.serviceWorker.addEventListener('message', (event) => {
    if (event.data?.type !== 'otherPagesOpen') return;
    reloadAsked = false;
    $('#update-text').textContent = 'A new version of DoodleChorus is ready. Close DoodleChorus '
      + 'in your other tabs and windows first, then reload for it here.';
  });
  navigator.serviceWorker.startMessages();
  $('#update-reload').addEventListener('click', async () => {
    const registration = await navigator.serviceWorker.getRegistration();
    if (registration?.waiting) {
      reloadAsked = true;
      registration.waiting.postMessage({ type: 'takeOver' });
    } else {
      // Another tab's reload has let the new build take over already.
      keepChain.then(() => location.reload());
    }
  });
  // Without a worker (a page opened from a file, a browser that refuses it) the page works
  // all the same, only not offline: nothing to tell the person. A page served by a worker asks
  // for a newer build at every visit and when it is shown again, which fails quietly offline.
  navigator.serviceWorker.register('sw.js')
    .then((registration) => {
      offerNewVersion(registration);
      registration.addEventListener('updatefound', () => {
        const { installing } = registration;
        installing?.addEventListener('statechange', () => offerNewVersion(registration));
      });
      const lookForNewVersion = () => registration.update().catch(() => {});
      if (updating) lookForNewVersion();
      document.addEventListener('visibilitychange', () => {
        if (document.visibilityState === 'visible') lookForNewVersion();
      });
    })
    .catch(() => {});
}

// For embedding pages and tests: the worklet's rendered samples (frame of the first sample,
// Float32Array) and the program's view calls, each stamped with the sample clock's frame.
window.doodleChorus = {
  ready: true,
  sampleRate: kSampleRate,
  module: files,
  tables: ids,
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
