// Undo and redo from the page, two pages of one studio kept the same, publishing from the node
// and Save As, in Debian's Chromium against a real `cvcomp studio` run in a folder of its own on a
// copy of the face example.
import assert from 'node:assert/strict';
import {copyFileSync, existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync} from 'node:fs';
import {tmpdir} from 'node:os';
import {join} from 'node:path';
import {after, before, test} from 'node:test';
import {drag, openPage, pointOf, repository, startStudio, wait} from './studioHarness.mjs';

const folder = mkdtempSync(join(tmpdir(), 'studio-undo-'));
const composition = join(folder, 'face-detect.json');
copyFileSync(join(repository, 'examples/face-detect.json'), composition);

let studio, browser, page, consoleErrors, classes;

before(async () => {
  // The studio's working folder is where Save As writes.
  process.chdir(folder);
  studio = await startStudio(composition);
  ({browser, page, consoleErrors} = await openPage(studio.address));
  classes = await server('GET', '/api/patches').then((r) => r.json());
});

after(async () => {
  await browser?.close();
  studio?.stop();
  process.chdir(repository);
  rmSync(folder, {recursive: true, force: true});
});

const server = (method, path) => {
  const address = new URL(studio.address);
  return fetch(new URL(path, address), {method, headers: {Authorization: `Bearer ${address.searchParams.get('token')}`}});
};
const serverDocument = () => server('GET', '/api/composition').then((r) => r.text());
const history = () => server('GET', '/api/history').then((r) => r.json());

// What a page shows, in the terms of the composition file: classes, every value a widget shows
// (a number as the node shows it, to a thousandth), links, positions and published ports.
const shown = (onPage) =>
  onPage.evaluate(() => {
    const {editor, sync} = window.studio;
    const patches = {};
    const layout = {};
    const connections = [];
    for (const [id, node] of editor.nodes) {
      const values = {};
      for (const [port, widget] of node.widgetsByPort) {
        if (widget.type !== 'button') values[port] = typeof widget.value === 'number' ? Math.round(widget.value * 1000) / 1000 : widget.value;
      }
      patches[id] = {class: node.patchClass.class, values};
      layout[id] = {x: node.pos[0], y: node.pos[1]};
      node.inputs.forEach((input, slot) => {
        const from = node.getInputNode(slot);
        if (from) connections.push(`${from.patchId}.${from.outputs[node.getInputLink(slot).origin_slot].name}>${id}.${input.name}`);
      });
    }
    return {patches, layout, connections: connections.sort(), publish: sync.published};
  });

// The same of the server's document: a value the file leaves out is the class's default.
function expected(text) {
  const document = JSON.parse(text);
  const patches = {};
  for (const [id, patch] of Object.entries(document.patches)) {
    const values = {};
    for (const port of classes.find((c) => c.class === patch.class).ports) {
      if (port.direction !== 'input' || !['number', 'index', 'boolean', 'string'].includes(port.kind)) continue;
      if (port.kind === 'boolean' && /Signal$/.test(port.name)) continue;
      values[port.name] = patch.inputs?.[port.name] ?? port.default ?? (port.kind === 'string' ? '' : port.kind === 'boolean' ? false : 0);
    }
    patches[id] = {class: patch.class, values};
  }
  const connections = document.connections.map(({from, to}) => `${from}>${to}`).sort();
  return {patches, connections, publish: document.publish, layout: document.layout ?? {}};
}

// Waits until the page shows the server's composition, and gives the server's document.
async function inStep(onPage = page) {
  const end = Date.now() + wait.timeout;
  for (;;) {
    const text = await serverDocument();
    const want = expected(text);
    const got = await shown(onPage);
    const layout = Object.fromEntries(Object.keys(want.layout).map((id) => [id, got.layout[id]]));
    const same = {...got, layout};
    try {
      assert.deepEqual(same, want);
      return text;
    } catch (error) {
      if (Date.now() > end) throw error;
    }
    await onPage.waitForTimeout(50);
  }
}

const undoSteps = async (count) => {
  await page.waitForFunction(() => window.studio.editor.values.underWay.size === 0);
  const end = Date.now() + wait.timeout;
  while ((await history()).undo !== count && Date.now() < end) await page.waitForTimeout(50);
  assert.equal((await history()).undo, count);
  return inStep();
};

