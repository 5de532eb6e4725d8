// What the page knows of port kinds and patch classes, all read from the class descriptions that
// /api/patches gives (the format of `cvcomp patches --json`): each class's category and
// description, each port's kind name.

// The kind a port carries, as the catalogue names it: the editor's slot type and the key of its
// colour.
export const portKind = (port) => port.kindName;

export const kindColours = {
  'opencv image': '#4aa3ff',
  cascade: '#c77dff',
  structure: '#ffb347',
  'host picture': '#3ddc97',
  number: '#f4d35e',
  index: '#ee964b',
  boolean: '#f2545b',
  string: '#b8b8b8',
};

export const colourOf = (kind) => kindColours[kind] ?? '#8a8a8a';

export const valueKinds = new Set(['number', 'index', 'boolean', 'string']);

// Boolean inputs named as signals act on the frame they rise, so the editor pulses them.
export const isSignal = (port) => port.kind === 'boolean' && /Signal$/.test(port.name);

// The palette group of a class, as the catalogue gives it.
export const groupOf = (patchClass) => patchClass.category;

// The order the palette shows the plug-in's and the host's groups in.
export const groupOrder = ['bridges', 'filters', 'features', 'detection', 'host patches'];

// Port names without their direction prefix, for labels: inputThreshold1 → Threshold1.
export const shortName = (name) => name.replace(/^(input|output)/, '') || name;

// Whether an output can feed an input, by the server's rule: a virtual port takes anything, the
// numeric kinds (number, index, boolean) convert into one another, an OpenCV port takes only its
// own type, any other kind only itself. The server's answer to the connect is the final word.
const scalarKinds = new Set(['number', 'index', 'boolean']);
export const canConnect = (output, input) =>
  output.kind === 'virtual' ||
  input.kind === 'virtual' ||
  (scalarKinds.has(output.kind) && scalarKinds.has(input.kind)) ||
  (output.kind === input.kind && output.type === input.type);
