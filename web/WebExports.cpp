// The functions the page's scripts call, in two instances of this module: one inside the audio
// worklet runs the program (its logic, voice and play clock); one on the page's main thread
// does the file work of the exports.
#include "mapping/DrawingSurface.h"
#include "mapping/PitchMap.h"
#include "mapping/VowelMap.h"
#include "program/Captions.h"
#include "program/Event.h"
#include "program/ProgramLogic.h"
#include "recording/MidiExport.h"
#include "recording/OfflineRender.h"
#include "recording/PlaySpeed.h"
#include "recording/Recording.h"
#include "recording/RecordingFile.h"
#include "voice/Synth.h"
#include "web/SampleTicks.h"
#include "web/WavFile.h"
#include "web/WebView.h"

#include <array>
#include <cstdio>
#include <emscripten/emscripten.h>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace doodle {
namespace {

// Largest recording file the page opens: its lines cost up to about 20 bytes of the worklet's
// memory per byte of file (an empty line is one byte of file, 18 bytes of recording and ink),
// and the module's memory may grow to 2 GiB.
constexpr double kMaxOpenFileBytes = 16.0 * 1024 * 1024;

// The program as the audio worklet runs it.
struct WorkletProgram {
    SampleTicks ticks{};
    WebView view{ticks};
    ProgramLogic logic{view};
    VoiceRenderer renderer{logic.voice(), VoiceOutput::Live};
};

std::unique_ptr<WorkletProgram>& program() {
    static std::unique_ptr<WorkletProgram> instance;
    return instance;
}

// The ink of the recording file dc_recording_ink read last, as x, y pairs.
std::vector<int32_t>& recordingInk() {
    static std::vector<int32_t> inkXY;
    return inkXY;
}

std::optional<int32_t> nowMs() {
    return program()->ticks.nowMs();
}

// The settings of an export, as the worklet's program reported them; values out of range are
// refused by the render (validRenderSettings).
RenderSettings settingsOf(double playSpeed, int32_t voiceType, int32_t scaleMode,
                          int32_t rootIndex) {
    return {playSpeed, static_cast<VoiceType>(voiceType), static_cast<ScaleMode>(scaleMode),
            rootIndex};
}

// The bytes written to `outPath`, or false.
bool writeBytes(const char* outPath, const std::vector<uint8_t>& bytes) {
    std::FILE* file = std::fopen(outPath, "wb");
    if (file == nullptr) {
        return false;
    }
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

// Export results the page tells apart.
constexpr int32_t kExportDone = 0;
constexpr int32_t kExportUnreadable = 1; // the recording copy could not be read
constexpr int32_t kExportNotMade = 2;    // invalid settings, endless, or too long for the file
constexpr int32_t kExportNotWritten = 3;

// Reads the recording file at savPath, makes the export's bytes from it and writes them.
template <typename MakeBytes>
int32_t exportFile(const char* savPath, const char* outPath, const RenderSettings& settings,
                   const MakeBytes& makeBytes) {
    const std::optional<Recording> recording = openRecordingFile(savPath);
    if (!recording) {
        return kExportUnreadable;
    }
    const std::optional<RenderPlan> plan = planRender(*recording, settings.playSpeed);
    if (!plan) {
        return kExportNotMade;
    }
    const std::optional<std::vector<uint8_t>> bytes = makeBytes(*recording, settings, *plan);
    if (!bytes) {
        return kExportNotMade;
    }
    return writeBytes(outPath, *bytes) ? kExportDone : kExportNotWritten;
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

// A menu item; Open and Save take the file answer prepared before (nullptr: cancelled).
EMSCRIPTEN_KEEPALIVE void dc_program_menu(int32_t menuId, const char* filePath) {
    WorkletProgram& p = *program();
    p.view.prepareFileAnswer(filePath != nullptr ? std::optional<std::string>(filePath)
                                                 : std::nullopt);
    p.logic.dispatch(Event::menu(menuId));
    p.view.prepareFileAnswer(std::nullopt);
}

// Writes the current recording to `path` as Save does; false when it is empty or not written.
EMSCRIPTEN_KEEPALIVE int32_t dc_program_copy_recording(const char* path) {
    return saveRecordingFile(path, program()->logic.recording()) ? 1 : 0;
}

// The ink list as x, y pairs (int32), dc_program_ink_count of them: what a host keeps of the
// drawing between visits. Valid until the next event.
EMSCRIPTEN_KEEPALIVE const int32_t* dc_program_ink() {
    static_assert(sizeof(InkPoint) == 2 * sizeof(int32_t));
    return reinterpret_cast<const int32_t*>(program()->logic.drawing().ink.data());
}
EMSCRIPTEN_KEEPALIVE int32_t dc_program_ink_count() {
    return static_cast<int32_t>(program()->logic.drawing().ink.size());
}

// Shows the ink kept from an earlier visit: `count` x, y pairs at `inkXY`.
EMSCRIPTEN_KEEPALIVE void dc_program_restore_ink(const int32_t* inkXY, int32_t count) {
    std::vector<InkPoint> ink(static_cast<std::size_t>(count));
    for (std::size_t i = 0; i < ink.size(); ++i) {
        ink[i] = {inkXY[2 * i], inkXY[2 * i + 1]};
    }
    program()->logic.restoreInk(std::move(ink));
}

// The controls an export plays with.
EMSCRIPTEN_KEEPALIVE double dc_program_play_speed() {
    return program()->logic.controls().playSpeed;
}
EMSCRIPTEN_KEEPALIVE int32_t dc_program_voice_type() {
    return static_cast<int32_t>(program()->logic.controls().voiceType);
}
EMSCRIPTEN_KEEPALIVE int32_t dc_program_scale_mode() {
    return static_cast<int32_t>(program()->logic.controls().scaleMode);
}
EMSCRIPTEN_KEEPALIVE int32_t dc_program_root_index() {
    return program()->logic.controls().rootIndex;
}
EMSCRIPTEN_KEEPALIVE int32_t dc_program_grid_checked() {
    return program()->logic.controls().gridChecked ? 1 : 0;
}

// ---- File work and tables, on the page's main thread ----

// What the page's scripts send and show, by name, as one JSON object: the controls' and menu
// items' ids, the pointer's actions and button bit, the speed slider's range in tenths, and the
// captions of the toggles and the speed.
EMSCRIPTEN_KEEPALIVE const char* dc_ids_json() {
    static const std::string json = [] {
        const std::pair<const char*, int32_t> ids[] = {
            {"clearButton", kClearButton},
            {"unrestrictedOption", kUnrestrictedOption},
            {"majorOption", kMajorOption},
            {"minorOption", kMinorOption},
            {"pentatonicOption", kPentatonicOption},
            {"menuOpen", kMenuOpen},
            {"menuSave", kMenuSave},
            {"menuType1", kMenuType1},
            {"menuType2", kMenuType2},
            {"menuAbout", kMenuAbout},
            {"menuHelp", kMenuHelp},
            {"leftPress", static_cast<int32_t>(PointerAction::LeftPress)},
            {"move", static_cast<int32_t>(PointerAction::Move)},
            {"leftRelease", static_cast<int32_t>(PointerAction::LeftRelease)},
            {"leftButtonBit", kLeftButtonBit},
            {"minSpeedTenths", kMinPlaySpeedTenths},
            {"maxSpeedTenths", kMaxPlaySpeedTenths},
            {"tenthsPerSpeed", static_cast<int32_t>(kTenthsPerPlaySpeed)},
            {"inkDotRadiusPx", kInkDotRadiusPx},
        };
        // The captions hold no quote, backslash or control character: written as they are.
        const std::pair<const char*, std::string_view> captions[] = {
            {"recordUp", kRecordCaptions.up},     {"recordDown", kRecordCaptions.down},
            {"playUp", kPlayCaptions.up},         {"playDown", kPlayCaptions.down},
            {"speedSuffix", kSpeedCaptionSuffix},
        };
        std::ostringstream text;
        for (const auto& [name, value] : ids) {
            text << (text.tellp() == 0 ? "{" : ",") << '"' << name << "\":" << value;
        }
        for (const auto& [name, value] : captions) {
            text << ",\"" << name << "\":\"" << value << '"';
        }
        text << ",\"speedDecimals\":" << kSpeedCaptionDecimals << '}';
        return text.str();
    }();
    return json.c_str();
}

EMSCRIPTEN_KEEPALIVE double dc_max_open_file_bytes() {
    return kMaxOpenFileBytes;
}

// The names of the root-note list, C to B.
EMSCRIPTEN_KEEPALIVE int32_t dc_note_name_count() {
    return static_cast<int32_t>(noteNames.size());
}
EMSCRIPTEN_KEEPALIVE const char* dc_note_name(int32_t index) {
    static const auto names = [] {
        std::array<std::string, noteNames.size()> all;
        for (std::size_t i = 0; i < noteNames.size(); ++i) {
            all[i] = std::string(noteNames[i]);
        }
        return all;
    }();
    return names.at(static_cast<std::size_t>(index)).c_str();
}

// The grid lines of a scale mode (ScaleMode's value) as {"lightX":[...],"darkX":[...]}: the
// page draws a kept drawing's grid before the program runs.
EMSCRIPTEN_KEEPALIVE const char* dc_grid_lines_json(int32_t scaleMode) {
    static std::string json;
    const GridLines lines = gridLinesFor(static_cast<ScaleMode>(scaleMode));
    std::ostringstream text;
    const auto list = [&](const char* name, const std::vector<int32_t>& xs) {
        text << '"' << name << "\":[";
        for (std::size_t i = 0; i < xs.size(); ++i) {
            text << (i == 0 ? "" : ",") << xs[i];
        }
        text << ']';
    };
    text << '{';
    list("lightX", lines.lightX);
    text << ',';
    list("darkX", lines.darkX);
    text << '}';
    json = text.str();
    return json.c_str();
}

// The vowels a voice type (VoiceType's value) sings where the vowel map reaches one exactly
// (the top row and each band's end row), as [{"y":..,"f1":..,"f2":..},...] from the top down:
// the page names them beside the drawing area.
EMSCRIPTEN_KEEPALIVE const char* dc_vowel_anchors_json(int32_t voiceType) {
    static std::string json;
    std::ostringstream text;
    text << '[';
    const char* separator = "";
    for (int32_t y = 0; y <= kMaxPointY; ++y) {
        VowelWorking working;
        const FormantSet formants = mapVowel(y, static_cast<VoiceType>(voiceType), working);
        if (working.vowelFrac != 0.0 && working.vowelFrac != 1.0) {
            continue; // between two vowels
        }
        text << separator << "{\"y\":" << y << ",\"f1\":" << formants.freqHz[0]
             << ",\"f2\":" << formants.freqHz[1] << '}';
        separator = ",";
    }
    text << ']';
    json = text.str();
    return json.c_str();
}

// Reads the recording file at savPath and returns the number of dots it shows when it is
// opened (one per line; 0 when it cannot be read); dc_recording_ink_data has them as x, y pairs
// (int32) until the next call.
EMSCRIPTEN_KEEPALIVE int32_t dc_recording_ink(const char* savPath) {
    std::vector<int32_t>& inkXY = recordingInk();
    inkXY.clear();
    if (const std::optional<Recording> recording = openRecordingFile(savPath)) {
        inkXY.reserve(2 * recording->size());
        for (std::size_t i = 0; i < recording->size(); ++i) {
            const GestureEvent event = recording->event(i);
            inkXY.push_back(event.x);
            inkXY.push_back(event.y);
        }
    }
    return static_cast<int32_t>(inkXY.size() / 2);
}
EMSCRIPTEN_KEEPALIVE const int32_t* dc_recording_ink_data() {
    return recordingInk().data();
}

// Renders the recording file at savPath as the render tool does and writes a 32-bit float WAV.
EMSCRIPTEN_KEEPALIVE int32_t dc_export_wav(const char* savPath, const char* outPath,
                                           double playSpeed, int32_t voiceType, int32_t scaleMode,
                                           int32_t rootIndex) {
    return exportFile(
        savPath, outPath, settingsOf(playSpeed, voiceType, scaleMode, rootIndex),
        [](const Recording& recording, const RenderSettings& settings, const RenderPlan& plan) {
            WavFileBuilder wav(static_cast<int32_t>(kRenderSampleRate));
            const RenderOutcome outcome =
                renderRecording(recording, settings, plan, [&](std::span<const float> samples) {
                    return wav.append(samples);
                });
            return outcome == RenderOutcome::Finished
                       ? std::optional<std::vector<uint8_t>>(wav.finish())
                       : std::nullopt;
        });
}

// The MIDI file of the recording file at savPath, as the render tool writes it.
EMSCRIPTEN_KEEPALIVE int32_t dc_export_midi(const char* savPath, const char* outPath,
                                            double playSpeed, int32_t voiceType, int32_t scaleMode,
                                            int32_t rootIndex) {
    return exportFile(savPath, outPath, settingsOf(playSpeed, voiceType, scaleMode, rootIndex),
                      midiFileOf);
}

} // extern "C"
