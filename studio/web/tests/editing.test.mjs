// The editor's habits in Debian's Chromium against a real `cvcomp studio`, on a copy of the face
// example: deleting, searching to add, refusals, the lost connection, the header's width, select,
// copy and paste, and a class's help. Every change the user makes is one batch of edits.
import assert from 'node:assert/strict';
import {copyFileSync, mkdtempSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';
import {after, before, test} from 'node:test';
import {drag, openPage, pointOf, repository, startStudio, wait} from './studioHarness.mjs';

const folder = mkdtempSync(join(tmpdir(), 'studio-editing-'));
const composition = join(folder, 'face-detect.json');
copyFileSync(join(repository, 'examples/face-detect.json'), composition);
const token = 'editing-test-token-0123456789';

let studio, browser, page, consoleErrors;
// The bodies of the page's edit batches, in order.
const batches = [];

before(async () => {
  studio = await startStudio(composition, ['--token', token]);
  ({browser, page, consoleErrors} = await openPage(studio.address));
  page.on('request', (request) => {
    if (request.method() === 'POST' && request.url().endsWith('/api/edits')) batches.push(JSON.parse(request.postData()));
  });
});

after(async () => {
  await browser?.close();
  await studio?.stop();
  rmSync(folder, {recursive: true, force: true});
});

const serverComposition = () =>
  page.evaluate(async (token) => (await fetch('/api/composition', {headers: {Authorization: `Bearer ${token}`}})).json(), token);
const nodeIds = () => page.evaluate(() => [...window.studio.editor.nodes.keys()].sort());
const graphRect = () => page.$eval('#graph', (e) => e.getBoundingClientRect().toJSON());
// A batch sent after `count` earlier ones, once it is there.
const batchAfter = async (count) => {
  for (let i = 0; i < 300 && batches.length <= count; i += 1) await page.waitForTimeout(50);
  return batches[count];
};
const searchItems = () => page.$$eval('.search-box li[data-class]', (items) => items.map((i) => i.dataset.class));

test('Delete removes the selected patches with their links in one batch, and a selected link alone', async () => {
  const count = batches.length;
  const overlay = await pointOf(page, 'overlay');
  const cascade = await pointOf(page, 'cascade');
  await page.mouse.click(overlay.x, overlay.y);
  await page.keyboard.down('Shift');
  await page.mouse.click(cascade.x, cascade.y);
  await page.keyboard.up('Shift');
  await page.keyboard.press('Delete');
  const removed = await batchAfter(count);
  assert.deepEqual(removed.sort((a, b) => a.id.localeCompare(b.id)), [
    {op: 'remove', id: 'cascade'},
    {op: 'remove', id: 'overlay'},
  ]);
  await page.waitForFunction(() => !window.studio.editor.nodes.has('overlay'), null, wait);
  const shown = await serverComposition();
  assert.deepEqual(Object.keys(shown.patches).sort(), await nodeIds());
  assert.deepEqual(shown.connections, [{from: 'src.outputImage', to: 'toCV.inputImage'}, {from: 'toCV.outputImage', to: 'faces.inputImage'}]);
  // A click on a link selects it; Backspace removes it.
  const middle = await page.evaluate(() => {
    const {editor} = window.studio;
    const link = editor.graph.getLink(editor.nodes.get('faces').inputs[0].link);
    const [x, y] = editor.canvas.convertOffsetToCanvas(link._pos);
    const rect = editor.canvasElement.getBoundingClientRect();
    return {x: rect.left + x, y: rect.top + y};
  });
  await page.mouse.click(middle.x, middle.y);
  await page.keyboard.press('Backspace');
  assert.deepEqual(await batchAfter(count + 1), [{op: 'disconnect', to: 'faces.inputImage'}]);
  await page.waitForFunction(() => window.studio.editor.nodes.get('faces').inputs[0].link == null, null, wait);
  assert.deepEqual((await serverComposition()).connections, [{from: 'src.outputImage', to: 'toCV.inputImage'}]);
});

test('the canvas search finds classes by words of their name and description, takes arrows and Enter, and adds at the point', async () => {
  const rect = await graphRect();
  const at = {x: rect.x + rect.width * 0.3, y: rect.y + rect.height * 0.85};
  await page.mouse.dblclick(at.x, at.y);
  await page.keyboard.type('map gray edge');
  await page.waitForFunction(() => document.querySelectorAll('.search-box li[data-class]').length === 1, null, wait);
  assert.deepEqual(await searchItems(), ['OpenCVCanny']);
  await page.fill('.search-box input', 'gray');
  const offered = await searchItems();
  assert.ok(offered.length >= 3 && offered.includes('OpenCVBGR2Gray'), offered.join());
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('ArrowDown');
  await page.keyboard.press('ArrowUp');
  assert.equal(await page.$eval('.search-box li[aria-selected=true]', (i) => i.dataset.class), offered[1]);
  const count = batches.length;
  await page.keyboard.press('Enter');
  const [add, move] = await batchAfter(count);
  assert.deepEqual(add, {op: 'add', id: add.id, class: offered[1]});
  const placed = await page.evaluate(([x, y]) => window.studio.editor.graphPoint({x, y}).map(Math.round), [at.x, at.y]);
  assert.deepEqual(move, {op: 'move', id: add.id, x: placed[0], y: placed[1]});
  assert.equal((await serverComposition()).patches[add.id].class, offered[1]);
  assert.equal(await page.$('.search-box'), null);
});

test('a link dropped on empty canvas offers only the classes that can take it, and the one chosen comes connected', async () => {
  const rect = await graphRect();
  const empty = {x: rect.x + rect.width * 0.7, y: rect.y + rect.height * 0.9};
  await drag(page, await pointOf(page, 'toCV', {output: 'outputImage'}), empty);
  await page.waitForSelector('.search-box', wait);
  const offered = await searchItems();
  assert.ok(offered.includes('OpenCVBGR2Gray') && offered.includes('OpenCVCanny'), offered.join());
  assert.ok(!offered.some((c) => ['ImageSource', 'Overlay', 'QCImageToOpenCVImage', 'OpenCVLoad', 'Pulse'].includes(c)), offered.join());
  await page.keyboard.type('equalize');
  const count = batches.length;
  await page.keyboard.press('Enter');
  const batch = await batchAfter(count);
  assert.equal(batch.length, 3);
  assert.deepEqual(batch[2], {op: 'connect', from: 'toCV.outputImage', to: 'equalizeHist.inputImage'});
  await page.waitForFunction(() => window.studio.editor.nodes.get('equalizeHist')?.inputs[0].link != null, null, wait);
  assert.ok((await serverComposition()).connections.some((c) => c.to === 'equalizeHist.inputImage'));
  // From an input: only classes with an output that can feed a cascade.
  await drag(page, await pointOf(page, 'faces', {input: 'inputCascade'}), {x: rect.x + rect.width * 0.5, y: rect.y + 30});
  await page.waitForSelector('.search-box', wait);
  assert.deepEqual(await searchItems(), ['OpenCVLoad']);
  await page.keyboard.press('Escape');
});

test('a refusal names ports by their labels and kinds as the legend does, and keeps the view and the selection', async () => {
  const title = await pointOf(page, 'faces');
  await page.mouse.click(title.x, title.y);
  await page.evaluate(() => {
    const {ds} = window.studio.editor.canvas;
    ds.scale = 0.8;
    ds.offset = [40, 30];
  });
  await drag(page, await pointOf(page, 'src', {output: 'outputImage'}), await pointOf(page, 'equalizeHist', {input: 'inputImage'}));
  await page
    .locator('.notice', {hasText: `cannot connect src's "Image" (host picture) to equalizeHist's "Image" (opencv image): incompatible ports`})
    .waitFor(wait);
  await page.waitForFunction(() => window.studio.editor.nodes.get('equalizeHist').inputs[0].link != null, null, wait);
  const view = await page.evaluate(() => {
    const {canvas} = window.studio.editor;
    return {scale: canvas.ds.scale, offset: [...canvas.ds.offset], selected: Object.values(canvas.selected_nodes).map((n) => n.patchId)};
  });
  assert.deepEqual(view, {scale: 0.8, offset: [40, 30], selected: ['faces']});
});

test('select all, a box, copy and paste, duplicate: the patches with their values and their links, new ids, at the pointer, one batch each', async () => {
  await page.keyboard.press('Control+A');
  const all = await page.evaluate(() => Object.keys(window.studio.editor.canvas.selected_nodes).length);
  assert.equal(all, (await nodeIds()).length);
  // A Ctrl+drag on empty canvas selects the nodes in the box: here src and toCV.
  const src = await pointOf(page, 'src');
  const toCV = await pointOf(page, 'toCV', {output: 'outputImage'});
  await page.evaluate(() => window.studio.editor.canvas.deselectAll());
  await page.keyboard.down('Control');
  await drag(page, {x: src.x - 80, y: src.y - 40}, {x: toCV.x + 20, y: toCV.y + 80});
  await page.keyboard.up('Control');
  const boxed = await page.evaluate(() => Object.values(window.studio.editor.canvas.selected_nodes).map((n) => n.patchId).sort());
  assert.deepEqual(boxed, ['src', 'toCV']);
  await page.keyboard.press('Control+C');
  const rect = await graphRect();
  const at = {x: rect.x + 60, y: rect.y + 60};
  await page.mouse.move(at.x, at.y);
  let count = batches.length;
  await page.keyboard.press('Control+V');
  const pasted = await batchAfter(count);
  const placed = await page.evaluate(([x, y]) => window.studio.editor.graphPoint({x, y}).map(Math.round), [at.x, at.y]);
  assert.deepEqual(pasted, [
    {op: 'add', id: 'src2', class: 'ImageSource', inputs: {inputPath: '/usr/share/doc/opencv-doc/examples/data/Megamind.avi'}},
    {op: 'move', id: 'src2', x: placed[0], y: pasted[1].y},
    {op: 'add', id: 'toCV2', class: 'QCImageToOpenCVImage'},
    {op: 'move', id: 'toCV2', x: pasted[3].x, y: pasted[3].y},
    {op: 'connect', from: 'src2.outputImage', to: 'toCV2.inputImage'},
  ]);
  assert.equal(Math.min(pasted[1].y, pasted[3].y), placed[1]);
  await page.waitForFunction(() => window.studio.editor.nodes.has('toCV2'), null, wait);
  const selected = await page.evaluate(() => Object.values(window.studio.editor.canvas.selected_nodes).map((n) => n.patchId).sort());
  assert.deepEqual(selected, ['src2', 'toCV2']);
  count = batches.length;
  await page.keyboard.press('Control+D');
  const duplicated = await batchAfter(count);
  assert.deepEqual(duplicated.filter((e) => e.op !== 'move').map((e) => e.id ?? e.from), ['src3', 'toCV3', 'src3.outputImage']);
  await page.waitForFunction(() => window.studio.editor.nodes.has('toCV3'), null, wait);

  // To another studio through the system clipboard, as composition JSON.
  const other = await startStudio(null);
  const second = await browser.newPage({viewport: {width: 1500, height: 850}});
  try {
    await second.goto(other.address);
    await second.waitForSelector('body[data-ready]', wait);
    await page.evaluate(() => window.studio.editor.selectIds(['toCV', 'faces']));
    await page.keyboard.press('Control+C');
    const graph = await second.$eval('#graph', (e) => e.getBoundingClientRect().toJSON());
    await second.mouse.move(graph.x + 100, graph.y + 100);
    await second.keyboard.press('Control+V');
    await second.waitForFunction(() => window.studio.editor.nodes.size === 2, null, wait);
    const copied = await second.evaluate(async () => {
      const token = new URLSearchParams(location.search).get('token');
      return (await fetch('/api/composition', {headers: {Authorization: `Bearer ${token}`}})).json();
    });
    assert.deepEqual(copied.patches, {toCV: {class: 'QCImageToOpenCVImage'}, faces: {class: 'OpenCVHaarDetectObjects'}});
    assert.deepEqual(copied.connections, []);
  } finally {
    await second.close();
    await other.stop();
  }
});

test('resting on a title or the node menu shows the class with each port kind, default, bounds and description', async () => {
  const classes = await page.evaluate(async (token) => (await fetch('/api/patches', {headers: {Authorization: `Bearer ${token}`}})).json(), token);
  const haar = classes.find((c) => c.class === 'OpenCVHaarDetectObjects');
  const title = await pointOf(page, 'faces');
  await page.mouse.move(title.x, title.y);
  await page.mouse.move(title.x + 5, title.y);
  const help = page.locator('.node-help');
  await help.waitFor(wait);
  assert.equal(await help.locator('h4').textContent(), haar.class);
  assert.ok((await help.textContent()).includes(haar.description));
  const rows = await help.locator('tr[data-port]').evaluateAll((rows) => rows.map((r) => [...r.cells].map((c) => c.textContent)));
  assert.equal(rows.length, haar.ports.length);
  const scaleFactor = haar.ports.find((port) => port.name === 'inputScaleFactor');
  assert.ok(scaleFactor.description);
  assert.deepEqual(rows.find((r) => r[0] === '→ ScaleFactor'), ['→ ScaleFactor', 'number', '1.3', '1.05 … 6', scaleFactor.description]);
  assert.deepEqual(rows.find((r) => r[0] === '→ Cascade').slice(0, 2), ['→ Cascade', 'cascade']);
  await page.mouse.move(title.x, title.y + 200);
  await help.waitFor({state: 'detached', ...wait});
  await page.mouse.click(title.x, title.y, {button: 'right'});
  await page.locator('.litemenu-entry', {hasText: 'Help'}).click();
  await help.waitFor(wait);
  assert.equal(await help.locator('h4').textContent(), haar.class);
});

test('the header fits from 900 px, and the graph is fitted to the window on open and on resize', async () => {
  const narrow = await browser.newPage({viewport: {width: 900, height: 720}});
  try {
    await narrow.goto(studio.address);
    await narrow.waitForSelector('body[data-ready]', wait);
    // Every control shown (a closed field of the header is not).
    const boxes = await narrow.$$eval('header button, header input, header select, header label', (all) =>
      all.filter((e) => e.checkVisibility()).map((e) => ({name: e.dataset.action ?? e.dataset.file ?? e.name ?? e.textContent, ...e.getBoundingClientRect().toJSON()})),
    );
    const header = await narrow.$eval('header', (e) => e.getBoundingClientRect().toJSON());
    for (const box of boxes) assert.ok(box.x >= 0 && box.right <= 900 && box.bottom <= header.bottom && box.width > 0, JSON.stringify(box));
    assert.ok(header.height < 48, `header ${header.height} px high`);
    // Every node inside the graph's area, at 900×720 and at 1280×720 after a resize.
    for (const viewport of [null, {width: 1280, height: 720}]) {
      if (viewport) await narrow.setViewportSize(viewport);
      await narrow.waitForFunction(() => {
        const {editor} = window.studio;
        const rect = editor.canvasElement.getBoundingClientRect();
        return [...editor.nodes.values()].every((node) => {
          const [left, top] = editor.canvas.convertOffsetToCanvas([node.pos[0], node.pos[1] - 30]);
          const [right, bottom] = editor.canvas.convertOffsetToCanvas([node.pos[0] + node.size[0], node.pos[1] + node.size[1]]);
          return left >= 0 && top >= 0 && right <= rect.width && bottom <= rect.height;
        });
      }, null, wait);
    }
  } finally {
    await narrow.close();
  }
});

test('a lost studio shows a banner and stale frames, the page reconnects to it on the same token, and asks for the new address after a new token', async () => {
  const port = new URL(studio.address).port;
  await studio.stop();
  const banner = page.locator('#banner');
  await banner.filter({hasText: 'not answering'}).waitFor(wait);
  const lit = await page.$eval('[data-action=play]', (b) => getComputedStyle(b).backgroundColor);
  assert.notEqual(lit, 'rgb(47, 95, 143)');
  assert.equal(await page.$eval('#cards', (c) => getComputedStyle(c).opacity), '0.4');
  studio = await startStudio(composition, ['--port', port, '--token', token]);
  await banner.waitFor({state: 'hidden', ...wait});
  assert.equal(await page.evaluate(() => document.body.dataset.connection), 'live');
  // The restarted studio's composition is the saved file's, the editor's view of it again.
  await page.waitForFunction(() => window.studio.editor.nodes.has('overlay'), null, wait);
  await studio.stop();
  studio = await startStudio(composition, ['--port', port]);
  await banner.filter({hasText: 'new access token: open the address it printed'}).waitFor(wait);
});

test('the page logged no console error', () => {
  // Requests refused while the studio is away are logged by Chromium itself.
  assert.deepEqual(consoleErrors.filter((e) => !/WebSocket connection to .* failed|net::ERR_CONNECTION_(REFUSED|RESET)/.test(e)), []);
});
