// The studio server's HTTP API. The token comes from the address the server printed and goes with
// every call; a refusal becomes an Error carrying the server's own message.
const token = new URLSearchParams(location.search).get('token') ?? '';
// This page's id among the studio's pages: its batches of edits come back to every page with it.
export const clientId = [...crypto.getRandomValues(new Uint8Array(8))].map((b) => b.toString(16).padStart(2, '0')).join('');

// `path` with the token in its query, for a link the browser follows by itself (a download).
export const withToken = (path) => `${path}${path.includes('?') ? '&' : '?'}token=${encodeURIComponent(token)}`;

export function liveUrl() {
  const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
  return `${scheme}//${location.host}/api/live?token=${encodeURIComponent(token)}`;
}

// Own batches sent whose live message has not come yet (a refused one is not counted).
export const ownBatches = {underWay: 0};

// The server's answer, once it is known to be no refusal.
async function answer(method, path, body, headers = {}) {
  const response = await fetch(path, {
    method,
    headers: {
      Authorization: `Bearer ${token}`,
      ...(body === undefined ? {} : {'Content-Type': body instanceof Blob ? 'application/octet-stream' : 'application/json'}),
      ...headers,
    },
    body: body === undefined || typeof body === 'string' || body instanceof Blob ? body : JSON.stringify(body),
  });
  if (response.ok) return response;
  const data = await response.json().catch(() => null);
  const error = new Error(data?.error ?? `${method} ${path}: ${response.status} ${response.statusText}`);
  throw Object.assign(error, {status: response.status, data});
}

// The answer's data with the response itself.
async function request(...args) {
  const response = await answer(...args);
  const text = await response.text();
  let data = null;
  try {
    data = text ? JSON.parse(text) : null;
  } catch {
    data = null;
  }
  return {data, response};
}

const call = async (...args) => (await request(...args)).data;

async function sendEdits(edits, step) {
  const path = step ? `/api/edits?step=${encodeURIComponent(step)}` : '/api/edits';
  ownBatches.underWay += 1;
  try {
    return await call('POST', path, edits, {'X-Studio-Client': clientId});
  } catch (error) {
    ownBatches.underWay -= 1;
    throw error;
  }
}

// A port's current picture, whole and lossless (PNG), with the frame it belongs to and the
// port's own channel count (1 gray, 3 BGR, 4 BGRA).
async function picture(port) {
  const response = await answer('GET', `/api/picture?port=${encodeURIComponent(port)}`);
  const header = (name) => Number(response.headers.get(name));
  return {frame: header('X-Frame'), channels: header('X-Channels'), blob: await response.blob()};
}

export const api = {
  picture,
  patches: () => call('GET', '/api/patches'),
  composition: () => call('GET', '/api/composition'),
  // The composition with the revision it is.
  async compositionAt() {
    const {data, response} = await request('GET', '/api/composition');
    return {composition: data, revision: Number(response.headers.get('X-Studio-Revision'))};
  },
  replace: (compositionText) => call('PUT', '/api/composition', compositionText),
  // Batches of one step key are one undo step.
  edits: sendEdits,
  undo: () => call('POST', '/api/undo'),
  redo: () => call('POST', '/api/redo'),
  history: () => call('GET', '/api/history'),
  transportState: () => call('GET', '/api/transport'),
  transport: (request) => call('POST', '/api/transport', request),
  save: (file) => call('POST', '/api/save', file === undefined ? undefined : {file}),
  examples: () => call('GET', '/api/examples'),
  openExample: (name) => call('POST', '/api/open', {example: name}),
  upload: (file) => call('POST', `/api/upload?name=${encodeURIComponent(file.name)}`, file),
  record: (request) => call('POST', '/api/record', request),
};

// Whether the studio answers with this page's token: 'connected', 'new token' (it answers, but
// to another token: it was started again) or 'unreachable'.
export async function reachability() {
  try {
    const response = await fetch('/api/transport', {headers: {Authorization: `Bearer ${token}`}});
    return response.status === 401 ? 'new token' : 'connected';
  } catch {
    return 'unreachable';
  }
}
