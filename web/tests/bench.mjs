// The WebAssembly voice in Chromium against the native one (build/bench/voice_bench) on this
// machine: ns per sample for the same workload (a sounding voice, a glide always running), and
// the share of one 128-frame render quantum (2.9 ms at 44100 Hz) that rendering it takes.
// Usage: node tests/bench.mjs [VOICE_BENCH]
import { execFileSync } from 'node:child_process';
import path from 'node:path';
import { openPage, sourceRoot } from './harness.mjs';

const kSampleRate = 44100;
const kQuantumFrames = 128;
// voice_bench's buffer sizes, and the render quantum of an audio worklet.
const kBufferSizes = [64, 128, 512, 4096];
const kRuns = 15; // the best of these, as the least disturbed by other work on the machine

const voiceBench = process.argv[2] ?? path.join(sourceRoot, 'build/bench/voice_bench');

function nativeNsPerSample() {
  const json = JSON.parse(execFileSync(voiceBench, ['--benchmark_format=json',
    '--benchmark_min_time=0.5', '--benchmark_repetitions=3'], { encoding: 'utf8' }));
  const best = new Map();
  for (const run of json.benchmarks) {
    if (run.run_type !== 'iteration') continue;
    const frames = Number(run.name.split('/')[1]);
    best.set(frames, Math.min(best.get(frames) ?? Infinity, run.ns_per_sample));
  }
  return best;
}

const session = await openPage();
const wasm = new Map();
for (const frames of kBufferSizes) {
  const ns = await session.page.evaluate(([bufferFrames, runs]) => {
    const m = window.doodleChorus.module;
    m._dc_bench_voice_start(bufferFrames);
    const buffers = Math.ceil(1_000_000 / bufferFrames); // about 23 s of sound per run
    m._dc_bench_voice_run(buffers); // warm-up: the engine's optimising tier
    let best = Infinity;
    for (let run = 0; run < runs; run++) {
      const start = performance.now();
      m._dc_bench_voice_run(buffers);
      best = Math.min(best, ((performance.now() - start) * 1e6) / (buffers * bufferFrames));
    }
    return best;
  }, [frames, kRuns]);
  wasm.set(frames, ns);
}
const chromiumVersion = session.page.context().browser()?.version() ?? 'chromium';
await session.close();
const native = nativeNsPerSample();

console.log(`Voice render, ns per sample (best of runs), ${chromiumVersion} vs native`);
console.log('buffer  wasm ns  native ns  wasm/native  share of a 128-frame quantum (wasm)');
for (const frames of kBufferSizes) {
  const w = wasm.get(frames);
  const n = native.get(frames);
  const quantumShare = (w * kQuantumFrames) / ((kQuantumFrames / kSampleRate) * 1e9);
  console.log(`${String(frames).padStart(6)}  ${w.toFixed(2).padStart(7)}  `
    + `${n ? n.toFixed(2).padStart(9) : '        -'}  `
    + `${n ? (w / n).toFixed(2).padStart(11) : '          -'}  `
    + `${(100 * quantumShare).toFixed(2)} %`);
}
