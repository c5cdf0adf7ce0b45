#include "sources/source_list.h"

namespace sources {

CaptureSource::~CaptureSource() = default;

SourceList::~SourceList() {
  // Unlink one by one so that a long list never recurses deeply.
  while (head_) head_ = std::move(head_->next_);
}

void SourceList::append(std::unique_ptr<CaptureSource> source) {
  if (!source) return;
  CaptureSource* added = source.get();
  if (tail_ == nullptr) head_ = std::move(source);
  else tail_->next_ = std::move(source);
  tail_ = added;
  ++size_;
}

SourceKind exclusionKind(SourceKind kind) {
  return kind == SourceKind::kScreen ? SourceKind::kCamera : kind;
}

void enableSource(const SourceList& list, CaptureSource& source) {
  const SourceKind kind = exclusionKind(source.Kind());
  for (CaptureSource& other : list) {
    if (&other == &source || !other.enabled()) continue;
    if (exclusionKind(other.Kind()) == kind) other.setEnabled(false);
  }
  source.setEnabled(true);
}

}  // namespace sources
