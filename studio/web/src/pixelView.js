// A closer look at a watched picture. Under the pointer: the pixel's position, in pixels (x to
// the right, y down from the top row, as the picture shows) and in the centred unit of the
// structures, and its channel values, read from the whole picture rather than the preview. The
// wheel zooms about the pointer, up to pixels drawn as squares; dragging pans; Shift+drag marks
// a region and shows its minimum, maximum and mean per channel; a double-click shows the picture
// whole again. The whole picture (PNG) is fetched for the frame shown while the pointer is over
// the card, again when that frame changes, at most once per `refetchAfter`; the preview is drawn
// until it comes, and the watched structures over either, in place at any zoom.
import {api} from './api.js';
import {drawStructures} from './overlay.js';

const refetchAfter = 250;
// The largest zoom draws one pixel of the picture as this many pixels of the screen.
const largestSquare = 40;
const f = Math.fround;

// A pixel's centred unit as the feature and corner finders publish one found there, in single
// precision in their order of operations: the picture's rows counted from the bottom, as an
// OpenCV image holds them, X = (x − w/2) / (w/2), Y = ((y − h/2) / (h/2) · h) / w.
export function centredUnit(x, row, w, h) {
  const y = h - 1 - row;
  const [fw, fh] = [f(w), f(h)];
  return {
    X: f(f(x + f(fw * -0.5)) / f(fw * 0.5)),
    Y: f(f(f(f(y + f(fh * -0.5)) / f(fh * 0.5)) * fh) / fw),
  };
}

// The minimum, maximum and mean of each of the channels of a region of RGBA pixels, the
// corners included.
export function regionStatistics(pixels, {x0, y0, x1, y1}, channels) {
  const count = channels === 1 ? 1 : 3;
  const min = Array(count).fill(255);
  const max = Array(count).fill(0);
  const sum = Array(count).fill(0);
  for (let y = y0; y <= y1; y++) {
    for (let x = x0; x <= x1; x++) {
      const at = (y * pixels.width + x) * 4;
      for (let c = 0; c < count; c++) {
        const value = pixels.data[at + c];
        min[c] = Math.min(min[c], value);
        max[c] = Math.max(max[c], value);
        sum[c] += value;
      }
    }
  }
  const area = (x1 - x0 + 1) * (y1 - y0 + 1);
  return {min, max, mean: sum.map((total) => total / area)};
}

const channelNames = (channels) => (channels === 1 ? ['gray'] : ['R', 'G', 'B']);
const clamp = (value, low, high) => Math.min(high, Math.max(low, value));

export class PixelView {
  // `card` has the preview canvas (`image`) in its picture frame; `structures()` gives the
  // structures to draw over the frame shown.
  constructor(card, port, structures) {
    Object.assign(this, {card, port, structures});
    this.zoom = 1;
    // The picture's point at the view's top-left corner, as a fraction of its width and height.
    this.left = 0;
    this.top = 0;
    this.whole = null;
    this.region = null;
    this.view = Object.assign(document.createElement('canvas'), {className: 'view'});
    const frame = card.image.parentElement;
    frame.classList.add('looked');
    frame.append(this.view);
    this.readout = Object.assign(document.createElement('div'), {className: 'readout'});
    this.regionReadout = Object.assign(document.createElement('div'), {className: 'region'});
    frame.after(this.readout, this.regionReadout);
    this.listen();
    new ResizeObserver(() => this.draw()).observe(frame);
  }

  // A new preview is drawn (a new frame, or the same frame evaluated again): the view follows,
  // and the whole picture of what it shows is wanted while the pointer is over it.
  shown() {
    this.previews = (this.previews ?? 0) + 1;
    this.draw();
    this.want();
  }

