// A list of small records that grows in chunks, each twice the size of the
// one before: appending never moves or copies what is already stored, a
// list of n records takes about log2(n) allocations, and the chunk in use is
// at most half empty, so a document of millions of tags costs one write per
// record and little more memory than it fills.
#pragma once

#include <bit>
#include <cstddef>
#include <new>
#include <type_traits>

#include "base/memory.h"

namespace zv {

/// Owns its chunks (gate blocks, wiped on release).  Elements are plain
/// records; references to them stay valid until clear.
template <class T, unsigned kFirstShift = 4>
class ChunkList {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  /// Room in the first chunk; chunk c holds kFirst << c elements.
  static constexpr std::size_t kFirst = std::size_t{1} << kFirstShift;

  class const_iterator {
   public:
    using value_type = T;
    using difference_type = std::ptrdiff_t;
    const_iterator() = default;
    const_iterator(const ChunkList* list, std::size_t index) : list_(list), index_(index) {}
    const T& operator*() const { return (*list_)[index_]; }
    const T* operator->() const { return &(*list_)[index_]; }
    const_iterator& operator++() {
      ++index_;
      return *this;
    }
    const_iterator operator++(int) {
      const_iterator before = *this;
      ++index_;
      return before;
    }
    bool operator==(const const_iterator& other) const { return index_ == other.index_; }

   private:
    const ChunkList* list_ = nullptr;
    std::size_t index_ = 0;
  };

  /// The elements [first, first + count) of one list, for range-for.
  struct Range {
    const_iterator first;
    const_iterator last;
    std::size_t count;
    const_iterator begin() const { return first; }
    const_iterator end() const { return last; }
    std::size_t size() const { return count; }
    bool empty() const { return count == 0; }
  };

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }

  T& operator[](std::size_t index) noexcept {
    auto [chunk, offset] = locate(index);
    return chunks_[chunk][offset];
  }
  const T& operator[](std::size_t index) const noexcept {
    auto [chunk, offset] = locate(index);
    return chunks_[chunk][offset];
  }

  const_iterator begin() const { return {this, 0}; }
  const_iterator end() const { return {this, size_}; }
  Range range(std::size_t first, std::size_t count) const {
    return {{this, first}, {this, first + count}, count};
  }

  /// Makes room for one more element.  False when the gate refused a chunk
  /// (it has reported the shortage); the list is then unchanged.
  bool reserve_one() noexcept {
    if (size_ < capacity_) return true;
    try {
      if (chunks_.size() == chunks_.capacity()) chunks_.reserve(chunks_.size() * 2 + 4);
      Vec<T> chunk;
      chunk.reserve(kFirst << chunks_.size());
      chunks_.push_back(std::move(chunk));  // room reserved: cannot throw
      capacity_ = kFirst * ((std::size_t{1} << chunks_.size()) - 1);
    } catch (const std::bad_alloc&) {
      return false;
    }
    return true;
  }

  /// Appends `value` into the room made by reserve_one.
  void push_back(const T& value) noexcept {
    chunks_[locate(size_).chunk].push_back(value);  // within capacity
    ++size_;
  }

  /// Drops every element and gives every chunk back.
  void clear() noexcept {
    Vec<Vec<T>>().swap(chunks_);
    size_ = 0;
    capacity_ = 0;
  }

 private:
  struct Place {
    std::size_t chunk;
    std::size_t offset;
  };
  // Chunk c begins at index kFirst * (2^c - 1); shifted by kFirst, the
  // index's top bit names the chunk and the bits below it the offset.
  static Place locate(std::size_t index) noexcept {
    std::size_t shifted = index + kFirst;
    unsigned top = static_cast<unsigned>(std::bit_width(shifted)) - 1;
    return {top - kFirstShift, shifted - (std::size_t{1} << top)};
  }

  Vec<Vec<T>> chunks_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace zv
