// The page's dialogs for the program's messages and Help, and its own question before a link's
// drawing takes the place of the person's.
import { ids } from './bridge.js';
import { $ } from './dom.js';
import { onProgram } from './program-port.js';

// Why the program's next message says what it says, said beside it: set just before the event
// that may be refused.
let saveAsked = false; // the next message answers a Save
let saveHasNothing = false; // ... of a recording without lines
let openHint = ''; // why the file being opened is refused

export function expectSaveAnswer(recordingHasLines) {
  saveAsked = true;
  saveHasNothing = !recordingHasLines;
}
export function explainOpenRefusal(hint) {
  openHint = hint;
}
// The Save was answered with a file.
export function saveAnswered() {
  saveAsked = false;
}

export function showMessage(title, text) {
  // The program's message stays as it is; after a refused Save of an empty recording the page
  // says why beside it.
  let hint = saveAsked && saveHasNothing
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

onProgram('message', ({ title, text }) => showMessage(title, text));
onProgram('help', ({ text }) => showHelp(text));
onProgram('failed', ({ what }) => {
  console.error(`DoodleChorus stopped: ${what}`);
  showMessage('DoodleChorus', 'DoodleChorus has stopped after a fault. Reload the page to '
    + 'start it again.');
});

// Asks whether to open a link's drawing instead of the one this browser keeps: true to open it.
// Escape keeps the person's own.
export function askToOpenShared() {
  const box = $('#shared');
  box.returnValue = '';
  box.showModal();
  return new Promise((resolve) => {
    box.addEventListener('close', () => resolve(box.returnValue === 'open'), { once: true });
  });
}
