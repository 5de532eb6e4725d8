// The studio's own input, measured: the page's camera (Chromium's fake one, 640 × 480) over 10 s
// on three examples — frames sent, evaluated and dropped by the latest-wins hand-over — and uploads
// of a ~100 MiB clip against copying the same file on the same disk.
//   node bench/studio_input.mjs
import {execFileSync} from 'node:child_process';
import {copyFileSync, mkdtempSync, readFileSync, rmSync, statSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';
import {openPage, program, repository, startStudio} from '../studio/web/tests/studioHarness.mjs';

const folder = mkdtempSync(join(tmpdir(), 'bench-input-'));
const seconds = 10;
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function studioOn(example, launchArgs = []) {
  const composition = join(folder, example);
  copyFileSync(join(repository, 'examples', example), composition);
  const studio = await startStudio(composition);
  const opened = await openPage(studio.address, undefined, launchArgs);
  const token = new URL(studio.address).searchParams.get('token');
  const get = async (path) => (await fetch(new URL(path, studio.address), {headers: {Authorization: `Bearer ${token}`}})).json();
  return {...opened, studio, token, get};
}

async function camera(example) {
  const {browser, page, studio, get} = await studioOn(example, ['--use-fake-device-for-media-stream=fps=60', '--use-fake-ui-for-media-stream']);
  await page.evaluate(() => {
    window.sent = 0;
    window.studio.camera.onSent = () => window.sent++;
  });
  await page.click('[data-input=camera]');
  await sleep(2000);
  const [before, sentBefore] = [await get('/api/camera'), await page.evaluate(() => window.sent)];
  await sleep(seconds * 1000);
  const [after, sentAfter] = [await get('/api/camera'), await page.evaluate(() => window.sent)];
  await browser.close();
  studio.stop();
  const rate = (key) => (after[key] - before[key]) / seconds;
  return {example, sent: (sentAfter - sentBefore) / seconds, received: rate('received'), processed: rate('processed'), dropped: after.dropped - before.dropped};
}

async function upload(file, rounds) {
  const {browser, studio, token} = await studioOn('gray.json');
  const bytes = readFileSync(file);
  // Paused, so that playing the clip uploaded before takes no core from the next upload.
  await fetch(new URL('/api/transport', studio.address), {method: 'POST', headers: {Authorization: `Bearer ${token}`}, body: '{"action":"pause"}'});
  const results = [];
  for (let round = 0; round < rounds; ++round) {
    let start = performance.now();
    const response = await fetch(new URL('/api/upload?name=clip.avi', studio.address), {
      method: 'POST',
      headers: {Authorization: `Bearer ${token}`, 'Content-Type': 'application/octet-stream'},
      body: bytes,
    });
    if (!response.ok) throw new Error(await response.text());
    const uploadMs = performance.now() - start;
    start = performance.now();
    copyFileSync(file, join(folder, `copy-${round}.avi`));
    results.push({uploadMs, copyMs: performance.now() - start});
  }
  await browser.close();
  studio.stop();
  return results;
}

// A ~100 MiB clip: the test pattern at 3840 × 2160 as MJPEG.
const clip = join(folder, 'clip.avi');
const pattern = join(folder, 'pattern.json');
writeFileSync(pattern, JSON.stringify({patches: {src: {class: 'ImageSource', inputs: {inputPath: 'pattern:3840x2160'}}}, publish: ['src.outputImage']}));
execFileSync(program, ['run', '-q', pattern, '--frames', '820', '--video', clip]);
const mib = statSync(clip).size / (1 << 20);

console.log(`| example | sent/s | received/s | evaluated/s | evaluated ÷ received | dropped in ${seconds} s |`);
console.log('|---|---:|---:|---:|---:|---:|');
for (const example of ['gray.json', 'edges-lines.json', 'face-detect.json']) {
  const r = await camera(example);
  console.log(`| ${r.example} | ${r.sent.toFixed(1)} | ${r.received.toFixed(1)} | ${r.processed.toFixed(1)} | ${(r.processed / r.received).toFixed(3)} | ${r.dropped} |`);
}
console.log(`\n| round | MiB | upload ms | MiB/s | copy ms | upload ÷ copy time |`);
console.log('|---:|---:|---:|---:|---:|---:|');
for (const [i, r] of (await upload(clip, 3)).entries()) {
  console.log(`| ${i + 1} | ${mib.toFixed(1)} | ${r.uploadMs.toFixed(0)} | ${(mib / (r.uploadMs / 1000)).toFixed(0)} | ${r.copyMs.toFixed(0)} | ${(r.uploadMs / r.copyMs).toFixed(2)} |`);
}
rmSync(folder, {recursive: true, force: true});
