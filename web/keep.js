// What the page keeps of a drawing: the recording (the bytes Save writes), the settings of the
// controls and the ink, in this browser's storage between visits, and the recording with the
// settings in a link. Both compress the bytes and write them as base64url. A link holds them in
// its fragment, which the browser never sends to a server; nothing is sent anywhere.
//
// A link's fragment: "#dc=2&r=…&s=N". r is the recording in the program's compact form (the
// module's compactRecording: differences of the lines' numbers, with a check of the file's
// bytes that finds a damaged link) in the layout that deflates shortest, raw deflate,
// base64url; N is the settings as one number (settingsNumber). A recording not exactly as the
// program writes it goes in the older form, which the page still opens:
// "#dc=1&rec=…&scale=major&root=2&voice=1&speed=15&grid=1", rec being the file deflated in the
// zlib format (its checksum finds a damaged link); the scale is the program's scale name in
// lower case. The kept state is in that older form.
// doodlechorus-render --link makes the same links.
const kFormatKey = 'dc';
const kFormat = '1';
const kCompactFormat = '2';
const kStorageKey = 'doodlechorus';
const kBase64Chunk = 0x8000; // bytes per String.fromCharCode call

export class KeepError extends Error {
  constructor(reason) {
    super(reason);
    this.reason = reason; // 'damaged' or 'tooLarge'
  }
}

export function toBase64Url(bytes) {
  let binary = '';
  for (let i = 0; i < bytes.length; i += kBase64Chunk) {
    binary += String.fromCharCode(...bytes.subarray(i, i + kBase64Chunk));
  }
  return btoa(binary).replaceAll('+', '-').replaceAll('/', '_').replace(/=+$/, '');
}

export function fromBase64Url(text) {
  if (!/^[A-Za-z0-9_-]*$/.test(text) || text.length % 4 === 1) throw new KeepError('damaged');
  const binary = atob(text.replaceAll('-', '+').replaceAll('_', '/'));
  const bytes = new Uint8Array(binary.length);
  for (let i = 0; i < binary.length; i++) bytes[i] = binary.charCodeAt(i);
  return bytes;
}

async function readAll(stream, maxBytes) {
  const reader = stream.getReader();
  const chunks = [];
  let total = 0;
  for (;;) {
    let part;
    try {
      part = await reader.read();
    } catch {
      throw new KeepError('damaged'); // not deflate data, cut short, or a wrong checksum
    }
    if (part.done) break;
    total += part.value.length;
    if (total > maxBytes) {
      await reader.cancel();
      throw new KeepError('tooLarge');
    }
    chunks.push(part.value);
  }
  const bytes = new Uint8Array(total);
  let at = 0;
  for (const chunk of chunks) {
    bytes.set(chunk, at);
    at += chunk.length;
  }
  return bytes;
}

// format: 'deflate' (the zlib format, with its checksum) or 'deflate-raw'.
async function deflate(bytes, format = 'deflate') {
  return readAll(new Blob([bytes]).stream().pipeThrough(new CompressionStream(format)),
    Infinity);
}

// The inflated bytes; a KeepError when they are damaged or more than maxBytes.
async function inflate(bytes, maxBytes, format = 'deflate') {
  return readAll(new Blob([bytes]).stream().pipeThrough(new DecompressionStream(format)),
    maxBytes);
}

// Bytes as they are kept and linked: deflated, in base64url; no bytes are the empty text.
export async function pack(bytes) {
  return bytes.length === 0 ? '' : toBase64Url(await deflate(bytes));
}

// The bytes of pack's text; a KeepError when it is damaged or more than maxBytes.
export async function unpack(text, maxBytes) {
  return text === '' ? new Uint8Array(0) : inflate(fromBase64Url(text), maxBytes);
}

// Ink as x, y pairs (Int32Array) to bytes and back: 32-bit little-endian integers.
function inkBytes(inkXY) {
  const bytes = new Uint8Array(4 * inkXY.length);
  const view = new DataView(bytes.buffer);
  inkXY.forEach((value, i) => view.setInt32(4 * i, value, true));
  return bytes;
}
function inkOfBytes(bytes) {
  if (bytes.length % 8 !== 0) throw new KeepError('damaged');
  const view = new DataView(bytes.buffer, bytes.byteOffset, bytes.byteLength);
  const inkXY = new Int32Array(bytes.length / 4);
  for (let i = 0; i < inkXY.length; i++) inkXY[i] = view.getInt32(4 * i, true);
  return inkXY;
}

// settings: the module's ControlSettings, { scaleMode 0..3, rootIndex 0..noteCount-1,
// voiceType 1|2, speedTenths in the slider's range, grid true|false, tuning 0|1 }; limits gives
// the ranges and the names: { noteCount, minSpeedTenths, maxSpeedTenths, maxRecordingBytes,
// scaleNames (the module's tables().scaleNames, in the order of the scale modes), tuningNames
// (the Tuning items' captions, Classic first) }.
function scaleWords(limits) {
  return limits.scaleNames.map((name) => name.toLowerCase());
}
function tuningWords(limits) {
  return limits.tuningNames.map((name) => name.toLowerCase());
}

function settingsParams(settings, limits) {
  return [
    ['scale', scaleWords(limits)[settings.scaleMode]],
    ['root', String(settings.rootIndex)],
    ['voice', String(settings.voiceType)],
    ['speed', String(settings.speedTenths)],
    ['grid', settings.grid ? '1' : '0'],
    ['tuning', tuningWords(limits)[settings.tuning]],
  ];
}

function wholeNumber(text, min, max, maxDigits = 3) {
  if (!new RegExp(`^\\d{1,${maxDigits}}$`).test(text ?? '')) throw new KeepError('damaged');
  const value = Number(text);
  if (value < min || value > max) throw new KeepError('damaged');
  return value;
}

