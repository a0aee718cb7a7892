// The functions the page's scripts call, in three instances of this module: one inside the
// audio worklet runs the program (its logic, voice and play clock); one in the page's worker
// reads opened files and makes the exports; one on the page's main thread gives the tables the
// page shows. None of them has a file system: files are bytes the page hands over or offers.
// The page's scripts call them by name through embind (EMSCRIPTEN_BINDINGS at the end), which
// hands the settings, the tables and arrays over as JavaScript objects; what the worklet calls
// within a render quantum, and the large buffers the worker hands over, stay plain functions.
#include "mapping/CanvasPaint.h"
#include "mapping/DrawingSurface.h"
#include "mapping/PitchMap.h"
#include "mapping/VowelMap.h"
#include "program/Captions.h"
#include "program/Event.h"
#include "program/Exports.h"
#include "program/Hints.h"
#include "program/ProgramLogic.h"
#include "recording/CompactRecording.h"
#include "recording/ControlSettings.h"
#include "recording/MidiFormat.h"
#include "recording/OfflineRender.h"
#include "recording/PlaySpeed.h"
#include "recording/Recording.h"
#include "recording/RecordingFile.h"
#include "voice/Synth.h"
#include "web/SampleTicks.h"
#include "web/WebView.h"

#include <array>
#include <cstddef>
#include <emscripten/bind.h>
#include <emscripten/emscripten.h>
#include <emscripten/val.h>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Implemented by web/view_library.js: the worker's progress through a long export.
extern "C" void dc_export_progress(double doneSamples, double totalSamples);
// Implemented by web/view_library.js: a state of the controls, to the page.
extern "C" void dc_view_state(const char* control, int32_t value);

namespace doodle {
namespace {

// Largest recording file the page opens: its lines cost up to about 20 bytes of the worklet's
// memory per byte of file (an empty line is one byte of file, 18 bytes of recording and ink),
// and the module's memory may grow to 2 GiB.
constexpr double kMaxOpenFileBytes = 16.0 * 1024 * 1024;

// Bytes of an export between two progress reports: about a tenth of a second of rendering.
constexpr int64_t kProgressEverySamples = int64_t{1} << 20;

// The program as the audio worklet runs it, and the recording it is being handed.
struct WorkletProgram {
    SampleTicks ticks{};
    WebView view{ticks};
    ProgramLogic logic{view};
    VoiceRenderer renderer{logic.voice(), VoiceOutput::Live};
    RecordingAssembly opening{};
    ControlSettings reported{}; // the scale, root and speed the page was last told

    // A person's event, then the settings it changed, to the page.
    void dispatch(const Event& event) {
        logic.dispatch(event);
        reportSettings(false);
    }

