#include "program/HelpText.h"

#include <array>

namespace doodle {
namespace {

// Each piece begins with a line break; the ones marked kParagraphEnd also end with one.
struct HelpPiece {
    const char* text;
    bool paragraphEnd;
};
constexpr bool kParagraphEnd = true;
constexpr bool kRunsOn = false;

constexpr std::array<HelpPiece, 17> kHelpPieces{{
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
    {"sounds. Pitch bend follows the range RPN 0 sets, CC 74 or CC 1 sets the vowel, CC 7 the "
     "volume, and CC 120 or 123 silences it.",
     kRunsOn},
    {"Velocity does nothing. The drawing and its playback go out as 'File>Export as MIDI' "
     "writes them.",
     kParagraphEnd},
}};

} // namespace

std::string programHelpText() {
    const char lineBreak = '\n';
    std::string text;
    for (const HelpPiece& piece : kHelpPieces) {
        text += lineBreak;
        text += piece.text;
        if (piece.paragraphEnd) {
            text += lineBreak;
        }
    }
    return text;
}

} // namespace doodle
