#include "sources/source_list.h"

namespace sources {

CaptureSource::~CaptureSource() = default;

SourceList::~SourceList() {
  // Unlink one by one so that a long list never recurses deeply.
  while (head_) head_ = std::move(head_->next_);
}

void SourceList::Append(std::unique_ptr<CaptureSource> source) {
  if (!source) return;
  CaptureSource* added = source.get();
  if (tail_ == nullptr) head_ = std::move(source);
  else tail_->next_ = std::move(source);
  tail_ = added;
  ++size_;
}

SourceKind ExclusionKind(SourceKind kind) {
  return kind == SourceKind::kScreen ? SourceKind::kCamera : kind;
}

void EnableSource(const SourceList& list, CaptureSource& source) {
  const SourceKind kind = ExclusionKind(source.Kind());
  for (CaptureSource& other : list) {
    if (&other == &source || !other.enabled()) continue;
    if (ExclusionKind(other.Kind()) == kind) other.setEnabled(false);
  }
  source.setEnabled(true);
}

}  // namespace sources
