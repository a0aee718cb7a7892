#pragma once

#include <string>

namespace doodle {

// The program's audio output as start-up and shutdown see it. The real one is a PortAudio
// stream; tests substitute a silent one.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // Initialises the audio library and opens the stream without starting it. Returns 0, or
    // the library's error code.
    virtual int open() = 0;
    // The library's own text for an error code from open(), exactly as it gives it.
    virtual std::string errorText(int code) const = 0;
    // Starts the stream; returns 0 or the library's error code.
    virtual int start() = 0;
    // Terminates the audio library, which stops and closes a running stream.
    virtual void terminate() = 0;
};

} // namespace doodle
