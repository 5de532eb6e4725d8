// The studio server's HTTP API. The token comes from the address the server printed and goes with
// every call; a refusal becomes an Error carrying the server's own message.
const token = new URLSearchParams(location.search).get('token') ?? '';

// `path` with the token in its query, for a link the browser follows by itself (a download).
export const withToken = (path) => `${path}${path.includes('?') ? '&' : '?'}token=${encodeURIComponent(token)}`;

export function liveUrl() {
  const scheme = location.protocol === 'https:' ? 'wss:' : 'ws:';
  return `${scheme}//${location.host}/api/live?token=${encodeURIComponent(token)}`;
}

async function call(method, path, body) {
  const response = await fetch(path, {
    method,
    headers: {
      Authorization: `Bearer ${token}`,
      ...(body === undefined ? {} : {'Content-Type': body instanceof Blob ? 'application/octet-stream' : 'application/json'}),
    },
    body: body === undefined || typeof body === 'string' || body instanceof Blob ? body : JSON.stringify(body),
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

export const api = {
  patches: () => call('GET', '/api/patches'),
  composition: () => call('GET', '/api/composition'),
  replace: (compositionText) => call('PUT', '/api/composition', compositionText),
  edits: (edits) => call('POST', '/api/edits', edits),
  transportState: () => call('GET', '/api/transport'),
  transport: (request) => call('POST', '/api/transport', request),
  save: () => call('POST', '/api/save'),
  examples: () => call('GET', '/api/examples'),
  openExample: (name) => call('POST', '/api/open', {example: name}),
  upload: (file) => call('POST', `/api/upload?name=${encodeURIComponent(file.name)}`, file),
  record: (request) => call('POST', '/api/record', request),
};
