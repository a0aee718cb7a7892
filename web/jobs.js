// The page's worker (worker.js): it reads opened recordings and makes the exports, one job after
// the other, off the page's main thread and the audio thread. An export that runs long can be
// cancelled, which ends the worker: a new one takes the next job.
import { wasmModule } from './bridge.js';

let worker = null;
let nextJobId = 1;
const jobs = new Map(); // id: { resolve, onProgress }

function startWorker() {
  worker = new Worker('worker.js', { type: 'module' });
  worker.postMessage({ type: 'module', wasmModule });
  worker.onmessage = (event) => {
    const { id, type } = event.data;
    const job = jobs.get(id);
    if (!job) return;
    if (type === 'progress') {
      job.onProgress?.(event.data.done / event.data.total);
      return;
    }
    jobs.delete(id);
    job.resolve(event.data);
  };
}
startWorker();

// The worker's answer to `message`; onProgress(fraction done) while it works. A cancelled job
// answers { cancelled: true }.
export function workerJob(message, transfer, onProgress = null) {
  return new Promise((resolve) => {
    const id = nextJobId++;
    jobs.set(id, { resolve, onProgress });
    worker.postMessage({ id, ...message }, transfer);
  });
}

export function cancelJobs() {
  worker.terminate();
  for (const job of jobs.values()) job.resolve({ cancelled: true });
  jobs.clear();
  startWorker();
}

// A recording's bytes read into the parts the program takes (off the audio thread), with the
// dots it shows when it is opened as x, y pairs; null when its lines do not fit in memory.
export async function readRecording(bytes) {
  const copy = bytes.slice().buffer;
  const parsed = await workerJob({ type: 'parse', bytes: copy }, [copy]);
  if (parsed.tooLarge || parsed.cancelled) return null;
  return { ...parsed, ink: new Int32Array(parsed.ink) };
}
