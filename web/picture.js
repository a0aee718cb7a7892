// The drawing area's picture, drawn at the screen's resolution (CSS size × devicePixelRatio):
// the program describes it in its own 240 × 200 pixels (a white repaint, grid lines at an X,
// ink dots centred on a pixel), and this draws the same lines and dots at the same places,
// sharp at any size, instead of stretching a 240 × 200 bitmap. It keeps what the program drew
// since its last repaint, so that a resize or a zoom draws it again.

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

const kLightLineCssPx = 1; // the strip edges: hairlines
const kDarkLineCssPx = 2; // the octave starts stand out

export class Picture {
  // widthPx, heightPx: the program's drawing area; colours as CSS colours.
  constructor(canvas, { widthPx, heightPx, inkDotRadiusPx, colours }) {
    this.canvas = canvas;
    this.context = canvas.getContext('2d', { alpha: false });
    this.widthPx = widthPx;
    this.heightPx = heightPx;
    this.inkDotRadiusPx = inkDotRadiusPx;
    this.colours = colours;
    this.layers = []; // since the last repaint, in order: { lightX, darkX } or a DotList
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

  // White, then the grid lines when withGrid, then the ink.
  repaint({ withGrid, lightX, darkX, inkXY }) {
    this.layers = [];
    if (withGrid) this.layers.push({ lightX, darkX });
    this.layers.push(new DotList(Int32Array.from(inkXY))); // its own copy, to grow
    this.repaintDue = true;
    this.requestFrame();
  }

  // Grid lines over the picture as it is, then the ink on top.
  drawGridOver({ lightX, darkX, inkXY }) {
    this.layers.push({ lightX, darkX });
    this.layers.push(new DotList(Int32Array.from(inkXY))); // its own copy, to grow
    this.requestFrame();
  }

  dot(x, y) {
    let last = this.layers.at(-1);
    if (!(last instanceof DotList)) {
      last = new DotList();
      this.layers.push(last);
    }
    last.push(x, y);
    this.requestFrame();
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
      ctx.fillStyle = this.colours.background;
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

  // Each line covers the column of its X, as in the program's picture; on a large area it is
  // drawn thinner than that column, on whole device pixels, so that it stays sharp.
  drawLines({ lightX, darkX }, scaleX) {
    const ctx = this.context;
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    const pass = (xs, cssPx, colour) => {
      const width = Math.max(1, Math.min(Math.round(scaleX),
        Math.round(cssPx * window.devicePixelRatio)));
      ctx.fillStyle = colour;
      for (const x of xs) {
        ctx.fillRect(Math.round((x + 0.5) * scaleX - width / 2), 0, width, this.canvas.height);
      }
    };
    pass(lightX, kLightLineCssPx, this.colours.stripLine);
    pass(darkX, kDarkLineCssPx, this.colours.octaveLine);
  }

  // A dot is a filled circle of the program's radius around the centre of its pixel.
  drawDots(list, from, scaleX, scaleY) {
    if (from >= list.length) return;
    const ctx = this.context;
    ctx.setTransform(scaleX, 0, 0, scaleY, 0, 0);
    ctx.fillStyle = this.colours.ink;
    ctx.beginPath();
    const r = this.inkDotRadiusPx;
    for (let i = from; i < list.length; i++) {
      const cx = list.xy[2 * i] + 0.5;
      const cy = list.xy[2 * i + 1] + 0.5;
      ctx.moveTo(cx + r, cy);
      ctx.arc(cx, cy, r, 0, 2 * Math.PI);
    }
    ctx.fill();
  }
}
