// A closer look at the face example in Debian's Chromium against a real `cvcomp studio`: the pixel
// readout and region statistics against the whole picture decoded here, zoom up to pixels drawn
// as squares, strip charts that follow the frames and the profile of the patches' milliseconds.
import assert from 'node:assert/strict';
import {mkdtempSync, readFileSync, rmSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join, resolve} from 'node:path';
import {after, before, test} from 'node:test';
import {openPage, repository, startStudio, wait} from './studioHarness.mjs';

const port = 'overlay.outputImage';
const card = `.card[data-port="${port}"]`;
const folder = mkdtempSync(join(tmpdir(), 'look-'));
let studio, browser, page, consoleErrors;

before(async () => {
  // The face example with a chessboard finder on its frames, whose corner count is an index (0
  // throughout).
  const composition = JSON.parse(readFileSync(join(repository, 'examples/face-detect.json'), 'utf8'));
  composition.patches.board = {class: 'OpenCVFindChessboardCorners'};
  composition.connections.push({from: 'toCV.outputImage', to: 'board.inputImage'});
  const file = join(folder, 'face-board.json');
  writeFileSync(file, JSON.stringify(composition));
  studio = await startStudio(file);
  ({browser, page, consoleErrors} = await openPage(studio.address));
  await page.waitForSelector(`${card} canvas.frame[data-frame]`, wait);
});

after(async () => {
  await browser?.close();
  await studio?.stop();
  rmSync(folder, {recursive: true, force: true});
});

const transport = (request) =>
  page.evaluate(async (request) => {
    const token = new URLSearchParams(location.search).get('token');
    const response = await fetch('/api/transport', {method: 'POST', headers: {Authorization: `Bearer ${token}`}, body: JSON.stringify(request)});
    return response.json();
  }, request);

// The port's whole picture as /api/picture gives it, decoded by the browser: its frame, size and
// RGBA pixels.
const wholePicture = async () => {
  const picture = await page.evaluate(async (port) => {
    const token = new URLSearchParams(location.search).get('token');
    const response = await fetch(`/api/picture?port=${port}`, {headers: {Authorization: `Bearer ${token}`}});
    const bitmap = await createImageBitmap(await response.blob(), {colorSpaceConversion: 'none'});
    const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
    canvas.getContext('2d').drawImage(bitmap, 0, 0);
    const {data, width, height} = canvas.getContext('2d').getImageData(0, 0, bitmap.width, bitmap.height);
    // As base64: an array of numbers this long would cross to the test slowly.
    let binary = '';
    for (let at = 0; at < data.length; at += 0x8000) binary += String.fromCharCode(...data.subarray(at, at + 0x8000));
    return {frame: Number(response.headers.get('X-Frame')), width, height, data: btoa(binary)};
  }, port);
  return {...picture, data: [...Buffer.from(picture.data, 'base64')]};
};

// Where the centre of pixel (x, y) of the whole picture is on the page, at the view's zoom.
const screenPoint = (x, y, picture) =>
  page.$eval(
    `${card} canvas.view`,
    (view, [x, y, width, height]) => {
      const look = window.studio.watch.cards.get(view.closest('.card').dataset.port).look;
      const rect = view.getBoundingClientRect();
      return {
        x: rect.left + ((x + 0.5) / width - look.left) * look.zoom * rect.width,
        y: rect.top + ((y + 0.5) / height - look.top) * look.zoom * rect.height,
      };
    },
    [x, y, picture.width, picture.height],
  );

const readout = () => page.$eval(`${card} .readout`, (e) => ({...e.dataset, text: e.textContent}));
const pixel = (picture, x, y) => picture.data.slice((y * picture.width + x) * 4, (y * picture.width + x) * 4 + 3);

