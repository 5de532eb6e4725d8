// Draws the rectangles, segments, points and motion lines of structures over a picture, as the
// host's Overlay patch does: coordinates in the centred unit (origin at the picture's centre, Y
// up, one unit half the picture's width), sizes W and H in half the width and half the height.
const colours = {rect: '#00ff00', line: '#ff0000', point: '#ffff00', motion: '#00ffff'};

export function drawOverlay(canvas, structures) {
  const ctx = canvas.getContext('2d');
  const {width: w, height: h} = canvas;
  ctx.clearRect(0, 0, w, h);
  drawStructures(ctx, structures, w, h, Math.max(1, w / 320));
}

// The same, in the coordinates of a w × h picture under the context's own transform.
export function drawStructures(ctx, structures, w, h, lineWidth) {
  ctx.lineWidth = lineWidth;
  const at = (x, y) => [((x + 1) * w) / 2, h - (y * w + h) / 2];
  for (const structure of structures) {
    for (const member of Object.values(structure ?? {})) {
      if (!member || typeof member !== 'object') continue;
      const m = Object.fromEntries(Object.entries(member).map(([k, v]) => [k, Number(v)]));
      const has = (...keys) => keys.every((k) => Number.isFinite(m[k]));
      if (has('X', 'Y', 'W', 'H')) {
        const [cx, cy] = at(m.X, m.Y);
        const [hw, hh] = [(m.W * w) / 4, (m.H * h) / 4];
        stroke(ctx, colours.rect, () => ctx.rect(cx - hw, cy - hh, 2 * hw, 2 * hh));
      } else if (has('X1', 'Y1', 'X2', 'Y2')) {
        stroke(ctx, colours.line, () => segment(ctx, at(m.X1, m.Y1), at(m.X2, m.Y2)));
      } else if (has('X', 'Y')) {
        const point = at(m.X, m.Y);
        if (has('pX', 'pY')) stroke(ctx, colours.motion, () => segment(ctx, at(m.pX, m.pY), point));
        stroke(ctx, colours.point, () => ctx.arc(point[0], point[1], 2 * ctx.lineWidth, 0, 2 * Math.PI));
      }
    }
  }
}

function stroke(ctx, colour, path) {
  ctx.beginPath();
  ctx.strokeStyle = colour;
  path();
  ctx.stroke();
}

function segment(ctx, [x1, y1], [x2, y2]) {
  ctx.moveTo(x1, y1);
  ctx.lineTo(x2, y2);
}
