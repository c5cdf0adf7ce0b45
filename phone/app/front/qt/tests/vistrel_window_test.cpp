// The window front on Qt's offscreen platform, over fake sources and targets.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "fake_capture.h"
#include "memory_key_store.h"
#include "settings/settings_store.h"
#include "targets/ftp_target.h"
#include "template_dialog.h"
#include "texts/language_table.h"
#include "ui/menu_bars.h"
#include "vistrel_window.h"

namespace front {
namespace {

using sources::SourceKind;

QApplication& application() {
  static int argc = 1;
  static char name[] = "phone_front_qt_tests";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

// A menu as "text" lines, submenus indented, "*" for checked items.
std::string describe(const QMenu* menu, const std::string& indent = "") {
  std::string out;
  for (QAction* a : menu->actions()) {
    if (a->isSeparator()) {
      out += indent + "-\n";
    } else {
      out += indent + a->text().toStdString() + (a->isChecked() ? "*" : "") + "\n";
      if (a->menu()) out += describe(a->menu(), indent + "  ");
    }
  }
  return out;
}

class VistrelWindowTest : public ::testing::Test {
 protected:
  VistrelWindowTest() : store_(*keys_) {
    application();
    store_.setMainPath(settings::kSettingsPath);
    own_ = texts::builtinModule();
    language_ = std::make_unique<texts::LanguageTable>(store_, "/nonexistent/vistrel",
                                                       [](const std::string&) {});
    language_->LoadLanguageList(*own_);
    window_ = std::make_unique<VistrelWindow>("/nonexistent");
    core::CaptureContext::Options o;
    o.store = &store_;
    o.text = [this](uint32_t id) { return language_->Text(id); };
    o.view = window_.get();
    context_ = std::make_unique<core::CaptureContext>(o);
    auto camera = std::make_unique<ui::testing::FakeSource>(SourceKind::kCamera, texts::kTextCamera);
    camera->add({0, u"Brightness", -1, 1, 3, nullptr, 0, 1});
    camera_ = camera.get();
    context_->sources.append(std::move(camera));
    context_->sources.append(std::make_unique<ui::testing::FakeSource>(SourceKind::kSound, texts::kTextSound));
    context_->targets.push_back(std::make_unique<ui::testing::FakeTarget>(u"Network"));
    context_->loadState();
    ui::MenuBuilder::Hooks hooks;
    hooks.languageCount = [this] { return language_->count(); };
    menu_ = std::make_unique<ui::MenuBuilder>(*context_, *window_, hooks);
    channel_ = InstanceChannel::claim(std::string(1, '\0') + "vistrel-qt-test-" + std::to_string(::getpid()));
    program_.context = context_.get();
    program_.language = language_.get();
    program_.device = &device_;
    program_.menu = menu_.get();
    program_.channel = channel_.get();
    // A request to end that never comes (standard input may be at its end).
    EXPECT_EQ(::pipe(endPipe_), 0);
    program_.signalFd = endPipe_[0];
  }
  ~VistrelWindowTest() override {
    window_->hide();
    ::close(endPipe_[0]);
    ::close(endPipe_[1]);
  }

  std::shared_ptr<platform::testing::MemoryKeyStoreStorage::State> state_;
  std::unique_ptr<platform::KeyStore> keys_ = platform::testing::makeMemoryKeyStore(state_);
  settings::SettingsStore store_;
  std::unique_ptr<platform::ResourceModule> own_;
  std::unique_ptr<texts::LanguageTable> language_;
  std::unique_ptr<VistrelWindow> window_;
  std::unique_ptr<core::CaptureContext> context_;
  std::unique_ptr<ui::MenuBuilder> menu_;
  std::unique_ptr<InstanceChannel> channel_;
  sources::DeviceInfo device_;
  FrontHost::Program program_;
  ui::testing::FakeSource* camera_ = nullptr;
  int endPipe_[2] = {-1, -1};
};

TEST_F(VistrelWindowTest, TheMenuAndSoftKeysComeFromThePresenters) {
  window_->start(program_);
  EXPECT_EQ(window_->softKey(ui::kButtonSoftKey)->text().toStdString(), "Start");
  EXPECT_EQ(window_->softKey(ui::kButtonMenu)->text().toStdString(), "Menu");
  EXPECT_EQ(describe(window_->popup()),
            "Source\n  Camera*\n  Sound*\n"
            "Settings\n  Camera\n  -\n  Network\n"
            "About\nExit\n");
  // Choosing "Sound" goes through Dispatch and the menu is built again.
  QAction* sound = window_->popup()->actions()[0]->menu()->actions()[1];
  sound->trigger();
  QApplication::processEvents();
  EXPECT_EQ(describe(window_->popup()).substr(0, 27), "Source\n  Camera*\n  Sound\nSe");
  // Enter starts capture; the soft key follows.
  QTest::keyClick(window_.get(), Qt::Key_Return);
  EXPECT_TRUE(context_->capturing());
  EXPECT_EQ(window_->softKey(ui::kButtonSoftKey)->text().toStdString(), "Stop");
  QTest::keyClick(window_.get(), Qt::Key_F1);  // the left soft key
  EXPECT_FALSE(context_->capturing());
}

TEST_F(VistrelWindowTest, APreviewFrameIsDrawnAndThePaintFreesTheHandShake) {
  window_->start(program_);
  window_->resize(320, 300);
  QApplication::processEvents();
  // A 4x2 frame: the top row red, the bottom row blue (5-6-5).
  std::vector<uint16_t> pixels = {0xF800, 0xF800, 0xF800, 0xF800, 0x001F, 0x001F, 0x001F, 0x001F};
  sources::FrameDescriptor frame;
  frame.data = reinterpret_cast<uint8_t*>(pixels.data());
  frame.sizeBytes = 16;
  frame.format = sources::kFormatRgb565;
  frame.width = 4;
  frame.height = 2;
  // The first paint sizes the bitmap to the preview area; the next frame fills it.
  for (int i = 0; i < 3; ++i) {
    core::CaptureContext::previewCallback(context_.get(), &frame, 0, nullptr);
    window_->preview()->grab();  // paints the preview as the window would
    QApplication::processEvents();
  }
  EXPECT_FALSE(context_->previewBusy.load());
  ASSERT_TRUE(context_->previewReady.load());
  const QImage shot = window_->preview()->grab().toImage();
  const QColor top = shot.pixelColor(shot.width() / 2, 2);
  const QColor bottom = shot.pixelColor(shot.width() / 2, shot.height() - 3);
  EXPECT_GT(top.red(), 200);
  EXPECT_LT(top.blue(), 50);
  EXPECT_GT(bottom.blue(), 200);
  EXPECT_LT(bottom.red(), 50);
}

TEST_F(VistrelWindowTest, TheFtpDialogShowsTheUploaderScrollsAndTakesTheValuesBack) {
  window_->start(program_);
  window_->resize(240, 200);  // smaller than the dialog: it scrolls
  targets::FtpTarget ftp(store_, {});
  ftp.server = u"192.168.7.1";
  ftp.port = 21;
  ftp.passiveMode = 1;
  ftp.powerSafe = 0;
  bool seen = false;
  QTimer::singleShot(0, [&] {
    auto* d = dynamic_cast<TemplateDialog*>(window_->openDialog());
    ASSERT_NE(d, nullptr);
    auto* server = qobject_cast<QLineEdit*>(d->control(1045));
    ASSERT_NE(server, nullptr);
    EXPECT_EQ(server->text().toStdString(), "192.168.7.1");
    EXPECT_TRUE(d->isChecked(1049));
    // "Power safe", the last control, lies below the page until the dialog is scrolled.
    auto* bar = d->findChild<QScrollBar*>("scrollbar");
    ASSERT_NE(bar, nullptr);
    EXPECT_TRUE(bar->isVisible());
    QWidget* last = d->control(1078);
    const int top = last->y();
    EXPECT_GT(top + last->height(), d->content()->height());
    bar->setValue(bar->maximum());
    EXPECT_EQ(last->y(), top - bar->maximum());
    EXPECT_LE(last->y() + last->height(), d->content()->height());
    server->setText("ftp.example.org");
    qobject_cast<QLineEdit*>(d->control(1046))->setText("2121");
    qobject_cast<QCheckBox*>(d->control(1078))->setChecked(true);
    QTest::keyClick(d, Qt::Key_F1);  // the left soft key, "Done"
    seen = true;
  });
  EXPECT_EQ(window_->runFtpSettings(ftp, nullptr), ui::kDialogDone);
  EXPECT_TRUE(seen);
  EXPECT_EQ(ftp.server, u"ftp.example.org");
  EXPECT_EQ(ftp.port, 2121u);
  EXPECT_EQ(ftp.powerSafe, 1u);
  EXPECT_EQ(ftp.passiveMode, 1u);
}

// Stands in for the desktop's screen saver on a private session bus: counts the calls.
class ScreenSaverStandIn final : public QDBusVirtualObject {
 public:
  QString introspect(const QString&) const override { return {}; }
  bool handleMessage(const QDBusMessage& message, const QDBusConnection&) override {
    if (message.interface() == QStringLiteral("org.freedesktop.ScreenSaver") &&
        message.member() == QStringLiteral("SimulateUserActivity"))
      ++calls;
    return true;
  }
  int calls = 0;
};

// While capturing, the context's timer resets the idle timer: the window tells the
// session's screen saver that the user was active, so the device does not blank or
// suspend while it streams.
TEST_F(VistrelWindowTest, TheIdleTimerResetReachesTheSessionScreenSaver) {
  const std::string dir = ::testing::TempDir() + "idle-bus-" + std::to_string(::getpid());
  ASSERT_EQ(std::system(("mkdir -p '" + dir + "'").c_str()), 0);
  FILE* daemon = ::popen(("dbus-daemon --session --fork --print-address=1 --print-pid=1 "
                          "--address=unix:path='" + dir + "/bus' 2>&1").c_str(), "r");
  ASSERT_NE(daemon, nullptr);
  char address[512] = {}, pid[32] = {};
  const bool started = std::fgets(address, sizeof address, daemon) && std::fgets(pid, sizeof pid, daemon);
  ::pclose(daemon);
  if (!started || std::strncmp(address, "unix:", 5) != 0) GTEST_SKIP() << "no dbus-daemon: " << address;
  address[std::strcspn(address, "\n")] = 0;
  ::setenv("DBUS_SESSION_BUS_ADDRESS", address, 1);

  QDBusConnection saver = QDBusConnection::connectToBus(QString::fromUtf8(address), "saver");
  ASSERT_TRUE(saver.isConnected());
  ScreenSaverStandIn standIn;
  ASSERT_TRUE(saver.registerService("org.freedesktop.ScreenSaver"));
  ASSERT_TRUE(saver.registerVirtualObject("/org/freedesktop/ScreenSaver", &standIn));

  window_->resetIdleTimer();
  window_->resetIdleTimer();
  QElapsedTimer waited;
  waited.start();
  while (standIn.calls < 2 && waited.elapsed() < 10000) {
    QApplication::processEvents();
    QTest::qWait(20);
  }
  EXPECT_EQ(standIn.calls, 2);

  saver.unregisterObject("/org/freedesktop/ScreenSaver");
  QDBusConnection::disconnectFromBus("saver");
  QDBusConnection::disconnectFromBus("vistrel-idle");
  ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
  ::kill(std::atoi(pid), SIGTERM);
}

TEST(TemplateDialogTest, ControlsAreFoundByIdentifierAndMissingOnesAreHarmless) {
  application();
  std::unique_ptr<platform::ResourceModule> own = texts::builtinModule();
  TemplateDialog d(own->dialog(600), 600, ui::kMenuBarTarget, ui::testing::testText, nullptr, false);
  EXPECT_NE(qobject_cast<QLineEdit*>(d.control(1006)), nullptr);
  EXPECT_NE(qobject_cast<QAbstractButton*>(d.control(1004)), nullptr);
  EXPECT_EQ(d.barButton(ui::kDoneButton)->text().toStdString(), "Done");
  d.setItemText(1007, u"2047");
  EXPECT_EQ(d.itemText(1007), u"2047");
  d.setChecked(1004, true);
  EXPECT_TRUE(d.isChecked(1004));
  d.setItemText(4711, u"x");  // not in the template
  EXPECT_EQ(d.itemText(4711), u"");
  EXPECT_EQ(d.missing(), (std::set<int>{4711}));

  TemplateDialog panel(own->dialog(603), 603, ui::kMenuBarPanel, ui::testing::testText, nullptr, false);
  auto* list = qobject_cast<QComboBox*>(panel.control(1040));
  ASSERT_NE(list, nullptr);
  panel.addListItem(1040, u"Brightness");
  panel.addListItem(1040, u"Contrast");
  panel.setListSelection(1040, 1);
  EXPECT_EQ(list->currentText().toStdString(), "Contrast");
  int commands = 0;
  panel.onCommand = [&](int id) { commands += id; };
  panel.setButtonMenu(ui::kButtonAdvanced, {ui::MenuItem::Command(42000, u"Mirror", true)});
  panel.buttonMenu(ui::kButtonAdvanced)->actions()[0]->trigger();
  qobject_cast<QPushButton*>(panel.control(1042))->click();
  EXPECT_EQ(commands, 42000 + 1042);
  // F2 opens the right soft key's popup, F1 gives the left one's command ("Done").
  panel.show();
  QTest::keyClick(&panel, Qt::Key_F2);
  EXPECT_TRUE(panel.buttonMenu(ui::kButtonAdvanced)->isVisible());
  panel.buttonMenu(ui::kButtonAdvanced)->hide();
  QTest::keyClick(&panel, Qt::Key_F1);
  EXPECT_EQ(commands, 42000 + 1042 + ui::kDoneButton);

  TemplateDialog none(nullptr, 699, 0, ui::testing::testText, nullptr, false);
  none.setItemText(1, u"x");
  EXPECT_EQ(none.missing(), (std::set<int>{1}));
}

}  // namespace
}  // namespace front
