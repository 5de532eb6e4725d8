// The studio page in Debian's Chromium against a real `cvcomp studio` on an ephemeral port, on a
// copy of the face example (Megamind.avi) so that saving writes to the copy.
import assert from 'node:assert/strict';
import {execFileSync, spawn} from 'node:child_process';
import {copyFileSync, mkdtempSync, readFileSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {dirname, join, resolve} from 'node:path';
import {after, before, test} from 'node:test';
import {fileURLToPath} from 'node:url';
import {chromium} from 'playwright-core';

const repository = join(dirname(fileURLToPath(import.meta.url)), '../../..');
const program = process.env.CVCOMP_PROGRAM ?? join(repository, 'build/bin/cvcomp');
const wait = {timeout: 15000};
const folder = mkdtempSync(join(tmpdir(), 'studio-'));
const composition = join(folder, 'face-detect.json');
copyFileSync(join(repository, 'examples/face-detect.json'), composition);

let server, browser, page;
const consoleErrors = [];

// Starts the studio and reads the address it prints: http://127.0.0.1:PORT/?token=...
function startStudio() {
  server = spawn(program, ['studio', composition, '--no-open', '--port', '0'], {stdio: ['ignore', 'pipe', 'pipe']});
  return new Promise((resolve, reject) => {
    let printed = '';
    const read = (chunk) => {
      printed += chunk;
      const found = printed.match(/http:\/\/127\.0\.0\.1:\d+\/\?token=[\w-]+/);
      if (found) resolve(found[0]);
    };
    server.stdout.on('data', read);
    server.stderr.on('data', read);
    server.on('exit', (code) => reject(new Error(`cvcomp studio ended (${code}): ${printed}`)));
  });
}

before(async () => {
  const address = await startStudio();
  browser = await chromium.launch({executablePath: '/usr/bin/chromium'});
  page = await browser.newPage({viewport: {width: 1500, height: 850}});
  // Chromium logs every 4xx answer as an error; the refusals the tests provoke are such answers.
  const provoked = /status of 400/;
  page.on('console', (m) => m.type() === 'error' && !provoked.test(m.text()) && consoleErrors.push(m.text()));
  page.on('pageerror', (error) => consoleErrors.push(error.message));
  await page.goto(address);
  await page.waitForSelector('body[data-ready]', wait);
});

after(async () => {
  await browser?.close();
  server?.kill('SIGTERM');
  rmSync(folder, {recursive: true, force: true});
});

// Where a node's port, or a point of its widget, is on the page.
const pointOf = (id, where) =>
  page.evaluate(
    ([id, where]) => {
      const {editor} = window.studio;
      const node = editor.nodes.get(id);
      let at;
      if (where.output) at = node.getOutputPos(node.findOutputSlot(where.output));
      else if (where.input) at = node.getInputPos(node.findInputSlot(where.input));
      else if (where.widget) {
        const widget = node.widgetsByPort.get(where.widget);
        at = [node.pos[0] + 15 + where.fraction * (node.size[0] - 30), node.pos[1] + widget.y + 10];
      } else at = [node.pos[0] + 60, node.pos[1] - 15];
      const [x, y] = editor.canvas.convertOffsetToCanvas(at);
      const rect = editor.canvasElement.getBoundingClientRect();
      return {x: rect.left + x, y: rect.top + y};
    },
    [id, where],
  );

async function drag(from, to) {
  await page.mouse.move(from.x, from.y);
  await page.mouse.down();
  await page.mouse.move((from.x + to.x) / 2, (from.y + to.y) / 2, {steps: 5});
  await page.mouse.move(to.x, to.y, {steps: 5});
  await page.mouse.up();
}

// A request to the studio's API from the page, with the token of its address.
const api = (path, init = {}) =>
  page.evaluate(async ([path, init]) => {
    const headers = {Authorization: `Bearer ${new URLSearchParams(location.search).get('token')}`};
    const response = await fetch(path, {...init, headers});
    return {status: response.status, ...(await response.json())};
  }, [path, init]);
const connections = async () => (await api('/api/composition')).connections;

// The watched picture of a port: its frame and the share of its pixels brighter than mid-grey.
const picture = (port) =>
  page.evaluate((port) => {
    const image = document.querySelector(`.card[data-port="${port}"] canvas.frame`);
    const {data} = image.getContext('2d').getImageData(0, 0, image.width, image.height);
    let bright = 0;
    let sum = 0;
    for (let i = 0; i < data.length; i += 4) {
      bright += data[i] > 128 ? 1 : 0;
      sum = (sum * 31 + data[i]) % 1000000007;
    }
    return {frame: Number(image.dataset.frame), bright: bright / (data.length / 4), sum};
  }, port);

const shownFrame = () => page.$eval('#transport .frame', (e) => Number(e.dataset.frame));

// The clip lasts a few seconds at full speed and the engine pauses at its end: tests that need
// frames to flow open it again from its first picture and play.
async function playFromTheStart() {
  const shown = await shownFrame();
  const clip = JSON.parse(readFileSync(composition, 'utf8')).patches.src.inputs.inputPath;
  await page.fill('input[name=source]', clip);
  await page.dispatchEvent('input[name=source]', 'change');
  await page.click('[data-action=play]');
  await page.waitForFunction((frame) => Number(document.querySelector('#transport .frame').dataset.frame) !== frame, shown, wait);
}

test('the face example opens laid out left to right and boxes a face live', async () => {
  const columns = await page.evaluate(() =>
    Object.fromEntries([...window.studio.editor.nodes].map(([id, node]) => [id, node.pos[0]])));
  assert.deepEqual(Object.keys(columns).sort(), ['cascade', 'faces', 'overlay', 'src', 'toCV']);
  assert.ok(columns.src < columns.toCV && columns.toCV < columns.faces && columns.faces < columns.overlay);
  await page.waitForSelector('.card[data-port="faces.outputRects"] tr', wait);
  const face = await page.$$eval('.card[data-port="faces.outputRects"] tr', (rows) => rows[0].textContent);
  assert.match(face, /^Object0000X -?[\d.e-]+Y -?[\d.e-]+W [\d.e-]+H [\d.e-]+$/);
  const screenshot = process.env.CVCOMP_STUDIO_SCREENSHOT;
  if (screenshot) await page.screenshot({path: resolve(repository, screenshot)});
});

test('the watched picture changes from frame to frame', async () => {
  await playFromTheStart();
  await page.waitForSelector('.card[data-port="overlay.outputImage"] canvas.frame[data-frame]', wait);
  const first = await picture('overlay.outputImage');
  await page.waitForFunction((frame) => Number(document.querySelector('.card[data-port="overlay.outputImage"] canvas.frame').dataset.frame) > frame + 2, first.frame, wait);
  assert.notEqual((await picture('overlay.outputImage')).sum, first.sum);
});

test('a patch added from the palette, wired and tuned changes the watched edges', async () => {
  await playFromTheStart();
  await page.dragAndDrop('.palette-item:text-is("OpenCVBGR2Gray")', '#graph', {targetPosition: {x: 300, y: 600}});
  await page.fill('#palette input[type=search]', 'canny');
  await page.dblclick('.palette-item:text-is("OpenCVCanny")');
  await page.waitForFunction(() => ['bgr2Gray', 'canny'].every((id) => window.studio.editor.nodes.has(id)), null, wait);
  await page.evaluate(() => (window.studio.editor.nodes.get('canny').pos = [900, 500]));
  await drag(await pointOf('toCV', {output: 'outputImage'}), await pointOf('bgr2Gray', {input: 'inputImage'}));
  await drag(await pointOf('bgr2Gray', {output: 'outputImage'}), await pointOf('canny', {input: 'inputImage'}));
  await page.waitForFunction(() => window.studio.editor.nodes.get('canny').inputs[0].link != null, null, wait);
  assert.ok((await connections()).some((c) => c.from === 'bgr2Gray.outputImage' && c.to === 'canny.inputImage'));
  const output = await pointOf('canny', {output: 'outputImage'});
  await page.mouse.click(output.x, output.y);
  await page.waitForSelector('.card[data-port="canny.outputImage"] canvas.frame[data-frame]', wait);
  const before = await picture('canny.outputImage');
  for (const port of ['inputThreshold1', 'inputThreshold2']) {
    await drag(await pointOf('canny', {widget: port, fraction: 0.05}), await pointOf('canny', {widget: port, fraction: 1}));
  }
  await page.waitForFunction((frame) => Number(document.querySelector('.card[data-port="canny.outputImage"] canvas.frame').dataset.frame) > frame + 5, before.frame, wait);
  const after = await picture('canny.outputImage');
  assert.ok(after.bright < before.bright / 2, `edges ${before.bright} → ${after.bright}`);
});

test('a connection the server refuses is not drawn and shows its message', async () => {
  // The batch the page sends for a link to a taken input.
  const edits = [{op: 'disconnect', to: 'canny.inputImage'}, {op: 'connect', from: 'cascade.outputData', to: 'canny.inputImage'}];
  const refusal = await api('/api/edits', {method: 'POST', body: JSON.stringify(edits)});
  assert.equal(refusal.status, 400);
  assert.match(refusal.error, /cascade/);
  await drag(await pointOf('cascade', {output: 'outputData'}), await pointOf('canny', {input: 'inputImage'}));
  await page.waitForSelector(`.notice:text-is(${JSON.stringify(refusal.error)})`, wait);
  assert.ok((await connections()).some((c) => c.from === 'bgr2Gray.outputImage' && c.to === 'canny.inputImage'));
});

test('pause stops the frames and step advances exactly one', async () => {
  await playFromTheStart();
  await page.click('[data-action=pause]');
  // Frames already sent when the engine paused may still arrive.
  await page.waitForTimeout(1000);
  const paused = await shownFrame();
  await page.waitForTimeout(1000);
  assert.equal(await shownFrame(), paused);
  await page.click('[data-action=step]');
  await page.waitForFunction((frame) => Number(document.querySelector('#transport .frame').dataset.frame) === frame + 1, paused, wait);
  await page.waitForTimeout(1000);
  assert.equal(await shownFrame(), paused + 1);
});

test('a saved composition keeps positions and values, and cvcomp checks it', async () => {
  const title = await pointOf('canny', {});
  await drag(title, {x: title.x + 120, y: title.y + 40});
  await page.mouse.click(title.x + 120, title.y + 40);
  await page.fill('#inspector input[name=inputThreshold1]', '123.5');
  await page.press('#inspector input[name=inputThreshold1]', 'Enter');
  const moved = await page.evaluate(() => window.studio.editor.nodes.get('canny').pos.map(Math.round));
  await page.click('[data-file=save]');
  await page.waitForSelector('.notice:text-is("saved")', wait);
  const saved = JSON.parse(readFileSync(composition, 'utf8'));
  assert.deepEqual(saved.layout.canny, {x: moved[0], y: moved[1]});
  assert.equal(saved.patches.canny.inputs.inputThreshold1, 123.5);
  execFileSync(program, ['check', composition]);
  await page.reload();
  await page.waitForSelector('body[data-ready]', wait);
  const shown = await page.evaluate(() => {
    const node = window.studio.editor.nodes.get('canny');
    return {pos: node.pos.map(Math.round), threshold: node.widgetsByPort.get('inputThreshold1').value};
  });
  assert.deepEqual(shown, {pos: moved, threshold: 123.5});
});

test('every example opens laid out without overlaps, each patch right of its sources', async () => {
  const names = await page.$$eval('[data-file=example] option[value$=".json"]', (options) => options.map((o) => o.value));
  assert.ok(names.includes('face-detect.json') && names.length >= 6, names.join());
  for (const name of names) {
    await page.selectOption('[data-file=example]', name);
    // The list shows its prompt again once the example is on screen.
    await page.waitForFunction(() => document.querySelector('[data-file=example]').value === '', null, wait);
    const expected = JSON.parse(readFileSync(join(repository, 'examples', name), 'utf8'));
    // Measured now: the editor updates its bounding boxes only when it next draws.
    const boxes = await page.evaluate(() => Object.fromEntries([...window.studio.editor.nodes].map(([id, node]) => {
      const measured = new Float32Array(4);
      node.measure(measured);
      return [id, [...measured]];
    })));
    assert.deepEqual(Object.keys(boxes).sort(), Object.keys(expected.patches).sort());
    const overlap = (a, b) => a[0] < b[0] + b[2] && b[0] < a[0] + a[2] && a[1] < b[1] + b[3] && b[1] < a[1] + a[3];
    const ids = Object.keys(boxes);
    for (const [i, a] of ids.entries()) for (const b of ids.slice(i + 1)) assert.ok(!overlap(boxes[a], boxes[b]), `${name}: ${a} overlaps ${b}`);
    for (const {from, to} of expected.connections) {
      const [source, target] = [from, to].map((port) => boxes[port.split('.')[0]]);
      assert.ok(source[0] + source[2] < target[0], `${name}: ${from} → ${to}`);
    }
  }
});

test('the page logged no console error', () => {
  assert.deepEqual(consoleErrors, []);
});
