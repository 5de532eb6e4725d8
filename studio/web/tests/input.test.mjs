// Your own input in Debian's Chromium against a real `cvcomp studio`: a clip dropped on the graph
// becomes the input, the fake camera's frames give the values the same frames give as a folder to
// `cvcomp run`, and a recording is downloaded whole.
import assert from 'node:assert/strict';
import {execFileSync} from 'node:child_process';
import {copyFileSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';
import {after, test} from 'node:test';
import {openPage, program, repository, startStudio, wait} from './studioHarness.mjs';

const data = '/usr/share/doc/opencv-doc/examples/data';
const folder = mkdtempSync(join(tmpdir(), 'studio-input-'));
const fakeCamera = ['--use-fake-device-for-media-stream', '--use-fake-ui-for-media-stream'];
const opened = [];

// The studio on a copy of an example, in a folder of its own, and a page on it.
async function studioOn(example, launchArgs = []) {
  const place = mkdtempSync(join(folder, example.replace('.json', '-')));
  const composition = join(place, example);
  copyFileSync(join(repository, 'examples', example), composition);
  const studio = await startStudio(composition);
  const {browser, page, consoleErrors} = await openPage(studio.address, undefined, launchArgs);
  opened.push({studio, browser});
  return {place, composition, page, consoleErrors};
}

// `cvcomp run` of a composition on `input`: its JSON lines.
const runLines = (composition, input) =>
  execFileSync(program, ['run', '-q', composition, '--input', input, '--json', '-'], {encoding: 'utf8', maxBuffer: 1 << 28})
    .trim()
    .split('\n')
    .map((line) => JSON.parse(line));

after(async () => {
  for (const {studio, browser} of opened) {
    await browser.close();
    studio.stop();
  }
  rmSync(folder, {recursive: true, force: true});
});

test('a clip dropped on the graph is uploaded into the studio folder and becomes the input', async () => {
  const {place, page, consoleErrors} = await studioOn('gray.json');
  const bytes = readFileSync(join(data, 'Megamind.avi'));
  const dataTransfer = await page.evaluateHandle((base64) => {
    const transfer = new DataTransfer();
    const clip = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
    transfer.items.add(new File([clip], 'Megamind.avi', {type: 'video/x-msvideo'}));
    return transfer;
  }, bytes.toString('base64'));
  await page.dispatchEvent('#graph', 'drop', {dataTransfer});
  const uploaded = join(place, 'cvcomp-uploads', 'Megamind.avi');
  await page.waitForFunction((file) => document.querySelector('input[name=source]').value === file, uploaded, wait);
  assert.deepEqual(readFileSync(uploaded), bytes);
  // The clip's own frames (720 × 528, previewed 640 wide) replace the test pattern's (640 × 480).
  await page.waitForFunction(() => {
    const shown = document.querySelector('.card[data-port="toHost.outputImage"] canvas.frame');
    return shown?.width === 640 && shown.height === 469;
  }, null, wait);
  const composition = await page.evaluate(async () => (await fetch(`/api/composition${location.search}`)).json());
  assert.equal(composition.patches.src.inputs.inputPath, uploaded);
  assert.deepEqual(consoleErrors, []);
});

test("the fake camera's frames, latest first, give the values the same frames give as a folder", async () => {
  const {place, composition, page, consoleErrors} = await studioOn('edges-lines.json', fakeCamera);
  // The page keeps every frame it sends and every frame message it is sent.
  await page.evaluate(() => {
    const {camera, live} = window.studio;
    Object.assign(window, {sent: [], received: []});
    camera.onSent = (frame) => window.sent.push(frame);
    const receive = live.receive.bind(live);
    live.receive = (data) => {
      if (typeof data === 'string' && JSON.parse(data).type === 'frame') window.received.push(data);
      receive(data);
    };
  });
  await page.click('[data-input=camera]');
  await page.waitForFunction(() => window.sent.length >= 40 && window.received.length >= 10, null, {timeout: 60000});
  await page.click('[data-input=camera]');
  await page.waitForFunction(() => !document.querySelector('[data-input=camera]').classList.contains('active'), null, wait);
  const sent = await page.evaluate(() =>
    Promise.all(window.sent.map(async ({time, jpeg}) => ({time, bytes: [...new Uint8Array(await jpeg.arrayBuffer())]}))),
  );
  const frames = join(place, 'camera');
  mkdirSync(frames);
  sent.forEach(({bytes}, i) => writeFileSync(join(frames, `frame${String(i).padStart(5, '0')}.jpg`), Buffer.from(bytes)));
  const lines = runLines(composition, frames);
  assert.equal(lines.length, sent.length);
  const index = new Map(sent.map(({time}, i) => [time, i]));
  const received = (await page.evaluate(() => window.received)).map((text) => JSON.parse(text)).filter((m) => index.has(m.time));
  assert.ok(received.length >= 10, `${received.length} camera frames came back`);
  for (const message of received) {
    const line = lines[index.get(message.time)];
    assert.deepEqual(message.values['hough.outputLines'], line['hough.outputLines'], `the frame sent at ${message.time} s`);
  }
  assert.ok(received.some((m) => Object.keys(m.values['hough.outputLines']).length > 0), 'no line was found in any frame');
  assert.deepEqual(consoleErrors, []);
});

test('a watched picture recorded from its card downloads as a video of every frame recorded, with its JSON lines', async () => {
  const {place, page, consoleErrors} = await studioOn('gray.json');
  const card = '.card[data-port="toHost.outputImage"]';
  await page.waitForSelector(`${card} canvas.frame[data-frame]`, wait);
  await page.click(`${card} .record button`);
  await page.waitForFunction((card) => document.querySelector(`${card} .record button`).classList.contains('active'), card, wait);
  const start = await page.$eval('#transport .frame', (e) => Number(e.dataset.frame));
  await page.waitForFunction((frame) => Number(document.querySelector('#transport .frame').dataset.frame) > frame + 30, start, wait);
  await page.click(`${card} .record button`);
  const links = await page.locator(`${card} .record a`);
  await links.first().waitFor(wait);
  const downloaded = [];
  for (const link of await links.all()) {
    const [download] = await Promise.all([page.waitForEvent('download', wait), link.click()]);
    const file = join(place, `downloaded-${download.suggestedFilename()}`);
    await download.saveAs(file);
    downloaded.push(file);
  }
  const [video, json] = downloaded;
  assert.match(video, /toHost\.outputImage\.avi$/);
  const recorded = readFileSync(json, 'utf8').trim().split('\n').map((line) => JSON.parse(line));
  assert.ok(recorded.length > 30, `${recorded.length} frames recorded`);
  // Numbered one after the other, and as many frames in the video as lines.
  recorded.forEach((line, i) => assert.equal(line.frame, recorded[0].frame + i));
  assert.equal(runLines(join(place, 'gray.json'), video).length, recorded.length);
  assert.deepEqual(consoleErrors, []);
});
