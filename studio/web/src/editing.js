// The editor's habits beyond drawing links: keys (Delete or Backspace, Ctrl+A, Ctrl+C, Ctrl+V,
// Ctrl+D), the search that adds a patch (a double-click on the canvas, a link dropped on empty
// canvas, the canvas's menu) and the nodes' menu. Every change is one batch of edits, sent
// before the page shows it.
import {canConnect} from './kinds.js';
import {openSearch} from './search.js';
import {hideNodeHelp, showNodeHelp} from './nodeHelp.js';

const typing = (target) => ['INPUT', 'TEXTAREA', 'SELECT'].includes(target?.tagName) || target?.isContentEditable;
const withCommand = (event) => event.ctrlKey || event.metaKey;

// The selected patches as a composition in the file format: their classes, the values of their
// widgets that differ from the defaults, the links among them and their places.
export function compositionOf(nodes) {
  const ids = new Set(nodes.map((node) => node.patchId));
  const fragment = {patches: {}, connections: [], layout: {}};
  for (const node of nodes) {
    const inputs = {};
    for (const [name, widget] of node.widgetsByPort) {
      const port = node.patchClass.ports.find((p) => p.name === name);
      if (widget.type !== 'button' && widget.value !== port.default) inputs[name] = widget.value;
    }
    fragment.patches[node.patchId] = {class: node.patchClass.class, ...(Object.keys(inputs).length ? {inputs} : {})};
    fragment.layout[node.patchId] = {x: Math.round(node.pos[0]), y: Math.round(node.pos[1])};
  }
  for (const node of nodes) {
    for (const input of node.inputs) {
      const origin = input.link == null ? null : node.getInputNode(node.inputs.indexOf(input));
      if (!origin || !ids.has(origin.patchId)) continue;
      const output = origin.outputs.find((o) => o.links?.includes(input.link));
      fragment.connections.push({from: `${origin.patchId}.${output.name}`, to: `${node.patchId}.${input.name}`});
    }
  }
  return fragment;
}

// A free id like `stem`: the stem itself, or with the first number after it that is free.
function freeIdLike(stem, taken) {
  const base = stem.replace(/\d+$/, '') || 'patch';
  if (!taken.has(stem)) return stem;
  let n = 2;
  while (taken.has(`${base}${n}`)) n += 1;
  return `${base}${n}`;
}

// `onRemoved(ids)` is told of the patches deleted.
export class EditingActions {
  constructor(editor, classes, onRemoved) {
    Object.assign(this, {editor, classes, onRemoved});
    const {canvas} = editor;
    canvas.showSearchBox = (event) => this.searchAt({x: event.clientX, y: event.clientY});
    canvas.linkConnector.events.addEventListener('dropped-on-canvas', (event) => this.linkDropped(event));
    canvas.getCanvasMenuOptions = () => [
      {content: 'Add a patch…', callback: () => this.searchAt(editor.pointer)},
      {content: 'Select all', callback: () => canvas.selectItems()},
    ];
    // In place of litegraph's own, whose entries change the graph behind the server's back; a
    // node's getExtraMenuOptions come first, as with litegraph's.
    canvas.getNodeMenuOptions = (node) => {
      // The selection when the node is part of it, else the node alone.
      const chosen = () => (node.selected ? this.selectedNodes() : [node]);
      const options = [
        {content: 'Help', callback: () => showNodeHelp(node.patchClass, editor.pointer)},
        null,
        {content: 'Duplicate', callback: () => this.duplicate(chosen())},
        {content: 'Delete', callback: () => this.deleteSelection(chosen())},
      ];
      const extra = node.getExtraMenuOptions?.(canvas, options);
      return extra?.length ? [...extra, null, ...options] : options;
    };
    document.addEventListener('keydown', (event) => this.key(event));
    document.addEventListener('copy', (event) => this.copy(event));
    document.addEventListener('paste', (event) => this.paste(event));
  }

  key(event) {
    if (typing(event.target) || document.querySelector('.search-box')) return;
    if (event.key === 'Escape') {
      hideNodeHelp();
    } else if (event.key === 'Delete' || event.key === 'Backspace') {
      this.deleteSelection();
    } else if (withCommand(event) && event.key.toLowerCase() === 'a') {
      this.editor.canvas.selectItems();
    } else if (withCommand(event) && event.key.toLowerCase() === 'd') {
      this.duplicate();
    } else {
      return;
    }
    event.preventDefault();
  }

  selectedNodes() {
    return Object.values(this.editor.canvas.selected_nodes ?? {});
  }

  // The selected patches with their links, and the selected link, in one batch.
  async deleteSelection(nodes = this.selectedNodes()) {
    const {editor} = this;
    const link = editor.selectedLink ? editor.graph.getLink(editor.selectedLink.id) : null;
    const edits = nodes.map((node) => ({op: 'remove', id: node.patchId}));
    const target = link ? editor.graph.getNodeById(link.target_id) : null;
    if (target && !nodes.includes(target)) edits.unshift({op: 'disconnect', to: `${target.patchId}.${target.inputs[link.target_slot].name}`});
    if (!edits.length) return;
    editor.selectedLink = null;
    editor.canvas.highlighted_links = {};
    const answer = await editor.send(edits);
    if (!answer) return;
    // The server's message of the batch takes the patches and the link away.
    await editor.sync.reached(answer.revision);
    editor.canvas.deselectAll();
    editor.canvas.setDirty(true, true);
    if (nodes.length) this.onRemoved(nodes.map((node) => node.patchId));
  }