function settingsOf(params, limits) {
  const scaleMode = scaleWords(limits).indexOf(params.get('scale'));
  if (scaleMode < 0) throw new KeepError('damaged');
  const grid = params.get('grid');
  if (grid !== '0' && grid !== '1') throw new KeepError('damaged');
  // Links and kept drawings made before there was a choice of tuning are Classic.
  const tuning = params.has('tuning') ? tuningWords(limits).indexOf(params.get('tuning')) : 0;
  if (tuning < 0) throw new KeepError('damaged');
  return {
    scaleMode,
    rootIndex: wholeNumber(params.get('root'), 0, limits.noteCount - 1),
    voiceType: wholeNumber(params.get('voice'), 1, 2),
    speedTenths: wholeNumber(params.get('speed'), limits.minSpeedTenths, limits.maxSpeedTenths),
    grid: grid === '1',
    tuning,
  };
}

// The settings of a dc=2 link as one number, which the module makes and reads.
function settingsOfNumber(module, text) {
  if (!/^\d{1,7}$/.test(text ?? '')) throw new KeepError('damaged');
  const settings = module.linkSettingsOf(Number(text));
  if (settings === null) throw new KeepError('damaged');
  return settings;
}

// The recording's deflated compact form, the shortest of its layouts; null when the recording
// is not exactly as the program writes it.
async function compactDeflated(module, recording) {
  let shortest = null;
  for (let layout = 0; layout < module.compactLayoutCount(); layout++) {
    const compact = module.compactRecording(recording, layout);
    if (compact === null) return null;
    const deflated = await deflate(compact, 'deflate-raw');
    if (shortest === null || deflated.length < shortest.length) shortest = deflated;
  }
  return shortest;
}

// The fragment (without "#") of a link to a recording (its .sav bytes) with its settings;
// module is the DoodleChorus module, which makes the compact form.
export async function linkFragment(recording, settings, limits, module) {
  const compact = await compactDeflated(module, recording);
  const params = compact !== null
    ? [[kFormatKey, kCompactFormat], ['r', toBase64Url(compact)],
      ['s', String(module.linkSettingsNumber(settings))]]
    : [[kFormatKey, kFormat], ['rec', await pack(recording)], ...settingsParams(settings, limits)];
  return params.map(([key, value]) => `${key}=${value}`).join('&');
}

// Whether a fragment (without "#") is meant as one of our links.
export function isLinkFragment(fragment) {
  return new URLSearchParams(fragment).has(kFormatKey);
}

// The recording file of a dc=2 link's r; a KeepError when it is damaged or more than maxBytes.
async function expandLinked(module, text, maxBytes) {
  // The compact form is smaller than its file: more than maxBytes of it is too large.
  const compact = await inflate(fromBase64Url(text), maxBytes, 'deflate-raw');
  const { bytes, problem } = module.expandRecording(compact, maxBytes);
  if (bytes === null) throw new KeepError(problem);
  return bytes;
}

// { recording, packed, settings } of a link's fragment; a KeepError when it is damaged or holds
// more than limits.maxRecordingBytes. module is the DoodleChorus module, which reads dc=2 links.
export async function readLinkFragment(fragment, limits, module) {
  const params = new URLSearchParams(fragment);
  const format = params.get(kFormatKey);
  if (format === kCompactFormat && params.has('r') && params.has('s')) {
    const settings = settingsOfNumber(module, params.get('s'));
    const recording = await expandLinked(module, params.get('r'), limits.maxRecordingBytes);
    return { recording, packed: await pack(recording), settings };
  }
  if (format !== kFormat || !params.has('rec')) throw new KeepError('damaged');
  const settings = settingsOf(params, limits);
  const packed = params.get('rec');
  const recording = await unpack(packed, limits.maxRecordingBytes);
  return { recording, packed, settings };
}

// Keeps { packedRecording, inkXY, settings } in this browser's storage. Returns 'kept', or
// 'settingsOnly' when the recording and ink do not fit in it (only the settings are kept then),
// or 'nothing' when the browser keeps nothing for this page.
export async function keepInBrowser({ packedRecording, inkXY, settings }, limits) {
  const state = Object.fromEntries(settingsParams(settings, limits));
  const whole = JSON.stringify({
    ...state,
    [kFormatKey]: kFormat,
    rec: packedRecording,
    ink: await pack(inkBytes(inkXY)),
  });
  try {
    localStorage.setItem(kStorageKey, whole);
    return 'kept';
  } catch {
    // Over the storage's quota; or storage is switched off, which the next step finds out.
  }
  try {
    localStorage.setItem(kStorageKey, JSON.stringify({ ...state, [kFormatKey]: kFormat }));
    return 'settingsOnly';
  } catch {
    return 'nothing';
  }
}

// What keepInBrowser kept: { recording, packed, inkXY, settings } (recording, packed and inkXY
// null when only the settings were kept), or null when nothing usable is kept.
export async function keptInBrowser(limits) {
  let text = null;
  try {
    text = localStorage.getItem(kStorageKey);
  } catch {
    return null; // storage switched off
  }
  if (text === null) return null;
  try {
    const state = JSON.parse(text);
    const params = new URLSearchParams(Object.entries(state));
    const settings = settingsOf(params, limits);
    if (state.rec === undefined) return { recording: null, packed: null, inkXY: null, settings };
    const recording = await unpack(state.rec, limits.maxRecordingBytes);
    const inkXY = inkOfBytes(await unpack(state.ink, Infinity));
    return { recording, packed: state.rec, inkXY, settings };
  } catch {
    return null; // kept by another version of the page, or damaged: start afresh
  }
}
