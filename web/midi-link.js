// MIDI in the page: a keyboard on the chosen input plays the program's voice, and the program's
// MIDI output (the drawing, MIDI input, playback) plays the chosen output, each message at the
// frame of the sample clock it belongs to.
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

// The MIDI menu item's dialog; its choose() asks for the ports.
export function setUpMidiLink() {
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