  copy(event) {
    if (typing(event.target)) return;
    const nodes = this.selectedNodes();
    if (!nodes.length) return;
    event.clipboardData.setData('text/plain', `${JSON.stringify(compositionOf(nodes), null, 2)}\n`);
    event.preventDefault();
  }

  paste(event) {
    if (typing(event.target)) return;
    let fragment;
    try {
      fragment = JSON.parse(event.clipboardData.getData('text/plain'));
    } catch {
      return;
    }
    if (!fragment?.patches || typeof fragment.patches !== 'object') return;
    event.preventDefault();
    this.place(fragment, this.pointOnGraph());
  }

  duplicate(nodes = this.selectedNodes()) {
    if (nodes.length) this.place(compositionOf(nodes), this.pointOnGraph());
  }

  // The pointer, or the graph's middle when the pointer is elsewhere.
  pointOnGraph() {
    const {pointer, canvasElement} = this.editor;
    const rect = canvasElement.getBoundingClientRect();
    const inside = pointer.x >= rect.left && pointer.x < rect.right && pointer.y >= rect.top && pointer.y < rect.bottom;
    return inside ? pointer : {x: rect.left + rect.width / 2, y: rect.top + rect.height / 2};
  }

  // Adds a composition's patches under new ids with their values and the links among them, its
  // top left corner at a point of the page, in one batch; the new patches are selected.
  async place(fragment, at) {
    const {editor} = this;
    const taken = new Set(editor.nodes.keys());
    const ids = new Map();
    for (const id of Object.keys(fragment.patches)) {
      const fresh = freeIdLike(id, taken);
      taken.add(fresh);
      ids.set(id, fresh);
    }
    const layout = fragment.layout ?? {};
    const places = [...ids.keys()].map((id, i) => layout[id] ?? {x: i * 240, y: 0});
    const left = Math.min(...places.map((p) => p.x));
    const top = Math.min(...places.map((p) => p.y));
    const [x, y] = editor.graphPoint(at);
    const edits = [];
    [...ids].forEach(([id, fresh], i) => {
      const {class: className, inputs} = fragment.patches[id];
      edits.push({op: 'add', id: fresh, class: className, ...(inputs ? {inputs} : {})});
      edits.push({op: 'move', id: fresh, x: Math.round(x + places[i].x - left), y: Math.round(y + places[i].y - top)});
    });
    const renamed = (port) => {
      const [id, name] = port.split('.');
      return ids.has(id) ? `${ids.get(id)}.${name}` : null;
    };
    for (const {from, to} of fragment.connections ?? []) {
      if (renamed(from) && renamed(to)) edits.push({op: 'connect', from: renamed(from), to: renamed(to)});
    }
    const answer = await editor.send(edits, at);
    if (!answer) return;
    // The server's message of the batch draws the new patches.
    await editor.sync.reached(answer.revision);
    editor.selectIds([...ids.values()]);
  }

  searchAt(at) {
    openSearch(this.classes, at, (patchClass) => this.editor.addPatch(patchClass.class, at.x, at.y));
  }

  // A new link dropped on empty canvas: the search offers the classes with a port that can take
  // it, and the patch chosen comes connected.
  linkDropped({detail: pointer}) {
    const {linkConnector} = this.editor.canvas;
    const [first] = linkConnector.renderLinks;
    if (!first || linkConnector.state.draggingExistingLinks) return;
    const fromOutput = linkConnector.state.connectingTo === 'input';
    const node = first.node;
    const slot = first.fromSlot;
    const at = {x: pointer.clientX, y: pointer.clientY};
    const fits = (patchClass) =>
      patchClass.ports.find((port) =>
        fromOutput ? port.direction === 'input' && canConnect(slot.port, port) : port.direction === 'output' && canConnect(port, slot.port),
      );
    const offered = this.classes.filter(fits);
    const heading = `Add a patch ${fromOutput ? 'taking' : 'feeding'} ${node.patchId}'s ${slot.label} (${slot.port.kindName})`;
    openSearch(offered, at, (patchClass) => this.addConnected(patchClass, fits(patchClass), node, slot, fromOutput, at), heading);
  }

  async addConnected(patchClass, port, node, slot, fromOutput, at) {
    const {editor} = this;
    const id = editor.freeId(patchClass.class);
    const [x, y] = editor.graphPoint(at);
    const ours = `${node.patchId}.${slot.name}`;
    const theirs = `${id}.${port.name}`;
    const edits = [
      {op: 'add', id, class: patchClass.class},
      {op: 'move', id, x: Math.round(x), y: Math.round(y)},
    ];
    if (fromOutput) {
      edits.push({op: 'connect', from: ours, to: theirs});
    } else {
      if (slot.link != null) edits.push({op: 'disconnect', to: ours});
      edits.push({op: 'connect', from: theirs, to: ours});
    }
    const answer = await editor.send(edits, at);
    if (!answer) return;
    // The server's message of the batch draws the new patches.
    await editor.sync.reached(answer.revision);
    editor.selectIds([id]);
  }
}
