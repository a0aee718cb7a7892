#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace doodle {

// The latest value one thread sets, for another thread that takes it whenever it looks: a value
// set twice before a look is taken once, as the second. Neither side waits; a reader that finds
// the value being written keeps what it had and looks again later. The value is copied through
// atomic words, so that a torn copy is never used, and no data race is left for a sanitizer.
template <class T>
class LatestValue {
    static_assert(std::is_trivially_copyable_v<T> && std::is_default_constructible_v<T>);
    static constexpr std::size_t kWords = (sizeof(T) + sizeof(uint64_t) - 1) / sizeof(uint64_t);

public:
    // Writer.
    void set(const T& value) noexcept {
        std::array<uint64_t, kWords> words{};
        std::memcpy(words.data(), &value, sizeof(T));
        // Each word is stored with release and loaded with acquire: a reader that takes a new
        // word also sees the odd number stored before it, and so drops its copy.
        const uint64_t sequence = m_sequence.load(std::memory_order_relaxed);
        m_sequence.store(sequence + 1, std::memory_order_relaxed);
        for (std::size_t i = 0; i < kWords; ++i) {
            m_words[i].store(words[i], std::memory_order_release);
        }
        m_sequence.store(sequence + 2, std::memory_order_release);
    }

    // Reader: copies a value set since the last take into `value` and returns true; false,
    // leaving `value` alone, when nothing new is whole yet.
    bool take(T& value) noexcept {
        const uint64_t sequence = m_sequence.load(std::memory_order_acquire);
        if (sequence == m_takenSequence || sequence % 2 != 0) {
            return false;
        }
        std::array<uint64_t, kWords> words{};
        for (std::size_t i = 0; i < kWords; ++i) {
            words[i] = m_words[i].load(std::memory_order_acquire);
        }
        if (m_sequence.load(std::memory_order_relaxed) != sequence) {
            return false;
        }
        std::memcpy(static_cast<void*>(&value), words.data(), sizeof(T)); // trivially copyable
        m_takenSequence = sequence;
        return true;
    }

private:
    std::atomic<uint64_t> m_sequence{0}; // odd while a value is written
    std::array<std::atomic<uint64_t>, kWords> m_words{};
    uint64_t m_takenSequence = 0; // the reader's only
};

} // namespace doodle
