#pragma once

#include <string>

namespace doodle {

// The Help window's text: fourteen pieces, each beginning with a line break ("\n"); a piece
// that also ends with one leaves an empty line before the next paragraph, so the text begins
// with an empty line. The desktop window and the web page show the same text.
std::string programHelpText();

} // namespace doodle
