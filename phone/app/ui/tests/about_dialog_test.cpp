#include "ui/about_dialog.h"

#include <gtest/gtest.h>

#include "fake_capture.h"
#include "fake_dialog_view.h"
#include "ui/menu_bars.h"

namespace ui {
namespace {

TEST(AboutDialogTest, FillsTheFieldsAndEndsAsEachEventSays) {
  testing::FakeDialogView view;
  int helpPosts = 0;
  std::vector<std::u16string> topics;
  AboutDialog about(view, testing::testText, u"Acme Board v2",
                    {[&] { ++helpPosts; }, [&](std::u16string_view t) {
                       topics.emplace_back(t);
                       return true;
                     }});
  about.onInitDialog();
  EXPECT_EQ(view.menuButtons[kDoneButton], u"Done");
  EXPECT_EQ(view.menuButtons[kButtonHelp], u"Help");
  EXPECT_EQ(view.texts[AboutDialog::kProduct], u"Vistrel v2.1");
  EXPECT_EQ(view.texts[AboutDialog::kModel], u"Acme Board v2");
  EXPECT_FALSE(view.texts[AboutDialog::kWebAddress].empty());

  view.texts.clear();
  about.onSize();
  EXPECT_EQ(view.layouts, 1);
  EXPECT_EQ(view.texts[AboutDialog::kModel], u"Acme Board v2");

  about.onCommand(kButtonHelp);
  EXPECT_EQ(helpPosts, 1);
  about.onHelp();
  EXPECT_EQ(topics, (std::vector<std::u16string>{u"Main_Contents"}));

  about.onCommand(kDoneButton);
  about.onClose();
  EXPECT_EQ(view.endResults, (std::vector<int>{kDialogDone, kDialogClosed}));
  EXPECT_EQ(view.menuBarDestroyed, 2);
}

}  // namespace
}  // namespace ui
