// The palette: every patch class in its group, filtered by the search box as the canvas's search
// matches. Dragging a class onto
// the graph, or double-clicking it, adds a patch with the class's defaults.
import {groupOf, groupOrder} from './kinds.js';
import {matchingClasses} from './search.js';

const dragType = 'application/x-cvcomp-class';

export function buildPalette(root, classes, addPatch) {
  const search = root.querySelector('input[type=search]');
  const list = root.querySelector('.groups');
  const items = [];
  // The known groups in their order, then any other category the catalogue names.
  for (const group of new Set([...groupOrder, ...classes.map(groupOf)])) {
    const members = classes.filter((c) => groupOf(c) === group);
    if (!members.length) continue;
    const section = document.createElement('section');
    const heading = document.createElement('h3');
    heading.textContent = group;
    section.append(heading);
    for (const patchClass of members) {
      const item = document.createElement('div');
      item.className = 'palette-item';
      item.textContent = patchClass.class;
      item.draggable = true;
      const ports = patchClass.ports.map((p) => `${p.direction === 'input' ? '→' : '←'} ${p.name}`);
      item.title = [patchClass.description, ...ports].join('\n');
      item.addEventListener('dragstart', (e) => e.dataTransfer.setData(dragType, patchClass.class));
      item.addEventListener('dblclick', () => addPatch(patchClass.class));
      section.append(item);
      items.push({item, patchClass});
    }
    list.append(section);
  }
  search.addEventListener('input', () => {
    const wanted = new Set(matchingClasses(classes, search.value));
    for (const {item, patchClass} of items) item.hidden = !wanted.has(patchClass);
    for (const section of list.children) {
      section.hidden = [...section.querySelectorAll('.palette-item')].every((i) => i.hidden);
    }
  });
}

// Lets a class dropped on the graph become a patch at the drop point.
export function acceptDrops(element, addPatchAt) {
  element.addEventListener('dragover', (e) => {
    if (e.dataTransfer.types.includes(dragType)) e.preventDefault();
  });
  element.addEventListener('drop', (e) => {
    const className = e.dataTransfer.getData(dragType);
    if (!className) return;
    e.preventDefault();
    addPatchAt(className, e.clientX, e.clientY);
  });
}
