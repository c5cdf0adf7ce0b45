// The dialogs' windows on Qt's offscreen platform, built from the shipped templates over
// an in-memory host.
#include "dialog_windows.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <thread>

#include "fake_settings_host.h"

namespace dialogs::qt {
namespace {

using testing::Entry;
using testing::Item;

QApplication& application() {
  static int argc = 1;
  static char name[] = "device_dialogs_qt_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

std::unique_ptr<platform::ResourceModule> shipped(const std::string& file) {
  std::string error;
  auto m = platform::ResourceModule::load(std::string(VISTREL_RESOURCES_DIR) + "/" + file, error);
  EXPECT_TRUE(m) << error;
  return m;
}

template <typename W>
W* control(front::TemplateDialog& d, int id) {
  W* w = qobject_cast<W*>(d.control(id));
  EXPECT_NE(w, nullptr) << "control " << id;
  return w;
}

QStringList items(QListWidget* list) {
  QStringList out;
  for (int i = 0; i < list->count(); ++i) out << list->item(i)->text();
  return out;
}

constexpr Item kLight[4] = {{0, 0, u"Auto"}, {0, 1, nullptr}, {0, 2, u"Sun"}, {0, 3, u"Lamp"}};

TEST(SettingsWindowTest, ShowsThePropertiesAndSendsTheChosenValue) {
  application();
  auto own = shipped("device.rc");
  testing::FakeSettingsHost host;
  host.current.width = 352;
  host.current.height = 288;
  host.setList({{.name = u"Light", .current = 0, .count = 4, .items = kLight, .key = 0x102}});
  DialogRequest request;
  request.templateId = kFrameTemplate;
  request.host = &host;
  request.ownModule = own.get();
  SettingsWindow window(request);
  window.init();
  window.frame().show();
  QApplication::processEvents();

  EXPECT_EQ(window.frame().windowTitle(), "Settings");
  EXPECT_EQ(control<QPushButton>(window.frame(), 1)->text(), "Close");
  auto* properties = control<QListWidget>(window.page(), kPropertyList);
  auto* values = control<QListWidget>(window.page(), kValueList);
  ASSERT_TRUE(properties && values);
  EXPECT_EQ(items(properties), QStringList{"Light"});
  EXPECT_EQ(items(values), (QStringList{"Auto", "Sun", "Lamp"}));
  EXPECT_EQ(control<QComboBox>(window.page(), kResolutionList)->currentText(), "352x288");
  EXPECT_EQ(control<QLineEdit>(window.page(), kPortEdit)->text(), "2047");
  EXPECT_TRUE(window.page().isVisible());

  // A click on the third line sends the fourth item.
  values->setCurrentRow(2);
  ASSERT_EQ(host.sent.size(), 1u);
  EXPECT_EQ(host.sent[0], std::make_pair(0x102u, 3u));

  // A new list from the phone reaches the open window within the poll period.
  constexpr Item kEffects[2] = {{0, 0, u"None"}, {0, 1, u"Sepia"}};
  host.setList({{.name = u"Effect", .current = 1, .count = 2, .items = kEffects, .key = 0x101}});
  EXPECT_TRUE(QTest::qWaitFor([&] { return items(properties) == QStringList{"Effect"}; }, 2000));
  EXPECT_EQ(items(values), (QStringList{"None", "Sepia"}));
  EXPECT_EQ(values->currentRow(), 1);

  // The mirror box, the port box losing the focus, Connect.
  control<QCheckBox>(window.page(), kMirrorBox)->click();
  ASSERT_FALSE(host.applied.empty());
  EXPECT_EQ(host.applied.back().mirror, 1u);
  auto* port = control<QLineEdit>(window.page(), kPortEdit);
  port->setText("8080");
  emit port->editingFinished();
  EXPECT_EQ(host.applied.back().port, 8080u);
  control<QPushButton>(window.page(), kConnectButton)->click();
  EXPECT_EQ(host.connects, 1);

  // Close ends the dialog.
  control<QPushButton>(window.frame(), 1)->click();
  EXPECT_FALSE(window.frame().isVisible());
}

TEST(SettingsWindowTest, TheKeyboardStartsInThePropertyListWhenTheDialogRuns) {
  application();
  auto own = shipped("device.rc");
  testing::FakeSettingsHost host;
  DialogRequest request;
  request.host = &host;
  request.ownModule = own.get();
  SettingsWindow window(request);
  QWidget* focused = nullptr;
  QTimer::singleShot(100, [&] {
    focused = window.frame().focusWidget();
    control<QPushButton>(window.frame(), 1)->click();
  });
  EXPECT_EQ(window.run(), 1);
  EXPECT_EQ(focused, window.page().control(kPropertyList));
}

TEST(SettingsWindowTest, TakesTheTemplatesOfTheLanguageModule) {
  application();
  auto own = shipped("device.rc");
  auto german = shipped("Lang/res0407.rc");
  testing::FakeSettingsHost host;
  DialogRequest request;
  request.host = &host;
  request.ownModule = own.get();
  request.dialogModule = german.get();
  SettingsWindow window(request);
  window.init();
  EXPECT_EQ(control<QPushButton>(window.page(), kConnectButton)->text(), "Verbinden");
  EXPECT_EQ(control<QCheckBox>(window.page(), kConnectAtStartupBox)->text(), "Beim Start verbinden");
}

TEST(AboutWindowTest, ShowsVersionAndLinkWithoutTheMailLines) {
  application();
  auto own = shipped("device.rc");
  testing::FakeSettingsHost host;
  DialogRequest request;
  request.templateId = kAboutTemplate;
  request.host = &host;
  request.ownModule = own.get();
  AboutWindow window(request);
  std::vector<std::string> opened;
  window.open = [&](const std::string& a) {
    opened.push_back(a);
    return true;
  };
  window.init();
  window.dialog().show();
  QApplication::processEvents();
  EXPECT_EQ(control<QLabel>(window.dialog(), kAboutVersion)->text(), "Vistrel v2.1");
  auto* link = control<QLabel>(window.dialog(), kAboutLink);
  ASSERT_NE(link, nullptr);
  EXPECT_TRUE(link->text().contains("http://www.orvane.example/"));
  EXPECT_TRUE(link->text().contains("#0000c0"));
  EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_FALSE(window.dialog().control(kAboutMail)->isVisible());
  EXPECT_FALSE(window.dialog().control(kAboutMailLabel)->isVisible());
  emit link->linkActivated("http://www.orvane.example/");
  EXPECT_EQ(opened, std::vector<std::string>{kMakerWebAddress});
  control<QPushButton>(window.dialog(), 1)->click();
  EXPECT_FALSE(window.dialog().isVisible());
}

TEST(ShowDialogTest, ACallerOnAnotherThreadGetsTheDialogOnTheApplicationsThread) {
  application();
  auto own = shipped("device.rc");
  testing::FakeSettingsHost host;
  DialogRequest request;
  request.templateId = kAboutTemplate;
  request.host = &host;
  request.ownModule = own.get();
  std::atomic<uint32_t> shown{99};
  // The box runs its own loop on this thread: a timer there closes it once it is up.
  QThread* seenOn = nullptr;
  uint32_t shownWhileOpen = 0;
  QTimer closer;
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (QWidget* modal = QApplication::activeModalWidget()) {
      seenOn = modal->thread();
      shownWhileOpen = shown.load();
      modal->close();
    }
  });
  closer.start(20);
  std::thread caller([&] { shown = showDialog(&request); });
  EXPECT_TRUE(QTest::qWaitFor([&] { return shown.load() != 99u; }, 5000));
  caller.join();
  EXPECT_EQ(shown.load(), 1u);
  EXPECT_EQ(seenOn, QThread::currentThread());
  EXPECT_EQ(shownWhileOpen, 99u) << "the caller waits while the box is open";