// Clicks Save and waits for its own "saved" (notices of earlier saves are taken away first).
async function save(onPage = page) {
  await onPage.evaluate(() => document.querySelectorAll('.notice').forEach((notice) => notice.remove()));
  await onPage.click('[data-file=save]');
  await onPage.waitForSelector('.notice:text-is("saved")', wait);
}

const menuItem = async (onPage, at, text) => {
  await onPage.mouse.click(at.x, at.y, {button: 'right'});
  await onPage.locator('.litemenu-entry', {hasText: text}).first().click();
};

test('Ctrl+Z after page edits, also after a reload, gives back each composition byte for byte, and Ctrl+Shift+Z and Ctrl+Y redo', async () => {
  const documents = [await inStep()];
  // A slider dragged is one step however many values it sends.
  await drag(page, await pointOf(page, 'faces', {widget: 'inputScaleFactor', fraction: 0.05}), await pointOf(page, 'faces', {widget: 'inputScaleFactor', fraction: 0.5}));
  documents.push(await undoSteps(1));
  assert.notEqual(documents[1], documents[0]);
  await page.dblclick('.palette-item:text-is("OpenCVBGR2Gray")');
  documents.push(await undoSteps(2));
  await drag(page, await pointOf(page, 'toCV', {output: 'outputImage'}), await pointOf(page, 'bgr2Gray', {input: 'inputImage'}));
  documents.push(await undoSteps(3));
  // A node removed with its links and its published output is one step.
  await menuItem(page, await pointOf(page, 'overlay', {}), /^Delete$/);
  documents.push(await undoSteps(4));
  await menuItem(page, await pointOf(page, 'toCV', {}), 'Publish Image');
  documents.push(await undoSteps(5));
  assert.ok(!documents[4].includes('"overlay"') && documents[5].includes('"toCV.outputImage"'));

  // The history is the server's: a page loaded again undoes what it did before.
  await page.reload();
  await page.waitForSelector('body[data-ready]', wait);
  await page.waitForFunction(() => !document.querySelector('[data-history=undo]').disabled, null, wait);
  await page.mouse.click(300, 120);
  for (let step = 5; step > 0; step -= 1) {
    await page.keyboard.press('Control+z');
    assert.equal(await untilDocument(documents[step - 1]), documents[step - 1], `undo of step ${step}`);
    await inStep();
  }
  // The button follows the server's history, asked again once the undo is answered.
  await page.waitForSelector('[data-history=undo]:disabled', wait);
  await page.keyboard.press('Control+Shift+z');
  assert.equal(await untilDocument(documents[1]), documents[1]);
  await page.keyboard.press('Control+y');
  assert.equal(await untilDocument(documents[2]), documents[2]);
  await inStep();
  await page.waitForFunction(() => !document.querySelector('[data-history=redo]').disabled);
  // Typing in a field is not an undo.
  await page.fill('#palette input[type=search]', 'x');
  await page.press('#palette input[type=search]', 'Control+z');
  assert.equal(await serverDocument(), documents[2]);
  await page.fill('#palette input[type=search]', '');
});

async function untilDocument(want) {
  const end = Date.now() + wait.timeout;
  let text = await serverDocument();
  while (text !== want && Date.now() < end) {
    await page.waitForTimeout(50);
    text = await serverDocument();
  }
  return text;
}

