// The studio page: palette, graph editor, side panel and transport, joined to the server.
import {api} from './api.js';
import {Editor} from './editor.js';
import {buildFiles} from './files.js';
import {showInspector} from './inspector.js';
import {Live} from './live.js';
import {showNotice} from './notice.js';
import {acceptDrops, buildPalette} from './palette.js';
import {buildTimeline} from './timeline.js';
import {buildTransport} from './transport.js';
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
let watch = null;
const live = new Live({
  onFrame(message) {
    editor.showStatus(message.patches);
    editor.values.frameShown(message.seq);
    watch.showFrame(message.seq, message.values);
    transport.showFrame(message);
    timeline.showFrame(message.frame);
    inspector.refresh?.();
  },
  onPicture: (port, frame, jpeg, seq) => watch.showPicture(port, frame, jpeg, seq),
  onTransport: (state) => transport.showState(state),
  onState: (state) => ($('#connection').textContent = state),
});
const editor = new Editor($('#graph canvas'), classes, {
  onWatch: (ports) => watch.focus(ports),
  onNodeFocus(node) {
    showInspector(inspector, node, (n, port, value) => editor.setValue(n, port, value));
    watch.focus(node.outputs.map((output) => `${node.patchId}.${output.name}`));
  },
});
const kindOf = (port) => {
  const [id, name] = port.split('.');
  return editor.nodes.get(id)?.outputs.find((output) => output.name === name)?.type;
};
watch = new WatchPanel($('#cards'), kindOf, (ports) => live.watch(ports));

async function showComposition() {
  const composition = await api.composition();
  editor.load(composition);
  showInspector(inspector, null);
  watch.focused = [];
  watch.watchPublished(composition.publish ?? []);
  transport.refresh();
}

const addPatchAt = (className, x, y) => editor.addPatch(className, x, y);
buildPalette($('#palette'), classes, (className) => addPatchAt(className, ...centreOf($('#graph'))));
acceptDrops($('#graph'), addPatchAt);
const files = buildFiles($('#files'), editor, showComposition);
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
window.studio = {editor, watch};
document.body.dataset.ready = 'true';
