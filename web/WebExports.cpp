// The functions the page's scripts call, in three instances of this module: one inside the
// audio worklet runs the program (its logic, voice and play clock); one in the page's worker
// reads opened files and makes the exports; one on the page's main thread gives the tables the
// page shows. None of them has a file system: files are bytes the page hands over or offers.
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
#include "recording/MidiFormat.h"
#include "recording/OfflineRender.h"
#include "recording/PlaySpeed.h"
#include "recording/Recording.h"
#include "recording/RecordingFile.h"
#include "voice/Synth.h"
#include "web/SampleTicks.h"
#include "web/WebView.h"

#include <array>
#include <cstdio>
#include <emscripten/emscripten.h>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// Implemented by web/view_library.js: the worker's progress through a long export.
extern "C" void dc_export_progress(double doneSamples, double totalSamples);

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
};

std::unique_ptr<WorkletProgram>& program() {
    static std::unique_ptr<WorkletProgram> instance;
    return instance;
}

std::optional<int32_t> nowMs() {
    return program()->ticks.nowMs();
}

// What the worker read or made last, until the next call.
struct WorkerResults {
    std::optional<Recording> parsed{};
    std::vector<uint8_t> released{}; // the parsed lines' release flags, a byte a line
    std::vector<uint8_t> exported{};
};

WorkerResults& worker() {
    static WorkerResults results;
    return results;
}

// The recording's file as dc_program_recording_start began to write it.
std::optional<RecordingFileWriter>& recordingWriter() {
    static std::optional<RecordingFileWriter> writer;
    return writer;
}

// What dc_compact_recording or dc_expand_recording made last.
std::vector<uint8_t>& linkBytes() {
    static std::vector<uint8_t> bytes;
    return bytes;
}

// The steps dc_canvas_paint made last.
std::vector<int32_t>& canvasSteps() {
    static std::vector<int32_t> steps;
    return steps;
}

// ---- The tables as JSON ----

// A JSON string: quotes, backslashes and control characters escaped, other bytes (UTF-8) kept.
std::string jsonString(std::string_view text) {
    constexpr std::string_view kHex = "0123456789abcdef";
    constexpr unsigned char kFirstPrintable = 0x20;
    constexpr unsigned kNibbleBits = 4;
    constexpr unsigned kNibbleMask = 0xF;
    std::string json = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < kFirstPrintable) {
            json += "\\u00";
            json += kHex[byte >> kNibbleBits];
            json += kHex[byte & kNibbleMask];
        } else {
            json += c;
        }
    }
    return json + '"';
}

// Members written one after another into a JSON object.
class JsonObject {
public:
    JsonObject& number(std::string_view name, double value) {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", value);
        return raw(name, text);
    }
    JsonObject& string(std::string_view name, std::string_view value) {
        return raw(name, jsonString(value));
    }
    JsonObject& raw(std::string_view name, std::string_view json) {
        m_text += m_text.size() == 1 ? "" : ",";
        m_text += jsonString(name);
        m_text += ':';
        m_text += json;
        return *this;
    }
    std::string text() const { return m_text + '}'; }

private:
    std::string m_text = "{";
};

std::string menusJson() {
    std::string json = "[";
    for (const MenuCaption& menu : kMenus) {
        json += json.size() == 1 ? "" : ",";
        std::string items = "[";
        for (const MenuItemCaption& item : menu.items) {
            items += items.size() == 1 ? "" : ",";
            items += JsonObject()
                         .number("id", item.id)
                         .string("caption", item.caption)
                         .string("name", item.name)
                         .raw("checkable", item.checkable ? "true" : "false")
                         .text();
        }
        json += JsonObject().string("title", menu.title).raw("items", items + ']').text();
    }
    return json + ']';
}

std::string fileKindsJson() {
    JsonObject kinds;
    for (const auto& [name, kind] :
         std::array<std::pair<const char*, FileKind>, 3>{{{"recording", FileKind::Recording},
                                                          {"wav", FileKind::Wav},
                                                          {"midi", FileKind::Midi}}}) {
        const FileKindCaption caption = captionOf(kind);
        kinds.raw(name, JsonObject()
                            .number("kind", static_cast<int32_t>(kind))
                            .string("extension", caption.extension)
                            .string("filterName", caption.filterName)
                            .text());
    }
    return kinds.text();
}

