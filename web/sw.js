// The page's service worker: it keeps every file of the page in a cache of this build, filled
// on the first visit, and answers the page's requests from it, so that the page loads and
// plays without a network. The build writes the version (a hash of the files) and the list.
// A new build is a new cache, filled whole; its worker then waits until no page of the old
// build is open, or until a page asks it to take over (the person chose to reload for the new
// version there, and no other page is open; that page then loads the new build whole), so that
// no page is reloaded under the person's hands. The old cache is deleted when the new worker
// takes over.
const kVersion = '@DC_WEB_VERSION@';
const kFiles = [@DC_WEB_FILES_JSON@];
const kCachePrefix = 'doodlechorus-';
const kCacheName = `${kCachePrefix}${kVersion}`;

self.addEventListener('install', (event) => {
  event.waitUntil((async () => {
    const cache = await caches.open(kCacheName);
    // Revalidated with the server, so that no copy of an older build comes from the HTTP cache.
    await cache.addAll(kFiles.map((file) => new Request(file, { cache: 'no-cache' })));
    // The first build takes over at once: no page of another build runs yet.
    if (!self.registration.active) await self.skipWaiting();
  })());
});

// A page asks for the new build. Where other pages of the old build are open, it waits still:
// taking over would serve them this build's files beside the old ones they run, so the page
// that asked is told to have them closed first.
self.addEventListener('message', (event) => {
  if (event.data?.type !== 'takeOver') return;
  event.waitUntil((async () => {
    const pages = await self.clients.matchAll({ type: 'window', includeUncontrolled: true });
    if (pages.length > 1) event.source.postMessage({ type: 'otherPagesOpen' });
    else await self.skipWaiting();
  })());
});

self.addEventListener('activate', (event) => {
  event.waitUntil((async () => {
    for (const name of await caches.keys()) {
      if (name.startsWith(kCachePrefix) && name !== kCacheName) await caches.delete(name);
    }
    await self.clients.claim();
  })());
});

self.addEventListener('fetch', (event) => {
  const { request } = event;
  if (request.method !== 'GET' || new URL(request.url).origin !== self.location.origin) return;
  event.respondWith((async () => {
    const cache = await caches.open(kCacheName);
    // A navigation may carry a query; the page is the same.
    const cached = await cache.match(request, { ignoreSearch: request.mode === 'navigate' });
    return cached ?? fetch(request);
  })());
});
