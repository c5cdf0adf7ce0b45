#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/key_store.h"

namespace platform::testing {

// A key store text kept in memory. The text is shared with the test, which may read or
// replace it at any time, and may make every replacement fail as a refusing file system
// would.
class MemoryKeyStoreStorage final : public KeyStoreStorage {
 public:
  struct State {
    std::mutex mutex;
    std::string text;
    bool refuseWrites = false;
    bool refuseReads = false;
    int updates = 0;  // replacements made
    int flushes = 0;
  };

  explicit MemoryKeyStoreStorage(std::shared_ptr<State> state) : state_(std::move(state)) {}

  // Header-only, so that the fake needs no library of its own.
  bool read(std::string& text, std::string& problem) override;
  bool update(const std::function<bool(std::string& text)>& edit, std::string& problem) override;
  bool flush() override;
  std::string name() const override { return "memory"; }

 private:
  std::shared_ptr<State> state_;
};

inline bool MemoryKeyStoreStorage::read(std::string& text, std::string& /*problem*/) {
  std::lock_guard lock(state_->mutex);
  if (state_->refuseReads) return false;
  text = state_->text;
  return true;
}

inline bool MemoryKeyStoreStorage::update(const std::function<bool(std::string& text)>& edit,
                                          std::string& /*problem*/) {
  std::lock_guard lock(state_->mutex);
  if (state_->refuseReads) return false;
  std::string text = state_->text;
  if (!edit(text)) return true;
  if (state_->refuseWrites) return false;
  state_->text = std::move(text);
  ++state_->updates;
  return true;
}

inline bool MemoryKeyStoreStorage::flush() {
  std::lock_guard lock(state_->mutex);
  ++state_->flushes;
  return !state_->refuseWrites;
}

// A KeyStore over a fresh memory text; `state` receives the shared state. Diagnostics go
// to `messages` when given, else to standard error.
inline std::unique_ptr<KeyStore> makeMemoryKeyStore(std::shared_ptr<MemoryKeyStoreStorage::State>& state,
    std::vector<std::string>* messages = nullptr) {
  if (!state) state = std::make_shared<MemoryKeyStoreStorage::State>();
  KeyStore::Diagnostics diagnostics;
  if (messages) diagnostics = [messages](const std::string& m) { messages->push_back(m); };
  return std::make_unique<KeyStore>(std::make_unique<MemoryKeyStoreStorage>(state),
                                    std::move(diagnostics));
}

}  // namespace platform::testing
