// The position bar under the header: where the engine stands in an input of known length (a
// file, a folder), and a seek when it is dragged, one request at a time, the latest position
// winning; beside it the speed (the input's own rate or as fast as possible), loop, and the rate
// of a folder of pictures.
import {api} from './api.js';
import {showNoticeAt} from './notice.js';

export function buildTimeline(root, onAnswer) {
  const bar = root.querySelector('input[name=position]');
  const position = root.querySelector('.position');
  const speed = root.querySelector('select[name=speed]');
  const loop = root.querySelector('input[name=loop]');
  const pictureRate = root.querySelector('input[name=pictureRate]');
  let length = null;
  let frame = null;
  let dragging = false;
  let wanted = null; // the frame the bar was moved to, not asked for yet
  let seeking = false;

  const showPosition = () => {
    root.dataset.frame = frame ?? '';
    if (!dragging && wanted === null && frame !== null) bar.value = frame;
    position.textContent = length ? `${frame ?? '–'} / ${length - 1}` : '';
  };
  const send = async (request, element) => {
    try {
      onAnswer(await api.transport(request));
    } catch (error) {
      showNoticeAt(error.message, element);
    }
  };
  const seek = async () => {
    if (seeking) return;
    seeking = true;
    while (wanted !== null) {
      const asked = wanted;
      wanted = null;
      await send({action: 'seek', frame: asked}, bar);
    }
    seeking = false;
  };
  bar.addEventListener('pointerdown', () => (dragging = true));
  addEventListener('pointerup', () => (dragging = false));
  bar.addEventListener('input', () => {
    wanted = Number(bar.value);
    seek();
  });
  speed.addEventListener('change', () => send({speed: speed.value}, speed));
  loop.addEventListener('change', () => send({loop: loop.checked}, loop));
  pictureRate.addEventListener('change', () => send({pictureRate: Number(pictureRate.value)}, pictureRate));
  return {
    showState(state) {
      length = state.length;
      root.dataset.length = length ?? '';
      bar.disabled = !length;
      bar.max = length ? length - 1 : 0;
      speed.value = state.speed;
      loop.checked = state.loop;
      if (document.activeElement !== pictureRate) pictureRate.value = state.pictureRate;
      if (state.frame !== null) frame = state.frame;
      showPosition();
    },
    showFrame(shown) {
      frame = shown;
      showPosition();
    },
  };
}
