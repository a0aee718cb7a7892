// The program's view calls (web/WebView.cpp) that a playback's ticks make inside a render
// quantum, handed to Module.view, which the audio worklet gives the module: it posts them to the
// page. The other view calls reach Module.view through embind; paints are taken by the worklet
// at the end of each quantum (dc_program_paint_*). And the worker's export progress, handed to
// Module.onExportProgress.
mergeInto(LibraryManager.library, {
  dc_view_note: function (name, length) {
    Module['view']['note'](UTF8ToString(name, length));
  },
  dc_view_state: function (control, value) {
    Module['view']['state'](UTF8ToString(control), value);
  },
  dc_view_midi: function (bytes, byteCount) {
    Module['view']['midi'](HEAPU8.slice(bytes, bytes + byteCount));
  },
  dc_export_progress: function (doneSamples, totalSamples) {
    if (Module['onExportProgress']) Module['onExportProgress'](doneSamples, totalSamples);
  },
});
