// A first-in first-out queue in one buffer used as a ring, for the layer's message and byte queues. Its
// buffer grows (doubling) only when the queue holds more than ever before and never shrinks, so a queue
// that has reached its working size allocates nothing more; std::deque, by contrast, allocates and frees
// a block every few hundred bytes of a steady stream.
#pragma once
#include <algorithm>
#include <cstddef>
#include <utility>
#include <vector>

template <typename T>
class Fifo {
 public:
  bool empty() const { return count_ == 0; }
  size_t size() const { return count_; }
  T& front() { return slots_[head_]; }
  // The i-th element from the front.
  T& operator[](size_t i) { return slots_[(head_ + i) % slots_.size()]; }

  void push_back(T value) {
    if (count_ == slots_.size()) reserve(std::max<size_t>(16, 2 * slots_.size()));
    slots_[(head_ + count_) % slots_.size()] = std::move(value);
    ++count_;
  }

  // The slot is overwritten with an empty value, so that what it owns is released now.
  void pop_front() {
    slots_[head_] = T();
    head_ = (head_ + 1) % slots_.size();
    --count_;
  }

  void clear() {
    while (!empty()) pop_front();
  }

  void reserve(size_t capacity) {
    if (capacity <= slots_.size()) return;
    std::vector<T> bigger(capacity);
    for (size_t i = 0; i < count_; ++i) bigger[i] = std::move((*this)[i]);
    slots_.swap(bigger);
    head_ = 0;
  }

 private:
  std::vector<T> slots_;
  size_t head_ = 0;
  size_t count_ = 0;
};

// Removes the elements for which pred holds, keeping the others in order; returns how many went.
template <typename T, typename Pred>
size_t erase_if(Fifo<T>& fifo, Pred pred) {
  const size_t count = fifo.size();
  size_t removed = 0;
  for (size_t i = 0; i < count; ++i) {
    T value = std::move(fifo.front());
    fifo.pop_front();
    if (pred(value))
      ++removed;
    else
      fifo.push_back(std::move(value));
  }
  return removed;
}
