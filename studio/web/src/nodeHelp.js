// A patch class's help, from the catalogue: its description and category, and each port with its
// kind as the legend names it, its default, its bounds and its description where it has one.
// Shown when the pointer rests on a node's title, or from the node's menu.
import {LiteGraph} from '../node_modules/@comfyorg/litegraph/dist/litegraph.es.js';
import {shortName} from './kinds.js';

const restFor = 600;

const cell = (row, text, className) => Object.assign(row.insertCell(), {textContent: text ?? '', className: className ?? ''});

const shownValue = (value) => (value === undefined ? '' : value === null ? 'nil' : JSON.stringify(value));

// An index is never negative, whether or not its class says so.
const boundsOf = (port) => {
  const min = port.min ?? (port.kind === 'index' ? 0 : undefined);
  return min === undefined && port.max === undefined ? '' : `${min ?? '−∞'} … ${port.max ?? '∞'}`;
};

export function hideNodeHelp() {
  document.querySelector('.node-help')?.remove();
}

export function showNodeHelp(patchClass, {x, y}) {
  hideNodeHelp();
  const help = document.createElement('div');
  help.className = 'node-help';
  help.setAttribute('role', 'tooltip');
  const heading = document.createElement('h4');
  heading.textContent = patchClass.class;
  const about = Object.assign(document.createElement('p'), {textContent: patchClass.description});
  const category = Object.assign(document.createElement('p'), {className: 'category', textContent: patchClass.category});
  const table = document.createElement('table');
  const head = table.createTHead().insertRow();
  for (const title of ['port', 'kind', 'default', 'bounds', '']) head.append(Object.assign(document.createElement('th'), {textContent: title}));
  for (const port of patchClass.ports) {
    const row = table.insertRow();
    row.dataset.port = port.name;
    cell(row, `${port.direction === 'input' ? '→' : '←'} ${shortName(port.name)}`);
    cell(row, port.kindName, 'kind');
    cell(row, shownValue(port.default));
    cell(row, boundsOf(port));
    cell(row, port.description);
  }
  help.append(heading, category, about, table);
  help.addEventListener('click', hideNodeHelp);
  document.body.append(help);
  const {width, height} = help.getBoundingClientRect();
  help.style.left = `${Math.max(0, Math.min(x + 12, innerWidth - width - 8))}px`;
  help.style.top = `${Math.max(0, Math.min(y + 16, innerHeight - height - 8))}px`;
}

// Shows the help of the node whose title the pointer rests on, and hides it when the pointer
// leaves the title or a button is pressed.
export function helpOnHover(editor) {
  const {canvasElement, canvas} = editor;
  let timer = null;
  let over = null;
  const titleUnder = (event) => {
    const [x, y] = canvas.convertEventToCanvasOffset(event);
    return [...editor.nodes.values()].find(
      (node) => x >= node.pos[0] && x <= node.pos[0] + node.size[0] && y >= node.pos[1] - LiteGraph.NODE_TITLE_HEIGHT && y <= node.pos[1],
    );
  };
  canvasElement.addEventListener('pointermove', (event) => {
    const node = event.buttons ? null : titleUnder(event);
    if (node === over) return;
    over = node;
    clearTimeout(timer);
    hideNodeHelp();
    if (node) timer = setTimeout(() => showNodeHelp(node.patchClass, {x: event.clientX, y: event.clientY}), restFor);
  });
  const leave = () => {
    over = null;
    clearTimeout(timer);
  };
  canvasElement.addEventListener('pointerleave', leave);
  canvasElement.addEventListener('pointerdown', () => {
    leave();
    hideNodeHelp();
  });
}
