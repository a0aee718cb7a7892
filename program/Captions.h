#pragma once

#include "mapping/PitchMap.h"
#include "program/Event.h"
#include "recording/AsciiCase.h"

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace doodle {

// The menu bar: each menu's title and its items, in order, with the ids their events carry.
struct MenuItemCaption {
    int32_t id = 0;
    std::string_view caption{};
    std::string_view name{}; // the item's object name, for tests and screen readers
    bool checkable = false;
};
struct MenuCaption {
    std::string_view title{};
    std::span<const MenuItemCaption> items{};
};
inline constexpr std::array kFileMenuItems{
    MenuItemCaption{kMenuOpen, "Open", "menuOpen"},
    MenuItemCaption{kMenuSave, "Save", "menuSave"},
    MenuItemCaption{kMenuExportWav, "Export as WAV\u2026", "menuExportWav"},
    MenuItemCaption{kMenuExportMidi, "Export as MIDI\u2026", "menuExportMidi"},
};
inline constexpr std::array kVoiceMenuItems{
    MenuItemCaption{kMenuType1, "Type 1", "menuType1", true},
    MenuItemCaption{kMenuType2, "Type 2", "menuType2", true},
};
// Voice > Tuning: the tunings' captions in Tuning's order, and the items that choose them, checked
// as the program marks them (ProgramView::markTuning).
inline constexpr std::string_view kTuningMenuTitle = "Tuning";
inline constexpr std::array<std::string_view, 2> kTuningNames{"Classic", "Concert"};
inline constexpr std::array kTuningMenuItems{
    MenuItemCaption{kMenuTuningClassic, kTuningNames[0], "menuTuningClassic", true},
    MenuItemCaption{kMenuTuningConcert, kTuningNames[1], "menuTuningConcert", true},
};
inline constexpr std::array kHelpMenuItems{
    MenuItemCaption{kMenuAbout, "About", "menuAbout"},
    MenuItemCaption{kMenuHelp, "Help", "menuHelp"},
};
// Edit, on the desktop between File and Voice (the page has no Undo: it keeps the drawing).
inline constexpr std::array kEditMenuItems{
    MenuItemCaption{kMenuUndo, "Undo", "menuUndo"},
};
inline constexpr MenuCaption kEditMenu{"Edit", kEditMenuItems};
inline constexpr std::array kMenus{
    MenuCaption{"File", kFileMenuItems},
    MenuCaption{"Voice", kVoiceMenuItems},
    MenuCaption{"?", kHelpMenuItems},
};

// MIDI > Input Channel on the desktop: the channel MIDI input listens to, one item a choice,
// checked as the program marks it (ProgramView::markMidiInChannel). Item k is channel k, item
// 0 kMidiAllChannels.
inline constexpr std::string_view kMidiMenuTitle = "MIDI";
inline constexpr std::string_view kMidiInChannelMenuTitle = "Input Channel";
inline constexpr std::array kMidiInChannelItems{
    MenuItemCaption{menuIdOfMidiInChannel(kMidiAllChannels), "All except 10 (drums)",
                    "menuMidiInAll", true},
    MenuItemCaption{menuIdOfMidiInChannel(1), "Channel 1", "menuMidiIn1", true},
    MenuItemCaption{menuIdOfMidiInChannel(2), "Channel 2", "menuMidiIn2", true},
    MenuItemCaption{menuIdOfMidiInChannel(3), "Channel 3", "menuMidiIn3", true},
    MenuItemCaption{menuIdOfMidiInChannel(4), "Channel 4", "menuMidiIn4", true},
    MenuItemCaption{menuIdOfMidiInChannel(5), "Channel 5", "menuMidiIn5", true},
    MenuItemCaption{menuIdOfMidiInChannel(6), "Channel 6", "menuMidiIn6", true},
    MenuItemCaption{menuIdOfMidiInChannel(7), "Channel 7", "menuMidiIn7", true},
    MenuItemCaption{menuIdOfMidiInChannel(8), "Channel 8", "menuMidiIn8", true},
    MenuItemCaption{menuIdOfMidiInChannel(9), "Channel 9", "menuMidiIn9", true},
    MenuItemCaption{menuIdOfMidiInChannel(10), "Channel 10", "menuMidiIn10", true},
    MenuItemCaption{menuIdOfMidiInChannel(11), "Channel 11", "menuMidiIn11", true},
    MenuItemCaption{menuIdOfMidiInChannel(12), "Channel 12", "menuMidiIn12", true},
    MenuItemCaption{menuIdOfMidiInChannel(13), "Channel 13", "menuMidiIn13", true},
    MenuItemCaption{menuIdOfMidiInChannel(14), "Channel 14", "menuMidiIn14", true},
    MenuItemCaption{menuIdOfMidiInChannel(15), "Channel 15", "menuMidiIn15", true},
    MenuItemCaption{menuIdOfMidiInChannel(16), "Channel 16", "menuMidiIn16", true},
};

// The program's messages.
inline constexpr std::string_view kInformerTitle = "Informer";
inline constexpr std::string_view kNotSavedText = "Your DoodleChorus file is not saved!";
inline constexpr std::string_view kNotOpenedText = "Your DoodleChorus file is not opened!";
// Asked before unsaved recording lines go (quit, Open, record); the answers are Save, Discard
// and Cancel.
inline constexpr std::string_view kSaveChangesTitle = "Save changes?";
inline constexpr std::string_view kSaveChangesText =
    "The recording has lines that are not saved. Save them before they go?";
inline constexpr std::string_view kAboutTitle = "About";
inline constexpr std::string_view kAboutText = "DoodleChorus v1.01 by the DoodleChorus developers\n"
                                               "Make your drawings truly sing!";

// The files the program stores and opens: the dialog's title, the name it proposes, and the
// extension its one-entry filter shows (and a chosen name gets when it lacks it).
enum class FileKind { Recording, Wav, Midi };
struct FileKindCaption {
    std::string_view dialogTitle{};
    std::string_view filterName{};
    std::string_view extension{};
};
inline constexpr std::string_view kOpenTitle = "Please choose file to open";
inline constexpr std::string_view kProposedFileName = "DoodleChorus";
inline constexpr FileKindCaption captionOf(FileKind kind) noexcept {
    switch (kind) {
    case FileKind::Wav:
        return {"Export as WAV", "WAV sound", ".wav"};
    case FileKind::Midi:
        return {"Export as MIDI", "MIDI file", ".mid"};
    case FileKind::Recording:
        break;
    }
    return {"Please choose file to save", "DoodleChorus", ".sav"};
}

// The scale options' captions, in ScaleMode's order (Unrestricted, Major, Minor, Pentatonic).
inline constexpr std::array<std::string_view, 4> kScaleNames{"Unrestricted", "Major", "Minor",
                                                             "Pentatonic"};

// A scale mode's word in a link's and a kept drawing's settings: its caption in lower case.
inline std::string scaleWord(ScaleMode mode) {
    std::string word(kScaleNames.at(static_cast<std::size_t>(mode)));
    for (char& c : word) {
        c = toLowerAscii(c);
    }
    return word;
}

// A tuning's word in a link's and a kept drawing's settings and the tool's option: its caption
// in lower case.
inline std::string tuningWord(Tuning tuning) {
    std::string word(kTuningNames.at(static_cast<std::size_t>(tuning)));
    for (char& c : word) {
        c = toLowerAscii(c);
    }
    return word;
}

// The texts beside and on the controls that every host shows alike: captions, and the names
// screen readers and tooltips give the controls without a caption of their own.
struct ControlLabels {
    std::string_view clear{};         // the clear button's caption
    std::string_view grid{};          // the Grid box's caption
    std::string_view scale{};         // the scale options' group title
    std::string_view currentNote{};   // the note label's name
    std::string_view playbackSpeed{}; // the speed slider's name
    std::string_view rootNote{};      // the root list's name
    std::string_view drawingArea{};   // the drawing area's name: what its two directions map
};
inline constexpr ControlLabels kControlLabels{
    "clear",
    "Grid",
    "Scale",
    "Current note",
    "Playback speed",
    "Root note",
    "Drawing area: left to right is pitch, top to bottom is vowel",
};

// A toggle's caption while up and while down: it says what the program is doing.
struct ToggleCaptions {
    std::string_view up;
    std::string_view down;
};
inline constexpr ToggleCaptions kRecordCaptions{"record", "recording"};
inline constexpr ToggleCaptions kPlayCaptions{"play", "playing"};

// The speed slider's value as shown and read out: one decimal and a times sign, "1.0×" to
// "5.0×" (UTF-8).
inline constexpr int kSpeedCaptionDecimals = 1;
inline constexpr std::string_view kSpeedCaptionSuffix = "\u00d7";

} // namespace doodle
