// The drawing area's picture, drawn at the screen's resolution (CSS size × devicePixelRatio):
// the program describes it in its own 240 × 200 pixels as paint steps in order (a fill, grid
// columns at an X, ink dots centred on a pixel, each with its colour), and this draws the same
// lines and dots at the same places, sharp at any size, instead of stretching a 240 × 200
// bitmap. It keeps what the program painted since its last fill, so that a resize or a zoom
// draws it again.

// Dots, as x, y pairs in drawing-area pixels, growing without copying at every dot.
class DotList {
  constructor(xy = null) {
    this.xy = xy ?? new Int32Array(256);
    this.length = xy ? xy.length / 2 : 0; // pairs
  }

  push(x, y) {
    if (2 * this.length + 2 > this.xy.length) {
      const grown = new Int32Array(2 * this.xy.length + 2);
      grown.set(this.xy);
      this.xy = grown;
    }
    this.xy[2 * this.length] = x;
    this.xy[2 * this.length + 1] = y;
    this.length++;
  }
}

// A grid line is one column of the program's picture; on a large area it is drawn thinner than
// that column, on whole device pixels, so that it stays sharp.
const kLineCssPx = 1.5;

const cssColour = (red, green, blue) => `rgb(${red}, ${green}, ${blue})`;

export class Picture {
  // widthPx, heightPx, inkDotRadiusPx: the program's drawing area and dots; kinds: the paint
  // steps' kinds, { fill, columns, dots }.
  constructor(canvas, { widthPx, heightPx, inkDotRadiusPx, kinds }) {
    this.canvas = canvas;
    this.context = canvas.getContext('2d', { alpha: false });
    this.widthPx = widthPx;
    this.heightPx = heightPx;
    this.inkDotRadiusPx = inkDotRadiusPx;
    this.kinds = kinds;
    this.background = cssColour(255, 255, 255); // until the program's first fill
    this.layers = []; // since the last fill, in order: { xs, colour } or a DotList
    this.drawnLayers = 0; // layers drawn whole
    this.drawnDots = 0; // dots of the next layer drawn already
    this.repaintDue = true;
    this.frameRequested = false;
    this.lastEntry = null; // the canvas's last size, as the observer told it
    this.watchedRatio = 0; // the devicePixelRatio whose change is watched
    const observer = new ResizeObserver((entries) => this.resize(entries[0]));
    try {
      observer.observe(canvas, { box: 'device-pixel-content-box' });
    } catch {
      observer.observe(canvas); // a browser without device pixel boxes
    }
  }

  // Paints the program's steps (flat: kind, red, green, blue, value count, values...) over the
  // picture; a fill starts it afresh. What each step was, for the page's listeners.
  paint(steps) {
    const painted = [];
    for (let at = 0; at < steps.length;) {
      const [kind, red, green, blue, count] = steps.subarray(at, at + 5);
      const values = steps.subarray(at + 5, at + 5 + count);
      at += 5 + count;
      const colour = cssColour(red, green, blue);
      if (kind === this.kinds.fill) {
        this.background = colour;
        this.layers = [];
        this.repaintDue = true;
        painted.push({ kind: 'fill' });
      } else if (kind === this.kinds.columns) {
        this.layers.push({ xs: Array.from(values), colour });
        painted.push({ kind: 'columns', xs: Array.from(values) });
      } else {
        this.addDots(values, colour);
        painted.push({ kind: 'dots', xy: values });
      }
    }
    this.requestFrame();
    return painted;
  }

  addDots(xy, colour) {
    let last = this.layers.at(-1);
    if (!(last instanceof DotList) || last.colour !== colour) {
      last = new DotList();
      last.colour = colour;
      this.layers.push(last);
    }
    for (let i = 0; i + 1 < xy.length; i += 2) last.push(xy[i], xy[i + 1]);
  }

  // Whether any dot is shown.
  hasDots() {
    return this.layers.some((layer) => layer instanceof DotList && layer.length > 0);
  }

