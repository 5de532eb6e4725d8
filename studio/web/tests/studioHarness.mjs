// What the page's browser tests share: a real `cvcomp studio` on an ephemeral port, Debian's
// Chromium on its page, and the points and drags of the graph editor.
import {spawn} from 'node:child_process';
import {dirname, join} from 'node:path';
import {fileURLToPath} from 'node:url';
import {chromium} from 'playwright-core';

export const repository = join(dirname(fileURLToPath(import.meta.url)), '../../..');
export const program = process.env.CVCOMP_PROGRAM ?? join(repository, 'build/bin/cvcomp');
export const wait = {timeout: 15000};

// Starts the studio on a composition file (none: an empty one), in the composition's folder (where
// its own folders, uploads and recordings, go); it prints its address first:
// http://127.0.0.1:PORT/?token=...
export async function startStudio(compositionFile, extraArgs = []) {
  // A port of the caller's (a restart on the same address) in place of any free one.
  const port = extraArgs.includes('--port') ? [] : ['--port', '0'];
  const args = ['studio', ...(compositionFile ? [compositionFile] : []), '--no-open', ...port, ...extraArgs];
  const server = spawn(program, args, {
    ...(compositionFile ? {cwd: dirname(compositionFile)} : {}),
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  const address = await new Promise((resolve, reject) => {
    server.stdout.once('data', (line) => resolve(String(line).trim()));
    server.on('exit', (code) => reject(new Error(`cvcomp studio ended (${code})`)));
  });
  const ended = new Promise((resolve) => server.on('exit', resolve));
  return {
    address,
    server,
    stop: async () => {
      if (server.exitCode === null && server.signalCode === null) server.kill('SIGTERM');
      await ended;
    },
  };
}

// Opens the page in a new browser, `launchArgs` going to Chromium (its fake camera, for one);
// Chromium logs every 4xx answer as an error, and the refusals the tests provoke are such
// answers, so those are not counted as the page's errors.
export async function openPage(address, viewport = {width: 1500, height: 850}, launchArgs = []) {
  const browser = await chromium.launch({executablePath: '/usr/bin/chromium', args: launchArgs});
  const page = await browser.newPage({viewport, acceptDownloads: true});
  const consoleErrors = [];
  page.on('console', (m) => m.type() === 'error' && !/status of 4\d\d/.test(m.text()) && consoleErrors.push(m.text()));
  page.on('pageerror', (error) => consoleErrors.push(error.message));
  await page.goto(address);
  await page.waitForSelector('body[data-ready]', wait);
  return {browser, page, consoleErrors};
}

// Where a node's port, or a point of its widget, or its title, is on the page.
export const pointOf = (page, id, {output, input, widget, fraction} = {}) =>
  page.evaluate(
    ([id, output, input, widget, fraction]) => {
      const {editor} = window.studio;
      const node = editor.nodes.get(id);
      const at = output
        ? node.getOutputPos(node.findOutputSlot(output))
        : input
          ? node.getInputPos(node.findInputSlot(input))
          : widget
            ? [node.pos[0] + 15 + fraction * (node.size[0] - 30), node.pos[1] + node.widgetsByPort.get(widget).y + 10]
            : [node.pos[0] + 60, node.pos[1] - 15];
      const [x, y] = editor.canvas.convertOffsetToCanvas(at);
      const rect = editor.canvasElement.getBoundingClientRect();
      return {x: rect.left + x, y: rect.top + y};
    },
    [id, output, input, widget, fraction],
  );

export async function drag(page, from, to) {
  await page.mouse.move(from.x, from.y);
  await page.mouse.down();
  await page.mouse.move((from.x + to.x) / 2, (from.y + to.y) / 2, {steps: 5});
  await page.mouse.move(to.x, to.y, {steps: 5});
  await page.mouse.up();
}

// The studio on `compositionFile` with the page open on it; close() ends both.
export async function launch(compositionFile) {
  const studio = await startStudio(compositionFile);
  const opened = await openPage(studio.address);
  return {
    studio,
    ...opened,
    async close() {
      await opened.browser.close();
      await studio.stop();
    },
  };
}