  listen() {
    const view = this.view;
    view.addEventListener('pointerenter', () => {
      this.hovered = true;
      this.want();
    });
    view.addEventListener('pointerleave', () => {
      this.hovered = false;
      this.pointer = null;
      this.showReadout();
    });
    view.addEventListener('wheel', (event) => this.wheel(event), {passive: false});
    view.addEventListener('pointerdown', (event) => {
      if (event.button !== 0) return;
      view.setPointerCapture(event.pointerId);
      const at = this.fractionAt(event);
      this.drag =
        event.shiftKey && this.whole
          ? {from: this.pixelAt(at)}
          : {x: event.clientX, y: event.clientY, left: this.left, top: this.top};
      if (this.drag.from) this.mark(this.drag.from, this.drag.from);
    });
    view.addEventListener('pointermove', (event) => {
      this.pointer = this.fractionAt(event);
      if (this.drag?.from) {
        this.mark(this.drag.from, this.pixelAt(this.pointer));
      } else if (this.drag) {
        const rect = view.getBoundingClientRect();
        this.left = this.drag.left - (event.clientX - this.drag.x) / rect.width / this.zoom;
        this.top = this.drag.top - (event.clientY - this.drag.y) / rect.height / this.zoom;
        this.keepInside();
        this.draw();
      }
      this.showReadout();
    });
    const release = () => (this.drag = null);
    view.addEventListener('pointerup', release);
    view.addEventListener('pointercancel', release);
    view.addEventListener('dblclick', () => {
      Object.assign(this, {zoom: 1, left: 0, top: 0, region: null});
      this.showRegion();
      this.draw();
    });
  }

  // Whether the whole picture is of the frame shown, fetched after its preview came.
  current() {
    return this.whole !== null && this.whole.frame === this.card.frame && this.whole.preview === this.previews;
  }

  // The picture that the view shows now: the whole one when it is of the frame shown.
  source() {
    return this.current() ? this.whole.bitmap : this.card.image;
  }

  // The size of the whole picture, once known; the preview's until then.
  size() {
    const {width, height} = this.whole?.bitmap ?? this.card.image;
    return {width, height};
  }

  fractionAt(event) {
    const rect = this.view.getBoundingClientRect();
    return {
      x: this.left + (event.clientX - rect.left) / rect.width / this.zoom,
      y: this.top + (event.clientY - rect.top) / rect.height / this.zoom,
    };
  }

  pixelAt({x, y}) {
    const {width, height} = this.size();
    return {x: clamp(Math.floor(x * width), 0, width - 1), y: clamp(Math.floor(y * height), 0, height - 1)};
  }

  wheel(event) {
    event.preventDefault();
    const rect = this.view.getBoundingClientRect();
    const at = this.fractionAt(event);
    const largest = Math.max(1, (largestSquare * this.size().width) / rect.width);
    this.zoom = clamp(this.zoom * Math.exp(-event.deltaY * 0.002), 1, largest);
    this.left = at.x - (event.clientX - rect.left) / rect.width / this.zoom;
    this.top = at.y - (event.clientY - rect.top) / rect.height / this.zoom;
    this.keepInside();
    this.draw();
  }

  keepInside() {
    this.left = clamp(this.left, 0, 1 - 1 / this.zoom);
    this.top = clamp(this.top, 0, 1 - 1 / this.zoom);
  }

  mark(from, to) {
    this.region = {
      x0: Math.min(from.x, to.x),
      y0: Math.min(from.y, to.y),
      x1: Math.max(from.x, to.x),
      y1: Math.max(from.y, to.y),
    };
    this.showRegion();
    this.draw();
  }

  draw() {
    const view = this.view;
    const [w, h] = [Math.round(view.clientWidth * devicePixelRatio), Math.round(view.clientHeight * devicePixelRatio)];
    if (view.width !== w || view.height !== h) Object.assign(view, {width: w, height: h});
    const ctx = view.getContext('2d');
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    ctx.clearRect(0, 0, w, h);
    const source = this.source();
    if (!w || !h || !source.width || this.card.frame === undefined) return;
    const [sx, sy] = [(w * this.zoom) / source.width, (h * this.zoom) / source.height];
    ctx.setTransform(sx, 0, 0, sy, -this.left * source.width * sx, -this.top * source.height * sy);
    // Magnified, each pixel is a square of its own colour.
    ctx.imageSmoothingEnabled = sx < 1;
    ctx.drawImage(source, 0, 0);
    const line = (1.5 * devicePixelRatio) / sx;
    drawStructures(ctx, this.structures(), source.width, source.height, line);
    if (this.region) {
      const scale = source.width / this.size().width;
      const {x0, y0, x1, y1} = this.region;
      ctx.strokeStyle = '#ff00ff';
      ctx.lineWidth = line;
      ctx.setLineDash([4 * line, 3 * line]);
      ctx.strokeRect(x0 * scale, y0 * scale, (x1 - x0 + 1) * scale, (y1 - y0 + 1) * scale);
      ctx.setLineDash([]);
    }
    view.dataset.zoom = this.zoom;
    view.dataset.whole = this.current();
  }