  // The backing store: the canvas's CSS size × devicePixelRatio, or the exact device pixels
  // where the browser gives them (they agree but for the snapping to device pixels; an emulated
  // screen may not scale them).
  resize(entry) {
    this.lastEntry = entry;
    const ratio = window.devicePixelRatio;
    const css = entry.contentBoxSize[0];
    let width = Math.round(css.inlineSize * ratio);
    let height = Math.round(css.blockSize * ratio);
    const device = entry.devicePixelContentBoxSize?.[0];
    if (device && Math.abs(device.inlineSize - width) <= 1
      && Math.abs(device.blockSize - height) <= 1) {
      width = device.inlineSize;
      height = device.blockSize;
    }
    this.watchRatio(ratio);
    if (width === 0 || height === 0) return; // not shown
    if (width === this.canvas.width && height === this.canvas.height) return;
    this.canvas.width = width; // clears the canvas
    this.canvas.height = height;
    this.repaintDue = true;
    this.draw(); // at once: the cleared canvas must not be shown
  }

  // A zoom or a move to another screen changes the ratio, not always the CSS size.
  watchRatio(ratio) {
    if (this.watchedRatio === ratio) return;
    this.watchedRatio = ratio;
    matchMedia(`(resolution: ${ratio}dppx)`).addEventListener('change',
      () => this.resize(this.lastEntry), { once: true });
  }

  requestFrame() {
    if (this.frameRequested) return;
    this.frameRequested = true;
    requestAnimationFrame(() => {
      this.frameRequested = false;
      this.draw();
    });
  }

  // Draws what is new since the last frame, or everything after a repaint or a resize.
  draw() {
    const ctx = this.context;
    const scaleX = this.canvas.width / this.widthPx; // device pixels per drawing-area pixel
    const scaleY = this.canvas.height / this.heightPx;
    if (this.repaintDue) {
      ctx.setTransform(1, 0, 0, 1, 0, 0);
      ctx.fillStyle = this.background;
      ctx.fillRect(0, 0, this.canvas.width, this.canvas.height);
      this.drawnLayers = 0;
      this.drawnDots = 0;
      this.repaintDue = false;
    }
    for (let i = this.drawnLayers; i < this.layers.length; i++) {
      const layer = this.layers[i];
      if (layer instanceof DotList) {
        this.drawDots(layer, i === this.drawnLayers ? this.drawnDots : 0, scaleX, scaleY);
      } else {
        this.drawLines(layer, scaleX);
      }
    }
    const last = this.layers.at(-1);
    if (last instanceof DotList) {
      this.drawnLayers = this.layers.length - 1;
      this.drawnDots = last.length;
    } else {
      this.drawnLayers = this.layers.length;
      this.drawnDots = 0;
    }
  }

  // Each line covers the column of its X, as in the program's picture.
  drawLines({ xs, colour }, scaleX) {
    const ctx = this.context;
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    const width = Math.max(1, Math.min(Math.round(scaleX),
      Math.round(kLineCssPx * window.devicePixelRatio)));
    ctx.fillStyle = colour;
    for (const x of xs) {
      ctx.fillRect(Math.round((x + 0.5) * scaleX - width / 2), 0, width, this.canvas.height);
    }
  }

  // A dot is a filled circle around the centre of its pixel, round on an area stretched taller
  // than the program's shape too: its radius is the program's in the narrower of the two scales,
  // so that it never inks beyond the program's own dot (on an area of the program's shape the
  // two scales agree). A dot at a place the layer has a dot already adds nothing, and one wholly
  // outside the area shows nothing: only the others go into the path, which a long recording's
  // many repeated points would otherwise make too long to fill at once.
  drawDots(list, from, scaleX, scaleY) {
    if (from >= list.length) return;
    const ctx = this.context;
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    ctx.fillStyle = list.colour;
    ctx.beginPath();
    const r = this.inkDotRadiusPx;
    const radius = r * Math.min(scaleX, scaleY); // device pixels
    const columns = this.widthPx + 2 * r + 1;
    // Drawn afresh from the first dot (after a fill or a resize): every place is free again.
    if (from === 0 || !list.placed) list.placed = new Uint8Array(columns * (this.heightPx + 2 * r + 1));
    for (let i = from; i < list.length; i++) {
      const x = list.xy[2 * i];
      const y = list.xy[2 * i + 1];
      if (x < -r || x > this.widthPx + r || y < -r || y > this.heightPx + r) continue;
      const place = (y + r) * columns + (x + r);
      if (list.placed[place] !== 0) continue;
      list.placed[place] = 1;
      const centreX = (x + 0.5) * scaleX;
      const centreY = (y + 0.5) * scaleY;
      ctx.moveTo(centreX + radius, centreY);
      ctx.arc(centreX, centreY, radius, 0, 2 * Math.PI);
    }
    ctx.fill();
  }
}
