// A readable left-to-right placement for a composition that has no "layout": each patch stands
// one column to the right of the furthest patch it depends on, a column is as wide as its widest
// patch, and a column's patches stack from the top in the file's order.
const gap = 50;
const titleHeight = 30;

export function autoLayout(ids, connections, sizeOf) {
  const sources = new Map(ids.map((id) => [id, []]));
  for (const {from, to} of connections) sources.get(to.split('.')[0])?.push(from.split('.')[0]);
  const depth = new Map();
  const depthOf = (id, seen = new Set()) => {
    if (depth.has(id)) return depth.get(id);
    if (seen.has(id)) return 0;
    seen.add(id);
    const upstream = sources.get(id) ?? [];
    const d = upstream.length ? 1 + Math.max(...upstream.map((s) => depthOf(s, seen))) : 0;
    depth.set(id, d);
    return d;
  };
  const columns = [];
  for (const id of ids) (columns[depthOf(id)] ??= []).push(id);
  const positions = {};
  let x = gap;
  for (const column of columns.filter(Boolean)) {
    let y = gap + titleHeight;
    for (const id of column) {
      positions[id] = {x, y};
      y += sizeOf(id)[1] + titleHeight + gap;
    }
    x += Math.max(...column.map((id) => sizeOf(id)[0])) + gap;
  }
  return positions;
}