std::string tablesJson() {
    std::string noteNamesJson = "[";
    for (const std::string_view name : noteNames) {
        noteNamesJson += noteNamesJson.size() == 1 ? "" : ",";
        noteNamesJson += jsonString(name);
    }
    noteNamesJson += ']';
    return JsonObject()
        .number("clearButton", kClearButton)
        .number("unrestrictedOption", kUnrestrictedOption)
        .number("majorOption", kMajorOption)
        .number("minorOption", kMinorOption)
        .number("pentatonicOption", kPentatonicOption)
        .number("menuOpen", kMenuOpen)
        .number("menuSave", kMenuSave)
        .number("menuExportWav", kMenuExportWav)
        .number("menuExportMidi", kMenuExportMidi)
        .number("menuType1", kMenuType1)
        .number("menuType2", kMenuType2)
        .number("menuAbout", kMenuAbout)
        .number("menuHelp", kMenuHelp)
        .number("leftPress", static_cast<int32_t>(PointerAction::LeftPress))
        .number("move", static_cast<int32_t>(PointerAction::Move))
        .number("leftRelease", static_cast<int32_t>(PointerAction::LeftRelease))
        .number("leftButtonBit", kLeftButtonBit)
        .number("minSpeedTenths", kMinPlaySpeedTenths)
        .number("maxSpeedTenths", kMaxPlaySpeedTenths)
        .number("tenthsPerSpeed", kTenthsPerPlaySpeed)
        .string("recordUp", kRecordCaptions.up)
        .string("recordDown", kRecordCaptions.down)
        .string("playUp", kPlayCaptions.up)
        .string("playDown", kPlayCaptions.down)
        .string("speedSuffix", kSpeedCaptionSuffix)
        .number("speedDecimals", kSpeedCaptionDecimals)
        .raw("menus", menusJson())
        .raw("files", fileKindsJson())
        .string("informerTitle", kInformerTitle)
        .string("notSavedText", kNotSavedText)
        .string("notOpenedText", kNotOpenedText)
        .raw("noteNames", noteNamesJson)
        .number("areaWidthPx", kMaxPointX)
        .number("areaHeightPx", kMaxPointY)
        .number("inkDotRadiusPx", kInkDotRadiusPx)
        .number("paintFill", static_cast<int32_t>(CanvasStep::Kind::Fill))
        .number("paintColumns", static_cast<int32_t>(CanvasStep::Kind::Columns))
        .number("paintDots", static_cast<int32_t>(CanvasStep::Kind::Dots))
        .number("maxOpenFileBytes", kMaxOpenFileBytes)
        .string("drawPrompt", kDrawPromptText)
        .string("pitchLow", kPitchAxisLowText)
        .string("pitchTitle", kPitchAxisTitle)
        .string("pitchHigh", kPitchAxisHighText)
        .text();
}

} // namespace
} // namespace doodle

using namespace doodle;

