// Whole-value access to record fields that the reader thread and the GUI thread share.
//
// The records keep their plain byte layout (they are also the .614 and .cnf
// files), so their fields are ordinary integers; every access that can race
// with another thread goes through these helpers, which make it one indivisible
// load or store. Ordering between different fields is not promised here; where
// it matters (the upload confirmation, the ring indices) the owner states it.
#pragma once

#include <atomic>

template <typename T> inline T sharedLoad(const T &field)
{
    return std::atomic_ref<T>(const_cast<T &>(field)).load(std::memory_order_relaxed);
}

template <typename T, typename V> inline void sharedStore(T &field, V value)
{
    std::atomic_ref<T>(field).store(static_cast<T>(value), std::memory_order_relaxed);
}
