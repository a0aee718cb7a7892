#include "program/HelpText.h"

#include <array>

namespace doodle {
namespace {

// A piece marked kRunsOn continues its paragraph: the next piece follows it after a space, so
// that a box that wraps its lines wraps the paragraph as one. A paragraph begins with a line
// break and ends with one, which leaves an empty line before the next.
struct HelpPiece {
    const char* text;
    bool paragraphEnd;
};
constexpr bool kParagraphEnd = true;
constexpr bool kRunsOn = false;

constexpr std::array<HelpPiece, 24> kHelpPieces{{
    {"*Left click in the rectangular window area of the application and drag to draw an image.",
     kParagraphEnd},
    {"*As you draw, a synthesized voice will sound following the drawing movement. Vowel "
     "sounds change along the Y axis",
     kRunsOn},
    {"sound and the pitch along the X axis. Releasing and pressing left mouse button stops and "
     "starts sound respectively.",
     kParagraphEnd},
    {"*Choose 'Major', 'Minor' or 'Pentatonic' for the pitch change to follow a scale, and "
     "choose the Note of the scale.",
     kParagraphEnd},
    {"*'Voice>Tuning' chooses what the notes of the scales sound at. 'Classic' (the default) "
     "is the program's own tuning, in which every scale sounds a major third below its name "
     "(its C sounds as a concert A-flat). 'Concert' tunes A4 to 440 Hz, so that the notes sound "
     "as they are named, and a melody in C major played in over MIDI keeps all of its notes on "
     "the strips of Major on C. 'Unrestricted' has no notes and sounds the same under both.",
     kParagraphEnd},
    {"*Press 'clear' button to wipe the image from the drawing area.", kParagraphEnd},
    {"*To record your drawing movement, press 'Record' button, perform drawing and press the "
     "button again to finish.",
     kParagraphEnd},
    {"*Play back your recording by pressing 'Play' button. Use slider to adjust speed of "
     "playback.",
     kParagraphEnd},
    {"*If you have chosen 'Major', 'Minor' or 'Pentatonic' settings, you can tick the Grid "
     "checkbox during drawing/recording.",
     kRunsOn},
    {"The Grid shows position of notes of the scale in the drawing space, to aid your "
     "composition.",
     kParagraphEnd},
    {"*To save your recording, choose 'File>Save'. To load a recording, choose 'File>Open'.",
     kParagraphEnd},
    {"*The application synthesizes the voice sound by feeding a sawtooth wave into a set of "
     "three parallel narrow band-pass",
     kRunsOn},
    {"filters, each tuned to a resonant frequency (formant), and combining the outputs. Choosing "
     "'Voice>Type1' or",
     kRunsOn},
    {"'Voice>Type2' option from the menu simply alters the bandwidth and frequency tunings of "
     "each of the filters, which",
     kRunsOn},
    {"results in the vowel sweeps sounding a little different.", kParagraphEnd},
    {"*MIDI: a keyboard plays the voice. Note on starts it at the note's pitch, note off stops "
     "it; of several held notes the newest",
     kRunsOn},
    {"sounds. The sustain pedal (CC 64) holds the voice after the keys are let go, until it is "
     "let up. Pitch bend follows the range RPN 0 sets, CC 74 or CC 1 sets the vowel, CC 7 the "
     "volume, and CC 120 or 123 silences it.",
     kRunsOn},
    {"Velocity does nothing. 'MIDI>Input Channel' chooses the channel played from: all channels "
     "but 10, the drums' (the default), or one of 1 to 16. The drawing and its playback go out "
     "as 'File>Export as MIDI' writes them, with the volume as CC 7.",
     kParagraphEnd},
    {"*'File>Export as WAV' sings the recording into a WAV sound file, and 'File>Export as "
     "MIDI' writes its notes into a MIDI file, with the current scale, root, tuning, voice type "
     "and speed.",
     kRunsOn},
    {"A progress dialog shows how far the export has come, and Cancel stops it. When the sound "
     "would pass full scale, you are offered to normalize it: its peak is then at -1 dBFS.",
     kParagraphEnd},
    {"*In the desktop program, Save and the exports ask before replacing a file, and Quit, Open "
     "and 'record' ask 'Save changes?' while the recording holds lines that are not saved; the "
     "window's title marks them.",
     kRunsOn},
    {"'Edit>Undo' brings back the recording and the drawing as they were before the last "
     "'clear', 'record' or Open.",
     kParagraphEnd},
    {"*In the desktop program, 'File>Open Recent' lists the last ten files. A file dropped on the "
     "window opens, and "
     "'doodlechorus FILE' opens FILE at start: a .sav recording or a .mid MIDI file.",
     kParagraphEnd},
    {"*The desktop program's keys: Ctrl+O Open, Ctrl+S Save, Ctrl+Z Undo, Ctrl+Q Quit. F10 opens "
     "the menu bar; Alt+F, "
     "Alt+E, Alt+V and Alt+M open the File, Edit, Voice and MIDI menus, and from the menu bar "
     "the arrow keys "
     "reach the '?' menu. The window can be resized or maximized: the drawing area grows with "
     "it.",
     kParagraphEnd},
}};

} // namespace

std::string programHelpText() {
    const char lineBreak = '\n';
    const char wordSpace = ' ';
    std::string text;
    bool paragraphStart = true;
    for (const HelpPiece& piece : kHelpPieces) {
        text += paragraphStart ? lineBreak : wordSpace;
        text += piece.text;
        if (piece.paragraphEnd) {
            text += lineBreak;
        }
        paragraphStart = piece.paragraphEnd;
    }
    return text;
}

} // namespace doodle
