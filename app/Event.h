#pragma once

#include "mapping/Pointer.h"

#include <cstdint>

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
};

enum class EventKind { Control, Menu, Close, Ticker };

// One user action or ticker tick, as the dispatch sees it.
struct Event {
    EventKind kind = EventKind::Control;
    int32_t id = 0;                              // control id or menu item id
    PointerAction pointer = PointerAction::None; // drawing area only
    int32_t x = 0;       // pixels in the drawing area; may lie outside it while dragging
    int32_t y = 0;       // pixels, Y grows downwards
    int32_t buttons = 0; // held buttons, k*ButtonBit

    static Event control(int32_t controlId) { return {EventKind::Control, controlId}; }
    static Event menu(int32_t menuId) { return {EventKind::Menu, menuId}; }
    static Event close() { return {EventKind::Close}; }
    static Event tick() { return {EventKind::Ticker}; }
    static Event pointerEvent(PointerAction action, int32_t x, int32_t y, int32_t buttons) {
        return {EventKind::Control, kDrawingArea, action, x, y, buttons};
    }
};

} // namespace doodle
