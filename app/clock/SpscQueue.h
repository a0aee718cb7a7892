#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>

namespace doodle {

// A fixed-capacity queue from one producer thread to one consumer thread: no lock, no
// allocation after construction, so an audio callback may push into it. Each index is written
// by one side only; the release store of an index publishes the slots it passed.
template <class T, std::size_t kCapacity>
class SpscQueue {
    static_assert(std::is_trivially_copyable_v<T>);
    static_assert(kCapacity > 0 && (kCapacity & (kCapacity - 1)) == 0, "a power of two");

public:
    // Producer: false, with nothing stored, when the queue is full.
    bool push(const T& item) noexcept {
        const uint64_t tail = m_tail.load(std::memory_order_relaxed);
        if (tail - m_head.load(std::memory_order_acquire) == kCapacity) {
            return false;
        }
        m_slots[tail % kCapacity] = item;
        m_tail.store(tail + 1, std::memory_order_release);
        return true;
    }

    // Consumer: the oldest item, or nothing when the queue is empty.
    std::optional<T> pop() noexcept {
        const uint64_t head = m_head.load(std::memory_order_relaxed);
        if (head == m_tail.load(std::memory_order_acquire)) {
            return std::nullopt;
        }
        const T item = m_slots[head % kCapacity];
        m_head.store(head + 1, std::memory_order_release);
        return item;
    }

private:
    std::array<T, kCapacity> m_slots{};
    // Items pushed and popped so far; 64 bits do not wrap in any program's lifetime. Apart, so
    // that the two threads do not share a cache line.
    alignas(64) std::atomic<uint64_t> m_tail{0};
    alignas(64) std::atomic<uint64_t> m_head{0};
};

} // namespace doodle