test('the readout gives the whole picture’s pixel and centred unit, zoom reaches pixel squares, a region gives its exact statistics', async () => {
  const paused = await transport({action: 'pause'});
  await page.waitForFunction((frame) => window.studio.watch.cards.get('overlay.outputImage').frame === frame, paused.frame, wait);
  const picture = await wholePicture();
  assert.equal(picture.frame, paused.frame);

  // The pixel right of the centre on the row above it is the centred unit's origin.
  const [cx, cy] = [picture.width / 2, picture.height / 2 - 1];
  let at = await screenPoint(cx, cy, picture);
  await page.mouse.move(at.x, at.y);
  await page.waitForFunction((card) => document.querySelector(`${card} .readout`).dataset.values, card, wait);
  let shown = await readout();
  assert.deepEqual([Number(shown.x), Number(shown.y), Number(shown.frame)], [cx, cy, paused.frame]);
  assert.deepEqual(JSON.parse(shown.values), pixel(picture, cx, cy));
  assert.match(shown.text, /X 0\.0000 Y 0\.0000/);
  // The bottom-left pixel is at X −1 and Y −h/w.
  at = await screenPoint(0, picture.height - 1, picture);
  await page.mouse.move(at.x, at.y);
  shown = await readout();
  assert.deepEqual(JSON.parse(shown.values), pixel(picture, 0, picture.height - 1));
  assert.match(shown.text, new RegExp(`X -1\\.0000 Y ${(-picture.height / picture.width).toFixed(4)}`));

  // Zoomed in as far as it goes about a pixel, the pixel is a square of its own colour.
  const [zx, zy] = [Math.round(picture.width * 0.3), Math.round(picture.height * 0.6)];
  at = await screenPoint(zx, zy, picture);
  await page.mouse.move(at.x, at.y);
  for (let i = 0; i < 30; i++) await page.mouse.wheel(0, -400);
  // A pixel of the picture is then 40 pixels of the screen wide.
  await page.waitForFunction(
    ([card, width]) => {
      const view = document.querySelector(`${card} canvas.view`);
      return (Number(view.dataset.zoom) * view.getBoundingClientRect().width) / width > 39;
    },
    [card, picture.width],
    wait,
  );
  at = await screenPoint(zx, zy, picture);
  const square = await page.$eval(
    `${card} canvas.view`,
    (view, at) => {
      const rect = view.getBoundingClientRect();
      const [x, y] = [(at.x - rect.left) * devicePixelRatio, (at.y - rect.top) * devicePixelRatio];
      const data = view.getContext('2d').getImageData(Math.round(x) - 12, Math.round(y) - 12, 25, 25).data;
      const colours = new Set();
      for (let i = 0; i < data.length; i += 4) colours.add(`${data[i]},${data[i + 1]},${data[i + 2]}`);
      return [...colours];
    },
    at,
  );
  assert.deepEqual(square, [pixel(picture, zx, zy).join(',')]);
  assert.deepEqual(JSON.parse((await readout()).values), pixel(picture, zx, zy));

  // Shown whole again, a Shift+drag marks a region whose minimum, maximum and mean are the
  // picture's own.
  await page.mouse.dblclick(at.x, at.y);
  await page.waitForFunction((card) => Number(document.querySelector(`${card} canvas.view`).dataset.zoom) === 1, card, wait);
  const [x0, y0, x1, y1] = [Math.round(picture.width * 0.2), Math.round(picture.height * 0.25), Math.round(picture.width * 0.55), Math.round(picture.height * 0.7)];
  const from = await screenPoint(x0, y0, picture);
  const to = await screenPoint(x1, y1, picture);
  await page.keyboard.down('Shift');
  await page.mouse.move(from.x, from.y);
  await page.mouse.down();
  await page.mouse.move(to.x, to.y, {steps: 4});
  await page.mouse.up();
  await page.keyboard.up('Shift');
  const statistics = JSON.parse(await page.$eval(`${card} .region`, (e) => e.dataset.statistics));
  assert.deepEqual(statistics.region, {x0, y0, x1, y1});
  const expected = {min: [255, 255, 255], max: [0, 0, 0], sum: [0, 0, 0]};
  for (let y = y0; y <= y1; y++) {
    for (let x = x0; x <= x1; x++) {
      pixel(picture, x, y).forEach((value, c) => {
        expected.min[c] = Math.min(expected.min[c], value);
        expected.max[c] = Math.max(expected.max[c], value);
        expected.sum[c] += value;
      });
    }
  }
  assert.deepEqual(statistics.min, expected.min);
  assert.deepEqual(statistics.max, expected.max);
  assert.deepEqual(statistics.mean, expected.sum.map((sum) => sum / ((x1 - x0 + 1) * (y1 - y0 + 1))));

  // A step to the next frame reads that frame's whole picture.
  await transport({action: 'step'});
  await page.mouse.move(from.x + 1, from.y + 1);
  await page.waitForFunction((frame) => Number(document.querySelector('.card[data-port="overlay.outputImage"] .readout').dataset.frame) === frame, paused.frame + 1, wait);
});

