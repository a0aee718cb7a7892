// Keeping the drawing in this browser: after each change the program's recording, ink and
// settings are kept (keep.js), and at the next visit they are shown and handed back to the
// program, which takes them when it starts.
import { limits } from './bridge.js';
import { showDrawing } from './canvas.js';
import { showRecordedLines } from './controls.js';
import { showMessage } from './dialogs.js';
import { kBytesPerMiB, sendOpen } from './files.js';
import { readRecording } from './jobs.js';
import { keepInBrowser, pack } from './keep.js';
import { send, snapshot, startProgram } from './program-port.js';

let keptRecording = new Uint8Array(0); // the recording last kept
let packedRecording = ''; // and packed for storage and links
let keepChain = Promise.resolve(); // one keep after the other, in the order asked
let recordingNotKeptSaid = false;
let recordingLines = 0; // of the recording last kept

export function keptRecordingBytes() {
  return keptRecording;
}
export function recordingHasLines() {
  return recordingLines > 0;
}
// Resolves once every keep asked for so far is done.
export function keptSoFar() {
  return keepChain;
}
// Runs keep() after the keeps asked for so far.
export function keepAfter(keep) {
  keepChain = keepChain.then(keep);
}

// A link's drawing opened over a different drawing this browser keeps is not kept: the kept one
// stays as it was, for a reload and for the other tabs, until the person changes the link's
// drawing, which makes it theirs. Until then the link stays in the address, so that a reload
// asks again instead of showing the kept drawing without a word.
let linkShownUnkept = false;
export function forgetLink() {
  linkShownUnkept = false;
  history.replaceState(null, '', location.pathname + location.search);
}
export function showLinkUnkept() {
  linkShownUnkept = true;
}
export function isLinkShownUnkept() {
  return linkShownUnkept;
}

function lineCount(savBytes) {
  let lines = 0;
  for (let at = savBytes.indexOf(0x0a); at !== -1; at = savBytes.indexOf(0x0a, at + 1)) lines++;
  return lines;
}

function takeRecording(recording, packed) {
  keptRecording = recording;
  packedRecording = packed;
  recordingLines = lineCount(recording);
  showRecordedLines(recordingLines > 0);
}

// Keeps the drawing after a change; with the recording when it may have changed.
export function keepSoon({ recording = false } = {}) {
  if (linkShownUnkept) forgetLink();
  const taken = snapshot(recording);
  keepAfter(async () => {
    const now = await taken;
    if (now.recording !== null) {
      const bytes = new Uint8Array(now.recording);
      takeRecording(bytes, await pack(bytes));
      recordingNotKeptSaid = false;
    }
    const result = await keepInBrowser({
      packedRecording,
      inkXY: now.ink,
      settings: now.settings,
    }, limits);
    if (result === 'settingsOnly' && !recordingNotKeptSaid) {
      recordingNotKeptSaid = true;
      showMessage('DoodleChorus', `This recording (${(keptRecording.length / kBytesPerMiB)
        .toFixed(1)} MiB) is too large to be kept in this browser. It plays, but it will be `
        + 'gone after a reload; Save keeps it in a file.');
    }
  });
}

// Shows a kept or linked drawing at once, and hands it to the program: its recording as an
// opened file, its settings as the person's choices (the program applies its own rules and
// reports what the controls show), its ink.
// fromLink: the recording replaces the program's whatever it is. inkXY null: the program shows
// the recording's dots, as Open does. The recording is read by the worker first; what was read
// is returned (null when no recording was opened). alreadyRead: readRecording's answer for this
// recording, when the caller has it.
export async function restore({ recording, packed, inkXY, settings }, fromLink,
  alreadyRead = undefined) {
  startProgram(); // to take the drawing and show its settings now, not at the first press
  const opening = recording !== null && (fromLink || recording.length > 0);
  let read = null;
  if (opening) read = alreadyRead === undefined ? await readRecording(recording) : alreadyRead;
  if (opening) {
    sendOpen(read); // first: an open unticks Grid
    takeRecording(recording, packed);
  }
  const copy = inkXY?.slice() ?? null;
  send({ type: 'restore', settings, inkXY: copy }, copy ? [copy.buffer] : []);
  // The program's own picture of it (paintOf draws a grid only in a scale), until the program
  // paints: an opened recording is taken in while the sound runs.
  showDrawing(settings.grid, settings.scaleMode, inkXY ?? read?.ink ?? new Int32Array(0));
  return read;
}
