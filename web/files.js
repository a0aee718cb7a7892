// Files in the page: Open reads the chosen file in the worker and hands its recording to the
// program, which answers its open dialog with it; Save's bytes and the exports (rendered by the
// worker as the render tool renders them) are offered as downloads.
import { ids } from './bridge.js';
import { explainOpenRefusal, saveAnswered, showMessage } from './dialogs.js';
import { $ } from './dom.js';
import { cancelJobs, readRecording, workerJob } from './jobs.js';
import { onProgram, send } from './program-port.js';

const openInput = $('#open-file');
// An export shows its progress once it has run this long, ms.
const kExportProgressAfterMs = 300;
export const kBytesPerMiB = 1024 * 1024;
const kMimeTypes = { '.sav': 'text/plain', '.wav': 'audio/wav', '.mid': 'audio/midi' };

// The open dialog's answer for the program: a recording read, or why there is none.
export function sendOpen(read) {
  if (read === null) {
    send({ type: 'open', answer: 'tooLarge' });
    return;
  }
  const { lines, text, points, released } = read;
  send({ type: 'open', answer: 'recording', lines, text, points, released },
    [text, points, released]);
}

export function chooseFileToOpen() {
  openInput.click();
}

// onOpened(): a file was opened (or refused), which may have changed the recording. A file
// larger than the program's memory can take is refused here, as one whose lines do not fit.
export function listenToOpen({ onChosen, onOpened }) {
  openInput.addEventListener('change', async () => {
    onChosen();
    const [file] = openInput.files;
    openInput.value = '';
    if (!file) {
      send({ type: 'open', answer: 'cancel' });
    } else if (file.size > ids.maxOpenFileBytes) {
      explainOpenRefusal(`"${file.name}" is larger than the ${ids.maxOpenFileBytes / kBytesPerMiB}`
        + ' MiB that DoodleChorus can open in a page.');
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
    onOpened();
  });
  openInput.addEventListener('cancel', () => send({ type: 'open', answer: 'cancel' }));
}

// bytes: an ArrayBuffer or a Blob (which the new Blob refers to without a copy).
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

onProgram('store', ({ bytes, name }) => {
  saveAnswered();
  download(bytes, name);
});
onProgram('export', exportRecording);