    // The scale mode, root and speed the program holds, to the page: each one that changed
    // since the last report, or all of them.
    void reportSettings(bool all) {
        const ControlSettings now = logic.settings();
        const auto report = [all](const char* control, int32_t value, int32_t before) {
            if (all || value != before) {
                dc_view_state(control, value);
            }
        };
        report("scaleMode", now.scaleMode, reported.scaleMode);
        report("rootIndex", now.rootIndex, reported.rootIndex);
        report("speedTenths", now.speedTenths, reported.speedTenths);
        reported = now;
    }
};

std::unique_ptr<WorkletProgram>& program() {
    static std::unique_ptr<WorkletProgram> instance;
    return instance;
}

std::optional<int32_t> nowMs() {
    return program()->ticks.nowMs();
}

// The export the worker made last, until the next one.
std::vector<uint8_t>& exported() {
    static std::vector<uint8_t> bytes;
    return bytes;
}

// The recording's file as dc_program_recording_start began to write it.
std::optional<RecordingFileWriter>& recordingWriter() {
    static std::optional<RecordingFileWriter> writer;
    return writer;
}

// ---- The tables, as JavaScript objects ----

using emscripten::val;

val text(std::string_view value) {
    return val(std::string(value));
}

val menuObject(std::string_view title, std::span<const MenuItemCaption> menuItems) {
    val items = val::array();
    for (const MenuItemCaption& item : menuItems) {
        val entry = val::object();
        entry.set("id", item.id);
        entry.set("caption", text(item.caption));
        entry.set("name", text(item.name));
        entry.set("checkable", item.checkable);
        items.call<void>("push", entry);
    }
    val entry = val::object();
    entry.set("title", text(title));
    entry.set("items", items);
    return entry;
}

val menusObject() {
    val menus = val::array();
    for (const MenuCaption& menu : kMenus) {
        menus.call<void>("push", menuObject(menu.title, menu.items));
    }
    return menus;
}

val fileKindsObject() {
    val kinds = val::object();
    for (const auto& [name, kind] :
         std::array<std::pair<const char*, FileKind>, 3>{{{"recording", FileKind::Recording},
                                                          {"wav", FileKind::Wav},
                                                          {"midi", FileKind::Midi}}}) {
        const FileKindCaption caption = captionOf(kind);
        val entry = val::object();
        entry.set("kind", static_cast<int32_t>(kind));
        entry.set("extension", text(caption.extension));
        entry.set("filterName", text(caption.filterName));
        kinds.set(name, entry);
    }
    return kinds;
}

// Where a recording's point lies in the bytes the worker hands over (RecordingPoint as it is
// in memory): a float64 time and two int32 coordinates, little-endian as WebAssembly is.
struct PointLayout {
    int32_t bytes = sizeof(RecordingPoint);
    int32_t timeOffset = offsetof(RecordingPoint, timeMs);
    int32_t xOffset = offsetof(RecordingPoint, x);
    int32_t yOffset = offsetof(RecordingPoint, y);
};

template <std::size_t N>
val textArray(const std::array<std::string_view, N>& texts) {
    val array = val::array();
    for (const std::string_view entry : texts) {
        array.call<void>("push", text(entry));
    }
    return array;
}

val labelsObject() {
    val labels = val::object();
    labels.set("clear", text(kControlLabels.clear));
    labels.set("grid", text(kControlLabels.grid));
    labels.set("scale", text(kControlLabels.scale));
    labels.set("currentNote", text(kControlLabels.currentNote));
    labels.set("playbackSpeed", text(kControlLabels.playbackSpeed));
    labels.set("rootNote", text(kControlLabels.rootNote));
    labels.set("drawingArea", text(kControlLabels.drawingArea));
    return labels;
}

// What the page's scripts send and show, by name: the controls' and menu items' ids, the
// pointer's actions and button bit, the speed slider's range, the captions of the toggles, the
// speed and the menus, the controls' labels and the scale names, the program's messages, the
// kinds of files, the note names, the drawing area's size and its paint steps' kinds, the
// hints' texts, and the layout of a recording's points.
val tables() {
    val t = val::object();
    const auto number = [&t](const char* name, double value) { t.set(name, value); };
    number("clearButton", kClearButton);
    number("unrestrictedOption", kUnrestrictedOption);
    number("majorOption", kMajorOption);
    number("minorOption", kMinorOption);
    number("pentatonicOption", kPentatonicOption);
    number("menuOpen", kMenuOpen);
    number("menuSave", kMenuSave);
    number("menuExportWav", kMenuExportWav);
    number("menuExportMidi", kMenuExportMidi);
    number("menuType1", kMenuType1);
    number("menuType2", kMenuType2);
    number("menuAbout", kMenuAbout);
    number("menuHelp", kMenuHelp);
    number("leftPress", static_cast<int32_t>(PointerAction::LeftPress));
    number("move", static_cast<int32_t>(PointerAction::Move));
    number("leftRelease", static_cast<int32_t>(PointerAction::LeftRelease));
    number("leftButtonBit", kLeftButtonBit);
    number("minSpeedTenths", kMinPlaySpeedTenths);
    number("maxSpeedTenths", kMaxPlaySpeedTenths);
    number("tenthsPerSpeed", kTenthsPerPlaySpeed);
    t.set("recordUp", text(kRecordCaptions.up));
    t.set("recordDown", text(kRecordCaptions.down));
    t.set("playUp", text(kPlayCaptions.up));
    t.set("playDown", text(kPlayCaptions.down));
    t.set("speedSuffix", text(kSpeedCaptionSuffix));
    number("speedDecimals", kSpeedCaptionDecimals);
    t.set("menus", menusObject());
    // The MIDI input's channel choice: item k is channel k, 0 all but the drums'.
    t.set("midiInChannels", menuObject(kMidiInChannelMenuTitle, kMidiInChannelItems));
    // Voice > Tuning: item k chooses Tuning k (0 Classic, 1 Concert).
    t.set("tuning", menuObject(kTuningMenuTitle, kTuningMenuItems));
    t.set("files", fileKindsObject());
    t.set("informerTitle", text(kInformerTitle));
    t.set("notSavedText", text(kNotSavedText));
    t.set("notOpenedText", text(kNotOpenedText));
    t.set("noteNames", textArray(noteNames));
    number("areaWidthPx", kMaxPointX);
    number("areaHeightPx", kMaxPointY);
    number("inkDotRadiusPx", kInkDotRadiusPx);
    number("paintFill", static_cast<int32_t>(CanvasStep::Kind::Fill));
    number("paintColumns", static_cast<int32_t>(CanvasStep::Kind::Columns));
    number("paintDots", static_cast<int32_t>(CanvasStep::Kind::Dots));
    number("maxOpenFileBytes", kMaxOpenFileBytes);
    t.set("drawPrompt", text(kDrawPromptText));
    t.set("pitchLow", text(kPitchAxisLowText));
    t.set("pitchTitle", text(kPitchAxisTitle));
    t.set("pitchHigh", text(kPitchAxisHighText));
    t.set("pointLayout", PointLayout{});
    t.set("scaleNames", textArray(kScaleNames));
    t.set("labels", labelsObject());
    return t;
}

// The vowel axis of a voice type (VoiceType's value): the vowels the vowel map reaches exactly
// (the top row and each band's end row), as [{y, f1, f2, name}] from the top down: the page
// names them beside the drawing area.
val vowelLabelsOf(int32_t voiceType) {
    val labels = val::array();
    for (const VowelLabel& label : vowelLabels(static_cast<VoiceType>(voiceType))) {
        val entry = val::object();
        entry.set("y", label.y);
        entry.set("f1", label.f1Hz);
        entry.set("f2", label.f2Hz);
        entry.set("name", text(label.name));
        labels.call<void>("push", entry);
    }
    return labels;
}

// Ink as x, y pairs, from an Int32Array (or any array of numbers).
std::vector<InkPoint> inkOf(const val& inkXY) {
    const std::vector<int32_t> flat = emscripten::convertJSArrayToNumberVector<int32_t>(inkXY);
    std::vector<InkPoint> ink(flat.size() / 2);
    for (std::size_t i = 0; i < ink.size(); ++i) {
        ink[i] = {flat[2 * i], flat[2 * i + 1]};
    }
    return ink;
}

// A copy of `values` as a typed array of JavaScript's own (e.g. "Int32Array").
template <typename T>
val typedArrayCopy(const char* type, std::span<const T> values) {
    return val::global(type).new_(emscripten::typed_memory_view(values.size(), values.data()));
}

// The whole picture of the drawing area as the program paints it (white, the grid of a scale
// mode when withGrid, the ink: an Int32Array of x, y pairs), as the view's flat steps (an
// Int32Array of its own). The page shows a kept drawing with it before the program runs.
val canvasPaint(bool withGrid, int32_t scaleMode, const val& inkXY) {
    std::vector<int32_t> steps;
    appendFlatPaint(wholeCanvas(withGrid, static_cast<ScaleMode>(scaleMode), inkOf(inkXY)), steps);
    return typedArrayCopy<int32_t>("Int32Array", steps);
}

// ---- Links ----

// A link's settings as one number; -1 for settings out of range.
int32_t linkNumberOf(const ControlSettings& settings) {
    return linkSettingsNumber(settings);
}

// The settings of a link's number; null for a number no settings give.
val linkSettingsOfNumber(double number) {
    const std::optional<ControlSettings> settings = linkSettingsOf(static_cast<int64_t>(number));
    return settings ? val(*settings) : val::null();
}

// The compact form of a recording file's bytes (a Uint8Array) in layout
// 0..kCompactLayoutCount-1 (see recording/CompactRecording.h), as a Uint8Array; null when the
// file is not exactly as the program writes it (or does not fit in memory).
val compactRecordingOf(const val& savBytes, int32_t layout) {
    try {
        const std::vector<uint8_t> bytes =
            emscripten::convertJSArrayToNumberVector<uint8_t>(savBytes);
        const std::optional<std::vector<uint8_t>> compact =
            compactRecording(bytes, static_cast<std::size_t>(layout));
        return compact ? typedArrayCopy<uint8_t>("Uint8Array", *compact) : val::null();
    } catch (const std::bad_alloc&) {
        return val::null();
    } catch (const std::length_error&) {
        return val::null();
    }
}

// The recording file of compact bytes (a Uint8Array) as {bytes: Uint8Array, problem: ''}, or
// {bytes: null, problem: 'damaged' | 'tooLarge'} (larger than maxBytes, or not fitting in memory).
val expandRecordingOf(const val& compactBytes, double maxBytes) {
    val answer = val::object();
    answer.set("bytes", val::null());
    try {
        const std::vector<uint8_t> compact =
            emscripten::convertJSArrayToNumberVector<uint8_t>(compactBytes);
        const ExpandedRecording expanded =
            expandCompactRecording(compact, static_cast<std::size_t>(maxBytes));
        if (expanded.problem == ExpandProblem::None) {
            answer.set("bytes", typedArrayCopy<uint8_t>("Uint8Array", expanded.savBytes));
        }
        answer.set("problem", expanded.problem == ExpandProblem::None       ? ""
                              : expanded.problem == ExpandProblem::TooLarge ? "tooLarge"
                                                                            : "damaged");
    } catch (const std::bad_alloc&) {
        answer.set("problem", "tooLarge");
    } catch (const std::length_error&) {
        answer.set("problem", "tooLarge");
    }
    return answer;
}

// ---- The program's events and state, in the audio worklet ----
// Called from the port's messages, never per render quantum.

void programStart() {
    program() = std::make_unique<WorkletProgram>();
    program()->logic.start();
    program()->reportSettings(true);
}

// action: PointerAction's value; buttons: held buttons as k*ButtonBit.
void programPointer(int32_t action, int32_t x, int32_t y, int32_t buttons) {
    program()->dispatch(
        Event::pointerEvent(static_cast<PointerAction>(action), x, y, buttons, nowMs()));
}

// The clear button and the four option buttons: their id is the whole event.
void programControl(int32_t controlId) {
    program()->dispatch(Event::control(controlId));
}

void programRecord(bool down) {
    program()->dispatch(Event::recordToggle(down, nowMs()));
}

void programPlay(bool down) {
    program()->dispatch(Event::playToggle(down));
}

// The Grid box clicked; answers the tick the program keeps.
bool programGrid(bool ticked) {
    program()->dispatch(Event::gridBox(ticked));
    return program()->logic.controls().gridChecked;
}

void programSpeed(int32_t tenths) {
    program()->dispatch(Event::speedSlider(tenths));
}

void programRoot(int32_t index) {
    program()->dispatch(Event::rootNote(index));
}

// A menu item other than Open.
void programMenu(int32_t menuId) {
    program()->dispatch(Event::menu(menuId));
}

// The page chose a MIDI output (open), which first gets the messages that set it up, or none.
void programMidiOut(bool open) {
    WorkletProgram& p = *program();
    p.view.setMidiOutOpen(open);
    if (open) {
        const std::vector<MidiMessage> opening = p.logic.midiOutOpening();
        p.view.sendMidi(opening);
    }
}

// A kept or linked drawing: its settings chosen through the program's rules, then its ink (an
// Int32Array of x, y pairs) unless null. The page hears every setting afterwards: scale mode,
// root, speed, voice type, tuning and Grid's tick.
void programRestore(const ControlSettings& settings, const val& inkXY) {
    WorkletProgram& p = *program();
    std::optional<std::vector<InkPoint>> ink;
    if (!inkXY.isNull() && !inkXY.isUndefined()) {
        ink = inkOf(inkXY);
    }
    p.logic.restore(settings, std::move(ink));
    p.reportSettings(true);
    // A tick the program accepted is not shown through the view (a box ticks itself when
    // clicked), and a voice type or tuning not changed is not marked: the page hears them here.
    dc_view_state("gridChecked", p.logic.controls().gridChecked ? 1 : 0);
    dc_view_state("voiceType", static_cast<int32_t>(p.logic.controls().settings.voiceType));
    dc_view_state("tuning", static_cast<int32_t>(p.logic.controls().settings.tuning));
}

// What a host keeps of the drawing between visits: the settings and the ink as x, y pairs (an
// Int32Array of its own); the recording goes in pieces (dc_program_recording_piece).
ControlSettings programSettings() {
    return program()->logic.settings();
}
val programInk() {
    static_assert(sizeof(InkPoint) == 2 * sizeof(int32_t));
    const std::vector<InkPoint>& ink = program()->logic.drawing().ink;
    return typedArrayCopy<int32_t>("Int32Array",
                                   {reinterpret_cast<const int32_t*>(ink.data()), 2 * ink.size()});
}

// ---- Reading and exporting, in the page's worker ----

// Reads a recording file's byteCount bytes at `bytes` in the module's memory into lines:
// {lines, text, points, released}, each part an ArrayBuffer of its own to hand to the worklet
// (the lines' texts, their points as tables().pointLayout lays them out, a release flag byte a
// line); null when they do not fit in memory.
val workerParse(uintptr_t bytes, double byteCount) {
    try {
        const Recording recording = splitRecordingLines(
            {reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(byteCount)});
        std::vector<uint8_t> released(recording.size());
        for (std::size_t i = 0; i < recording.size(); ++i) {
            released[i] = recording.event(i).released ? 1 : 0;
        }
        const std::string_view text = recording.storedText();
        const std::span<const RecordingPoint> points = recording.storedPoints();
        val parsed = val::object();
        parsed.set("lines", static_cast<double>(recording.size()));
        parsed.set("text", typedArrayCopy<uint8_t>("Uint8Array",
                                                   {reinterpret_cast<const uint8_t*>(text.data()),
                                                    text.size()})["buffer"]);
        parsed.set("points", typedArrayCopy<uint8_t>(
                                 "Uint8Array", {reinterpret_cast<const uint8_t*>(points.data()),
                                                points.size_bytes()})["buffer"]);
        parsed.set("released", typedArrayCopy<uint8_t>("Uint8Array", released)["buffer"]);
        return parsed;
    } catch (const std::bad_alloc&) {
        return val::null();
    } catch (const std::length_error&) {
        return val::null();
    }
}

// Makes an export (kind: FileKind's value) of the recording whose lines are the textBytes at
// `text` in the module's memory, with the settings the program had; reports its progress. Its
// size in bytes (the bytes through dc_worker_exported), or -1 when it cannot be made (settings
// out of range, a render that does not end, a file too large for its format).
double workerExport(int32_t kind, uintptr_t text, double textBytes,
                    const ControlSettings& settings) {
    exported() = {};
    try {
        const Recording recording = splitRecordingLines(
            {reinterpret_cast<const char*>(text), static_cast<std::size_t>(textBytes)});
        int64_t reportedSamples = 0;
        std::optional<std::vector<uint8_t>> bytes =
            exportBytes(static_cast<FileKind>(kind), recording, renderSettingsOf(settings),
                        [&](int64_t doneSamples, int64_t totalSamples) {
                            if (doneSamples - reportedSamples >= kProgressEverySamples) {
                                reportedSamples = doneSamples;
                                dc_export_progress(static_cast<double>(doneSamples),
                                                   static_cast<double>(totalSamples));
                            }
                            return true;
                        });
        if (!bytes) {
            return -1;
        }
        exported() = std::move(*bytes);
    } catch (const std::bad_alloc&) {
        return -1;
    } catch (const std::length_error&) {
        return -1;
    }
    return static_cast<double>(exported().size());
}

} // namespace
} // namespace doodle

