// Undo and redo through the server's history, which every page shares and which outlives a
// reload: the header's two buttons, and Ctrl+Z, Ctrl+Shift+Z and Ctrl+Y (not while typing in a
// field). The buttons are enabled as the server's history stands, asked again after every change
// a live message tells of.
import {api} from './api.js';
import {showNoticeAt} from './notice.js';

const typing = (target) => target.isContentEditable || ['INPUT', 'TEXTAREA', 'SELECT'].includes(target.tagName);

export function buildUndoRedo(root) {
  const buttons = {undo: root.querySelector('[data-history=undo]'), redo: root.querySelector('[data-history=redo]')};
  let asking = false;
  let askAgain = false;
  const refresh = async () => {
    if (asking) {
      askAgain = true;
      return;
    }
    asking = true;
    try {
      const state = await api.history();
      buttons.undo.disabled = state.undo === 0;
      buttons.redo.disabled = state.redo === 0;
    } catch {
      // The connection's banner tells of a server gone; the next message asks again.
    } finally {
      asking = false;
    }
    if (askAgain) {
      askAgain = false;
      refresh();
    }
  };
  const act = async (what) => {
    try {
      await api[what]();
    } catch (error) {
      showNoticeAt(error.message, buttons[what]);
    }
    refresh();
  };
  for (const what of ['undo', 'redo']) buttons[what].addEventListener('click', () => act(what));
  document.addEventListener('keydown', (event) => {
    if (!(event.ctrlKey || event.metaKey) || event.altKey || typing(event.target)) return;
    const key = event.key.toLowerCase();
    const what = key === 'z' ? (event.shiftKey ? 'redo' : 'undo') : key === 'y' && !event.shiftKey ? 'redo' : null;
    if (!what) return;
    event.preventDefault();
    act(what);
  });
  refresh();
  return {refresh};
}