extern "C" {

// ---- The program, in the audio worklet ----

EMSCRIPTEN_KEEPALIVE void dc_program_start() {
    program() = std::make_unique<WorkletProgram>();
    program()->logic.start();
}

// Renders the next frameCount samples, handing the play clock's ticks to the program.
EMSCRIPTEN_KEEPALIVE void dc_program_render(float* out, int32_t frameCount) {
    WorkletProgram& p = *program();
    p.ticks.render(p.logic, p.renderer, out, static_cast<std::size_t>(frameCount));
}

// The sample clock: frames rendered since the start (exact up to 2^53).
EMSCRIPTEN_KEEPALIVE double dc_program_frame() {
    return static_cast<double>(program()->ticks.frame());
}

// action: PointerAction's value; buttons: held buttons as k*ButtonBit.
EMSCRIPTEN_KEEPALIVE void dc_program_pointer(int32_t action, int32_t x, int32_t y,
                                             int32_t buttons) {
    program()->logic.dispatch(
        Event::pointerEvent(static_cast<PointerAction>(action), x, y, buttons, nowMs()));
}

// The clear button and the four option buttons: their id is the whole event.
EMSCRIPTEN_KEEPALIVE void dc_program_control(int32_t controlId) {
    program()->logic.dispatch(Event::control(controlId));
}

EMSCRIPTEN_KEEPALIVE void dc_program_record(int32_t down) {
    program()->logic.dispatch(Event::recordToggle(down != 0, nowMs()));
}

EMSCRIPTEN_KEEPALIVE void dc_program_play(int32_t down) {
    program()->logic.dispatch(Event::playToggle(down != 0));
}

EMSCRIPTEN_KEEPALIVE void dc_program_grid(int32_t ticked) {
    program()->logic.dispatch(Event::gridBox(ticked != 0));
}

EMSCRIPTEN_KEEPALIVE void dc_program_speed(int32_t tenths) {
    program()->logic.dispatch(Event::speedSlider(tenths));
}

EMSCRIPTEN_KEEPALIVE void dc_program_root(int32_t index) {
    program()->logic.dispatch(Event::rootNote(index));
}

// A channel message from the page's MIDI input (status, then its data bytes; 0 for a data
// byte the kind has not), at the frame the sample clock is on.
EMSCRIPTEN_KEEPALIVE void dc_program_midi(int32_t status, int32_t data1, int32_t data2) {
    const MidiMessage message{static_cast<uint8_t>(status), static_cast<uint8_t>(data1),
                              static_cast<uint8_t>(data2)};
    program()->logic.dispatch(Event::midiIn(message, nowMs()));
}

// The end of one delivery of MIDI input messages.
EMSCRIPTEN_KEEPALIVE void dc_program_midi_end() {
    program()->logic.dispatch(Event::midiInEnd());
}

// The page chose a MIDI output (open 1), which first gets the messages that set it up, or
// none (0).
EMSCRIPTEN_KEEPALIVE void dc_program_midi_out(int32_t open) {
    WorkletProgram& p = *program();
    p.view.setMidiOutOpen(open != 0);
    if (open != 0) {
        const std::vector<MidiMessage> opening = p.logic.midiOutOpening();
        p.view.sendMidi(opening, std::nullopt);
    }
}

// A menu item other than Open.
EMSCRIPTEN_KEEPALIVE void dc_program_menu(int32_t menuId) {
    program()->logic.dispatch(Event::menu(menuId));
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
EMSCRIPTEN_KEEPALIVE const int32_t* dc_program_ink() {
    static_assert(sizeof(InkPoint) == 2 * sizeof(int32_t));
    return reinterpret_cast<const int32_t*>(program()->logic.drawing().ink.data());
}
EMSCRIPTEN_KEEPALIVE int32_t dc_program_ink_count() {
    return static_cast<int32_t>(program()->logic.drawing().ink.size());
}
EMSCRIPTEN_KEEPALIVE double dc_program_play_speed() {
    return program()->logic.controls().settings.playSpeed;
}
EMSCRIPTEN_KEEPALIVE int32_t dc_program_voice_type() {
    return static_cast<int32_t>(program()->logic.controls().settings.voiceType);
}
EMSCRIPTEN_KEEPALIVE int32_t dc_program_scale_mode() {
    return static_cast<int32_t>(program()->logic.controls().settings.scaleMode);
}
EMSCRIPTEN_KEEPALIVE int32_t dc_program_root_index() {
    return program()->logic.controls().settings.rootIndex;
}
EMSCRIPTEN_KEEPALIVE int32_t dc_program_grid_checked() {
    return program()->logic.controls().gridChecked ? 1 : 0;
}

// Shows the ink kept from an earlier visit: `count` x, y pairs at `inkXY`.
EMSCRIPTEN_KEEPALIVE void dc_program_restore_ink(const int32_t* inkXY, int32_t count) {
    std::vector<InkPoint> ink(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < ink.size(); ++i) {
        ink[i] = {inkXY[2 * i], inkXY[2 * i + 1]};
    }
    program()->logic.restoreInk(std::move(ink));
}

// ---- Reading and exporting, in the page's worker ----

// Reads a recording file's bytes into lines; afterwards its parts are there to hand over.
// The number of lines, or -1 when they do not fit in memory.
EMSCRIPTEN_KEEPALIVE double dc_worker_parse(const char* bytes, int32_t byteCount) {
    WorkerResults& w = worker();
    w.parsed.reset();
    w.released.clear();
    try {
        Recording recording = splitRecordingLines({bytes, static_cast<std::size_t>(byteCount)});
        w.released.reserve(recording.size());
        for (std::size_t i = 0; i < recording.size(); ++i) {
            w.released.push_back(recording.event(i).released ? 1 : 0);
        }
        w.parsed = std::move(recording);
    } catch (const std::bad_alloc&) {
        w.released = {};
        return -1;
    } catch (const std::length_error&) {
        w.released = {};
        return -1;
    }
    return static_cast<double>(w.parsed->size());
}
EMSCRIPTEN_KEEPALIVE const char* dc_worker_parsed_text() {
    return worker().parsed->storedText().data();
}
EMSCRIPTEN_KEEPALIVE double dc_worker_parsed_text_bytes() {
    return static_cast<double>(worker().parsed->storedText().size());
}
EMSCRIPTEN_KEEPALIVE const RecordingPoint* dc_worker_parsed_points() {
    static_assert(sizeof(RecordingPoint) == 16);
    return worker().parsed->storedPoints().data();
}
EMSCRIPTEN_KEEPALIVE const uint8_t* dc_worker_parsed_released() {
    return worker().released.data();
}

// Makes an export (kind: FileKind's value) of the recording whose lines are `text`, with the
// settings the program had; reports its progress. Its size in bytes, or -1 when it cannot be
// made (settings out of range, a render that does not end, a file too large for its format).
EMSCRIPTEN_KEEPALIVE double dc_worker_export(int32_t kind, const char* text, int32_t textBytes,
                                             double playSpeed, int32_t voiceType, int32_t scaleMode,
                                             int32_t rootIndex) {
    WorkerResults& w = worker();
    w.exported = {};
    try {
        const Recording recording =
            splitRecordingLines({text, static_cast<std::size_t>(textBytes)});
        const RenderSettings settings{playSpeed, static_cast<VoiceType>(voiceType),
                                      static_cast<ScaleMode>(scaleMode), rootIndex};
        int64_t reportedSamples = 0;
        std::optional<std::vector<uint8_t>> bytes =
            exportBytes(static_cast<FileKind>(kind), recording, settings,
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
        w.exported = std::move(*bytes);
    } catch (const std::bad_alloc&) {
        return -1;
    } catch (const std::length_error&) {
        return -1;
    }
    return static_cast<double>(w.exported.size());
}
EMSCRIPTEN_KEEPALIVE const uint8_t* dc_worker_exported() {
    return worker().exported.data();
}

// ---- Links, on the page's main thread ----

// How many layouts dc_compact_recording has.
EMSCRIPTEN_KEEPALIVE int32_t dc_compact_layout_count() {
    return static_cast<int32_t>(kCompactLayoutCount);
}

// The compact form of a recording file in layout 0..dc_compact_layout_count()-1 (see
// recording/CompactRecording.h), through dc_link_bytes: its size, or -1 when the file is not
// exactly as the program writes it (or does not fit in memory).
EMSCRIPTEN_KEEPALIVE double dc_compact_recording(const uint8_t* bytes, double byteCount,
                                                 int32_t layout) {
    linkBytes() = {};
    try {
        std::optional<std::vector<uint8_t>> compact = compactRecording(
            {bytes, static_cast<std::size_t>(byteCount)}, static_cast<std::size_t>(layout));
        if (!compact) {
            return -1;
        }
        linkBytes() = std::move(*compact);
    } catch (const std::bad_alloc&) {
        return -1;
    } catch (const std::length_error&) {
        return -1;
    }
    return static_cast<double>(linkBytes().size());
}

// The recording file of compact bytes, through dc_link_bytes: its size; -1 when the bytes are
// damaged, -2 when the file would be larger than maxBytes (or does not fit in memory).
EMSCRIPTEN_KEEPALIVE double dc_expand_recording(const uint8_t* compact, double byteCount,
                                                double maxBytes) {
    constexpr double kDamaged = -1;
    constexpr double kTooLarge = -2;
    linkBytes() = {};
    try {
        ExpandedRecording expanded = expandCompactRecording(
            {compact, static_cast<std::size_t>(byteCount)}, static_cast<std::size_t>(maxBytes));
        if (expanded.problem != ExpandProblem::None) {
            return expanded.problem == ExpandProblem::TooLarge ? kTooLarge : kDamaged;
        }
        linkBytes() = std::move(expanded.savBytes);
    } catch (const std::bad_alloc&) {
        return kTooLarge;
    } catch (const std::length_error&) {
        return kTooLarge;
    }
    return static_cast<double>(linkBytes().size());
}

// A link's settings as one number (linkSettingsNumber); -1 for settings out of range.
EMSCRIPTEN_KEEPALIVE int32_t dc_link_settings_number(int32_t scaleMode, int32_t rootIndex,
                                                     int32_t voiceType, int32_t speedTenths,
                                                     int32_t grid) {
    return linkSettingsNumber({scaleMode, rootIndex, voiceType, speedTenths, grid != 0});
}

// The settings of a link's number as scale mode, root, voice type, speed in tenths and grid
// (0 or 1), until the next call; null for a number no settings give.
EMSCRIPTEN_KEEPALIVE const int32_t* dc_link_settings_of(double number) {
    static std::array<int32_t, 5> fields{};
    const std::optional<LinkSettings> settings = linkSettingsOf(static_cast<int64_t>(number));
    if (!settings) {
        return nullptr;
    }
    fields = {settings->scaleMode, settings->rootIndex, settings->voiceType, settings->speedTenths,
              settings->grid ? 1 : 0};
    return fields.data();
}

// What dc_compact_recording or dc_expand_recording made last, until the next call.
EMSCRIPTEN_KEEPALIVE const uint8_t* dc_link_bytes() {
    return linkBytes().data();
}

// ---- Tables and pictures, for the page ----

// The whole picture of the drawing area as the program paints it (white, the grid of a scale
// mode when withGrid, the ink: `count` x, y pairs at inkXY), as the view's flat steps; their
// number through dc_canvas_paint_size. The page shows a kept drawing with it before the
// program runs.
EMSCRIPTEN_KEEPALIVE const int32_t* dc_canvas_paint(int32_t withGrid, int32_t scaleMode,
                                                    const int32_t* inkXY, int32_t count) {
    std::vector<InkPoint> ink(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < ink.size(); ++i) {
        ink[i] = {inkXY[2 * i], inkXY[2 * i + 1]};
    }
    canvasSteps() =
        flattenPaint(wholeCanvas(withGrid != 0, static_cast<ScaleMode>(scaleMode), ink));
    return canvasSteps().data();
}
EMSCRIPTEN_KEEPALIVE int32_t dc_canvas_paint_size() {
    return static_cast<int32_t>(canvasSteps().size());
}

// The vowel axis of a voice type (VoiceType's value): the vowels the vowel map reaches exactly
// (the top row and each band's end row), as [{"y":..,"f1":..,"f2":..,"name":".."},...] from the
// top down: the page names them beside the drawing area.
EMSCRIPTEN_KEEPALIVE const char* dc_vowel_labels_json(int32_t voiceType) {
    static std::string json;
    json = "[";
    for (const VowelLabel& label : vowelLabels(static_cast<VoiceType>(voiceType))) {
        json += json.size() == 1 ? "" : ",";
        json += JsonObject()
                    .number("y", label.y)
                    .number("f1", label.f1Hz)
                    .number("f2", label.f2Hz)
                    .string("name", label.name)
                    .text();
    }
    json += ']';
    return json.c_str();
}

// What the page's scripts send and show, by name, as one JSON object: the controls' and menu
// items' ids, the pointer's actions and button bit, the speed slider's range, the captions of
// the toggles, the speed and the menus, the program's messages, the kinds of files, the note
// names, the drawing area's size and its paint steps' kinds, the hints' texts.
EMSCRIPTEN_KEEPALIVE const char* dc_tables_json() {
    static const std::string json = tablesJson();
    return json.c_str();
}

} // extern "C"
