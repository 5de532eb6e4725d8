// The live connection: tells the server which ports to watch and hands on each frame's values
// and pictures, the transport whenever the frames stop, and every change of the composition. Every
// message says what it is by its "type": a text message is "frame", "transport", "edits",
// "composition" or "error"; a picture message is a 32-bit
// little-endian header length, the header as JSON ({"type": "picture", "port": .., "frame": ..,
// "seq": ..}), then the JPEG. "seq" counts the frames evaluated and only goes up, where frame
// numbers start again (a restart, a loop, a seek) or repeat (a frame evaluated again).
import {liveUrl} from './api.js';

const retryAfter = 1000;

// A number of a live message that shows as the server wrote it, as in the JSON lines, and
// computes as a number.
class JsonNumber {
  constructor(value, text) {
    Object.assign(this, {value, text});
  }
  valueOf() {
    return this.value;
  }
  toString() {
    return this.text;
  }
}

const keepNumberText = (_key, value, context) =>
  typeof value === 'number' && context?.source ? new JsonNumber(value, context.source) : value;

export class Live {
  constructor({onFrame, onPicture, onTransport, onState, onChange, onMessage}) {
    Object.assign(this, {onFrame, onPicture, onTransport, onState, onChange, onMessage});
    this.request = {type: 'watch', ports: [], maxSide: 640, fps: 15};
    this.open();
  }

  open() {
    const socket = new WebSocket(liveUrl());
    socket.binaryType = 'arraybuffer';
    socket.onopen = () => {
      this.onState('connected');
      socket.send(JSON.stringify(this.request));
    };
    socket.onmessage = (event) => this.receive(event.data);
    socket.onclose = () => {
      this.onState('disconnected');
      setTimeout(() => this.open(), retryAfter);
    };
    this.socket = socket;
  }

  watch(ports) {
    this.request = {...this.request, ports: [...new Set(ports)]};
    if (this.socket.readyState === WebSocket.OPEN) this.socket.send(JSON.stringify(this.request));
  }

  // Whether the connection is open with nothing of ours still waiting to go out.
  idle() {
    return this.socket.readyState === WebSocket.OPEN && this.socket.bufferedAmount === 0;
  }

  // Sends a binary message (a camera frame); whether the connection took it.
  sendBinary(bytes) {
    if (this.socket.readyState !== WebSocket.OPEN) return false;
    this.socket.send(bytes);
    return true;
  }

  receive(data) {
    if (typeof data === 'string') {
      const message = JSON.parse(data);
      if (message.type === 'transport') {
        this.onTransport(message.transport);
      } else if (message.type === 'frame') {
        message.values = JSON.parse(data, keepNumberText).values;
        this.onFrame(message);
      } else if (message.type === 'edits' || message.type === 'composition') {
        this.onChange(message);
      } else if (message.type === 'error') {
        console.warn(`live view: ${message.error}`);
      } else {
        this.onMessage?.(message);
      }
      return;
    }
    const length = new DataView(data).getUint32(0, true);
    const header = JSON.parse(new TextDecoder().decode(new Uint8Array(data, 4, length)));
    if (header.type !== 'picture') return;
    const jpeg = new Blob([new Uint8Array(data, 4 + length)], {type: 'image/jpeg'});
    this.onPicture(header.port, header.frame, jpeg, header.seq);
  }
}
