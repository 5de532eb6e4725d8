// Sends value changes with at most one request per port under way: a value changed meanwhile
// goes once that request has returned, so a dragged slider never piles up requests, and the last
// value always reaches the server.
export class ValueSender {
  constructor(send) {
    this.send = send;
    this.underWay = new Set();
    this.waiting = new Map();
    this.resets = [];
    this.lastFrame = 0;
  }

  set(port, value) {
    if (this.underWay.has(port)) {
      this.waiting.set(port, value);
      return;
    }
    this.underWay.add(port);
    this.send({op: 'set', port, value}).finally(() => {
      this.underWay.delete(port);
      if (!this.waiting.has(port)) return;
      const next = this.waiting.get(port);
      this.waiting.delete(port);
      this.set(port, next);
    });
  }

  // A signal raised now falls again once a frame has surely run with it: frames already under
  // way when it was raised may still be reported first.
  pulse(port) {
    this.resets.push({port, after: this.lastFrame + 1});
  }

  frameShown(frame) {
    this.lastFrame = frame;
    const due = this.resets.filter((reset) => frame > reset.after);
    this.resets = this.resets.filter((reset) => frame <= reset.after);
    for (const {port} of due) this.set(port, false);
  }
}
