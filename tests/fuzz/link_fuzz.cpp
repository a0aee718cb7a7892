// libFuzzer target: arbitrary bytes as the compact form a link carries, checking what must
// hold for anything pasted into a browser's address bar.
#include "recording/CompactRecording.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

namespace {

using namespace doodle;

// Small enough for the fuzzer to reach the limit often.
constexpr std::size_t kMaxSavBytes = std::size_t{1} << 16;

void check(bool holds, const char* what) {
    if (!holds) {
        std::fprintf(stderr, "invariant broken: %s\n", what);
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const ExpandedRecording expanded = expandCompactRecording({data, size}, kMaxSavBytes);
    if (expanded.problem != ExpandProblem::None) {
        check(expanded.savBytes.empty(), "a refusal gives no bytes");
        return 0;
    }
    check(expanded.savBytes.size() <= kMaxSavBytes, "a file within the limit");
    // What was taken is a file as the program writes it, and every layout gives it back.
    for (std::size_t layout = 0; layout < kCompactLayoutCount; ++layout) {
        const std::optional<std::vector<uint8_t>> compact =
            compactRecording(expanded.savBytes, layout);
        check(compact.has_value(), "a file taken has a compact form");
        check(expandCompactRecording(*compact, kMaxSavBytes).savBytes == expanded.savBytes,
              "every layout gives the file back");
    }
    return 0;
}
