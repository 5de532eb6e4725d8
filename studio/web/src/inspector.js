// The selected patch in the side panel: its last frame, and a field for the exact value of each
// number and index input (the node's sliders are for turning them).
export function showInspector(root, node, setValue) {
  root.replaceChildren();
  root.refresh = undefined;
  if (!node) return;
  const heading = document.createElement('h4');
  heading.textContent = `${node.patchId} · ${node.patchClass.class}`;
  const status = document.createElement('p');
  status.className = 'status';
  root.append(heading, status);
  root.refresh = () => {
    const s = node.status;
    status.textContent = s ? `${s.ms.toFixed(2)} ms · ${s.executed ? 'ran' : 'unchanged'}` : '';
    if (s?.error) status.textContent += ` · ${s.error}`;
  };
  root.refresh();
  for (const port of node.patchClass.ports) {
    if (port.direction !== 'input' || !['number', 'index'].includes(port.kind)) continue;
    const label = document.createElement('label');
    const field = document.createElement('input');
    field.type = 'number';
    field.name = port.name;
    field.step = port.kind === 'index' ? '1' : 'any';
    if (port.min !== undefined) field.min = port.min;
    if (port.max !== undefined) field.max = port.max;
    field.value = node.widgetsByPort.get(port.name).value;
    field.addEventListener('change', () => {
      if (!field.reportValidity()) return;
      const value = Number(field.value);
      node.widgetsByPort.get(port.name).value = value;
      setValue(node, port, value);
    });
    label.append(`${port.name} `, field);
    root.append(label);
  }
}