test('strip charts of a count of members and of an index follow the frames, the profile lists the patches costliest first', async () => {
  await page.evaluate(() => window.studio.watch.focus(['board.outputCornerCount']));
  await transport({action: 'play'});
  const length = (port) => page.evaluate((port) => window.studio.watch.cards.get(port).chart.plot.data[0].length, port);
  await page.waitForFunction(() => window.studio.watch.cards.get('board.outputCornerCount').chart.plot.data[0].length >= 3, null, wait);
  const [counted, faces] = [await length('board.outputCornerCount'), await length('faces.outputRects')];
  await page.waitForFunction(
    ([counted, faces]) => {
      const {cards} = window.studio.watch;
      return cards.get('board.outputCornerCount').chart.plot.data[0].length > counted + 3 && cards.get('faces.outputRects').chart.plot.data[0].length > faces + 3;
    },
    [counted, faces],
    wait,
  );
  const series = await page.evaluate(() => window.studio.watch.cards.get('board.outputCornerCount').chart.plot.data);
  assert.ok(series[0].every((frame, i) => i === 0 || frame > series[0][i - 1]));
  assert.ok(series[1].every((value) => value === 0));

  // The profile: every patch, costliest first; a row's chart button charts its ms.
  await page.waitForSelector('#profile tr[data-patch="board"]', wait);
  const rows = await page.$$eval('#profile tr[data-patch]', (rows) => rows.map((row) => ({id: row.dataset.patch, mean: Number(row.cells[1].textContent)})));
  assert.deepEqual(rows.map((row) => row.id).sort(), ['board', 'cascade', 'faces', 'overlay', 'src', 'toCV']);
  assert.deepEqual(rows.map((row) => row.mean), rows.map((row) => row.mean).sort((a, b) => b - a));
  await page.click('#profile tr[data-patch="faces"] button.chart-ms');
  const charted = () => page.$eval('#profile .chart[data-patch="faces"]', (e) => Number(e.dataset.frames));
  const first = await charted();
  await page.waitForFunction((first) => Number(document.querySelector('#profile .chart[data-patch="faces"]').dataset.frames) > first + 3, first, wait);
  assert.deepEqual(consoleErrors, []);
});

// Pictures of the page with a readout, charts and the profile, when asked for
// (CVCOMP_LOOK_SCREENSHOTS=folder, relative to the repository).
test('screenshots', {skip: !process.env.CVCOMP_LOOK_SCREENSHOTS}, async () => {
  for (const viewport of [{width: 1500, height: 850}, {width: 900, height: 720}]) {
    await page.setViewportSize(viewport);
    await transport({action: 'pause'});
    await page.evaluate(() => window.studio.watch.focus([]));
    await page.check(`${card} input[type=checkbox]`);
    await page.$eval(card, (element) => element.scrollIntoView());
    const picture = await wholePicture();
    const at = await screenPoint(Math.round(picture.width * 0.45), Math.round(picture.height * 0.35), picture);
    await page.mouse.move(at.x, at.y);
    await page.waitForFunction(
      (port) => Number(document.querySelector(`.card[data-port="${port}"] .readout`).dataset.frame) === window.studio.watch.cards.get(port).frame,
      port,
      wait,
    );
    await page.screenshot({path: resolve(repository, process.env.CVCOMP_LOOK_SCREENSHOTS, `look-${viewport.width}x${viewport.height}.png`)});
  }
});