using namespace doodle;

extern "C" {

// ---- The program's sound, clock and paints, in the audio worklet ----
// Plain functions: the worklet calls them within a render quantum (render, frame, due MIDI input,
// the pieces of an opened recording, the quantum's paints), where an embind call would make
// and convert JavaScript values of its own on the audio thread; and the worker's finished
// export, whose bytes it copies out itself.

// Renders the next frameCount samples, handing the play clock's ticks to the program.
EMSCRIPTEN_KEEPALIVE void dc_program_render(float* out, int32_t frameCount) {
    WorkletProgram& p = *program();
    p.ticks.render(p.logic, p.renderer, out, static_cast<std::size_t>(frameCount));
}

// The sample clock: frames rendered since the start (exact up to 2^53).
EMSCRIPTEN_KEEPALIVE double dc_program_frame() {
    return static_cast<double>(program()->ticks.frame());
}

// A channel message from the page's MIDI input (status, then its data bytes; 0 for a data
// byte the kind has not), at the frame the sample clock is on.
EMSCRIPTEN_KEEPALIVE void dc_program_midi(int32_t status, int32_t data1, int32_t data2) {
    const MidiMessage message{static_cast<uint8_t>(status), static_cast<uint8_t>(data1),
                              static_cast<uint8_t>(data2)};
    program()->logic.dispatch(Event::midiIn(message, nowMs())); // changes no setting
}

// The end of one delivery of MIDI input messages.
EMSCRIPTEN_KEEPALIVE void dc_program_midi_end() {
    program()->logic.dispatch(Event::midiInEnd());
}

// Open, answered: cancelled (answer 0), a file that could not be read (1), one too large
// (2), or the recording handed over through dc_program_open_* (3).
EMSCRIPTEN_KEEPALIVE void dc_program_open(int32_t answer) {
    constexpr int32_t kCancelled = 0;
    constexpr int32_t kUnreadable = 1;
    constexpr int32_t kTooLarge = 2;
    WorkletProgram& p = *program();
    std::optional<ChosenRecording> chosen;
    if (answer == kUnreadable || answer == kTooLarge) {
        chosen = ChosenRecording{std::nullopt, answer == kTooLarge};
    } else if (answer != kCancelled) {
        std::optional<Recording> recording = p.opening.finish();
        chosen = ChosenRecording{std::move(recording), !recording.has_value()};
    }
    p.view.prepareOpenAnswer(std::move(chosen));
    p.logic.dispatch(Event::menu(kMenuOpen));
    p.view.prepareOpenAnswer(std::nullopt);
}

// A recording another copy of the program read, handed over a piece at a time so that no
// render quantum waits long: room first (0 when it does not fit), then the pieces.
EMSCRIPTEN_KEEPALIVE int32_t dc_program_open_reserve(double textBytes, double lineCount) {
    return program()->opening.reserve(static_cast<std::size_t>(textBytes),
                                      static_cast<std::size_t>(lineCount))
               ? 1
               : 0;
}
EMSCRIPTEN_KEEPALIVE int32_t dc_program_open_text(const char* piece, int32_t bytes) {
    return program()->opening.addText({piece, static_cast<std::size_t>(bytes)}) ? 1 : 0;
}
EMSCRIPTEN_KEEPALIVE int32_t dc_program_open_points(const RecordingPoint* piece, int32_t count) {
    return program()->opening.addPoints({piece, static_cast<std::size_t>(count)}) ? 1 : 0;
}
EMSCRIPTEN_KEEPALIVE int32_t dc_program_open_released(const uint8_t* piece, int32_t count) {
    return program()->opening.addReleased({piece, static_cast<std::size_t>(count)}) ? 1 : 0;
}

// What a host keeps of the drawing between visits: the recording as Save writes it, in pieces
// (dc_program_recording_start gives its size in bytes, then each dc_program_recording_piece
// writes the next bytes at `out`, up to `capacity`, and says how many; the recording must not
// change meanwhile), the ink list as x, y pairs (until the next event), and the controls.
EMSCRIPTEN_KEEPALIVE double dc_program_recording_start() {
    return static_cast<double>(recordingWriter().emplace(program()->logic.recording()).size());
}
EMSCRIPTEN_KEEPALIVE int32_t dc_program_recording_piece(uint8_t* out, int32_t capacity) {
    return static_cast<int32_t>(
        recordingWriter()->write({out, static_cast<std::size_t>(capacity)}));
}
// The bytes workerExport made last, until the next export.
EMSCRIPTEN_KEEPALIVE const uint8_t* dc_worker_exported() {
    return exported().data();
}

// The paint calls since dc_program_paints_clear (see PaintBatch): how many, their flat steps
// (dc_program_paint_step_count numbers), where each call's steps end and each call's frame.
EMSCRIPTEN_KEEPALIVE int32_t dc_program_paint_count() {
    return static_cast<int32_t>(program()->view.paints().ends().size());
}
EMSCRIPTEN_KEEPALIVE const int32_t* dc_program_paint_steps() {
    return program()->view.paints().steps().data();
}
EMSCRIPTEN_KEEPALIVE int32_t dc_program_paint_step_count() {
    return static_cast<int32_t>(program()->view.paints().steps().size());
}
EMSCRIPTEN_KEEPALIVE const int32_t* dc_program_paint_ends() {
    return program()->view.paints().ends().data();
}
EMSCRIPTEN_KEEPALIVE const double* dc_program_paint_frames() {
    return program()->view.paints().frames().data();
}
// Empties the batch, keeping its room.
EMSCRIPTEN_KEEPALIVE void dc_program_paints_clear() {
    program()->view.paints().clear();
}

} // extern "C"

