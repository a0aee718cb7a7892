// The program's view calls (web/WebView.cpp), handed to Module.view, which the audio worklet
// gives the module: it posts them to the page.
mergeInto(LibraryManager.library, {
  dc_view_canvas: function (repaint, withGrid, lightX, lightCount, darkX, darkCount, inkXY,
                            inkCount) {
    const ints = (pointer, count) => HEAP32.slice(pointer >> 2, (pointer >> 2) + count);
    Module['view']['canvas']({
      repaint: repaint !== 0,
      withGrid: withGrid !== 0,
      lightX: ints(lightX, lightCount),
      darkX: ints(darkX, darkCount),
      inkXY: ints(inkXY, 2 * inkCount),
    });
  },
  dc_view_dot: function (x, y) {
    Module['view']['dot'](x, y);
  },
  dc_view_note: function (name, length) {
    Module['view']['note'](UTF8ToString(name, length));
  },
  dc_view_state: function (control, value) {
    Module['view']['state'](UTF8ToString(control), value);
  },
  dc_view_message: function (title, titleLength, text, textLength) {
    Module['view']['message'](UTF8ToString(title, titleLength), UTF8ToString(text, textLength));
  },
  dc_view_help: function (text, length) {
    Module['view']['help'](UTF8ToString(text, length));
  },
});
