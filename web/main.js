// The DoodleChorus page: the desktop window's controls as HTML. The program itself (its logic,
// voice and play clock) runs in the audio worklet; the page's modules each do one job:
//   bridge.js        the module on this thread: the program's tables, pictures of kept drawings
//   program-port.js  the line to the program in the worklet: events out, view calls back
//   canvas.js        the drawing area, its axes and prompt, and the pointer that draws
//   controls.js      the controls and the hints, showing the program's states
//   menus.js         the menu bar
//   dialogs.js       the program's messages, Help, and the page's own question
//   jobs.js          the worker that reads opened files and makes the exports
//   files.js         Open, Save's download, the exports
//   keeping.js       the drawing kept in this browser
//   links.js         links that hold a drawing
//   midi-link.js     MIDI in and out on the sample clock
//   updates.js       the service worker and new versions
// This one wires them together and starts the page.
import { files, ids, limits } from './bridge.js';
import { invitePress, listenToPointer } from './canvas.js';
import { isRecording, listenToControls, stopInviting } from './controls.js';
import { expectSaveAnswer, showMessage } from './dialogs.js';
import { chooseFileToOpen, listenToOpen } from './files.js';
import { keptInBrowser } from './keep.js';
import { keepSoon, keptSoFar, recordingHasLines, restore } from './keeping.js';
import { copyLink, listenToLinks, openLink } from './links.js';
import { setUpMenus } from './menus.js';
import { setUpMidiLink } from './midi-link.js';
import {
  kSampleRate, observe, send, startOnFirstPress, tap,
} from './program-port.js';
import { watchForNewVersions } from './updates.js';

startOnFirstPress((error) => showMessage('DoodleChorus',
  `The sound cannot start: ${error.message}`));

listenToPointer({
  onPress: stopInviting,
  // The stroke's ink, and its lines when recording.
  onStrokeEnd: () => keepSoon({ recording: isRecording() }),
});
listenToControls({ onChanged: keepSoon });
listenToOpen({ onChosen: stopInviting, onOpened: () => keepSoon({ recording: true }) });
listenToLinks();

const midi = setUpMidiLink();
const chooseVoiceType = (voiceType) => {
  send({ type: 'menu', id: voiceType === 1 ? ids.menuType1 : ids.menuType2 });
  keepSoon();
};
// tuning: Tuning's value, 0 Classic or 1 Concert.
const chooseTuning = (tuning) => {
  send({ type: 'menu', id: ids.tuning.items[tuning].id });
  keepSoon();
};
setUpMenus({
  open: chooseFileToOpen,
  save: () => {
    expectSaveAnswer(recordingHasLines());
    send({ type: 'menu', id: ids.menuSave });
  },
  'copy-link': copyLink,
  'export-wav': () => send({ type: 'menu', id: ids.menuExportWav }),
  'export-midi': () => send({ type: 'menu', id: ids.menuExportMidi }),
  type1: () => chooseVoiceType(1),
  type2: () => chooseVoiceType(2),
  'tuning-classic': () => chooseTuning(0),
  'tuning-concert': () => chooseTuning(1),
  midi: () => midi.choose(),
  about: () => send({ type: 'menu', id: ids.menuAbout }),
  help: () => send({ type: 'menu', id: ids.menuHelp }),
});

// The kept drawing first, so that a link's question is asked over the person's own drawing.
{
  const kept = await keptInBrowser(limits);
  if (kept !== null) await restore(kept, false);
}
await openLink();
// The area listens, and a press is handed to the program (once it runs): the prompt may invite
// it now.
invitePress();

watchForNewVersions(keptSoFar);

// For embedding pages and tests: the worklet's rendered samples and the program's view calls,
// each stamped with the sample clock's frame.
window.doodleChorus = {
  ready: true,
  sampleRate: kSampleRate,
  module: files,
  tables: ids,
  tap,
  observe,
};
