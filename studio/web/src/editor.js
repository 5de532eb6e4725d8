// The graph editor: the running composition drawn by litegraph, kept the same as the server's.
// Every change the user makes is sent as an edit; links are drawn only once the server accepted
// them, and any other refused change puts the server's composition back on screen, with the
// server's message where the user acted.
import {LGraph, LGraphCanvas, LiteGraph} from '../node_modules/@comfyorg/litegraph/dist/litegraph.es.js';
import {api, clientId} from './api.js';
import {autoLayout} from './layout.js';
import {showNotice} from './notice.js';
import {isSignal, kindColours, shortName} from './kinds.js';
import {createPatchNode} from './patchNode.js';
import {ValueSender} from './valueSender.js';

// The server decides which kinds connect; the editor asks it rather than its own type rules.
LiteGraph.isValidConnection = () => true;
Object.assign(LGraphCanvas.link_type_colors, kindColours);

const INPUT = 1;

export class Editor {
  constructor(canvasElement, classes, {onWatch, onNodeFocus, onNodeCreated}) {
    this.classes = new Map(classes.map((c) => [c.class, c]));
    this.graph = new LGraph();
    this.canvas = new LGraphCanvas(canvasElement, this.graph);
    this.canvas.show_info = false;
    this.canvas.render_canvas_border = false;
    // Small enough for the face example in a 900 px window, text still drawn.
    this.canvas.low_quality_zoom_threshold = 0.3;
    this.canvasElement = canvasElement;
    this.nodes = new Map();
    this.quiet = 0;
    this.queued = [];
    this.selectedLink = null;
    this.onWatch = onWatch;
    this.onNodeCreated = onNodeCreated;
    // Set by the page: draws the server's batches (sync.js), the user's own included.
    this.sync = null;
    // The values a slider drag sends, one undo step.
    this.dragStep = null;
    this.drags = 0;
    canvasElement.addEventListener('pointerdown', () => (this.dragStep = `${clientId}-${(this.drags += 1)}`), true);
    document.addEventListener('pointerup', () => setTimeout(() => (this.dragStep = null)));
    this.values = new ValueSender((edit, step) => this.send([edit], this.pointer, step));
    this.pointer = {x: 0, y: 0};
    document.addEventListener('pointermove', (e) => (this.pointer = {x: e.clientX, y: e.clientY}), true);
    this.canvas.onNodeSelected = (node) => onNodeFocus(node);
    this.canvas.onNodeMoved = () => this.sendMoves();
    this.canvas.showLinkMenu = (segment) => this.selectLink(segment);
  }

  // The canvas fills its place, the composition fitted in it.
  resize() {
    const {clientWidth, clientHeight} = this.canvasElement.parentElement;
    this.canvas.resize(clientWidth, clientHeight);
    this.showAll();
  }

  // Shows a composition in the file format, placed by its "layout" or laid out anew, and fitted
  // in view; or, with `keepView`, where the view and the selection were.
  load(composition, {keepView = false} = {}) {
    const {ds} = this.canvas;
    const view = {
      offset: [...ds.offset],
      scale: ds.scale,
      selected: Object.values(this.canvas.selected_nodes ?? {}).map((node) => node.patchId),
      places: Object.fromEntries([...this.nodes].map(([id, node]) => [id, {x: node.pos[0], y: node.pos[1]}])),
    };
    this.silently(() => {
      this.graph.clear();
      this.nodes.clear();
      for (const [id, patch] of Object.entries(composition.patches ?? {})) {
        this.createNode(id, patch.class, patch.inputs ?? {});
      }
      for (const {from, to} of composition.connections ?? []) this.link(from, to);
    });
    this.showEmptyHint();
    // Kept in view, a patch the file does not place stays where the page had it.
    const layout = {...(keepView ? view.places : {}), ...composition.layout};
    const ids = [...this.nodes.keys()];
    // A patch the file places stays where it is, as every other page shows it.
    const placed = ids.every((id) => layout[id])
      ? layout
      : autoLayout(ids, composition.connections ?? [], (id) => this.nodes.get(id).size);
    for (const id of ids) this.nodes.get(id).pos = [(layout[id] ?? placed[id]).x, (layout[id] ?? placed[id]).y];
    if (!keepView) return this.showAll();
    ds.offset = view.offset;
    ds.scale = view.scale;
    this.selectIds(view.selected);
    this.canvas.setDirty(true, true);
  }

