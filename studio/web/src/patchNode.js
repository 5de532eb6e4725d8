// One patch of the composition as a node of the graph editor: a slot per port coloured by its
// kind, a widget per value input, and the patch's last frame (milliseconds, ran or skipped, its
// OpenCV error) drawn on the node.
import {LGraphNode, LiteGraph} from '../node_modules/@comfyorg/litegraph/dist/litegraph.es.js';
import {colourOf, isSignal, portKind, shortName, valueKinds} from './kinds.js';

const statusFont = '11px sans-serif';

// `onValue(node, port, value)` is called when the user changes a widget.
export function createPatchNode(id, patchClass, inputs, onValue) {
  const node = new LGraphNode(id);
  node.patchId = id;
  node.patchClass = patchClass;
  node.status = null;
  node.message = null;
  node.widgetsByPort = new Map();
  node.title = `${id} · ${patchClass.class.replace(/^OpenCV/, '')}`;
  for (const port of patchClass.ports) {
    const kind = portKind(port);
    const colour = colourOf(kind);
    const slot = {label: shortName(port.name), color_on: colour, color_off: colour, port};
    if (port.direction === 'input') node.addInput(port.name, kind, slot);
    else node.addOutput(port.name, kind, slot);
  }
  for (const port of patchClass.ports) {
    if (port.direction !== 'input' || !valueKinds.has(port.kind)) continue;
    const value = port.name in inputs ? inputs[port.name] : port.default;
    node.widgetsByPort.set(port.name, addValueWidget(node, port, value, onValue));
  }
  // Deleting a node removes it with its links; the editor never joins its neighbours instead.
  node.connectInputToOutput = () => undefined;
  node.onDrawForeground = (ctx) => drawStatus(node, ctx);
  node.setSize(node.computeSize());
  node.size[0] = Math.max(node.size[0], 200, node.title.length * 9 + 50);
  return node;
}

function addValueWidget(node, port, value, onValue) {
  const label = shortName(port.name);
  const send = (v) => onValue(node, port, v);
  if (isSignal(port)) {
    return node.addWidget('button', `${label} ⟲`, null, () => send(true));
  }
  if (port.kind === 'boolean') {
    return node.addWidget('toggle', label, Boolean(value), send);
  }
  if (port.kind === 'string') {
    return node.addWidget('text', label, String(value ?? ''), send);
  }
  const index = port.kind === 'index';
  const min = port.min ?? (index ? 0 : undefined);
  // Slider positions give values to a thousandth, as the node shows them.
  const round = (v) => (index ? Math.round(v) : Math.round(v * 1000) / 1000);
  const options = {min, max: port.max, precision: index ? 0 : 3, step2: index ? 1 : 0.01, round: index ? 1 : 0};
  if (min !== undefined && port.max !== undefined) {
    return node.addWidget('slider', label, Number(value), (v) => send(round(v)), options);
  }
  return node.addWidget('number', label, Number(value), (v) => send(round(v)), options);
}

function drawStatus(node, ctx) {
  ctx.save();
  ctx.font = statusFont;
  ctx.textAlign = 'right';
  const status = node.status;
  if (status) {
    ctx.fillStyle = status.executed ? '#7ddc7d' : '#9a9a9a';
    const what = status.executed ? 'ran' : 'unchanged';
    ctx.fillText(`${status.ms.toFixed(2)} ms · ${what}`, node.size[0], -LiteGraph.NODE_TITLE_HEIGHT - 6);
  }
  const text = node.message ?? status?.error;
  if (text) {
    ctx.textAlign = 'left';
    ctx.fillStyle = '#ff6b6b';
    ctx.fillText(text, 0, node.size[1] + 16, Math.max(node.size[0], 360));
  }
  ctx.restore();
}
