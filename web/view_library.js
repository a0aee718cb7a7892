// The program's view calls (web/WebView.cpp), handed to Module.view, which the audio worklet
// gives the module: it posts them to the page. And the worker's export progress, handed to
// Module.onExportProgress.
mergeInto(LibraryManager.library, {
  dc_view_paint: function (steps, count) {
    Module['view']['paint'](HEAP32.slice(steps >> 2, (steps >> 2) + count));
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
  dc_view_store: function (name, nameLength, bytes, byteCount) {
    Module['view']['store'](UTF8ToString(name, nameLength), HEAPU8.slice(bytes, bytes + byteCount));
  },
  dc_view_export: function (name, nameLength, kind, text, textLength, playSpeed, voiceType,
                            scaleMode, rootIndex) {
    Module['view']['export']({
      name: UTF8ToString(name, nameLength),
      kind,
      text: HEAPU8.slice(text, text + textLength),
      settings: { playSpeed, voiceType, scaleMode, rootIndex },
    });
  },
  dc_view_midi: function (bytes, byteCount) {
    Module['view']['midi'](HEAPU8.slice(bytes, bytes + byteCount));
  },
  dc_export_progress: function (doneSamples, totalSamples) {
    if (Module['onExportProgress']) Module['onExportProgress'](doneSamples, totalSamples);
  },
});
