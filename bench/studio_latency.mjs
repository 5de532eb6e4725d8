// Edit-to-visible latency of the studio's page: from a value changed in the page (the widget set
// and sent, as a slider does) to the first drawn frame that reflects it, over N changes on the face
// example, playing and paused; and from the change to another page drawing it.
//
//   node bench/studio_latency.mjs [--changes 50] [--timeout 1000]
//
// CVCOMP_PROGRAM names the program (build/bin/cvcomp by default). Each change alternates
// faces.inputMinSize between 20 and 21; the page also watches that input, so each frame's message
// says which value it was evaluated with. A change is visible once the watched overlay picture
// of the first frame evaluated with it is drawn and the browser has painted it (the next
// animation frame). While playing, the clip starts again whenever it ends. A change that no frame
// reflects within the timeout counts as not shown.
import {copyFileSync, mkdtempSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';
import {parseArgs} from 'node:util';
import {openPage, repository, startStudio} from '../studio/web/tests/studioHarness.mjs';

const {values: options} = parseArgs({options: {changes: {type: 'string', default: '50'}, timeout: {type: 'string', default: '1000'}}});
const changes = Number(options.changes);
const timeout = Number(options.timeout);

const folder = mkdtempSync(join(tmpdir(), 'studio-latency-'));
const composition = join(folder, 'face-detect.json');
copyFileSync(join(repository, 'examples/face-detect.json'), composition);
const studio = await startStudio(composition);
const {browser, page} = await openPage(studio.address);

// In the page: changes the value, resolves to the milliseconds until the first frame evaluated
// with it is drawn and painted, or null.
const measure = (value, limit) =>
  page.evaluate(
    ([value, limit]) =>
      new Promise((resolve) => {
        const {editor, watch} = window.studio;
        const image = document.querySelector('.card[data-port="overlay.outputImage"] canvas.frame');
        const showFrame = watch.showFrame;
        let first = null;
        const done = (result) => {
          watch.showFrame = showFrame;
          observer.disconnect();
          clearTimeout(timer);
          resolve(result);
        };
        const drawn = () => first !== null && Number(image.dataset.seq) >= first;
        const observer = new MutationObserver(() => drawn() && requestAnimationFrame(() => done(performance.now() - start)));
        observer.observe(image, {attributes: true, attributeFilter: ['data-seq']});
        // Counted by evaluation (seq): a paused frame evaluated again keeps its number.
        watch.showFrame = function (frame, seq, values) {
          if (first === null && Number(values['faces.inputMinSize']) === value) first = seq;
          return showFrame.call(this, frame, seq, values);
        };
        const timer = setTimeout(() => done(null), limit);
        const faces = editor.nodes.get('faces');
        const port = faces.patchClass.ports.find((p) => p.name === 'inputMinSize');
        const start = performance.now();
        faces.widgetsByPort.get('inputMinSize').value = value;
        editor.setValue(faces, port, value);
      }),
    [value, limit],
  );

const address = new URL(studio.address);
const transport = (request) =>
  fetch(new URL('/api/transport', address), {
    method: request ? 'POST' : 'GET',
    headers: {Authorization: `Bearer ${address.searchParams.get('token')}`},
    body: request ? JSON.stringify(request) : undefined,
  }).then((r) => r.json());
const quantile = (sorted, q) => sorted[Math.min(sorted.length - 1, Math.floor(q * (sorted.length - 1) + 0.5))];

await page.evaluate(() => window.studio.watch.focus(['faces.inputMinSize']));
await page.waitForSelector('.card[data-port="overlay.outputImage"] canvas.frame[data-frame]');
const rows = [];
for (const mode of ['playing', 'paused']) {
  await transport({action: mode === 'playing' ? 'play' : 'pause'});
  const times = [];
  let missed = 0;
  for (let i = 0; i < changes; i += 1) {
    if (mode === 'playing' && (await transport()).ended) await transport({action: 'play'});
    const ms = await measure(i % 2 ? 20 : 21, timeout);
    if (ms === null) missed += 1;
    else times.push(ms);
    await page.waitForTimeout(100);
  }
  times.sort((a, b) => a - b);
  const fps = await page.$eval('#transport .frame', (e) => e.textContent);
  rows.push({mode, shown: times.length, missed, median: quantile(times, 0.5), p95: quantile(times, 0.95), fps});
}
// Another page of the studio: from the value changed in the first page to the second page drawing
// the batch from its live message, on one clock (the time origin of each page plus its own time).
const other = await browser.newPage();
await other.goto(studio.address);
await other.waitForSelector('body[data-ready]');
await transport({action: 'play'});
const relayed = [];
for (let i = 0; i < changes; i += 1) {
  if ((await transport()).ended) await transport({action: 'play'});
  const value = i % 2 ? 20 : 21;
  const arrived = other.evaluate(
    ([value, limit]) =>
      new Promise((resolve) => {
        const {sync} = window.studio;
        const apply = sync.apply;
        const timer = setTimeout(() => finish(null), limit);
        const finish = (at) => {
          sync.apply = apply;
          clearTimeout(timer);
          resolve(at);
        };
        sync.apply = function (edits, shown) {
          apply.call(this, edits, shown);
          if (edits.some((edit) => edit.port === 'faces.inputMinSize' && edit.value === value)) finish(performance.timeOrigin + performance.now());
        };
      }),
    [value, timeout],
  );
  const sent = await page.evaluate((value) => {
    const {editor} = window.studio;
    const faces = editor.nodes.get('faces');
    faces.widgetsByPort.get('inputMinSize').value = value;
    const at = performance.timeOrigin + performance.now();
    editor.setValue(faces, faces.patchClass.ports.find((p) => p.name === 'inputMinSize'), value);
    return at;
  }, value);
  const at = await arrived;
  if (at !== null) relayed.push(at - sent);
  await page.waitForTimeout(100);
}
relayed.sort((a, b) => a - b);
const fps = await page.$eval('#transport .frame', (e) => e.textContent);
await browser.close();
studio.stop();
rmSync(folder, {recursive: true, force: true});

const period = (text) => 1000 / Number(/([\d.]+) fps/.exec(text)?.[1]);
console.log(`| transport | changes shown | not shown within ${timeout} ms | median ms | p95 ms | engine's frame period ms | median ÷ period |`);
console.log('|---|---:|---:|---:|---:|---:|---:|');
const ms = (value) => (value === undefined ? '–' : value.toFixed(1));
for (const row of rows) {
  const ratio = row.median === undefined ? '–' : (row.median / period(row.fps)).toFixed(2);
  console.log(`| ${row.mode} | ${row.shown} | ${row.missed} | ${ms(row.median)} | ${ms(row.p95)} | ${ms(period(row.fps))} | ${ratio} |`);
}
console.log(`\nThe change drawn in another page (playing): ${relayed.length} of ${changes} within ${timeout} ms, median ${ms(quantile(relayed, 0.5))} ms, p95 ${ms(quantile(relayed, 0.95))} ms; the engine's frame period ${ms(period(fps))} ms.`);
