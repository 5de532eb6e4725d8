// Publishing from the node: each output can be published or unpublished from the node's menu
// and its slot's, and a published output is marked ● on the node, so that what the page watches
// is what a saved file writes.
import {shortName} from './kinds.js';

const mark = '● ';

// `isPublished(path)`; `toggle(path, published)` publishes or unpublishes "id.port".
export function offerPublishing(node, {isPublished, toggle}) {
  const items = (outputs) =>
    outputs.map((output) => {
      const path = `${node.patchId}.${output.name}`;
      const published = isPublished(path);
      return {content: `${published ? 'Unpublish' : 'Publish'} ${shortName(output.name)}`, callback: () => toggle(path, published)};
    });
  const nodeMenu = node.getExtraMenuOptions;
  node.getExtraMenuOptions = function (canvas, options) {
    return [...(nodeMenu?.call(this, canvas, options) ?? []), ...items(node.outputs)];
  };
  const slotMenu = node.getExtraSlotMenuOptions;
  node.getExtraSlotMenuOptions = function (slot) {
    const extra = slotMenu?.call(this, slot) ?? [];
    return slot.output ? [...extra, ...items([slot.output])] : extra;
  };
}

export function markPublished(nodes, published) {
  const marked = new Set(published);
  for (const node of nodes) {
    for (const output of node.outputs) {
      output.label = `${marked.has(`${node.patchId}.${output.name}`) ? mark : ''}${shortName(output.name)}`;
    }
  }
}
