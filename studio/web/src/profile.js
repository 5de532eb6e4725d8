// The profile: which patches cost most over the last frames received, by their mean milliseconds
// per frame, with the largest and their share of the frames' time, costliest first; the chart
// button of a row charts that patch's milliseconds frame by frame.
import {StripChart, keptFrames} from './chart.js';

const profiledFrames = 100;
const redrawAfter = 250;

export class ProfileView {
  constructor(parent) {
    this.history = [];
    this.charts = new Map();
    this.element = Object.assign(document.createElement('details'), {id: 'profile', open: true});
    const summary = document.createElement('summary');
    summary.textContent = `Profile · last ${profiledFrames} frames`;
    this.table = document.createElement('table');
    this.chartsElement = document.createElement('div');
    this.element.append(summary, this.table, this.chartsElement);
    parent.append(this.element);
  }

  // A frame's message: its number and each patch's part in it ({"id": {"ms": ..}, ..}).
  add(frame, patches) {
    // The input started again, or the same frame came again (while paused).
    const last = this.history.at(-1)?.frame ?? -1;
    if (frame < last) this.history = [];
    else if (frame === last) this.history.pop();
    this.history.push({frame, patches});
    if (this.history.length > keptFrames) this.history.shift();
    for (const [id, chart] of this.charts) chart.add(frame, Number(patches[id]?.ms ?? 0));
    this.pending ??= setTimeout(() => {
      this.pending = null;
      this.render();
    }, redrawAfter);
  }

  // Each patch's mean and largest ms over the last frames and its share of their time, costliest
  // first.
  rows() {
    const recent = this.history.slice(-profiledFrames);
    const totals = new Map();
    let all = 0;
    for (const {patches} of recent) {
      for (const [id, part] of Object.entries(patches)) {
        const ms = Number(part.ms);
        const total = totals.get(id) ?? {id, sum: 0, max: 0};
        total.sum += ms;
        total.max = Math.max(total.max, ms);
        totals.set(id, total);
        all += ms;
      }
    }
    return [...totals.values()]
      .map(({id, sum, max}) => ({id, mean: sum / recent.length, max, share: all > 0 ? sum / all : 0}))
      .sort((a, b) => b.mean - a.mean || a.id.localeCompare(b.id));
  }

  render() {
    const head = document.createElement('tr');
    for (const name of ['patch', 'mean ms', 'max ms', 'share', '']) {
      head.append(Object.assign(document.createElement('th'), {textContent: name}));
    }
    const rows = this.rows().map(({id, mean, max, share}) => {
      const row = document.createElement('tr');
      row.dataset.patch = id;
      for (const text of [id, mean.toFixed(3), max.toFixed(3), `${(100 * share).toFixed(1)} %`]) {
        row.insertCell().textContent = text;
      }
      const button = Object.assign(document.createElement('button'), {
        className: 'chart-ms',
        textContent: 'chart',
        title: `Chart ${id}'s ms`,
      });
      button.setAttribute('aria-pressed', this.charts.has(id));
      button.addEventListener('click', () => this.toggleChart(id));
      row.insertCell().append(button);
      row.style.setProperty('--share', share);
      return row;
    });
    this.table.replaceChildren(head, ...rows);
  }

  toggleChart(id) {
    const chart = this.charts.get(id);
    if (chart) {
      chart.element.remove();
      this.charts.delete(id);
    } else {
      const created = new StripChart(this.chartsElement, `${id} ms`, '#f4d35e');
      created.element.dataset.patch = id;
      for (const {frame, patches} of this.history) created.add(frame, Number(patches[id]?.ms ?? 0));
      this.charts.set(id, created);
    }
    this.render();
  }
}
