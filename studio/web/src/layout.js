// A readable left-to-right placement for a composition that has no "layout": each patch stands
// one column to the right of the furthest patch it depends on, and a column's patches stack from
// the top in the file's order.
const columnWidth = 320;
const gap = 40;

export function autoLayout(ids, connections, heightOf) {
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
  const columnBottom = [];
  const positions = {};
  for (const id of ids) {
    const column = depthOf(id);
    const y = columnBottom[column] ?? gap;
    positions[id] = {x: gap + column * columnWidth, y: y + 30};
    columnBottom[column] = y + 30 + heightOf(id) + gap;
  }
  return positions;
}
