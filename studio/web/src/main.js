// The studio page: palette, graph editor, side panel and transport, joined to the server.
import {api} from './api.js';
import {watchConnection} from './connection.js';
import {EditingActions} from './editing.js';
import {Editor} from './editor.js';
import {buildFiles} from './files.js';
import {buildInput} from './input.js';
import {showInspector} from './inspector.js';
import {Live} from './live.js';
import {helpOnHover} from './nodeHelp.js';
import {showNotice} from './notice.js';
import {acceptDrops, buildPalette} from './palette.js';
import {ProfileView} from './profile.js';
import {markPublished, offerPublishing} from './publish.js';
import {showRecording} from './record.js';
import {Sync} from './sync.js';
import {buildTimeline} from './timeline.js';
import {buildTransport} from './transport.js';
import {buildUndoRedo} from './undoRedo.js';
import {WatchPanel} from './watch.js';

const $ = (selector) => document.querySelector(selector);
const centreOf = (element) => {
  const rect = element.getBoundingClientRect();
  return [rect.left + rect.width / 2, rect.top + rect.height / 2];
};

addEventListener('unhandledrejection', (event) => {
  event.preventDefault();
  showNotice(String(event.reason?.message ?? event.reason), {x: 20, y: 60});
});

const classes = await api.patches();
const inspector = $('#inspector');
let timeline = null;
const transport = buildTransport($('#transport'), (state) => timeline?.showState(state));
timeline = buildTimeline($('#timeline'), transport.showState);
const profile = new ProfileView($('#watch'));
let watch = null;
const connection = watchConnection($('#banner'), async () => {
  await editor.reload();
  transport.showState(await api.transportState());
});
const live = new Live({
  onFrame(message) {
    editor.showStatus(message.patches);
    editor.values.frameShown(message.seq);
    watch.showFrame(message.frame, message.seq, message.values);
    transport.showFrame(message);
    profile.add(message.frame, message.patches);
    timeline.showFrame(message.frame);
    inspector.refresh?.();
  },
  onPicture: (port, frame, jpeg, seq) => watch.showPicture(port, frame, jpeg, seq),
  onTransport: (state) => transport.showState(state),
  onState(state) {
    $('#connection').textContent = state;
    // Batches applied while the page was not connected are fetched whole (connection's onBack).
    connection(state);
  },
  onChange(message) {
    sync.receive(message);
    undoRedo.refresh();
  },
  onMessage: (message) => message.type === 'recording' && showRecording(message.recording),
});
let inspected = null;
const inspect = (node) => {
  inspected = node;
  showInspector(inspector, node, (n, port, value) => editor.setValue(n, port, value));
};
const editor = new Editor($('#graph canvas'), classes, {
  onWatch: (ports) => watch.focus(ports),
  onNodeFocus(node) {
    inspect(node);
    watch.focus(node.outputs.map((output) => `${node.patchId}.${output.name}`));
  },
  onNodeCreated(node) {
    offerPublishing(node, {
      isPublished: (path) => sync.published.includes(path),
      toggle: (path, published) => editor.send([{op: published ? 'unpublish' : 'publish', port: path}]),
    });
    markPublished([node], sync.published);
  },
});
new EditingActions(editor, classes, () => {
  inspect(null);
  watch.focus([]);
});
helpOnHover(editor);
const sync = new Sync(editor, {
  onReplaced: () => showComposition(),
  onPublished(published) {
    markPublished(editor.nodes.values(), published);
    watch.watchPublished(published);
  },
  // The inspector shows values another page set, unless the user is typing in it.
  onChanged(edits) {
    if (!inspected || inspector.contains(document.activeElement)) return;
    if (!editor.nodes.has(inspected.patchId)) inspect(null);
    else if (edits.some((edit) => edit.op === 'set' && edit.port.startsWith(`${inspected.patchId}.`))) inspect(inspected);
  },
});
editor.sync = sync;
const undoRedo = buildUndoRedo($('#history'));
const kindOf = (port) => {
  const [id, name] = port.split('.');
  return editor.nodes.get(id)?.outputs.find((output) => output.name === name)?.type;
};
watch = new WatchPanel($('#cards'), kindOf, (ports) => live.watch(ports));

async function showComposition() {
  await sync.load((composition) => {
    editor.load(composition);
    inspect(null);
    watch.focused = [];
    watch.watchPublished(sync.published);
  });
  transport.refresh();
}

const addPatchAt = (className, x, y) => editor.addPatch(className, x, y);
buildPalette($('#palette'), classes, (className) => addPatchAt(className, ...centreOf($('#graph'))));
acceptDrops($('#graph'), addPatchAt);
const files = buildFiles($('#files'), editor, showComposition);
const input = buildInput($('#transport'), {live, transport, openComposition: files.open, dropTargets: [$('#graph'), $('#watch')]});
addEventListener('resize', () => editor.resize());
editor.resize();
await showComposition();

try {
  const examples = await api.examples();
  files.offerExamples(examples);
  transport.offerSources([...examples.map((example) => example.input).filter(Boolean), 'camera:0', 'pattern:640x480']);
} catch (error) {
  showNotice(`examples: ${error.message}`, {x: 20, y: 60});
}
// A handle for scripts driving the page (the browser tests find nodes and ports through it).
window.studio = {editor, watch, sync, profile, live, camera: input.camera};
document.body.dataset.ready = 'true';
