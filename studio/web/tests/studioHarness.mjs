// Launching a real `cvcomp studio` on an ephemeral port and Debian's Chromium on its page, for the
// page's tests.
import {spawn} from 'node:child_process';
import {dirname, join} from 'node:path';
import {fileURLToPath} from 'node:url';
import {chromium} from 'playwright-core';

export const repository = join(dirname(fileURLToPath(import.meta.url)), '../../..');
const program = process.env.CVCOMP_PROGRAM ?? join(repository, 'build/bin/cvcomp');
export const wait = {timeout: 15000};

// Starts the studio on a composition file (none: an empty one); it prints its address first:
// http://127.0.0.1:PORT/?token=...
export async function startStudio(compositionFile, extraArgs = []) {
  // A port of the caller's (a restart on the same address) in place of any free one.
  const port = extraArgs.includes('--port') ? [] : ['--port', '0'];
  const args = ['studio', ...(compositionFile ? [compositionFile] : []), '--no-open', ...port, ...extraArgs];
  const server = spawn(program, args, {stdio: ['ignore', 'pipe', 'inherit']});
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

// Opens the page in a new browser; Chromium logs every 4xx answer as an error, and the refusals
// the tests provoke are such answers, so those are not counted as the page's errors.
export async function openPage(address, viewport = {width: 1500, height: 850}) {
  const browser = await chromium.launch({executablePath: '/usr/bin/chromium'});
  const page = await browser.newPage({viewport});
  const consoleErrors = [];
  page.on('console', (m) => m.type() === 'error' && !/status of 4\d\d/.test(m.text()) && consoleErrors.push(m.text()));
  page.on('pageerror', (error) => consoleErrors.push(error.message));
  await page.goto(address);
  await page.waitForSelector('body[data-ready]', wait);
  return {browser, page, consoleErrors};
}
