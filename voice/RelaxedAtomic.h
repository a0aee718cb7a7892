#pragma once

#include <atomic>

namespace doodle {

// One field shared between the main thread and a real-time thread (audio callback, ticker).
// Each read and write is whole and never tears; no ordering between fields is promised or
// needed, so accesses are relaxed unless named otherwise. The static_assert keeps a lock out of the
// audio path.
template <typename T>
class RelaxedAtomic {
    static_assert(std::atomic<T>::is_always_lock_free,
                  "a shared field must never fall back to a lock");

public:
    constexpr RelaxedAtomic() noexcept = default;
    constexpr explicit RelaxedAtomic(T initial) noexcept : m_value(initial) {}
    RelaxedAtomic(const RelaxedAtomic&) = delete;
    RelaxedAtomic& operator=(const RelaxedAtomic&) = delete;

    T load() const noexcept { return m_value.load(std::memory_order_relaxed); }
    void store(T value) noexcept { m_value.store(value, std::memory_order_relaxed); }

private:
    std::atomic<T> m_value{};
};

} // namespace doodle
