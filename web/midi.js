// MIDI on the page, through the browser's Web MIDI: asked for only when the person chooses the
// MIDI menu item (the browser then shows its permission prompt), with a dialog to pick the
// input that plays the voice and the output that the drawing plays. The chosen ports' names
// are kept in this browser, and a kept port is taken again when it shows up.

const kStorageKey = 'doodlechorus-midi';
const kNone = ''; // the "None" option's value

// Data bytes after a channel message's status (by its high nibble), and after the system
// common messages the page skips (0xF1 to 0xF6; SysEx runs to its 0xF7).
const kChannelDataBytes = { 0x8: 2, 0x9: 2, 0xa: 2, 0xb: 2, 0xc: 1, 0xd: 1, 0xe: 2 };
const kSystemCommonDataBytes = { 0xf1: 1, 0xf2: 2, 0xf3: 1, 0xf4: 0, 0xf5: 0, 0xf6: 0 };
const kSysExStart = 0xf0;
const kSysExEnd = 0xf7;
const kRealtimeFirst = 0xf8; // 0xF8 to 0xFF: one byte each, allowed anywhere
const kStatusFlag = 0x80;

// The channel messages among a MIDIMessageEvent's bytes, as flat status, data1, data2 triples
// (data2 0 for the one-data-byte kinds). Running status is followed; SysEx, system common and
// realtime bytes are skipped, as are data bytes no status explains.
export function channelMessages(bytes) {
  const triples = [];
  let status = 0; // running status: 0 when none is in force
  let skipping = 0; // data bytes of a skipped system common message still to come
  let inSysEx = false;
  let data = [];
  for (const byte of bytes) {
    if (byte >= kRealtimeFirst) continue;
    if (inSysEx) {
      if (!(byte & kStatusFlag)) continue;
      inSysEx = false; // at its end, or at a status that cuts it short
      if (byte === kSysExEnd) continue;
    }
    if (byte & kStatusFlag) {
      data = [];
      skipping = 0;
      if (byte === kSysExStart) {
        inSysEx = true;
        status = 0;
      } else if (byte > kSysExStart) {
        status = 0;
        skipping = kSystemCommonDataBytes[byte] ?? 0;
      } else {
        status = byte;
      }
      continue;
    }
    if (skipping > 0) {
      skipping--;
      continue;
    }
    if (status === 0) continue;
    data.push(byte);
    if (data.length === kChannelDataBytes[status >> 4]) {
      triples.push(status, data[0], data[1] ?? 0);
      data = [];
    }
  }
  return triples;
}

function keptNames() {
  try {
    const kept = JSON.parse(localStorage.getItem(kStorageKey) ?? '{}');
    return { input: String(kept.input ?? kNone), output: String(kept.output ?? kNone) };
  } catch {
    return { input: kNone, output: kNone }; // storage switched off, or damaged
  }
}

function keepNames(names) {
  try {
    localStorage.setItem(kStorageKey, JSON.stringify(names));
  } catch {
    // Storage switched off or full: the choice holds for this visit only.
  }
}

// Sets up the menu item and the dialog. `onInput(triples, timeStampMs)` gets the chosen
// input's channel messages with their event's time (performance.now()'s clock);
// `onOutputChosen(open)` hears when an output is chosen (true) or set to None (false).
// Returns send(bytes, timestampMs), which hands bytes to the chosen output, if any.
export function setUpMidi({ item, dialog, status, ports, inputList, outputList, onInput,
  onOutputChosen }) {
  const available = typeof navigator.requestMIDIAccess === 'function';
  const chosen = keptNames();
  let access = null;
  let asking = false;
  let input = null; // the MIDIInput listened to
  let output = null; // the MIDIOutput sent to

  const say = (text) => {
    status.textContent = text;
  };
  if (!available) {
    item.textContent = 'MIDI: not in this browser';
  }

  function portsOf(map) {
    return [...map.values()].filter((port) => port.state !== 'disconnected');
  }

  // The list's options: None, the connected ports, and a kept port that is not there now.
  function fill(list, connected, name) {
    const options = [new Option('None', kNone)];
    for (const port of connected) options.push(new Option(port.name, port.name));
    if (name !== kNone && !connected.some((port) => port.name === name)) {
      options.push(new Option(`${name} (not connected)`, name));
    }
    list.replaceChildren(...options);
    list.value = name;
  }

  function attach() {
    const inputs = portsOf(access.inputs);
    const outputs = portsOf(access.outputs);
    const nextInput = inputs.find((port) => port.name === chosen.input) ?? null;
    if (nextInput !== input) {
      if (input) input.onmidimessage = null;
      input = nextInput;
      if (input) {
        input.onmidimessage = (event) => {
          const triples = channelMessages(event.data);
          if (triples.length > 0) onInput(triples, event.timeStamp);
        };
      }
    }
    const nextOutput = outputs.find((port) => port.name === chosen.output) ?? null;
    if (nextOutput !== output) {
      output = nextOutput;
      onOutputChosen(output !== null);
    }
    fill(inputList, inputs, chosen.input);
    fill(outputList, outputs, chosen.output);
    ports.hidden = false;
    say(inputs.length + outputs.length === 0
      ? 'No MIDI ports are there. Connect a keyboard or start a synthesizer: it shows up here.'
      : 'A keyboard on the input plays the voice, as a drag does. The output plays what is '
        + 'drawn or played back.');
  }

  for (const [list, direction] of [[inputList, 'input'], [outputList, 'output']]) {
    list.addEventListener('change', () => {
      chosen[direction] = list.value;
      keepNames(chosen);
      attach();
    });
  }

  async function ask() {
    asking = true;
    say('Asking the browser for MIDI: answer its prompt to go on.');
    try {
      access = await navigator.requestMIDIAccess({ sysex: false });
      item.textContent = 'MIDI ports\u2026';
      access.onstatechange = () => attach();
      attach();
    } catch {
      item.textContent = 'MIDI: refused (ask again)';
      say('The browser refused MIDI to this page. Allow MIDI for this site in the browser\'s '
        + 'site settings, then choose MIDI again.');
    }
    asking = false;
  }

  // The menu item: the dialog, asking for MIDI the first time (and again after a refusal).
  function choose() {
    ports.hidden = access === null;
    if (!available) {
      say('This browser has no Web MIDI, so the page cannot reach MIDI keyboards or '
        + 'synthesizers. A browser with Web MIDI can, as can the desktop program.');
    } else if (access === null && !asking) {
      ask();
    }
    if (!dialog.open) dialog.showModal();
  }

  function send(bytes, timestampMs) {
    output?.send(bytes, timestampMs);
  }

  return { choose, send };
}
