// Links that hold a drawing: File > Copy link makes one of the program's recording and
// settings, and a link opened (at a visit, or pasted into a running page's address) shows its
// drawing, without ever destroying a drawing this browser keeps.
import { files, ids, limits } from './bridge.js';
import { inviteToPlay } from './controls.js';
import { askToOpenShared, showMessage } from './dialogs.js';
import { $ } from './dom.js';
import { kBytesPerMiB } from './files.js';
import { readRecording } from './jobs.js';
import {
  KeepError, isLinkFragment, keepInBrowser, keptInBrowser, linkFragment, readLinkFragment,
} from './keep.js';
import {
  forgetLink, isLinkShownUnkept, keepAfter, keptRecordingBytes, keptSoFar, restore,
  showLinkUnkept,
} from './keeping.js';
import { snapshot } from './program-port.js';

function linkRefusal(error) {
  if (error instanceof KeepError && error.reason === 'tooLarge') {
    return `This link holds a recording larger than the ${ids.maxOpenFileBytes / kBytesPerMiB} `
      + 'MiB that DoodleChorus can open in a page, so it is not opened. Your drawing stays as it '
      + 'was.';
  }
  return 'This link does not hold a recording DoodleChorus can read: it may have been cut '
    + 'short when it was copied. Your drawing stays as it was.';
}

// The drawing of the link in the address, or null. The link is taken off the address once its
// drawing is kept or turned down (forgetLink), so that a reload shows the drawing as it is by
// then (kept in the browser) and not the link's again; a link refused is taken off at once.
async function takeLink() {
  const fragment = location.hash.slice(1);
  if (!isLinkFragment(fragment)) return null;
  try {
    return await readLinkFragment(fragment, limits, files);
  } catch (error) {
    forgetLink();
    showMessage('DoodleChorus', linkRefusal(error));
    return null;
  }
}

function sameValues(a, b) {
  return a.length === b.length && a.every((value, i) => value === b[i]);
}

// Whether the drawing this browser keeps holds work of the person's (a recording or ink) that
// opening the link's drawing (its recording, showing its dots) would not show as it is.
function keptDiffers(kept, linked, linkInkXY) {
  if (kept === null || kept.recording === null) return false; // settings only
  if (kept.recording.length === 0 && kept.inkXY.length === 0) return false;
  return !sameValues(kept.recording, linked.recording) || !sameValues(kept.inkXY, linkInkXY);
}

// Opens the link in the address. A link never takes the place of a drawing this browser keeps:
// where that drawing differs, the person chooses; keeping theirs changes nothing, and the
// link's drawing opened instead is kept only once they change it. Whoever opens a recording is
// invited to play it.
export async function openLink() {
  const linked = await takeLink();
  if (linked === null) return;
  const { recording, packed, settings } = linked;
  const read = await readRecording(recording);
  const linkInkXY = read?.ink ?? new Int32Array(0);
  await keptSoFar(); // this tab's own last change is kept first
  // The recording this tab shows counts too where the browser does not keep it (too large to
  // keep, or another tab kept its own since), unless it is a link's drawing left unchanged.
  const shownRecording = keptRecordingBytes();
  const tabDiffers = !isLinkShownUnkept() && shownRecording.length > 0
    && !sameValues(shownRecording, recording);
  const asked = tabDiffers || keptDiffers(await keptInBrowser(limits), linked, linkInkXY);
  if (asked && !await askToOpenShared()) {
    forgetLink();
    return;
  }
  await restore({ recording, packed, inkXY: null, settings }, true, read);
  if (asked) {
    showLinkUnkept();
  } else {
    forgetLink();
    // Kept at once, as the program will have it: the link's recording and its dots.
    keepAfter(() => keepInBrowser({ packedRecording: packed, inkXY: linkInkXY, settings },
      limits));
  }
  if (read !== null && read.lines > 0) inviteToPlay();
}

export async function copyLink() {
  const now = await snapshot(true);
  const recording = new Uint8Array(now.recording);
  const url = new URL(location.href);
  url.hash = await linkFragment(recording, now.settings, limits, files);
  const link = url.href;
  $('#link-url').value = link;
  const holds = recording.length > 0 ? 'Whoever opens it hears your recording, with your '
    + 'settings.' : 'Nothing is recorded yet: it holds your settings only.';
  let status = `The link is on the clipboard. ${holds}`;
  try {
    await navigator.clipboard.writeText(link);
  } catch {
    status = `Copy the link below. ${holds}`;
  }
  $('#link-status').textContent = status;
  const shareButton = $('#link-share');
  shareButton.hidden = typeof navigator.share !== 'function';
  shareButton.onclick = () => navigator.share({ title: 'DoodleChorus', url: link })
    .catch(() => {}); // the person closed the share sheet
  const box = $('#link');
  if (!box.open) box.showModal();
  $('#link-url').select();
}

export function listenToLinks() {
  $('#link-copy').addEventListener('click', async () => {
    const field = $('#link-url');
    field.select();
    try {
      await navigator.clipboard.writeText(field.value);
      $('#link-status').textContent = 'The link is on the clipboard.';
    } catch {
      $('#link-status').textContent = 'The browser does not let the page copy: the link is '
        + 'selected, copy it with the keyboard or the browser\'s menu.';
    }
  });
  window.addEventListener('hashchange', openLink);
}