  selectIds(ids) {
    this.canvas.selectItems(ids.map((id) => this.nodes.get(id)).filter(Boolean));
  }

  // A point of the page in the graph's coordinates.
  graphPoint({x, y}) {
    const rect = this.canvasElement.getBoundingClientRect();
    return this.canvas.convertCanvasToOffset([x - rect.left, y - rect.top]);
  }

  // An empty graph says how to begin.
  showEmptyHint() {
    this.canvasElement.parentElement.querySelector('.empty-hint').hidden = this.nodes.size > 0;
  }

  // Fits the whole composition in view, never enlarged, nor shrunk past the smallest scale at
  // which titles and labels are still drawn: a larger one shows its left end.
  showAll() {
    const nodes = [...this.nodes.values()];
    if (nodes.length) {
      const margin = 40;
      const titleHeight = LiteGraph.NODE_TITLE_HEIGHT;
      const left = Math.min(...nodes.map((n) => n.pos[0])) - margin;
      const top = Math.min(...nodes.map((n) => n.pos[1] - titleHeight)) - margin;
      const right = Math.max(...nodes.map((n) => n.pos[0] + n.size[0])) + margin;
      const bottom = Math.max(...nodes.map((n) => n.pos[1] + n.size[1])) + margin;
      const bounds = [left, top, right - left, bottom - top];
      this.canvas.ds.fitToBounds(bounds, {zoom: 1});
      const {ds} = this.canvas;
      const legible = this.canvas.low_quality_zoom_threshold + 0.05;
      if (ds.scale > 1 || ds.scale < legible) {
        ds.scale = Math.min(Math.max(ds.scale, legible), 1);
        ds.fitToBounds(bounds, {zoom: 0});
        if (ds.scale === legible) ds.offset[0] = -left;
      }
    }
    this.canvas.setDirty(true, true);
  }

  // The server's composition again, the view and the selection kept.
  reload() {
    return this.sync.reload();
  }

  createNode(id, className, inputs) {
    const patchClass = this.classes.get(className);
    if (!patchClass) throw new Error(`patch "${id}": unknown class "${className}"`);
    const node = createPatchNode(id, patchClass, inputs, (n, port, value) => this.setValue(n, port, value));
    node.onConnectInput = (inputIndex, _type, _output, origin, outputIndex) =>
      this.quiet > 0 || this.requestLink(origin, outputIndex, node, inputIndex);
    node.onConnectionsChange = (type, index, connected) => {
      if (this.quiet === 0 && type === INPUT && !connected) {
        this.queue({op: 'disconnect', to: `${id}.${node.inputs[index].name}`});
      }
    };
    node.onRemoved = () => {
      if (this.quiet === 0) this.queue({op: 'remove', id});
      this.nodes.delete(id);
      this.showEmptyHint();
    };
    node.onOutputClick = (index) => this.onWatch([`${id}.${node.outputs[index].name}`]);
    this.graph.add(node);
    this.nodes.set(id, node);
    this.showEmptyHint();
    this.onNodeCreated?.(node);
    return node;
  }

  // Adds a patch of a class with its defaults at a point of the page.
  async addPatch(className, clientX, clientY) {
    const id = this.freeId(className);
    const rect = this.canvasElement.getBoundingClientRect();
    const [x, y] = this.canvas.convertCanvasToOffset([clientX - rect.left, clientY - rect.top]);
    const edits = [
      {op: 'add', id, class: className},
      {op: 'move', id, x: Math.round(x), y: Math.round(y)},
    ];
    const answer = await this.send(edits, {x: clientX, y: clientY});
    if (!answer) return null;
    // The server's message of the batch draws the node.
    await this.sync.reached(answer.revision);
    return id;
  }