  DialogRequest old = request;
  old.size = 8;  // a caller built against another layout
  EXPECT_EQ(showDialog(&old), 0u);
}

// A message from another thread (a failed launch reports from the launcher's) returns at
// once and puts up a modal box on the application's thread, with the style's icon.
TEST(ShowMessageTest, AMessageFromAnotherThreadBecomesAModalBoxOnTheApplicationsThread) {
  application();
  struct Case {
    uint32_t flags;
    QMessageBox::Icon icon;
  };
  for (const Case& c : {Case{0x00000010, QMessageBox::Critical}, Case{0x00053030, QMessageBox::Warning},
                        Case{0x00000040, QMessageBox::Information}, Case{0, QMessageBox::NoIcon}}) {
    MessageRequest request;
    request.title = "Vistrel";
    request.text = "Das Kameragerät ist belegt:\nlookout\n";
    request.flags = c.flags;
    std::atomic<uint32_t> result{99};
    std::thread caller([&] { result = showMessage(&request); });
    caller.join();  // returns without the application's thread running its loop
    EXPECT_EQ(result.load(), 1u);
    QMessageBox* box = nullptr;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) != nullptr; }, 5000))
        << "flags " << c.flags;
    EXPECT_EQ(box->thread(), QThread::currentThread());
    EXPECT_EQ(box->windowTitle(), "Vistrel");
    EXPECT_EQ(box->text(), QString::fromUtf8("Das Kameragerät ist belegt:\nlookout"));
    EXPECT_EQ(box->icon(), c.icon) << "flags " << c.flags;
    QPointer<QMessageBox> watch(box);
    box->button(QMessageBox::Ok)->click();
    EXPECT_TRUE(QTest::qWaitFor([&] { return watch.isNull(); }, 5000)) << "the box deletes itself when closed";
  }

  MessageRequest old;
  old.size = 8;  // a caller built against another layout
  EXPECT_EQ(showMessage(&old), 0u);
}

}  // namespace
}  // namespace dialogs::qt
