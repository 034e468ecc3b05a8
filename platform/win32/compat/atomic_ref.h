// std::atomic_ref for C++ libraries that lack it (the browser build's libc++ 14): the operations that the
// program and the stand-in use, with the compiler's atomic built-ins, sequentially consistent like the
// standard's defaults. The browser build includes this file ahead of every source.
#pragma once
#include <atomic>

#ifndef __cpp_lib_atomic_ref
namespace std {

template <class T>
class atomic_ref {
 public:
  explicit atomic_ref(T& object) : object_(&object) {}
  T load(memory_order = memory_order_seq_cst) const { return __atomic_load_n(object_, __ATOMIC_SEQ_CST); }
  void store(T value, memory_order = memory_order_seq_cst) const {
    __atomic_store_n(object_, value, __ATOMIC_SEQ_CST);
  }
  T fetch_or(T bits, memory_order = memory_order_seq_cst) const {
    return __atomic_fetch_or(object_, bits, __ATOMIC_SEQ_CST);
  }
  T fetch_and(T bits, memory_order = memory_order_seq_cst) const {
    return __atomic_fetch_and(object_, bits, __ATOMIC_SEQ_CST);
  }

 private:
  T* object_;
};

}  // namespace std
#endif
