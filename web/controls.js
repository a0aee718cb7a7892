// The program's controls as HTML: the toggles, clear, the speed, Grid, the scale and its root,
// and the note label. A person's use of one is sent to the program as its event; what they show
// is what the program reports (its states), so that the page never keeps a copy of its own.
// Beside them, the page's hints say in words what those states mean.
import { ids } from './bridge.js';
import { showVowels } from './canvas.js';
import { $ } from './dom.js';
import { onProgram, send } from './program-port.js';

const recordButton = $('#record');
const playButton = $('#play');
const speedSlider = $('#speed');
const speedText = $('#speed-text');
const gridBox = $('#grid');
const rootList = $('#root');
const scaleOptions = [...document.querySelectorAll('input[name="scale"]')];
const kUnrestricted = 0;

// The scale options in the order of the program's scale modes (0 to 3).
const kScaleOptionIds = ['unrestrictedOption', 'majorOption', 'minorOption', 'pentatonicOption'];

export function isRecording() {
  return recordButton.getAttribute('aria-pressed') === 'true';
}

// ---- Hints ----

// The states the program keeps as the desktop has them, said in words. Whoever opened a shared
// recording is invited to play it in the same place, until they play, record, draw or open.
const playHint = $('#play-hint');
const kNothingRecordedHint = playHint.textContent;
const kInviteToPlayHint = 'Press play to hear it.';
let invitedToPlay = false;
let hasRecordedLines = false;
function updateHints() {
  playHint.textContent = invitedToPlay ? kInviteToPlayHint : kNothingRecordedHint;
  playHint.classList.toggle('invite', invitedToPlay);
  playHint.hidden = !invitedToPlay && (isRecording() || hasRecordedLines);
  $('#scale-hint').hidden = !scaleOptions[kUnrestricted].checked;
}
// Whether the program's recording, as last kept, has lines.
export function showRecordedLines(has) {
  hasRecordedLines = has;
  updateHints();
}
export function inviteToPlay() {
  invitedToPlay = true;
  updateHints();
  playButton.focus(); // its description is the invitation
}
export function stopInviting() {
  if (!invitedToPlay) return;
  invitedToPlay = false;
  updateHints();
}

// ---- What the program reports ----

function speedCaption(tenths) {
  return `${(tenths / ids.tenthsPerSpeed).toFixed(ids.speedDecimals)}${ids.speedSuffix}`;
}
function showSpeed(tenths) {
  speedSlider.value = String(tenths);
  speedText.textContent = speedCaption(tenths);
  speedSlider.setAttribute('aria-valuetext', speedCaption(tenths));
}
function showScale(scaleMode) {
  scaleOptions[scaleMode].checked = true;
  updateHints();
}
const kVoiceTypeItems = '[role="menuitemradio"][data-command^="type"]';
function showVoiceType(voiceType) {
  for (const item of document.querySelectorAll(kVoiceTypeItems)) {
    item.setAttribute('aria-checked', String(item.dataset.command === `type${voiceType}`));
  }
  showVowels(voiceType);
}
// Voice > Tuning's items in Tuning's order (0 Classic, 1 Concert), as the program's ids go.
const tuningItems = [
  ...document.querySelectorAll('[role="menuitemradio"][data-command^="tuning-"]')];
function showTuning(tuning) {
  for (const [index, item] of tuningItems.entries()) {
    item.setAttribute('aria-checked', String(index === tuning));
  }
}

const kStates = {
  recording: (value) => {
    recordButton.setAttribute('aria-pressed', String(value === 1));
    recordButton.textContent = value === 1 ? ids.recordDown : ids.recordUp;
    updateHints();
  },
  playing: (value) => {
    playButton.setAttribute('aria-pressed', String(value === 1));
    playButton.textContent = value === 1 ? ids.playDown : ids.playUp;
  },
  playEnabled: (value) => {
    playButton.disabled = value !== 1;
  },
  gridChecked: (value) => {
    gridBox.checked = value === 1;
  },
  gridEnabled: (value) => {
    gridBox.disabled = value !== 1;
  },
  rootEnabled: (value) => {
    rootList.disabled = value !== 1;
  },
  voiceType: showVoiceType,
  tuning: showTuning,
  scaleMode: showScale,
  rootIndex: (value) => {
    rootList.selectedIndex = value;
  },
  speedTenths: showSpeed,
};
onProgram('state', ({ control, value }) => kStates[control]?.(value));
// The voice type the page starts with, as the program does.
showVowels(Number(document.querySelector(`${kVoiceTypeItems}[aria-checked="true"]`)
  .dataset.command.slice('type'.length)));
onProgram('note', ({ name }) => {
  $('#note').value = name;
});

// ---- What a person does with them ----

// onChanged({ recording }): a control changed what the page keeps; recording: the recording
// may have changed too.
export function listenToControls({ onChanged }) {
  $('#clear').addEventListener('click', () => {
    send({ type: 'control', id: ids.clearButton });
    onChanged({ recording: false });
  });
  recordButton.addEventListener('click', () => {
    stopInviting();
    send({ type: 'record', down: !isRecording() });
    onChanged({ recording: true });
  });
  playButton.addEventListener('click', () => {
    stopInviting();
    send({ type: 'play', down: playButton.getAttribute('aria-pressed') !== 'true' });
  });
  speedSlider.min = String(ids.minSpeedTenths);
  speedSlider.max = String(ids.maxSpeedTenths);
  speedSlider.addEventListener('input', () => {
    const tenths = Number(speedSlider.value);
    showSpeed(tenths); // the slider's own caption follows it as it moves
    send({ type: 'speed', tenths });
    onChanged({ recording: false });
  });
  gridBox.addEventListener('change', () => {
    send({ type: 'grid', ticked: gridBox.checked });
    onChanged({ recording: false });
  });
  for (const [scaleMode, option] of scaleOptions.entries()) {
    option.value = String(ids[kScaleOptionIds[scaleMode]]); // the program's id of the option
    option.addEventListener('change', () => {
      if (!option.checked) return;
      updateHints();
      send({ type: 'control', id: Number(option.value) });
      onChanged({ recording: false });
    });
  }
  for (const [index, name] of ids.noteNames.entries()) rootList.add(new Option(name, String(index)));
  rootList.addEventListener('change', () => {
    send({ type: 'root', index: rootList.selectedIndex });
    onChanged({ recording: false });
  });
}
