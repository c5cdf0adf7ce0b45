#pragma once

#include <cstddef>
#include <memory>

#include "sources/capture_source.h"

namespace sources {

// The capture sources of the run, singly linked in the order they were built. The list
// owns its sources; it does not change after start-up.
//
// Threading: built on the window thread; afterwards walked from any thread.
class SourceList {
 public:
  SourceList() = default;
  SourceList(SourceList&&) = default;
  SourceList& operator=(SourceList&&) = default;
  ~SourceList();

  // Appends `source` (ignored when null) at the end.
  void append(std::unique_ptr<CaptureSource> source);

  CaptureSource* head() const { return head_.get(); }
  size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }

  class Iterator {
   public:
    explicit Iterator(CaptureSource* at) : at_(at) {}
    CaptureSource& operator*() const { return *at_; }
    CaptureSource* operator->() const { return at_; }
    Iterator& operator++() {
      at_ = at_->next();
      return *this;
    }
    bool operator==(const Iterator& other) const { return at_ == other.at_; }

   private:
    CaptureSource* at_;
  };
  Iterator begin() const { return Iterator(head_.get()); }
  Iterator end() const { return Iterator(nullptr); }

 private:
  std::unique_ptr<CaptureSource> head_;
  CaptureSource* tail_ = nullptr;
  size_t size_ = 0;
};

// The kind as the exclusion rule reads it: the screen counts as a camera.
SourceKind exclusionKind(SourceKind kind);

// Enables `source` and clears `enabled` on every other enabled source of `list` whose
// exclusion kind is the same (a camera or the screen excludes the other cameras and the
// screen; a sound source excludes only other sound sources). The caller then restarts
// the sources in the current mode.
void enableSource(const SourceList& list, CaptureSource& source);

}  // namespace sources
