#pragma once

#include <string>

namespace doodle {

// The Help window's text: paragraphs of one line each, for the box to wrap, separated by an empty
// line; the text begins with an empty line. The desktop window and the web page show the same
// text.
std::string programHelpText();

} // namespace doodle
