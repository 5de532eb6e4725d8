// Save As: a small field in the header for a file name in the studio's working folder or below
// it; the server's refusal shows beside the field. From then on Save writes that file.
import {api} from './api.js';
import {showNoticeAt} from './notice.js';

export function buildSaveAs(root, storePositions) {
  const open = root.querySelector('[data-file=save-as]');
  const form = root.querySelector('[data-file=save-as-form]');
  const field = form.elements.file;
  const show = () => {
    form.hidden = false;
    field.focus();
    field.select();
  };
  open.addEventListener('click', () => (form.hidden ? show() : (form.hidden = true)));
  field.addEventListener('keydown', (event) => {
    if (event.key === 'Escape') form.hidden = true;
  });
  form.addEventListener('submit', async (event) => {
    event.preventDefault();
    try {
      await storePositions();
      const {saved} = await api.save(field.value.trim());
      form.hidden = true;
      showNoticeAt(`saved ${saved}`, open);
    } catch (error) {
      showNoticeAt(error.message, field);
    }
  });
  return {show};
}
