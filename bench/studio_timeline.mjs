// The studio's time, measured with a real `cvcomp studio` and Chromium (node
// bench/studio_timeline.mjs, after a build): the rate playing keeps against the clip's own over
// 10 s, how long a seek takes to be answered and to be drawn in the page, and the CPU an idle
// studio takes.
import {readFileSync} from 'node:fs';
import {join} from 'node:path';
import {openPage, repository, startStudio} from '../studio/web/tests/studioHarness.mjs';

const face = join(repository, 'examples/face-detect.json');
const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
const quantile = (values, q) => [...values].sort((a, b) => a - b)[Math.min(values.length - 1, Math.floor(q * values.length))];

function client(address) {
  const url = new URL(address);
  const token = url.searchParams.get('token');
  const call = async (method, path, body) => {
    const response = await fetch(new URL(path, url), {
      method,
      headers: {Authorization: `Bearer ${token}`, Origin: url.origin},
      body: body && JSON.stringify(body),
    });
    return response.json();
  };
  return {state: () => call('GET', '/api/transport'), transport: (body) => call('POST', '/api/transport', body)};
}

// The CPU the process took over `seconds`, as a share of one core.
async function cpuShare(pid, seconds) {
  const ticks = () => {
    const fields = readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
    return Number(fields[11]) + Number(fields[12]);
  };
  const before = ticks();
  await sleep(seconds * 1000);
  return (ticks() - before) / 100 / seconds;
}

// Frames produced over `seconds` of playing, from the transport's frame numbers (a loop wraps once
// at most in 10 s of a 270-frame clip).
async function playedRate(api, seconds) {
  const first = await api.state();
  const start = performance.now();
  await sleep(seconds * 1000);
  const last = await api.state();
  const elapsed = (performance.now() - start) / 1000;
  const frames = (last.frame - first.frame + first.length) % first.length;
  return {rate: frames / elapsed, own: first.rate, length: first.length};
}

const rows = [];
const clip = '/usr/share/doc/opencv-doc/examples/data/Megamind.avi';
// A light composition, which keeps to the rate, and the face example, which may run late.
for (const [name, file] of [['gray', join(repository, 'examples/gray.json')], ['face-detect', face]]) {
  const studio = await startStudio(file, ['--input', clip]);
  const api = client(studio.address);
  await sleep(1000);
  const paced = await playedRate(api, 10);
  // The whole clip once at maximum speed.
  await api.transport({speed: 'max', loop: false, action: 'seek', frame: 0});
  const start = performance.now();
  await api.transport({action: 'play'});
  while (!(await api.state()).ended) await sleep(5);
  const max = paced.length / ((performance.now() - start) / 1000);
  rows.push([`${name}: paced over 10 s / whole clip at max speed (fps)`, `${paced.rate.toFixed(2)} / ${max.toFixed(2)}`, `clip ${paced.own.toFixed(3)}`]);
  studio.stop();
}
{
  const studio = await startStudio(face);
  const api = client(studio.address);
  await sleep(1000);
  const alone = await playedRate(api, 10);
  rows.push(['paced rate, no page (fps)', alone.rate.toFixed(2), `clip ${alone.own.toFixed(3)}`]);
  const {browser, page} = await openPage(studio.address);
  await sleep(1000);
  const watched = await playedRate(api, 10);
  rows.push(['paced rate, page watching (fps)', watched.rate.toFixed(2), `clip ${watched.own.toFixed(3)}`]);
  await api.transport({action: 'pause'});
  const answers = [];
  const shown = [];
  for (let i = 0; i < 30; ++i) {
    const frame = (i * 97 + 13) % 270;
    const start = performance.now();
    await api.transport({action: 'seek', frame});
    answers.push(performance.now() - start);
  }
  for (let i = 0; i < 20; ++i) {
    const frame = (i * 89 + 7) % 270;
    shown.push(
      await page.evaluate(async (frame) => {
        const bar = document.querySelector('#timeline input[name=position]');
        const image = () => document.querySelector('.card[data-port="overlay.outputImage"] canvas.frame');
        const start = performance.now();
        bar.value = frame;
        bar.dispatchEvent(new Event('input'));
        while (Number(image()?.dataset.frame) !== frame) await new Promise(requestAnimationFrame);
        return performance.now() - start;
      }, frame),
    );
  }
  rows.push(['seek, API answer (ms, median / p95 of 30)', quantile(answers, 0.5).toFixed(1), quantile(answers, 0.95).toFixed(1)]);
  rows.push(['seek, bar moved to frame drawn in the page (ms, median / p95 of 20)', quantile(shown, 0.5).toFixed(1), quantile(shown, 0.95).toFixed(1)]);
  await browser.close();
  studio.stop();
}
for (const [name, extra] of [['idle studio, no composition', []]]) {
  const studio = await startStudio(null, extra);
  await sleep(2000);
  rows.push([`${name} (share of a core over 10 s)`, (100 * (await cpuShare(studio.server.pid, 10))).toFixed(2) + ' %', '']);
  const {browser} = await openPage(studio.address);
  await sleep(2000);
  rows.push([`${name}, a page open (share of a core over 10 s)`, (100 * (await cpuShare(studio.server.pid, 10))).toFixed(2) + ' %', '']);
  await browser.close();
  studio.stop();
}
console.log('| measure | value | |\n|---|---:|---|');
for (const row of rows) console.log(`| ${row.join(' | ')} |`);