test('two pages show every edit of the other at once and the same composition after editing together', async () => {
  const other = await browser.newPage({viewport: {width: 1280, height: 720}});
  other.on('pageerror', (error) => consoleErrors.push(error.message));
  await other.goto(studio.address);
  await other.waitForSelector('body[data-ready]', wait);
  // A value typed in one page shows in the other.
  await page.mouse.click(...Object.values(await pointOf(page, 'faces', {})));
  await page.fill('#inspector input[name=inputMinNeighbors]', '7');
  await page.press('#inspector input[name=inputMinNeighbors]', 'Enter');
  await other.waitForFunction(() => window.studio.editor.nodes.get('faces').widgetsByPort.get('inputMinNeighbors').value === 7, null, wait);
  await other.dblclick('.palette-item:text-is("OpenCVCanny")');
  for (const onPage of [page, other]) await onPage.waitForFunction(() => window.studio.editor.nodes.has('canny'), null, wait);
  // Both pages change the same value and place at once, as a slider and a dragged node do: the
  // page shows the change, then sends it.
  const edit = (onPage, seed) =>
    onPage.evaluate(async (seed) => {
      const {editor} = window.studio;
      const canny = editor.nodes.get('canny');
      const threshold = canny.patchClass.ports.find((p) => p.name === 'inputThreshold1');
      for (let i = 0; i < 15; i += 1) {
        const value = (seed * 37 + i * 11) % 300;
        canny.widgetsByPort.get(threshold.name).value = value;
        editor.setValue(canny, threshold, value);
        canny.pos = [900 + seed * 100 + i, 700 + i * 3];
        await editor.send([{op: 'move', id: 'canny', x: canny.pos[0], y: canny.pos[1]}]);
      }
    }, seed);
  await Promise.all([edit(page, 1), edit(other, 2)]);
  const text = await inStep(page);
  assert.equal(await inStep(other), text);
  // A composition opened in one page replaces the other's.
  for (const example of ['gray.json', 'face-detect.json']) {
    await other.selectOption('[data-file=example]', example);
    await page.waitForFunction((example) => window.studio.editor.nodes.size === (example === 'gray.json' ? 4 : 5), example, wait);
    await inStep(page);
  }
  await other.close();
});

test('an output published from the node is watched, marked and saved, and unpublished from its slot', async () => {
  const watchedAndMarked = () => page.evaluate(() => [window.studio.watch.published.includes('src.outputImage'), window.studio.editor.nodes.get('src').outputs[0].label]);
  await menuItem(page, await pointOf(page, 'src', {}), 'Publish Image');
  await page.waitForFunction(() => window.studio.watch.published.includes('src.outputImage'), null, wait);
  assert.deepEqual(await watchedAndMarked(), [true, '● Image']);
  await save();
  assert.ok(JSON.parse(readFileSync(composition, 'utf8')).publish.includes('src.outputImage'));
  await menuItem(page, await pointOf(page, 'src', {output: 'outputImage'}), 'Unpublish Image');
  await page.waitForFunction(() => !window.studio.watch.published.includes('src.outputImage'), null, wait);
  assert.deepEqual(await watchedAndMarked(), [false, 'Image']);
  await save();
  assert.ok(!JSON.parse(readFileSync(composition, 'utf8')).publish.includes('src.outputImage'));
});

test('Save As writes the named file in the studio folder and Save writes there after; a name outside is refused', async () => {
  await page.click('[data-file=save-as]');
  await page.fill('[data-file=save-as-form] input[name=file]', '../out.json');
  await page.press('[data-file=save-as-form] input[name=file]', 'Enter');
  await page.locator('.notice', {hasText: '"../out.json": ".." may not appear'}).waitFor(wait);
  mkdirSync(join(folder, 'copies'));
  await page.fill('[data-file=save-as-form] input[name=file]', 'copies/copy.json');
  await page.press('[data-file=save-as-form] input[name=file]', 'Enter');
  await page.locator('.notice', {hasText: `saved ${join(folder, 'copies/copy.json')}`}).waitFor(wait);
  const copy = join(folder, 'copies/copy.json');
  assert.equal(readFileSync(copy, 'utf8'), `${await serverDocument()}\n`);
  const original = readFileSync(composition, 'utf8');
  await page.evaluate(() => window.studio.editor.send([{op: 'set', port: 'faces.inputMinSize', value: 33}]));
  await save();
  assert.equal(JSON.parse(readFileSync(copy, 'utf8')).patches.faces.inputs.inputMinSize, 33);
  assert.equal(readFileSync(composition, 'utf8'), original);
  assert.ok(!existsSync(join(folder, '..', 'out.json')));

  // Started without a file, Save asks for a name.
  const empty = await startStudio(null);
  try {
    const second = await browser.newPage();
    await second.goto(empty.address);
    await second.waitForSelector('body[data-ready]', wait);
    await second.click('[data-file=save]');
    await second.waitForSelector('[data-file=save-as-form]:not([hidden])', wait);
    await second.close();
  } finally {
    empty.stop();
  }
});

test('the page logged no console error', () => {
  assert.deepEqual(consoleErrors, []);
});
