// The program's view calls (web/WebView.cpp), handed to Module.view, which the audio worklet
// gives the module: it posts them to the page. Paints are not among them: the worklet takes a
// render quantum's paints at its end (dc_program_paint_*); an export job comes as one object
// through embind. And the worker's export progress, handed to Module.onExportProgress.
mergeInto(LibraryManager.library, {
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
  dc_view_midi: function (bytes, byteCount) {
    Module['view']['midi'](HEAPU8.slice(bytes, bytes + byteCount));
  },
  dc_export_progress: function (doneSamples, totalSamples) {
    if (Module['onExportProgress']) Module['onExportProgress'](doneSamples, totalSamples);
  },
});
