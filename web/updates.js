// Offline: the service worker (sw.js) keeps the page's files. A new build never reloads a page
// by itself, which could cut a recording or a drag short: its worker waits until every page of
// the old build is closed, and the page offers the reload. Asked for, the new worker takes over
// and the page loads the new build whole, with the drawing it has kept.
import { $ } from './dom.js';

// keptSoFar(): resolves once the page's drawing is kept, before a reload.
export function watchForNewVersions(keptSoFar) {
  if (!('serviceWorker' in navigator)) return;
  const updating = navigator.serviceWorker.controller !== null;
  const notice = $('#update');
  let reloadAsked = false;
  const offerNewVersion = (registration) => {
    if (registration.waiting && navigator.serviceWorker.controller) notice.hidden = false;
  };
  navigator.serviceWorker.addEventListener('controllerchange', () => {
    if (reloadAsked) keptSoFar().then(() => location.reload());
  });
  navigator.serviceWorker.addEventListener('message', (event) => {
    if (event.data?.type !== 'otherPagesOpen') return;
    reloadAsked = false;
    $('#update-text').textContent = 'A new version of DoodleChorus is ready. Close DoodleChorus '
      + 'in your other tabs and windows first, then reload for it here.';
  });
  navigator.serviceWorker.startMessages();
  $('#update-reload').addEventListener('click', async () => {
    const registration = await navigator.serviceWorker.getRegistration();
    if (registration?.waiting) {
      reloadAsked = true;
      registration.waiting.postMessage({ type: 'takeOver' });
    } else {
      // Another tab's reload has let the new build take over already.
      keptSoFar().then(() => location.reload());
    }
  });
  // Without a worker (a page opened from a file, a browser that refuses it) the page works
  // all the same, only not offline: nothing to tell the person. A page served by a worker asks
  // for a newer build at every visit and when it is shown again, which fails quietly offline.
  navigator.serviceWorker.register('sw.js')
    .then((registration) => {
      offerNewVersion(registration);
      registration.addEventListener('updatefound', () => {
        const { installing } = registration;
        installing?.addEventListener('statechange', () => offerNewVersion(registration));
      });
      const lookForNewVersion = () => registration.update().catch(() => {});
      if (updating) lookForNewVersion();
      document.addEventListener('visibilitychange', () => {
        if (document.visibilityState === 'visible') lookForNewVersion();
      });
    })
    .catch(() => {});
}
