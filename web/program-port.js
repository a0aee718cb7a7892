// The page's line to the program, which runs in the audio worklet (worklet.js) with its voice
// and its play clock: the page's events go there as messages, and the program's view calls come
// back, each stamped with the frame of the sample clock it happened at. Events sent before the
// program runs wait, in order.
import { wasmModule } from './bridge.js';

export const kSampleRate = 44100;

let audioContext = null;
let programNode = null;
const waiting = []; // [message, transfer] sent before the worklet existed, in order
const handlers = new Map(); // message type: what the page does with it, in order
const viewListeners = new Set();
const tapListeners = new Set();
const snapshotWaiters = []; // resolvers of the snapshots asked for, in order

export function send(message, transfer = []) {
  if (programNode) programNode.port.postMessage(message, transfer);
  else waiting.push([message, transfer]);
}

// The audio context, once the program has been started; null before.
export function soundContext() {
  return audioContext;
}

// What the page does with the program's messages of `type`: handle(message). The embedding
// page and the tests hear each message after it is handled, except those the handler passes on
// itself (paint, as the pictures it made) and the audio thread's own (midi, tap).
export function onProgram(type, handle) {
  handlers.set(type, [...(handlers.get(type) ?? []), handle]);
}
const kNotObserved = new Set(['paint', 'midi', 'tap', 'snapshot']);

// Hands a view of the program's calls to the embedding page's listeners.
export function notifyObservers(view) {
  for (const listener of viewListeners) listener(view);
}

function onProgramMessage(message) {
  switch (message.type) {
    case 'snapshot':
      snapshotWaiters.shift()(message);
      return;
    case 'tap':
      for (const listener of tapListeners) listener(message.frame, message.samples, message.sentMs);
      return;
    default:
      for (const handle of handlers.get(message.type) ?? []) handle(message);
      if (!kNotObserved.has(message.type)) notifyObservers(message);
  }
}

// The program's recording (when withRecording), ink and controls, as it has them now.
export function snapshot(withRecording) {
  return new Promise((resolve) => {
    snapshotWaiters.push(resolve);
    send({ type: 'snapshot', withRecording });
  });
}

let onStartFailed = () => {};

// Starts the program, once: it then answers the page's events and reports its states, while its
// sound waits for the first press or key where the browser asks for one (the context starts
// suspended, and the program runs all the same). Making the audio context takes the page's
// thread some 15 to 40 ms, so a visit with nothing to show leaves it to the first press.
export async function startProgram() {
  if (audioContext) return;
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
    onStartFailed(error);
    return;
  }
  programNode.port.onmessage = (event) => onProgramMessage(event.data);
  programNode.connect(audioContext.destination);
  for (const [message, transfer] of waiting.splice(0)) {
    programNode.port.postMessage(message, transfer);
  }
  if (tapListeners.size > 0) send({ type: 'tap', on: true });
}

// The first press or key starts the program where it has not started, and its sound (browsers
// allow sound only after one; a touch's press is not yet such a gesture, its release is).
// failed(error): the program could not start, and why.
export function startOnFirstPress(failed) {
  onStartFailed = failed;
  const start = () => {
    if (!audioContext) startProgram();
    else if (audioContext.state === 'suspended') audioContext.resume();
  };
  for (const type of ['pointerdown', 'pointerup', 'keydown']) {
    document.addEventListener(type, start, { capture: true });
  }
}

// For embedding pages and tests: the worklet's rendered samples (frame of the first sample,
// Float32Array, the wall-clock ms it left the audio thread) and the program's view calls.
export function tap(listener) {
  tapListeners.add(listener);
  if (tapListeners.size === 1) send({ type: 'tap', on: true });
  return () => {
    tapListeners.delete(listener);
    if (tapListeners.size === 0) send({ type: 'tap', on: false });
  };
}
export function observe(listener) {
  viewListeners.add(listener);
  return () => viewListeners.delete(listener);
}
