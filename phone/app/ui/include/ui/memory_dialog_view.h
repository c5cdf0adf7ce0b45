#pragma once

#include <map>
#include <string>
#include <vector>

#include "ui/dialog_view.h"

namespace ui {

// A dialog window in memory: every control's state by identifier, and a log of the
// calls that end or decorate the dialog. It runs a dialog's logic where there is no
// window (the headless settings command) and stands in for a window in tests.
class MemoryDialogView : public DialogView {
 public:
  struct List {
    std::vector<std::u16string> items;
    int selection = -1;
  };
  std::map<int, List> lists;
  std::map<int, std::u16string> texts;
  std::map<int, bool> checked;
  std::map<int, bool> enabled;
  std::map<int, std::u16string> menuButtons;
  std::vector<std::pair<std::u16string, std::u16string>> messages;  // text, caption
  std::vector<int> endResults;
  int menuBarDestroyed = 0;
  int layouts = 0;

  void resetListItems(int id) override { lists[id] = List{}; }
  void addListItem(int id, const std::u16string& text) override { lists[id].items.push_back(text); }
  void setListSelection(int id, int index) override { lists[id].selection = index; }
  int listSelection(int id) const override {
    auto it = lists.find(id);
    return it == lists.end() ? -1 : it->second.selection;
  }
  int listCount(int id) const override {
    auto it = lists.find(id);
    return it == lists.end() ? 0 : static_cast<int>(it->second.items.size());
  }
  void setItemText(int id, const std::u16string& text) override { texts[id] = text; }
  std::u16string itemText(int id) const override {
    auto it = texts.find(id);
    return it == texts.end() ? std::u16string() : it->second;
  }
  void setChecked(int id, bool c) override { checked[id] = c; }
  bool isChecked(int id) const override {
    auto it = checked.find(id);
    return it != checked.end() && it->second;
  }
  void enableItem(int id, bool e) override { enabled[id] = e; }
  void setMenuButtonText(int id, const std::u16string& text) override { menuButtons[id] = text; }
  void destroyMenuBar() override { ++menuBarDestroyed; }
  void showMessage(const std::u16string& text, const std::u16string& caption) override {
    messages.emplace_back(text, caption);
  }
  void layoutFromTemplate() override { ++layouts; }
  void endDialog(int result) override { endResults.push_back(result); }
};

}  // namespace ui
