#pragma once

#include "recording/OfflineRender.h"

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace doodle {

// A link to the web page (pageUrl, up to any "#") that opens a recording with its settings, as
// the page's File > Copy link makes them:
//   PAGE#dc=2&r=R&s=S  R: the recording's compact form (CompactRecording.h) in the layout that
//                      deflates shortest, raw deflate at the best level, base64url; S: the
//                      settings as one decimal number (CompactRecording.h's
//                      linkSettingsNumber).
// A recording not exactly as the program writes it goes in the older, longer form:
//   PAGE#dc=1&rec=R&scale=NAME&root=N&voice=N&speed=TENTHS&grid=0|1&tuning=NAME  R: the file in
//                      the zlib format (deflate with its Adler-32 check), base64url; a link
//                      without tuning is Classic.
// Settings beyond the controls' ranges are the caller's to refuse; the speed goes to the
// nearest tenth, the slider's step.
std::string recordingLink(std::string_view pageUrl, std::span<const uint8_t> savBytes,
                          const RenderSettings& settings, bool grid);

} // namespace doodle
