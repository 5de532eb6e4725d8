// What the page knows of port kinds and patch classes, all read from the class descriptions that
// /api/patches gives (the format of `cvcomp patches --json`).

// OpenCV object ports carry a type code: 1 an image, 3 a cascade.
const objectTypes = {1: 'opencv image', 3: 'cascade'};

// The kind a port carries, as one name: the editor's slot type and the key of its colour.
export function portKind(port) {
  if (port.kind !== 'object') return port.kind === 'image' ? 'host picture' : port.kind;
  return objectTypes[port.type] ?? `opencv object ${port.type}`;
}

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

// Classes fall into the groups the code keeps them in, read from what they take and give:
// host patches have no OpenCV port, bridges join OpenCV images and host pictures, detection works
// with cascades, filters turn OpenCV images into OpenCV images, and features find structures.
export function groupOf(patchClass) {
  const kinds = patchClass.ports.map((port) => ({direction: port.direction, kind: portKind(port)}));
  const has = (kind, direction) =>
    kinds.some((k) => k.kind === kind && (!direction || k.direction === direction));
  const opencv = patchClass.ports.some((port) => port.kind === 'object');
  if (!opencv) return 'host patches';
  if (has('host picture')) return 'bridges';
  if (has('cascade')) return 'detection';
  if (has('opencv image', 'input') && has('opencv image', 'output')) return 'filters';
  return 'features';
}

export const groupOrder = ['bridges', 'filters', 'features', 'detection', 'host patches'];

// Port names without their direction prefix, for labels: inputThreshold1 → Threshold1.
export const shortName = (name) => name.replace(/^(input|output)/, '') || name;
