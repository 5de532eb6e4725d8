// Sends value changes with at most one request per port under way: a value changed meanwhile
// goes once that request has returned, so a dragged slider never piles up requests, and the last
// value always reaches the server. Values of one step key (a slider drag) are one undo step.
export class ValueSender {
  constructor(send) {
    this.send = send;
    this.underWay = new Set();
    this.waiting = new Map();
    this.resets = [];
    this.lastFrame = 0;
  }

  set(port, value, step) {
    if (this.underWay.has(port)) {
      this.waiting.set(port, {value, step});
      return;
    }
    this.underWay.add(port);
    this.send({op: 'set', port, value}, step).finally(() => {
      this.underWay.delete(port);
      if (!this.waiting.has(port)) return;
      const next = this.waiting.get(port);
      this.waiting.delete(port);
      this.set(port, next.value, next.step);
    });
  }

  // A signal raised now falls again once a frame has surely run with it: frames already under
  // way when it was raised may still be reported first.
  pulse(port, step) {
    this.resets.push({port, step, after: this.lastFrame + 1});
  }

  frameShown(frame) {
    this.lastFrame = frame;
    const due = this.resets.filter((reset) => frame > reset.after);
    this.resets = this.resets.filter((reset) => frame <= reset.after);
    for (const {port, step} of due) this.set(port, false, step);
  }
}
