// Play, pause, step one frame, the frame source, the frame number and rate, and whether the
// engine plays, has reached the input's end or failed.
import {api} from './api.js';
import {clearNoticeAt, showNoticeAt} from './notice.js';

export function buildTransport(root, onState = () => {}) {
  const button = (action) => root.querySelector(`[data-action=${action}]`);
  const source = root.querySelector('input[name=source]');
  const choices = root.querySelector('#sources');
  const frame = root.querySelector('.frame');
  const showState = (state) => {
    root.dataset.playing = state.playing;
    root.querySelector('.state').textContent = state.failure ?? (state.ended ? 'input ended' : '');
    onState(state);
  };
  const act = async (request, element) => {
    try {
      showState(await api.transport(request));
      clearNoticeAt(element);
    } catch (error) {
      showNoticeAt(error.message, element);
    }
  };
  // Asked for whenever a composition is shown.
  const refresh = () => api.transportState().then(showState, (error) => showNoticeAt(error.message, root));
  for (const action of ['play', 'pause', 'step']) {
    const element = button(action);
    element.addEventListener('click', () => act({action}, element));
  }
  source.addEventListener('change', () => act({input: source.value}, source));
  return {
    showState,
    refresh,
    offerSources(inputs) {
      choices.replaceChildren(
        ...[...new Set(inputs)].map((input) => Object.assign(document.createElement('option'), {value: input})),
      );
    },
    showFrame(message) {
      frame.textContent = `frame ${message.frame} · ${Number(message.fps).toFixed(1)} fps`;
      frame.dataset.frame = message.frame;
    },
  };
}
