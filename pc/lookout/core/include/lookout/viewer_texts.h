#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/resources.h"

namespace lookout {

// String ids of the viewer's texts.
inline constexpr uint32_t kTitleText = 103;          // own module: window title "Vistrel"
inline constexpr uint32_t kClassText = 109;          // own module: window class "Vistrel"
inline constexpr uint32_t kFolderTitleText = 106;    // "Folder for Snapshots"
inline constexpr uint32_t kWaitingText = 107;        // "Waiting for connection..."
inline constexpr uint32_t kMenuFirstText = 200;      // 200..210: menus and items
// Every text is cut at 100 characters.
inline constexpr size_t kTextCapacityChars = 101;

// Texts by id, cut at 100 characters; an id the module lacks gives an empty text.
class ViewerTexts {
 public:
  virtual ~ViewerTexts() = default;
  virtual std::u16string text(uint32_t id) const = 0;
};

// Texts from a resource module.
class ModuleTexts final : public ViewerTexts {
 public:
  explicit ModuleTexts(const platform::ResourceModule* module) : module_(module) {}
  std::u16string text(uint32_t id) const override;

 private:
  const platform::ResourceModule* module_;
};

// The viewer's own resource module: "lookout.rc" beside the program when it reads without
// error, else the copy built into the program (the problem goes to `error`).
std::unique_ptr<platform::ResourceModule> loadOwnModule(std::string& error);

// The module the library's GetResourceModule names: a non-null handle is the library's
// loaded language module (a platform::ResourceModule); null means the library's own texts,
// which until the library carries them are the ones in the viewer's own module.
const platform::ResourceModule* resolveResourceModule(void* handle,
                                                      const platform::ResourceModule* own);

}  // namespace lookout