// What the page's scripts call by name. The settings cross as one object,
// {scaleMode, rootIndex, voiceType, speedTenths, grid, tuning}; the point layout as
// {bytes, timeOffset, xOffset, yOffset}.
EMSCRIPTEN_BINDINGS(doodlechorus) {
    using emscripten::function;
    emscripten::value_object<ControlSettings>("ControlSettings")
        .field("scaleMode", &ControlSettings::scaleMode)
        .field("rootIndex", &ControlSettings::rootIndex)
        .field("voiceType", &ControlSettings::voiceType)
        .field("speedTenths", &ControlSettings::speedTenths)
        .field("grid", &ControlSettings::grid)
        .field("tuning", &ControlSettings::tuning);
    emscripten::value_object<PointLayout>("PointLayout")
        .field("bytes", &PointLayout::bytes)
        .field("timeOffset", &PointLayout::timeOffset)
        .field("xOffset", &PointLayout::xOffset)
        .field("yOffset", &PointLayout::yOffset);

    // The page's main thread: tables, pictures, links.
    function("tables", &tables);
    function("vowelLabels", &vowelLabelsOf);
    function("canvasPaint", &canvasPaint);
    function("linkSettingsNumber", &linkNumberOf);
    function("linkSettingsOf", &linkSettingsOfNumber);
    function(
        "compactLayoutCount", +[] { return static_cast<int32_t>(kCompactLayoutCount); });
    function("compactRecording", &compactRecordingOf);
    function("expandRecording", &expandRecordingOf);

    // The audio worklet: the program's events and what the page keeps.
    function("programStart", &programStart);
    function("programPointer", &programPointer);
    function("programControl", &programControl);
    function("programRecord", &programRecord);
    function("programPlay", &programPlay);
    function("programGrid", &programGrid);
    function("programSpeed", &programSpeed);
    function("programRoot", &programRoot);
    function("programMenu", &programMenu);
    function("programMidiOut", &programMidiOut);
    function("programRestore", &programRestore);
    function("programSettings", &programSettings);
    function("programInk", &programInk);

    // The worker.
    function("workerParse", &workerParse);
    function("workerExport", &workerExport);
}
