// Keeps the page's graph the same as the server's composition while any page or client edits it:
// every batch the server applies comes to every page as {"type": "edits", "revision": N, "edits":
// [..], "origin": id|null}, and is applied here in the server's order, without a reload, keeping
// the view and the selection. A page's own batches come back with its id: their values and
// positions, already shown, are left as they are (a dragged slider does not jump back), unless
// another page's batch came in between, while everything that changes the structure (added
// patches, links, published ports) is drawn from the server's message. A revision skipped, or a
// replaced composition, loads the composition again.
import {api, clientId, ownBatches} from './api.js';

const INPUT_KIND = {boolean: Boolean, string: String};

export class Sync {
  // `onReplaced()` shows a composition that replaced the one shown, as the page opens one.
  constructor(editor, {onPublished, onChanged, onReplaced}) {
    Object.assign(this, {editor, onPublished, onChanged, onReplaced});
    this.revision = null;
    this.loads = 0;
    this.waiting = [];
    this.reachedWaiters = [];
    this.published = [];
    // Another page's batch was applied while own ones were under way: own values are shown as the
    // server ordered them.
    this.mixed = false;
  }

  // Fetches the composition with its revision and hands it to `show`, as the page opens it or
  // another is opened; messages that come meanwhile are applied after.
  async load(show) {
    this.loads += 1;
    try {
      const {composition, revision} = await api.compositionAt();
      this.revision = revision;
      this.published = [...(composition.publish ?? [])];
      this.mixed = false;
      show(composition);
    } finally {
      this.loads -= 1;
    }
    if (this.loads > 0) return;
    this.release();
    for (const message of this.waiting.splice(0)) this.receive(message);
  }

  // Loads the composition again where the page missed a batch (or the server refused one),
  // keeping the view and the selection.
  reload() {
    if (this.loads > 0) return Promise.resolve();
    return this.load((composition) => {
      this.editor.load(composition, {keepView: true});
      this.onPublished(this.published);
    });
  }

  // A live message of type "edits" or "composition".
  receive(message) {
    if (this.loads > 0 || this.revision === null) {
      this.waiting.push(message);
      return;
    }
    if (message.revision <= this.revision) return;
    if (message.type === 'composition') {
      this.onReplaced();
      return;
    }
    if (message.revision !== this.revision + 1) {
      this.reload();
      return;
    }
    this.revision = message.revision;
    const own = message.origin === clientId;
    if (own) ownBatches.underWay = Math.max(0, ownBatches.underWay - 1);
    else if (ownBatches.underWay > 0) this.mixed = true;
    this.apply(message.edits, own && !this.mixed);
    if (ownBatches.underWay === 0) this.mixed = false;
    this.release();
  }

  // Resolves once the page shows revision `revision` (a batch the page sent, drawn from the
  // server's message).
  reached(revision) {
    if (this.revision !== null && this.revision >= revision) return Promise.resolve();
    return new Promise((resolve) => this.reachedWaiters.push({revision, resolve}));
  }

  release() {
    const due = this.reachedWaiters.filter((waiter) => this.revision >= waiter.revision);
    this.reachedWaiters = this.reachedWaiters.filter((waiter) => this.revision < waiter.revision);
    for (const {resolve} of due) resolve();
  }

  // Applies a batch to the graph; each edit leaves the graph as the server has it, whatever of it
  // the page already shows. `shown`: values and positions of patches that were there before the
  // batch are left as the page shows them.
  apply(edits, shown = false) {
    const {editor} = this;
    const added = new Set();
    const node = (id) => editor.nodes.get(id);
    const port = (path) => {
      const dot = path.indexOf('.');
      return [node(path.slice(0, dot)), path.slice(dot + 1)];
    };
    let published = false;
    editor.silently(() => {
      for (const edit of edits) {
        if (edit.op === 'add') {
          if (!node(edit.id)) editor.createNode(edit.id, edit.class, {});
          added.add(edit.id);
        } else if (edit.op === 'remove') {
          if (node(edit.id)) editor.graph.remove(node(edit.id));
          // Its published ports go with it.
          const kept = this.published.filter((path) => !path.startsWith(`${edit.id}.`));
          published ||= kept.length !== this.published.length;
          this.published = kept;
        } else if (edit.op === 'connect') {
          const [origin, output] = port(edit.from);
          const [target, input] = port(edit.to);
          const slot = target?.findInputSlot(input);
          const link = slot >= 0 ? target.getInputLink(slot) : null;
          const linked = link && link.origin_id === origin?.id && link.origin_slot === origin.findOutputSlot(output);
          if (!linked) editor.link(edit.from, edit.to);
        } else if (edit.op === 'disconnect') {
          const [target, input] = port(edit.to);
          const slot = target?.findInputSlot(input);
          if (slot >= 0 && target.inputs[slot].link != null) target.disconnectInput(slot);
        } else if (edit.op === 'set' || edit.op === 'move') {
          const [owner, name] = edit.op === 'set' ? port(edit.port) : [node(edit.id)];
          if (!owner || (shown && !added.has(owner.patchId))) continue;
          if (edit.op === 'move') {
            if (edit.x !== undefined) owner.pos = [edit.x, edit.y];
            continue;
          }
          const widget = owner.widgetsByPort.get(name);
          if (widget && widget.type !== 'button') widget.value = (INPUT_KIND[owner.patchClass.ports.find((p) => p.name === name)?.kind] ?? Number)(edit.value);
        } else if (edit.op === 'publish' || edit.op === 'unpublish') {
          this.published = this.published.filter((path) => path !== edit.port);
          if (edit.op === 'publish') {
            const at = edit.before ? this.published.indexOf(edit.before) : -1;
            this.published.splice(at < 0 ? this.published.length : at, 0, edit.port);
          }
          published = true;
        }
      }
    });
    editor.canvas.setDirty(true, true);
    if (published) this.onPublished(this.published);
    this.onChanged(edits);
  }
}
