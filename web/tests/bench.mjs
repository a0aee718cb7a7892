// The WebAssembly voice in Chromium against the native one (build/bench/voice_bench) on this
// machine: ns per sample for the same workload (a sounding voice, a glide always running), and
// the share of one 128-frame render quantum (2.9 ms at 44100 Hz) that rendering it takes.
// Usage: node tests/bench.mjs [VOICE_BENCH]
import { execFileSync } from 'node:child_process';
import path from 'node:path';
import { openPageInBrowser, sourceRoot } from './harness.mjs';

const kSampleRate = 44100;
const kQuantumFrames = 128;
// voice_bench's buffer sizes, and the render quantum of an audio worklet.
const kBufferSizes = [64, 128, 512, 4096];
const kRuns = 5; // the best of these
const kSamplesPerRun = 20_000_000; // about 1.5 s of CPU: the process times count in 10 ms steps

const voiceBench = process.argv[2] ?? path.join(sourceRoot, 'build/bench/voice_bench');

function nativeNsPerSample() {
  const json = JSON.parse(execFileSync(voiceBench, ['--benchmark_format=json',
    '--benchmark_min_time=0.5', '--benchmark_repetitions=3'], { encoding: 'utf8' }));
  const best = new Map();
  for (const run of json.benchmarks) {
    if (run.run_type !== 'iteration') continue;
    const frames = Number(run.name.split('/')[1]);
    best.set(frames, Math.min(best.get(frames) ?? Infinity, run.ns_per_sample)); // CPU time
  }
  return best;
}

// CPU time of the browser's renderer processes, seconds: unlike the page's clock it leaves out
// what the machine's other work takes, as voice_bench's CPU time does.
async function rendererCpuSeconds(cdp) {
  const { processInfo } = await cdp.send('SystemInfo.getProcessInfo');
  return processInfo.filter((p) => p.type === 'renderer').reduce((sum, p) => sum + p.cpuTime, 0);
}

const session = await openPageInBrowser();
const cdp = await session.browser.newBrowserCDPSession();
const wasm = new Map();
for (const frames of kBufferSizes) {
  const buffers = Math.ceil(kSamplesPerRun / frames);
  await session.page.evaluate(([bufferFrames, count]) => {
    const m = window.doodleChorus.module;
    m._dc_bench_voice_start(bufferFrames);
    m._dc_bench_voice_run(count); // warm-up: the engine's optimising tier
  }, [frames, buffers]);
  let best = Infinity;
  let bestWall = Infinity;
  for (let run = 0; run < kRuns; run++) {
    const before = await rendererCpuSeconds(cdp);
    const wallMs = await session.page.evaluate((count) => {
      const start = performance.now();
      window.doodleChorus.module._dc_bench_voice_run(count);
      return performance.now() - start;
    }, buffers);
    const seconds = (await rendererCpuSeconds(cdp)) - before;
    best = Math.min(best, (seconds * 1e9) / (buffers * frames));
    bestWall = Math.min(bestWall, (wallMs * 1e6) / (buffers * frames));
  }
  wasm.set(frames, { cpu: best, wall: bestWall });
}
const chromiumVersion = session.browser.version();
await session.close();
const native = nativeNsPerSample();

console.log(`Voice render, CPU ns per sample (best of runs): WebAssembly in Chromium `
  + `${chromiumVersion} vs native voice_bench`);
console.log('buffer  wasm ns  native ns  wasm/native  share of a 128-frame quantum (wasm)'
  + '  wasm wall-clock ns');
for (const frames of kBufferSizes) {
  const { cpu: w, wall } = wasm.get(frames);
  const n = native.get(frames);
  const quantumShare = (w * kQuantumFrames) / ((kQuantumFrames / kSampleRate) * 1e9);
  console.log(`${String(frames).padStart(6)}  ${w.toFixed(2).padStart(7)}  `
    + `${n ? n.toFixed(2).padStart(9) : '        -'}  `
    + `${n ? (w / n).toFixed(2).padStart(11) : '          -'}  `
    + `${(100 * quantumShare).toFixed(2).padStart(34)} %  ${wall.toFixed(2).padStart(18)}`);
}
