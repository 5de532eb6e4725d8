// Opening, saving and downloading compositions. Node positions go into the file's "layout" by
// sending them to the server as moves first.
import {api} from './api.js';
import {showNoticeAt} from './notice.js';
import {buildSaveAs} from './saveAs.js';

export function buildFiles(root, editor, onOpened) {
  const control = (name) => root.querySelector(`[data-file=${name}]`);
  const upload = control('upload');
  const examples = control('example');
  const report = async (element, work) => {
    try {
      await work();
    } catch (error) {
      showNoticeAt(error.message, element);
    }
  };
  const storePositions = () => api.edits(editor.positionEdits());
  const saveAs = buildSaveAs(root, storePositions);

  const open = async (file) => {
    await api.replace(await file.text());
    await onOpened();
  };
  upload.addEventListener('change', () =>
    report(upload, async () => {
      const [file] = upload.files;
      upload.value = '';
      if (file) await open(file);
    }),
  );
  examples.addEventListener('change', () =>
    report(examples, async () => {
      const name = examples.value;
      if (!name) return;
      try {
        await api.openExample(name);
        await onOpened();
      } finally {
        examples.value = '';
      }
    }),
  );
  control('save').addEventListener('click', (e) =>
    report(e.currentTarget, async () => {
      await storePositions();
      try {
        await api.save();
      } catch (error) {
        // Started without a file: the user names one.
        if (error.data?.needsFile) return saveAs.show();
        throw error;
      }
      showNoticeAt('saved', control('save'));
    }),
  );
  control('download').addEventListener('click', (e) =>
    report(e.currentTarget, async () => {
      await storePositions();
      const text = JSON.stringify(await api.composition(), null, 2);
      const link = document.createElement('a');
      link.href = URL.createObjectURL(new Blob([`${text}\n`], {type: 'application/json'}));
      link.download = 'composition.json';
      link.click();
      URL.revokeObjectURL(link.href);
    }),
  );
  return {
    open,
    offerExamples(list) {
      for (const {name} of list) examples.append(Object.assign(document.createElement('option'), {value: name, textContent: name}));
    },
  };
}
