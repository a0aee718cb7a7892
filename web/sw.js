// The page's service worker: it keeps every file of the page in a cache of this build, filled
// on the first visit, and answers the page's requests from it, so that the page loads and
// plays without a network. The build writes the version (a hash of the files) and the list.
// A new build is a new cache, filled whole before it takes over; the old one is deleted then,
// and an open page reloads itself, so that a page never mixes the files of two builds.
const kVersion = '@DC_WEB_VERSION@';
const kFiles = [@DC_WEB_FILES_JSON@];
const kCachePrefix = 'doodlechorus-';
const kCacheName = `${kCachePrefix}${kVersion}`;

self.addEventListener('install', (event) => {
  event.waitUntil((async () => {
    const cache = await caches.open(kCacheName);
    // Revalidated with the server, so that no copy of an older build comes from the HTTP cache.
    await cache.addAll(kFiles.map((file) => new Request(file, { cache: 'no-cache' })));
    await self.skipWaiting();
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
