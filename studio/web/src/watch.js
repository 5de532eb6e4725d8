// The side panel: the live value of each watched port — a picture as it updates (with the
// watched structures drawn over it when asked), a structure as a table, other values as text.
// The composition's published ports are always watched; clicking an output or a node adds its
// outputs in place of the ones clicked before.
import {StripChart, charts} from './chart.js';
import {kindColours} from './kinds.js';
import {drawOverlay} from './overlay.js';
import {PixelView} from './pixelView.js';
import {addRecordControl} from './record.js';

const pictureKinds = new Set(['host picture', 'opencv image']);
const keptFrames = 30;

export class WatchPanel {
  constructor(root, kindOf, onChange) {
    Object.assign(this, {root, kindOf, onChange});
    this.published = [];
    this.focused = [];
    this.cards = new Map();
    this.overlay = false;
    // The watched structures of the last frames, by their sequence number, so that a picture
    // gets those of its own evaluation.
    this.structuresBySeq = new Map();
  }

  ports() {
    return [...new Set([...this.published, ...this.focused])];
  }

  watchPublished(ports) {
    this.published = ports;
    this.rebuild();
  }

  focus(ports) {
    this.focused = ports;
    this.rebuild();
  }

  rebuild() {
    const ports = this.ports();
    for (const [port, card] of this.cards) {
      if (!ports.includes(port)) {
        card.element.remove();
        this.cards.delete(port);
      }
    }
    for (const port of ports) if (!this.cards.has(port)) this.cards.set(port, this.createCard(port));
    for (const port of ports) this.root.append(this.cards.get(port).element);
    this.onChange(ports);
  }

  createCard(port) {
    const element = document.createElement('section');
    element.className = 'card';
    element.dataset.port = port;
    const title = document.createElement('h4');
    title.textContent = port;
    element.append(title);
    const card = {element, kind: this.kindOf(port)};
    if (pictureKinds.has(card.kind)) {
      const frame = document.createElement('div');
      frame.className = 'picture';
      card.image = Object.assign(document.createElement('canvas'), {className: 'frame'});
      card.canvas = document.createElement('canvas');
      frame.append(card.image, card.canvas);
      const toggle = document.createElement('label');
      card.toggle = document.createElement('input');
      card.toggle.type = 'checkbox';
      card.toggle.checked = this.overlay;
      card.toggle.addEventListener('change', () => {
        this.overlay = card.toggle.checked;
        this.redrawOverlays();
      });
      toggle.append(card.toggle, ' overlay the watched structures');
      element.append(frame, toggle);
      card.look = new PixelView(card, port, () => (this.overlay ? (this.structuresBySeq.get(card.seq) ?? []) : []));
      addRecordControl(element, port);
    } else {
      card.body = document.createElement('div');
      card.body.className = 'value';
      element.append(card.body);
      if (charts(card.kind)) {
        const label = card.kind === 'structure' ? 'members' : card.kind;
        card.chart = new StripChart(element, label, kindColours[card.kind]);
      }
    }
    return card;
  }

  showFrame(frame, seq, values) {
    const structures = [];
    for (const [port, value] of Object.entries(values)) {
      const card = this.cards.get(port);
      if (!card || card.image) continue;
      if (card.kind === 'structure') structures.push(value);
      card.body.replaceChildren(render(value));
      card.chart?.addValue(frame, card.kind, value);
    }
    this.structuresBySeq.set(seq, structures);
    for (const old of this.structuresBySeq.keys()) if (old < seq - keptFrames) this.structuresBySeq.delete(old);
  }

  // Pictures are decoded off screen and drawn whole, the newest evaluation last (by sequence
  // number: frame numbers start again after a restart, a loop or a seek).
  async showPicture(port, frame, jpeg, seq) {
    const card = this.cards.get(port);
    if (!card?.image) return;
    const bitmap = await createImageBitmap(jpeg);
    if (seq >= (card.seq ?? -1)) {
      Object.assign(card.image, {width: bitmap.width, height: bitmap.height});
      card.image.getContext('2d').drawImage(bitmap, 0, 0);
      Object.assign(card.image.dataset, {frame, seq});
      card.frame = frame;
      card.seq = seq;
      this.drawOverlay(card);
      card.look.shown();
    }
    bitmap.close();
  }

  redrawOverlays() {
    for (const card of this.cards.values()) if (card.frame !== undefined) this.drawOverlay(card);
  }

  drawOverlay(card) {
    card.canvas.width = card.image.width;
    card.canvas.height = card.image.height;
    card.toggle.checked = this.overlay;
    drawOverlay(card.canvas, this.overlay ? (this.structuresBySeq.get(card.seq) ?? []) : []);
    card.look.draw();
  }
}

const isStructure = (value) => value !== null && typeof value === 'object' && value.constructor === Object;

// A value as the JSON lines give it, members in order.
const text = (value) =>
  isStructure(value)
    ? `{${Object.entries(value).map(([k, v]) => `${k}: ${text(v)}`).join(', ')}}`
    : value === null ? 'nil' : String(value);

// A structure as a table, a member that is itself a structure as one row of its own members;
// anything else as its text.
function render(value) {
  if (!isStructure(value)) {
    const code = document.createElement('code');
    code.textContent = text(value);
    return code;
  }
  const table = document.createElement('table');
  const entries = Object.entries(value);
  if (!entries.length) table.createCaption().textContent = 'empty';
  for (const [key, member] of entries) {
    const row = table.insertRow();
    row.insertCell().textContent = key;
    for (const [k, v] of isStructure(member) ? Object.entries(member) : [['', member]]) {
      row.insertCell().textContent = k ? `${k} ${text(v)}` : text(v);
    }
  }
  return table;
}
