// What the page tests share: a real `cvcomp studio` on an ephemeral port, Debian's Chromium on its
// page, and the points of nodes' ports and widgets on the canvas.
import {spawn} from 'node:child_process';
import {dirname, join} from 'node:path';
import {fileURLToPath} from 'node:url';
import {chromium} from 'playwright-core';

export const repository = join(dirname(fileURLToPath(import.meta.url)), '../../..');
const program = process.env.CVCOMP_PROGRAM ?? join(repository, 'build/bin/cvcomp');

// The studio on `compositionFile` (an empty composition when null); it prints its address first: http://127.0.0.1:PORT/?token=...
export async function startStudio(compositionFile, extraArgs = []) {
  const composition = compositionFile ? [compositionFile] : [];
  const server = spawn(program, ['studio', ...composition, '--no-open', '--port', '0', ...extraArgs], {
    stdio: ['ignore', 'pipe', 'inherit'],
  });
  const address = await new Promise((resolve, reject) => {
    server.stdout.once('data', (line) => resolve(String(line).trim()));
    server.on('exit', (code) => reject(new Error(`cvcomp studio ended (${code})`)));
  });
  return {address, server, stop: () => server.kill('SIGTERM')};
}

// The page, loaded and ready. Chromium logs every 4xx answer as an error; the refusals the tests
// provoke are such answers, and are not counted.
export async function openPage(address, viewport = {width: 1500, height: 850}) {
  const browser = await chromium.launch({executablePath: '/usr/bin/chromium'});
  const page = await browser.newPage({viewport});
  const consoleErrors = [];
  page.on('console', (m) => m.type() === 'error' && !/status of 400/.test(m.text()) && consoleErrors.push(m.text()));
  page.on('pageerror', (error) => consoleErrors.push(error.message));
  await page.goto(address);
  await page.waitForSelector('body[data-ready]', {timeout: 15000});
  return {browser, page, consoleErrors};
}

// Where a node's port, or a point of its widget, or its title, is on the page.
export const pointOf = (page, id, {output, input, widget, fraction}) =>
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
      studio.stop();
    },
  };
}