  want() {
    const frame = this.card.frame;
    if (!this.hovered || this.fetching || frame === undefined || this.current()) return;
    const wait = refetchAfter - (performance.now() - (this.fetched ?? -Infinity));
    if (wait > 0) {
      clearTimeout(this.later);
      this.later = setTimeout(() => this.want(), wait);
      return;
    }
    this.fetchWhole();
  }

  async fetchWhole() {
    this.fetching = true;
    this.fetched = performance.now();
    const preview = this.previews;
    try {
      const {frame, channels, blob} = await api.picture(this.port);
      const bitmap = await createImageBitmap(blob, {colorSpaceConversion: 'none', premultiplyAlpha: 'none'});
      const canvas = new OffscreenCanvas(bitmap.width, bitmap.height);
      const ctx = canvas.getContext('2d', {willReadFrequently: true});
      ctx.drawImage(bitmap, 0, 0);
      const pixels = ctx.getImageData(0, 0, bitmap.width, bitmap.height);
      this.whole?.bitmap.close();
      this.whole = {frame, channels, bitmap, pixels, preview};
      this.problem = null;
    } catch (error) {
      this.problem = error.message;
    } finally {
      this.fetching = false;
    }
    this.draw();
    this.showReadout();
    this.showRegion();
    if (!this.problem) this.want();
  }

  showReadout() {
    const readout = this.readout;
    delete readout.dataset.values;
    if (!this.pointer) return readout.replaceChildren();
    if (!this.whole) return (readout.textContent = this.problem ?? 'reading the whole picture…');
    const {pixels, channels, frame} = this.whole;
    const {x, y} = this.pixelAt(this.pointer);
    const {X, Y} = centredUnit(x, y, pixels.width, pixels.height);
    const at = (y * pixels.width + x) * 4;
    const values = channelNames(channels).map((_, c) => pixels.data[at + c]);
    Object.assign(readout.dataset, {x, y, frame, values: JSON.stringify(values)});
    readout.textContent =
      `x ${x} y ${y} · X ${X.toFixed(4)} Y ${Y.toFixed(4)} · ` +
      channelNames(channels).map((name, c) => `${name} ${values[c]}`).join(' ') +
      ` · frame ${frame}`;
  }

  showRegion() {
    const element = this.regionReadout;
    delete element.dataset.statistics;
    if (!this.region || !this.whole) return element.replaceChildren();
    const {pixels, channels, frame} = this.whole;
    const statistics = regionStatistics(pixels, this.region, channels);
    const {x0, y0, x1, y1} = this.region;
    element.dataset.statistics = JSON.stringify({region: this.region, frame, ...statistics});
    const table = document.createElement('table');
    const size = `${x1 - x0 + 1}\u00a0×\u00a0${y1 - y0 + 1}`;
    table.createCaption().textContent = `x ${x0}–${x1} y ${y0}–${y1} · ${size} · frame\u00a0${frame}`;
    const head = table.insertRow();
    for (const name of ['', ...channelNames(channels)]) head.insertCell().textContent = name;
    for (const [name, row] of [['min', statistics.min], ['max', statistics.max], ['mean', statistics.mean]]) {
      const cells = table.insertRow();
      cells.insertCell().textContent = name;
      for (const value of row) cells.insertCell().textContent = name === 'mean' ? value.toFixed(2) : value;
    }
    element.replaceChildren(table);
  }
}