  freeId(className) {
    const stem = className
      .replace(/^(OpenCV|QC)/, '')
      .replace(/^[A-Z]+(?=[A-Z][a-z]|\d|$)|^[A-Z]/, (s) => s.toLowerCase());
    let id = stem;
    for (let n = 2; this.nodes.has(id); n += 1) id = `${stem}${n}`;
    return id;
  }

  // A link the user drew: sent first, drawn when accepted (from the server's message of it). An
  // input that is taken loses its old link in the same batch.
  requestLink(origin, outputIndex, target, inputIndex) {
    const from = `${origin.patchId}.${origin.outputs[outputIndex].name}`;
    const to = `${target.patchId}.${target.inputs[inputIndex].name}`;
    const edits = target.inputs[inputIndex].link == null ? [] : [{op: 'disconnect', to}];
    edits.push({op: 'connect', from, to});
    this.send(edits);
    return false;
  }

  link(from, to) {
    const [fromId, output] = from.split('.');
    const [toId, input] = to.split('.');
    const origin = this.nodes.get(fromId);
    const target = this.nodes.get(toId);
    origin?.connect(origin.findOutputSlot(output), target, target?.findInputSlot(input));
  }

  setValue(node, port, value) {
    const name = `${node.patchId}.${port.name}`;
    // A signal raised and let fall is one step too.
    const step = this.dragStep ?? (isSignal(port) ? `${clientId}-${(this.drags += 1)}` : undefined);
    this.values.set(name, value, step);
    if (isSignal(port)) this.values.pulse(name, step);
  }

  sendMoves() {
    const moves = Object.values(this.canvas.selected_nodes).map((node) => ({
      op: 'move',
      id: node.patchId,
      x: Math.round(node.pos[0]),
      y: Math.round(node.pos[1]),
    }));
    if (moves.length) this.send(moves);
  }

  // Every node's position, for a save or a download.
  positionEdits() {
    return [...this.nodes.values()].map((node) => ({
      op: 'move',
      id: node.patchId,
      x: Math.round(node.pos[0]),
      y: Math.round(node.pos[1]),
    }));
  }

  selectLink(segment) {
    this.selectedLink = segment;
    this.canvas.highlighted_links = {[segment.id]: true};
    this.canvas.setDirty(true, true);
    return false;
  }

  // The server names ports by their paths, "id.inputName"; the page by the node and the label it
  // shows.
  labelled(message) {
    return message.replace(/"([^".\s]+)\.((?:input|output)\w+)"/g, (path, id, name) =>
      this.nodes.get(id)?.patchClass.ports.some((p) => p.name === name) ? `${id}'s "${shortName(name)}"` : path,
    );
  }

  // Each patch's part in the last frame.
  showStatus(patches) {
    for (const [id, status] of Object.entries(patches ?? {})) {
      const node = this.nodes.get(id);
      if (node) node.status = status;
    }
    this.canvas.setDirty(true);
  }

  silently(change) {
    this.quiet += 1;
    try {
      change();
    } finally {
      this.quiet -= 1;
    }
  }

  // Changes made in one go by litegraph (a node deleted with its links) leave as one batch.
  queue(edit) {
    if (this.queued.length === 0) queueMicrotask(() => this.send(this.queued.splice(0)));
    this.queued.push(edit);
  }

  // Sends a batch (one undo step, or part of the step `step`); a refusal is shown where the user
  // acted and the server's composition is shown again. Resolves to the server's answer
  // ({revision}), or false when refused.
  async send(edits, at = this.pointer, step = undefined) {
    try {
      return await api.edits(edits, step);
    } catch (error) {
      showNotice(this.labelled(error.message), at);
      await this.reload().catch((e) => showNotice(e.message, at));
      return false;
    }
  }
}
