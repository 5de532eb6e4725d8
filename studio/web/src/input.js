// Your own input: a video or picture dropped on the graph or the watch panel, or picked with the
// file dialog, is uploaded and becomes the input at once (a composition file dropped there opens
// as Open… does); the camera button sends this browser's camera to the studio instead, frame by
// frame over the live connection, until it is pressed again.
import {api} from './api.js';
import {showNoticeAt} from './notice.js';

const mediaName = /\.(avi|mp4|m4v|mov|mkv|webm|mpe?g|jpe?g|png|bmp|tiff?|webp|ppm|pgm|pbm|jp2)$/i;
const isMedia = (file) => /^(video|image)\//.test(file.type) || mediaName.test(file.name);
const isComposition = (file) => /\.json$/i.test(file.name) || file.type === 'application/json';
// The studio's cap on an upload (studio/Upload.hpp): a larger file is refused here, before any
// of it is sent, with the message the server's 413 gives.
const maxUpload = 512 * 1024 * 1024;

// A frame as the live connection takes it: the header's length (4 bytes, least significant
// first), the header {"type": "camera", "time": T}, then the JPEG.
async function cameraMessage(jpeg, time) {
  const header = new TextEncoder().encode(JSON.stringify({type: 'camera', time}));
  const message = new Uint8Array(4 + header.length + jpeg.size);
  new DataView(message.buffer).setUint32(0, header.length, true);
  message.set(header, 4);
  message.set(new Uint8Array(await jpeg.arrayBuffer()), 4 + header.length);
  return message;
}

// The browser's camera at 640 × 480, each new frame sent as JPEG while the connection has sent
// the one before (the studio evaluates the newest it has). `onSent` is told of every frame sent.
class Camera {
  constructor(live) {
    Object.assign(this, {live, onSent: null, stream: null});
  }

  get running() {
    return this.stream !== null;
  }

  async start() {
    this.stream = await navigator.mediaDevices.getUserMedia({video: {width: 640, height: 480}, audio: false});
    const video = Object.assign(document.createElement('video'), {srcObject: this.stream, muted: true});
    await video.play();
    const canvas = Object.assign(document.createElement('canvas'), {width: video.videoWidth, height: video.videoHeight});
    const context = canvas.getContext('2d');
    const started = performance.now();
    const stream = this.stream;
    const send = async () => {
      if (this.stream !== stream) return;
      if (this.live.idle()) {
        context.drawImage(video, 0, 0, canvas.width, canvas.height);
        const jpeg = await new Promise((resolve) => canvas.toBlob(resolve, 'image/jpeg', 0.9));
        const time = Math.round(performance.now() - started) / 1000;
        if (this.stream === stream && this.live.sendBinary(await cameraMessage(jpeg, time))) this.onSent?.({time, jpeg});
      }
      video.requestVideoFrameCallback(send);
    };
    video.requestVideoFrameCallback(send);
  }

  stop() {
    for (const track of this.stream?.getTracks() ?? []) track.stop();
    this.stream = null;
  }
}

export function buildInput(root, {live, transport, openComposition, dropTargets}) {
  const picker = root.querySelector('[data-input=upload] input');
  const cameraButton = root.querySelector('[data-input=camera]');
  const source = root.querySelector('input[name=source]');
  const camera = new Camera(live);
  const report = async (element, work) => {
    try {
      await work();
    } catch (error) {
      showNoticeAt(error.message, element);
    }
  };
  const stopCamera = async () => {
    if (!camera.running) return;
    camera.stop();
    cameraButton.classList.remove('active');
    transport.showState(await api.transport({action: 'play'}));
  };
  const use = (file, element) =>
    report(element, async () => {
      if (file.size > maxUpload) throw new Error(`${file.name}: larger than the 512 MiB the studio takes`);
      await stopCamera();
      root.dataset.uploading = file.name;
      try {
        const answer = await api.upload(file);
        source.value = answer.input;
        transport.showState(answer.transport);
      } finally {
        delete root.dataset.uploading;
      }
    });

  picker.addEventListener('change', () => {
    const [file] = picker.files;
    picker.value = '';
    if (file) use(file, picker.parentElement);
  });
  for (const target of dropTargets) {
    target.addEventListener('dragover', (e) => {
      if (e.dataTransfer.types.includes('Files')) e.preventDefault();
    });
    target.addEventListener('drop', (e) => {
      const [file] = e.dataTransfer.files;
      if (!file) return;
      e.preventDefault();
      const at = {getBoundingClientRect: () => ({left: e.clientX, bottom: e.clientY})};
      if (isMedia(file)) use(file, at);
      else if (isComposition(file)) report(at, () => openComposition(file));
      else showNoticeAt(`${file.name}: not a video, a picture or a composition`, at);
    });
  }
  cameraButton.addEventListener('click', () =>
    report(cameraButton, async () => {
      if (camera.running) return stopCamera();
      transport.showState(await api.transport({action: 'pause'}));
      await camera.start();
      cameraButton.classList.add('active');
    }),
  );
  return {camera};
}
