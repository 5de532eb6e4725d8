// Time in the page, against a real `cvcomp studio` on Megamind.avi's edges: the frames of a run
// started again are drawn, a value changed while paused shows on the same frame, and the position
// bar seeks.
import assert from 'node:assert/strict';
import {mkdtempSync, rmSync, writeFileSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';
import {after, before, test} from 'node:test';
import {launch, pointOf} from './studioHarness.mjs';

const wait = {timeout: 30000};
const folder = mkdtempSync(join(tmpdir(), 'timeline-'));
const composition = join(folder, 'edges.json');
writeFileSync(
  composition,
  JSON.stringify({
    patches: {
      src: {class: 'ImageSource', inputs: {inputPath: '/usr/share/doc/opencv-doc/examples/data/Megamind.avi'}},
      toCV: {class: 'QCImageToOpenCVImage'},
      gray: {class: 'OpenCVBGR2Gray'},
      canny: {class: 'OpenCVCanny', inputs: {inputThreshold1: 50, inputThreshold2: 100}},
    },
    connections: [
      {from: 'src.outputImage', to: 'toCV.inputImage'},
      {from: 'toCV.outputImage', to: 'gray.inputImage'},
      {from: 'gray.outputImage', to: 'canny.inputImage'},
    ],
    publish: ['canny.outputImage'],
  }),
);

let opened, page, consoleErrors;
before(async () => ({page, consoleErrors} = opened = await launch(composition)));
after(async () => {
  await opened?.close();
  rmSync(folder, {recursive: true, force: true});
});

const card = '.card[data-port="canny.outputImage"] canvas.frame';
// The drawn picture: its frame and sequence numbers and a checksum of its pixels.
const picture = () =>
  page.$eval(card, (image) => {
    const red = image.getContext('2d').getImageData(0, 0, image.width, image.height).data.filter((_, i) => i % 4 === 0);
    return {
      frame: Number(image.dataset.frame),
      seq: Number(image.dataset.seq),
      sum: red.reduce((sum, value) => (sum * 31 + value) % 1000000007, 0),
    };
  });
const drawn = (condition, argument) =>
  page.waitForFunction(
    ([selector, condition, argument]) => {
      const image = document.querySelector(selector);
      return image?.dataset.seq && new Function('frame', 'seq', 'argument', `return ${condition}`)(Number(image.dataset.frame), Number(image.dataset.seq), argument);
    },
    [card, condition, argument],
    wait,
  );

test('the speed and loop controls show the transport, and a run started again is drawn from its first frame', async () => {
  await page.waitForFunction(() => document.querySelector('#timeline').dataset.length === '270', null, wait);
  assert.equal(await page.inputValue('#timeline select[name=speed]'), 'native');
  assert.equal(await page.isChecked('#timeline input[name=loop]'), true);
  await page.selectOption('#timeline select[name=speed]', 'max');
  await page.uncheck('#timeline input[name=loop]');
  await page.waitForSelector('#transport .state:text-is("input ended")', wait);
  await drawn('frame === 269');
  const ended = await picture();
  await page.click('[data-action=play]');
  // The new run's frames have lower numbers than the last drawn; each is drawn all the same.
  await drawn('frame < 200 && seq > argument', ended.seq);
  await page.click('[data-action=pause]');
});

test('a value changed while paused evaluates the frame shown again, and the page draws it', async () => {
  await page.waitForFunction(() => document.querySelector('#transport').dataset.playing === 'false', null, wait);
  // Frames sent before the pause may still arrive.
  await page.waitForTimeout(500);
  const paused = await picture();
  const title = await pointOf(page, 'canny', {});
  await page.mouse.click(title.x, title.y);
  await page.fill('#inspector input[name=inputThreshold1]', '5');
  await page.fill('#inspector input[name=inputThreshold2]', '10');
  await page.press('#inspector input[name=inputThreshold2]', 'Enter');
  await drawn('frame === argument.frame && seq > argument.seq', paused);
  await page.waitForTimeout(300);
  const again = await picture();
  assert.equal(again.frame, paused.frame);
  assert.notEqual(again.sum, paused.sum);
});

test('the position bar seeks to the frame it is moved to, and dragged to its end shows the last frame', async () => {
  await page.fill('#timeline input[name=position]', '150');
  await drawn('frame === 150');
  assert.equal(await page.$eval('#timeline', (e) => e.dataset.frame), '150');
  assert.equal(await page.$eval('#transport .frame', (e) => e.dataset.frame), '150');
  const bar = await page.locator('#timeline input[name=position]').boundingBox();
  const thumb = {x: bar.x + (bar.width * 150) / 269, y: bar.y + bar.height / 2};
  await page.mouse.move(thumb.x, thumb.y);
  await page.mouse.down();
  await page.mouse.move(bar.x + bar.width * 0.5, thumb.y, {steps: 10});
  await page.mouse.move(bar.x + bar.width + 40, thumb.y, {steps: 10});
  await page.mouse.up();
  await drawn('frame === 269');
  await page.waitForFunction(() => document.querySelector('#timeline .position').textContent === '269 / 269', null, wait);
});

test('the page logged no console error', () => {
  assert.deepEqual(consoleErrors, []);
});
