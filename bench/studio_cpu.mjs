// CPU time per frame of `cvcomp studio` playing the face example with its page open in headless
// Chromium (watching what the page watches by default: the published rectangles and overlaid
// picture), against `cvcomp run` of the same example on the same clip, in alternating rounds.
//
//   node bench/studio_cpu.mjs [--rounds N] [--speed native|max] [--program build/bin/cvcomp]
//
// The studio's CPU time is its process's user + system time (/proc/PID/stat) over the frames it
// produced from the clip's first frame to its end; the run's is the whole process's, from
// /usr/bin/time. `--speed` is sent to /api/transport where the studio takes it (without it, the
// studio plays as its transport does by default). Prints one line per round and the medians.
import {execFileSync, spawn} from 'node:child_process';
import {readFileSync} from 'node:fs';
import {dirname, join} from 'node:path';
import {fileURLToPath} from 'node:url';
import {parseArgs} from 'node:util';

const repository = join(dirname(fileURLToPath(import.meta.url)), '..');
const {chromium} = await import(join(repository, 'studio/web/node_modules/playwright-core/index.mjs'));
const {values: options} = parseArgs({
  options: {
    rounds: {type: 'string', default: '3'},
    speed: {type: 'string'},
    program: {type: 'string', default: join(repository, 'build/bin/cvcomp')},
  },
});
const example = join(repository, 'examples/face-detect.json');
const clip = JSON.parse(readFileSync(example, 'utf8')).patches.src.inputs.inputPath;
const ticks = Number(execFileSync('getconf', ['CLK_TCK'], {encoding: 'utf8'}));
const median = (values) => [...values].sort((a, b) => a - b)[Math.floor(values.length / 2)];

// User + system seconds of a running process.
function cpuSeconds(pid) {
  const fields = readFileSync(`/proc/${pid}/stat`, 'utf8').split(') ')[1].split(' ');
  return (Number(fields[11]) + Number(fields[12])) / ticks;
}

function runRound() {
  const result = spawn('/usr/bin/time', ['-f', 'cpu %U %S', options.program, 'run', example, '-q', '--json', '-']);
  let lines = 0;
  let err = '';
  result.stdout.on('data', (chunk) => (lines += String(chunk).split('\n').length - 1));
  result.stderr.on('data', (chunk) => (err += chunk));
  return new Promise((resolve, reject) =>
    result.on('exit', (code) => {
      const [, user, system] = err.match(/cpu ([\d.]+) ([\d.]+)/) ?? [];
      if (code !== 0 || user === undefined) return reject(new Error(`cvcomp run: ${code} ${err}`));
      resolve({frames: lines, cpu: Number(user) + Number(system)});
    }),
  );
}

async function studioRound() {
  const server = spawn(options.program, ['studio', example, '--no-open', '--port', '0'], {stdio: ['ignore', 'pipe', 'inherit']});
  const address = await new Promise((resolve, reject) => {
    server.stdout.once('data', (line) => resolve(String(line).trim()));
    server.on('exit', (code) => reject(new Error(`cvcomp studio ended (${code})`)));
  });
  const {origin, searchParams} = new URL(address);
  const headers = {Authorization: `Bearer ${searchParams.get('token')}`, Origin: origin};
  const transport = async (request) => {
    const response = await fetch(`${origin}/api/transport`, {method: request ? 'POST' : 'GET', headers, body: request && JSON.stringify(request)});
    return {ok: response.ok, state: await response.json()};
  };
  const browser = await chromium.launch({executablePath: '/usr/bin/chromium'});
  try {
    const page = await browser.newPage({viewport: {width: 1500, height: 850}});
    await page.goto(address);
    await page.waitForSelector('.card[data-port="overlay.outputImage"] canvas.frame[data-frame]');
    await transport({action: 'pause'});
    // One play through the clip, from its first frame, at the speed asked for.
    await transport({loop: false});
    const speed = options.speed ? (await transport({speed: options.speed})).ok : null;
    await transport({input: clip});
    const before = cpuSeconds(server.pid);
    await transport({action: 'play'});
    let state;
    do {
      await new Promise((resolve) => setTimeout(resolve, 50));
      state = (await transport()).state;
    } while (state.playing);
    const cpu = cpuSeconds(server.pid) - before;
    if (state.failure) throw new Error(state.failure);
    return {frames: state.frame + 1, cpu, speed};
  } finally {
    await browser.close();
    server.kill('SIGTERM');
  }
}

const rows = [];
for (let round = 0; round < Number(options.rounds); round++) {
  // The two take turns going first.
  let run, studio;
  if (round % 2) {
    run = await runRound();
    studio = await studioRound();
  } else {
    studio = await studioRound();
    run = await runRound();
  }
  const [runMs, studioMs] = [(1000 * run.cpu) / run.frames, (1000 * studio.cpu) / studio.frames];
  rows.push({runMs, studioMs, ratio: studioMs / runMs});
  console.log(
    `round ${round + 1}: studio ${studio.frames} frames ${studioMs.toFixed(2)} ms CPU/frame` +
      `${options.speed ? ` (speed ${options.speed}${studio.speed ? '' : ' refused'})` : ''}, ` +
      `run ${run.frames} frames ${runMs.toFixed(2)} ms CPU/frame, studio ÷ run ${(studioMs / runMs).toFixed(3)}`,
  );
}
console.log(
  `median: studio ${median(rows.map((r) => r.studioMs)).toFixed(2)} ms, run ${median(rows.map((r) => r.runMs)).toFixed(2)} ms, ` +
    `studio ÷ run ${median(rows.map((r) => r.ratio)).toFixed(3)} (the median of the rounds' own ratios)`,
);
