// The studio server's HTTP API. The token comes from the address the server printed and goes with
// every call; a refusal becomes an Error carrying the server's own message.
const token = new URLSearchParams(location.search).get('token') ?? '';

export function liveUrl() {
  const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
  return `${scheme}//${location.host}/api/live?token=${encodeURIComponent(token)}`;
}

async function call(method, path, body) {
  const response = await fetch(path, {
    method,
    headers: {
      Authorization: `Bearer ${token}`,
      ...(body === undefined ? {} : {'Content-Type': 'application/json'}),
    },
    body: body === undefined ? undefined : typeof body === 'string' ? body : JSON.stringify(body),
  });
  const text = await response.text();
  let data = null;
  try {
    data = text ? JSON.parse(text) : null;
  } catch {
    data = null;
  }
  if (!response.ok) {
    throw new Error(data?.error ?? `${method} ${path}: ${response.status} ${response.statusText}`);
  }
  return data;
}

// A port's current picture, whole and lossless (PNG), with the frame it belongs to and the
// port's own channel count (1 gray, 3 BGR, 4 BGRA).
async function picture(port) {
  const response = await fetch(`/api/picture?port=${encodeURIComponent(port)}`, {
    headers: {Authorization: `Bearer ${token}`},
  });
  if (!response.ok) {
    const refusal = await response.json().catch(() => null);
    throw new Error(refusal?.error ?? `GET /api/picture: ${response.status} ${response.statusText}`);
  }
  const header = (name) => Number(response.headers.get(name));
  return {frame: header('X-Frame'), channels: header('X-Channels'), blob: await response.blob()};
}

export const api = {
  picture,
  patches: () => call('GET', '/api/patches'),
  composition: () => call('GET', '/api/composition'),
  replace: (compositionText) => call('PUT', '/api/composition', compositionText),
  edits: (edits) => call('POST', '/api/edits', edits),
  transportState: () => call('GET', '/api/transport'),
  transport: (request) => call('POST', '/api/transport', request),
  save: () => call('POST', '/api/save'),
  examples: () => call('GET', '/api/examples'),
  openExample: (name) => call('POST', '/api/open', {example: name}),
};
