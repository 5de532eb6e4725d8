// Strip charts, drawn by uPlot: a value over the last frames, following playback. A frame number
// lower than the last one (the input started again: a loop, a seek, a restart) starts the chart
// afresh; the same frame again (sent once more while paused) replaces its value.
import uPlot from '../node_modules/uplot/dist/uPlot.esm.js';

export const keptFrames = 300;
const height = 110;

// What a watched value charts as: a number as itself, a boolean as 0 or 1, a structure as the
// count of its members; null for the kinds that do not chart.
const chartedAs = {
  number: Number,
  index: Number,
  boolean: (value) => (value ? 1 : 0),
  structure: (value) => Object.keys(value ?? {}).length,
};

export const charts = (kind) => kind in chartedAs;

export class StripChart {
  // A chart of `label` at the end of `parent`, its line in `colour`.
  constructor(parent, label, colour) {
    this.frames = [];
    this.values = [];
    this.element = Object.assign(document.createElement('div'), {className: 'chart'});
    this.caption = Object.assign(document.createElement('div'), {className: 'caption'});
    this.label = label;
    this.element.append(this.caption);
    parent.append(this.element);
    const axis = {
      stroke: '#999',
      grid: {stroke: '#333', width: 1},
      ticks: {stroke: '#444', width: 1},
      font: '10px sans-serif',
    };
    this.plot = new uPlot(
      {
        width: Math.max(100, parent.clientWidth),
        height,
        scales: {x: {time: false}},
        cursor: {drag: {x: false, y: false}},
        legend: {show: false},
        series: [{label: 'frame'}, {label, stroke: colour, width: 1.5, points: {show: false}}],
        axes: [axis, {...axis, size: 44, space: 18}],
      },
      [this.frames, this.values],
      this.element,
    );
    new ResizeObserver(() => {
      const width = this.element.clientWidth;
      if (width && width !== this.plot.width) this.plot.setSize({width, height});
    }).observe(this.element);
  }

  // The value of frame `frame`, as the kind `kind` charts.
  addValue(frame, kind, value) {
    this.add(frame, chartedAs[kind](value));
  }

  add(frame, value) {
    const last = this.frames.at(-1);
    if (frame < last) {
      this.frames = [];
      this.values = [];
    } else if (frame === last) {
      this.frames.pop();
      this.values.pop();
    }
    this.frames.push(frame);
    this.values.push(value);
    if (this.frames.length > keptFrames) {
      this.frames.shift();
      this.values.shift();
    }
    this.plot.setData([this.frames, this.values]);
    this.caption.textContent = `${this.label} · ${Number.isInteger(value) ? value : value.toFixed(3)} at frame ${frame}`;
    this.element.dataset.frames = this.frames.length;
    this.element.dataset.last = frame;
  }
}
