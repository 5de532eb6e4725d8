// Recording a watched picture: the ● of a picture card records it to a video in the studio's
// folder, with the run's JSON lines, until pressed again; the two files are then linked for
// download. A recording that fails ends with the server's message on its card.
import {api, withToken} from './api.js';
import {showNoticeAt} from './notice.js';

const controls = new Map(); // port → its card's control

function link(name) {
  return Object.assign(document.createElement('a'), {href: withToken(`/api/recordings/${encodeURIComponent(name)}`), download: name, textContent: name});
}

// Shows a recording's state on the control of its port.
export function showRecording(recording) {
  const control = controls.get(recording.port);
  if (!control) return;
  control.button.classList.toggle('active', recording.recording);
  control.button.textContent = recording.recording ? '■' : '●';
  control.button.title = recording.recording ? 'Stop recording' : 'Record this picture to a video';
  control.files.replaceChildren(...(recording.recording ? [] : [link(recording.video), ' ', link(recording.json)]));
  if (recording.failure) showNoticeAt(`recording: ${recording.failure}`, control.button);
}

// Adds the record control to the card of the picture port `port`.
export function addRecordControl(card, port) {
  const row = document.createElement('div');
  row.className = 'record';
  const button = Object.assign(document.createElement('button'), {className: 'icon', textContent: '●', title: 'Record this picture to a video'});
  const files = document.createElement('span');
  row.append(button, files);
  card.append(row);
  controls.set(port, {button, files});
  button.addEventListener('click', async () => {
    try {
      const recording = button.classList.contains('active') ? await api.record({action: 'stop'}) : await api.record({action: 'start', port});
      showRecording(recording);
    } catch (error) {
      showNoticeAt(error.message, button);
    }
  });
}
