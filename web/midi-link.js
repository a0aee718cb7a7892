// MIDI in the page: a keyboard on the chosen input plays the program's voice, on the input
// channel the program listens to, and the program's MIDI output (the drawing, MIDI input,
// playback) plays the chosen output, each message at the frame of the sample clock it belongs
// to.
import { ids } from './bridge.js';
import { $ } from './dom.js';
import { setUpMidi } from './midi.js';
import { kSampleRate, onProgram, soundContext, send } from './program-port.js';

// performance.now()'s time minus the context's output time, ms, as getOutputTimestamp pairs
// them. A reading jitters by a fraction of a ms, and now and then by 2 ms (in headless
// chromium) while the audio thread catches up; MIDI keeps to the sample clock instead: a
// reading moves the estimate by a small share (the two clocks drift apart by far less than a
// ms a second), and only a jump larger than kClockJumpMs (the sound restarted, the device
// changed) is taken at once.
const kClockJumpMs = 5;
const kClockFollowShare = 0.02;
let clockOffsetMs = null;
function outputClockOffsetMs(context) {
  const { contextTime, performanceTime } = context.getOutputTimestamp();
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
  const context = soundContext();
  if (context?.state !== 'running') return -Infinity;
  const heardSeconds = (ms - outputClockOffsetMs(context)) / 1000;
  return (heardSeconds + context.outputLatency + context.baseLatency) * kSampleRate
    + kMidiInSlackFrames;
}

// The performance time, ms, at which context frame `frame` is heard: a MIDI output message goes
// out with the sound it belongs to.
function heardAtMs(frame) {
  return (frame / kSampleRate) * 1000 + outputClockOffsetMs(soundContext());
}

// The input channel the person chose, kept in this browser: item k of the program's list is
// channel k, 0 all but the drums'.
const kChannelStorageKey = 'doodlechorus-midi-channel';
const kAllChannels = 0;

function keptChannel() {
  try {
    const channel = Number(localStorage.getItem(kChannelStorageKey) ?? kAllChannels);
    return channel >= 0 && channel < ids.midiInChannels.items.length ? channel : kAllChannels;
  } catch {
    return kAllChannels; // storage switched off
  }
}

function keepChannel(channel) {
  try {
    localStorage.setItem(kChannelStorageKey, String(channel));
  } catch {
    // Storage switched off or full: the choice holds for this visit only.
  }
}

// The channel list: the program's choices, sent as its menu events; it shows the channel the
// program reports. A channel kept from an earlier visit is chosen again.
function setUpChannelList() {
  const list = $('#midi-channel');
  for (const [channel, { caption }] of ids.midiInChannels.items.entries()) {
    list.add(new Option(caption, String(channel)));
  }
  const choose = (channel) => send({ type: 'menu', id: ids.midiInChannels.items[channel].id });
  list.addEventListener('change', () => {
    keepChannel(list.selectedIndex);
    choose(list.selectedIndex);
  });
  onProgram('state', ({ control, value }) => {
    if (control === 'midiInChannel') list.selectedIndex = value;
  });
  const kept = keptChannel();
  list.selectedIndex = kept;
  if (kept !== kAllChannels) choose(kept);
}

// The MIDI menu item's dialog; its choose() asks for the ports.
export function setUpMidiLink() {
  setUpChannelList();
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
  onProgram('midi', ({ bytes, contextFrame }) => midi.send(bytes, heardAtMs(contextFrame)));
  return midi;
}
