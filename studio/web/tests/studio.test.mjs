// The studio page in Debian's Chromium against a real `cvcomp studio` on an ephemeral port, on a
// copy of the face example (Megamind.avi) so that saving writes to the copy.
import assert from 'node:assert/strict';
import {copyFileSync, mkdtempSync, readFileSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join, resolve} from 'node:path';
import {after, before, test} from 'node:test';
import {drag as dragOn, openPage, pointOf as pointOn, repository, startStudio, wait} from './studioHarness.mjs';

const folder = mkdtempSync(join(tmpdir(), 'studio-'));
const composition = join(folder, 'face-detect.json');
copyFileSync(join(repository, 'examples/face-detect.json'), composition);

let studio, browser, page, consoleErrors;

before(async () => {
  studio = await startStudio(composition);
  ({browser, page, consoleErrors} = await openPage(studio.address));
});

after(async () => {
  await browser?.close();
  await studio?.stop();
  rmSync(folder, {recursive: true, force: true});
});

const pointOf = (id, where) => pointOn(page, id, where);
const drag = (from, to) => dragOn(page, from, to);

// The watched picture of a port: its frame, the share of its pixels brighter than mid-grey and a
// checksum of them.
const picture = (port) =>
  page.$eval(`.card[data-port="${port}"] canvas.frame`, (image) => {
    const red = image.getContext('2d').getImageData(0, 0, image.width, image.height).data.filter((_, i) => i % 4 === 0);
    const sum = red.reduce((sum, value) => (sum * 31 + value) % 1000000007, 0);
    return {frame: Number(image.dataset.frame), bright: red.filter((value) => value > 128).length / red.length, sum};
  });

const shownFrame = () => page.$eval('#transport .frame', (e) => Number(e.dataset.frame));

test('the face example opens, boxes a face live, and the watched picture follows the frames', async () => {
  const face = await page.locator('.card[data-port="faces.outputRects"] tr').first().textContent(wait);
  assert.match(face, /^Object0000X -?[\d.e-]+Y -?[\d.e-]+W [\d.e-]+H [\d.e-]+$/);
  const screenshot = process.env.CVCOMP_STUDIO_SCREENSHOT;
  if (screenshot) await page.screenshot({path: resolve(repository, screenshot)});
  // An input that cannot be read is refused beside the field, and the refusal goes once another
  // input is taken. The clip ends within seconds; the moving test pattern gives frames until the
  // tests pause it.
  await page.fill('input[name=source]', '/nowhere/clip.avi');
  await page.dispatchEvent('input[name=source]', 'change');
  const refusal = page.locator('.notice', {hasText: '/nowhere/clip.avi: no such file or folder'});
  await refusal.waitFor(wait);
  await page.fill('input[name=source]', 'pattern:640x480');
  await page.dispatchEvent('input[name=source]', 'change');
  await refusal.waitFor({state: 'detached', timeout: 4000});
  await page.click('[data-action=play]');
  const first = await picture('overlay.outputImage');
  await page.waitForFunction((frame) => Number(document.querySelector('.card[data-port="overlay.outputImage"] canvas.frame').dataset.frame) > frame + 2, first.frame, wait);
  assert.notEqual((await picture('overlay.outputImage')).sum, first.sum);
});

test('a patch added from the palette, wired and tuned changes the watched edges, a refused link is not drawn, pause holds the frames and step advances one', async () => {
  await page.dragAndDrop('.palette-item:text-is("OpenCVBGR2Gray")', '#graph', {targetPosition: {x: 300, y: 600}});
  await page.fill('#palette input[type=search]', 'canny');
  await page.dblclick('.palette-item:text-is("OpenCVCanny")');
  await page.waitForFunction(() => ['bgr2Gray', 'canny'].every((id) => window.studio.editor.nodes.has(id)), null, wait);
  await page.evaluate(() => (window.studio.editor.nodes.get('canny').pos = [900, 500]));
  await drag(await pointOf('toCV', {output: 'outputImage'}), await pointOf('bgr2Gray', {input: 'inputImage'}));
  await drag(await pointOf('bgr2Gray', {output: 'outputImage'}), await pointOf('canny', {input: 'inputImage'}));
  await page.waitForFunction(() => window.studio.editor.nodes.get('canny').inputs[0].link != null, null, wait);
  const output = await pointOf('canny', {output: 'outputImage'});
  await page.mouse.click(output.x, output.y);
  await page.waitForSelector('.card[data-port="canny.outputImage"] canvas.frame[data-frame]', wait);
  const before = await picture('canny.outputImage');
  for (const port of ['inputThreshold1', 'inputThreshold2']) {
    await drag(await pointOf('canny', {widget: port, fraction: 0.5}), await pointOf('canny', {widget: port, fraction: 0}));
  }
  await page.waitForFunction((frame) => Number(document.querySelector('.card[data-port="canny.outputImage"] canvas.frame').dataset.frame) > frame + 5, before.frame, wait);
  const after = await picture('canny.outputImage');
  assert.ok(after.bright > before.bright * 1.5, `edges ${before.bright} → ${after.bright}`);
  // A data output cannot feed a picture input: the server's refusal shows and the old link stays.
  await drag(await pointOf('cascade', {output: 'outputData'}), await pointOf('canny', {input: 'inputImage'}));
  await page.locator('.notice', {hasText: /cannot connect cascade's "Data" \(cascade\) to canny's "Image" \(opencv image\)/}).waitFor(wait);
  assert.equal(await page.evaluate(() => window.studio.editor.nodes.get('canny').getInputNode(0).patchId), 'bgr2Gray');
  // Pause holds the frames (those already sent when the engine paused may still arrive); step
  // advances exactly one.
  await page.click('[data-action=pause]');
  await page.waitForTimeout(1000);
  const paused = await shownFrame();
  await page.waitForTimeout(1000);
  assert.equal(await shownFrame(), paused);
  await page.click('[data-action=step]');
  await page.waitForFunction((frame) => Number(document.querySelector('#transport .frame').dataset.frame) === frame + 1, paused, wait);
  await page.waitForTimeout(1000);
  assert.equal(await shownFrame(), paused + 1);
});

test('a saved composition keeps positions and values', async () => {
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
