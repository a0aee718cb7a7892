#pragma once

#include "mapping/Pointer.h"
#include "recording/MidiFormat.h"
#include "recording/PlaySpeed.h"

#include <cstdint>
#include <optional>

namespace doodle {

// Control ids of the main window; the values are the ids events carry (none is 102).
enum ControlId : int32_t {
    kRecordToggle = 97,
    kPlayToggle = 98,
    kDrawingArea = 99,
    kSpeedSlider = 100,
    kUnrestrictedOption = 101,
    kMajorOption = 103,
    kMinorOption = 104,
    kScaleFrame = 105,
    kRootNoteCombo = 106,
    kPentatonicOption = 107,
    kClearButton = 108,
    kNoteLabel = 109,
    kGridCheckBox = 110,
};

// Menu item ids.
enum MenuId : int32_t {
    kMenuOpen = 1,
    kMenuSave = 2,
    kMenuType1 = 3,
    kMenuType2 = 4,
    kMenuAbout = 5,
    kMenuHelp = 6,
    kMenuExportWav = 7,
    kMenuExportMidi = 8,
    kMenuUndo = 9,
    // MIDI > Input Channel: this id plus the channel chosen, kMidiAllChannels (0) or 1..16.
    kMenuMidiInChannelBase = 10,
    // Voice > Tuning, after the channels' ids 10..26.
    kMenuTuningClassic = 27,
    kMenuTuningConcert = 28,
};

// The menu item that chooses a MIDI input channel (kMidiAllChannels or 1..16), and back.
constexpr int32_t menuIdOfMidiInChannel(int32_t channel) noexcept {
    return kMenuMidiInChannelBase + channel;
}
constexpr std::optional<int32_t> midiInChannelOfMenuId(int32_t id) noexcept {
    const int32_t channel = id - kMenuMidiInChannelBase;
    if (channel < kMidiAllChannels || channel > kMidiChannels) {
        return std::nullopt;
    }
    return channel;
}

// MidiIn: one channel message from a MIDI input (a keyboard, a sequencer), of any channel.
// MidiInEnd: the messages of one delivery (an audio period, a browser's message) are all in.
enum class EventKind { Control, Menu, Close, Ticker, MidiIn, MidiInEnd };

// One user action or ticker tick, with every value the program needs from it: the program
// never reads a control back. An option button's and a menu item's id is itself the choice.
struct Event {
    EventKind kind = EventKind::Control;
    int32_t id = 0;                              // control id or menu item id
    PointerAction pointer = PointerAction::None; // drawing area only
    int32_t x = 0;        // pixels in the drawing area; may lie outside it while dragging
    int32_t y = 0;        // pixels, Y grows downwards
    int32_t buttons = 0;  // held buttons, k*ButtonBit
    bool checked = false; // record and play toggles: down after the click; Grid: ticked
    int32_t speedTenths = kMinPlaySpeedTenths; // speed slider, 10..50
    int32_t rootIndex = 0;                     // root list, 0..11 into noteNames
    int32_t tickCount = 0;                     // ticker: ticks since playback started, from 1
    MidiMessage midi{};                        // MIDI input
    // Drawing-area, record-toggle and MIDI input events: a monotonic clock in ms when the event
    // arrived, cut to 32 bits (it may wrap); empty when the clock could not be read.
    std::optional<int32_t> nowMs{};

    // A control whose id says it all: the clear button and the four option buttons.
    static Event control(int32_t controlId) { return {EventKind::Control, controlId}; }
    static Event recordToggle(bool down, std::optional<int32_t> nowMs) {
        Event event = control(kRecordToggle);
        event.checked = down;
        event.nowMs = nowMs;
        return event;
    }
    static Event playToggle(bool down) {
        Event event = control(kPlayToggle);
        event.checked = down;
        return event;
    }
    static Event gridBox(bool ticked) {
        Event event = control(kGridCheckBox);
        event.checked = ticked;
        return event;
    }
    static Event speedSlider(int32_t tenths) {
        Event event = control(kSpeedSlider);
        event.speedTenths = tenths;
        return event;
    }
    static Event rootNote(int32_t index) {
        Event event = control(kRootNoteCombo);
        event.rootIndex = index;
        return event;
    }
    static Event pointerEvent(PointerAction action, int32_t x, int32_t y, int32_t buttons,
                              std::optional<int32_t> nowMs) {
        Event event = control(kDrawingArea);
        event.pointer = action;
        event.x = x;
        event.y = y;
        event.buttons = buttons;
        event.nowMs = nowMs;
        return event;
    }
    static Event midiIn(const MidiMessage& message, std::optional<int32_t> nowMs) {
        Event event{EventKind::MidiIn};
        event.midi = message;
        event.nowMs = nowMs;
        return event;
    }
    static Event midiInEnd() { return {EventKind::MidiInEnd}; }
    static Event menu(int32_t menuId) { return {EventKind::Menu, menuId}; }
    static Event close() { return {EventKind::Close}; }
    static Event tick(int32_t ticks) {
        Event event{EventKind::Ticker};
        event.tickCount = ticks;
        return event;
    }
};

} // namespace doodle
