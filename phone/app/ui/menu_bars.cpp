#include "ui/menu_bars.h"

#include "texts/text_ids.h"

namespace ui {

std::vector<MenuBarButton> menuBarButtons(int barId) {
  switch (barId) {
    case kMenuBarPanel:
      return {{kDoneButton, texts::kTextDone, false}, {kButtonAdvanced, texts::kTextAdvanced, true}};
    case kMenuBarAbout:
      return {{kDoneButton, texts::kTextDone, false}, {kButtonHelp, texts::kTextHelp, false}};
    case kMenuBarTarget:
    case kMenuBarGeneral:
      return {{kDoneButton, texts::kTextDone, false}};
    case kMenuBarMain:
      return {{kButtonSoftKey, texts::kTextStart, false}, {kButtonMenu, texts::kTextMenu, true}};
    default:
      return {};
  }
}

void applyMenuBarTexts(DialogView& view, int barId,
                       const std::function<const char16_t*(uint32_t)>& text) {
  if (!text) return;
  for (const MenuBarButton& b : menuBarButtons(barId)) {
    if (const char16_t* t = text(b.textId)) view.setMenuButtonText(b.command, t);
  }
}

}  // namespace ui
