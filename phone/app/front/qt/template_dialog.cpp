#include "template_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFontMetrics>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QGroupBox>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>

#include <cstdio>

namespace front {

namespace {
QString qs(const std::u16string& s) { return QString::fromUtf16(s.data(), static_cast<qsizetype>(s.size())); }
std::u16string us(const QString& s) { return std::u16string(reinterpret_cast<const char16_t*>(s.utf16()), s.size()); }

ui::DialogKey dialogKey(int key) {
  switch (key) {
    case Qt::Key_Left: return ui::DialogKey::kLeft;
    case Qt::Key_Right: return ui::DialogKey::kRight;
    case Qt::Key_Up: return ui::DialogKey::kUp;
    case Qt::Key_Down: return ui::DialogKey::kDown;
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Space: return ui::DialogKey::kAction;
    default: return ui::DialogKey::kOther;
  }
}
}  // namespace

void fillQMenu(QMenu* menu, const ui::Menu& items, const std::function<void(int)>& command) {
  for (const ui::MenuItem& item : items) {
    switch (item.kind) {
      case ui::MenuItem::Kind::kSeparator:
        menu->addSeparator();
        break;
      case ui::MenuItem::Kind::kSubmenu:
        fillQMenu(menu->addMenu(qs(item.text)), item.items, command);
        break;
      case ui::MenuItem::Kind::kCommand: {
        QAction* action = menu->addAction(qs(item.text));
        action->setCheckable(item.checked);
        action->setChecked(item.checked);
        action->setData(item.command);
        const int id = item.command;
        QObject::connect(action, &QAction::triggered, menu, [command, id] { command(id); });
        break;
      }
    }
  }
}

TemplateDialog::TemplateDialog(const platform::DialogTemplate* tmpl, int templateId, int menuBarId,
                               const ui::TextFunction& text, QWidget* parent, bool fullScreen)
    : QDialog(parent), template_(tmpl), templateId_(templateId), fullScreen_(fullScreen) {
  setObjectName(QString("dialog%1").arg(templateId));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->setSpacing(0);
  content_ = new QWidget(this);
  content_->setObjectName("content");
  layout->addWidget(content_, 1);
  bar_ = new QWidget(this);
  bar_->setObjectName("softkeys");
  auto* barLayout = new QHBoxLayout(bar_);
  barLayout->setContentsMargins(2, 2, 2, 2);
  const std::vector<ui::MenuBarButton> buttons = ui::menuBarButtons(menuBarId);
  for (const ui::MenuBarButton& b : buttons) {
    const char16_t* t = text ? text(b.textId) : nullptr;
    auto* button = new QPushButton(t ? qs(t) : QString(), bar_);
    button->setObjectName(QString("softkey%1").arg(b.command));
    button->setAutoDefault(false);
    barButtons_[b.command] = button;
    barLayout->addWidget(button);
    const int id = b.command;
    if (b.popup) {
      auto* menu = new QMenu(button);
      menus_[id] = menu;
      connect(button, &QPushButton::clicked, this, [this, id] { openButtonMenu(id); });
    } else {
      connect(button, &QPushButton::clicked, this, [this, id] {
        if (onCommand) onCommand(id);
      });
    }
  }
  if (!buttons.empty()) leftButton_ = buttons[0].command;
  if (buttons.size() > 1) rightButton_ = buttons[1].command;
  if (buttons.empty()) bar_->hide();
  layout->addWidget(bar_);
  if (!template_) {
    std::fprintf(stderr, "vistrel: dialog %d is missing from the resources; it opens empty\n", templateId);
  } else {
    setWindowTitle(qs(template_->caption));
    build();
  }
  if (fullScreen_ && parent) {
    resize(parent->size());
  } else if (template_) {
    QFontMetrics fm(font());
    resize(template_->width * fm.averageCharWidth() / 4,
           template_->height * fm.height() / 8 + bar_->sizeHint().height());
  }
}

void TemplateDialog::build() {
  for (const platform::DialogControl& c : template_->controls) {
    QWidget* w = nullptr;
    const std::string& k = c.statement;
    const std::string& cls = c.className;
    const int id = c.id;
    if (k == "EDITTEXT" || cls == "EDIT") {
      auto* edit = new QLineEdit(content_);
      if (c.hasStyle("ES_READONLY")) edit->setReadOnly(true);
      if (c.hasStyle("ES_PASSWORD")) edit->setEchoMode(QLineEdit::Password);
      if (c.hasStyle("ES_NUMBER"))
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
      if (c.hasStyle("ES_RIGHT")) edit->setAlignment(Qt::AlignRight);
      w = edit;
    } else if (k == "COMBOBOX" || cls == "COMBOBOX") {
      auto* combo = new QComboBox(content_);
      combo->installEventFilter(this);
      connect(combo, &QComboBox::currentIndexChanged, this, [this, id](int) {
        if (onSelectionChanged) onSelectionChanged(id);
      });
      w = combo;
    } else if (k == "LISTBOX" || cls == "LISTBOX") {
      auto* list = new QListWidget(content_);
      list->installEventFilter(this);
      connect(list, &QListWidget::currentRowChanged, this, [this, id](int) {
        if (onSelectionChanged) onSelectionChanged(id);
      });
      w = list;
    } else if (k == "CHECKBOX" || k == "AUTOCHECKBOX" || k == "STATE3" || k == "AUTO3STATE" ||
               (cls == "BUTTON" && (c.hasStyle("BS_AUTOCHECKBOX") || c.hasStyle("BS_CHECKBOX")))) {
      auto* box = new QCheckBox(qs(c.text), content_);
      connect(box, &QCheckBox::clicked, this, [this, id] {
        if (onCommand) onCommand(id);
      });
      w = box;
    } else if (k == "PUSHBUTTON" || k == "DEFPUSHBUTTON" || (cls == "BUTTON" && k == "CONTROL")) {
      auto* button = new QPushButton(qs(c.text), content_);
      button->setAutoDefault(false);
      connect(button, &QPushButton::clicked, this, [this, id] {
        if (onCommand) onCommand(id);
      });
      w = button;
    } else if (k == "GROUPBOX") {
      w = new QGroupBox(qs(c.text), content_);
    } else {  // LTEXT, RTEXT, CTEXT, ICON and other statics
      auto* label = new QLabel(qs(c.text), content_);
      if (k == "RTEXT") label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
      if (k == "CTEXT") label->setAlignment(Qt::AlignCenter);
      if (k == "ICON") label->setObjectName("icon");
      label->setWordWrap(c.height >= 16);  // room for more than one line
      w = label;
    }
    if (id >= 0) {
      w->setObjectName(w->objectName().isEmpty() ? QString("control%1").arg(id)
                                                 : w->objectName() + QString::number(id));
      w->setProperty("controlId", id);
      controls_[id] = w;
    }
    w->setProperty("templateIndex", static_cast<int>(&c - template_->controls.data()));
  }
  layoutFromTemplate();
}

void TemplateDialog::units(double& ux, double& uy) const {
  QFontMetrics fm(font());
  ux = fm.averageCharWidth() / 4.0, uy = fm.height() / 8.0;
  // The template's layout scaled to the window: its width fills the dialog's (the content
  // spans the dialog's width).
  const int width = this->width() - rightReserve_;
  if (template_ && template_->width > 0 && width > 0) {
    const double fit = width / (template_->width * ux);
    if (fit > 1.0) ux *= fit, uy *= fit;
  }
}

int TemplateDialog::templateHeightPixels() const {
  if (!template_) return 0;
  double ux = 0, uy = 0;
  units(ux, uy);
  return static_cast<int>(template_->height * uy);
}

void TemplateDialog::moveControls(int dy) {
  for (QObject* child : content_->children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (w && w->property("templateIndex").isValid()) w->move(w->x(), w->y() + dy);
  }
}

void TemplateDialog::layoutFromTemplate() {
  if (!template_) return;
  double ux = 0, uy = 0;
  units(ux, uy);
  for (QObject* child : content_->children()) {
    auto* w = qobject_cast<QWidget*>(child);
    if (!w) continue;
    const QVariant index = w->property("templateIndex");
    if (!index.isValid()) continue;
    const platform::DialogControl& c = template_->controls[static_cast<size_t>(index.toInt())];
    int height = static_cast<int>(c.height * uy);
    if (qobject_cast<QComboBox*>(w)) height = std::max(w->sizeHint().height(), static_cast<int>(12 * uy));
    w->setGeometry(static_cast<int>(c.x * ux), static_cast<int>(c.y * uy),
                   std::max(1, static_cast<int>(c.width * ux)), std::max(1, height));
  }
}

QWidget* TemplateDialog::control(int id) const {
  auto it = controls_.find(id);
  return it == controls_.end() ? nullptr : it->second;
}

QWidget* TemplateDialog::find(int id) const {
  QWidget* w = control(id);
  if (!w && optional_.count(id) == 0 && missing_.insert(id).second)
    std::fprintf(stderr, "vistrel: dialog %d has no control %d; the dialog works without it\n",
                 templateId_, id);
  return w;
}

QPushButton* TemplateDialog::barButton(int id) const {
  auto it = barButtons_.find(id);
  return it == barButtons_.end() ? nullptr : it->second;
}

QMenu* TemplateDialog::buttonMenu(int id) const {
  auto it = menus_.find(id);
  return it == menus_.end() ? nullptr : it->second;
}

int TemplateDialog::run() {
  if (onInit) onInit();
  // The keys go to the first control that takes the focus, as a dialog opens elsewhere.
  for (QWidget* w : content_->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (w->isEnabled() && !w->isHidden() && (w->focusPolicy() & Qt::TabFocus)) {
      w->setFocus();
      break;
    }
  }
  return exec();
}

void TemplateDialog::resetListItems(int id) {
  QWidget* w = find(id);
  QSignalBlocker block(w);
  if (auto* c = qobject_cast<QComboBox*>(w)) c->clear();
  if (auto* l = qobject_cast<QListWidget*>(w)) l->clear();
}
void TemplateDialog::addListItem(int id, const std::u16string& text) {
  QWidget* w = find(id);
  QSignalBlocker block(w);
  if (auto* c = qobject_cast<QComboBox*>(w)) {
    const int keep = c->currentIndex();
    c->addItem(qs(text));
    c->setCurrentIndex(keep);  // adding selects nothing
  }
  if (auto* l = qobject_cast<QListWidget*>(w)) l->addItem(qs(text));
}
void TemplateDialog::setListSelection(int id, int index) {
  QWidget* w = find(id);
  QSignalBlocker block(w);
  if (auto* c = qobject_cast<QComboBox*>(w)) c->setCurrentIndex(index);
  if (auto* l = qobject_cast<QListWidget*>(w)) l->setCurrentRow(index);
}
int TemplateDialog::listSelection(int id) const {
  QWidget* w = find(id);
  if (auto* c = qobject_cast<QComboBox*>(w)) return c->currentIndex();
  if (auto* l = qobject_cast<QListWidget*>(w)) return l->currentRow();
  return -1;
}
int TemplateDialog::listCount(int id) const {
  QWidget* w = find(id);
  if (auto* c = qobject_cast<QComboBox*>(w)) return c->count();
  if (auto* l = qobject_cast<QListWidget*>(w)) return l->count();
  return 0;
}
void TemplateDialog::setItemText(int id, const std::u16string& text) {
  QWidget* w = find(id);
  if (auto* e = qobject_cast<QLineEdit*>(w)) e->setText(qs(text));
  else if (auto* l = qobject_cast<QLabel*>(w)) l->setText(qs(text));
  else if (auto* b = qobject_cast<QAbstractButton*>(w)) b->setText(qs(text));
  else if (auto* g = qobject_cast<QGroupBox*>(w)) g->setTitle(qs(text));
}
std::u16string TemplateDialog::itemText(int id) const {
  QWidget* w = find(id);
  if (auto* e = qobject_cast<QLineEdit*>(w)) return us(e->text());
  if (auto* l = qobject_cast<QLabel*>(w)) return us(l->text());
  if (auto* b = qobject_cast<QAbstractButton*>(w)) return us(b->text());
  if (auto* c = qobject_cast<QComboBox*>(w)) return us(c->currentText());
  return {};
}
void TemplateDialog::setChecked(int id, bool checked) {
  if (auto* b = qobject_cast<QAbstractButton*>(find(id))) {
    b->setCheckable(true);
    b->setChecked(checked);
  }
}
bool TemplateDialog::isChecked(int id) const {
  auto* b = qobject_cast<QAbstractButton*>(find(id));
  return b && b->isChecked();
}
void TemplateDialog::enableItem(int id, bool enabled) {
  if (QWidget* w = find(id)) w->setEnabled(enabled);
}
void TemplateDialog::setMenuButtonText(int buttonId, const std::u16string& text) {
  if (QPushButton* b = barButton(buttonId)) b->setText(qs(text));
}
void TemplateDialog::destroyMenuBar() { bar_->hide(); }
void TemplateDialog::showMessage(const std::u16string& text, const std::u16string& caption) {
  QMessageBox::information(this, qs(caption), qs(text));
}
void TemplateDialog::endDialog(int result) {
  ending_ = true;
  done(result);
}

void TemplateDialog::setButtonMenu(int buttonId, const ui::Menu& menu) {
  QMenu* m = buttonMenu(buttonId);
  if (!m) return;
  m->clear();
  fillQMenu(m, menu, [this](int command) {
    if (onCommand) onCommand(command);
  });
}
void TemplateDialog::openButtonMenu(int buttonId) {
  QMenu* m = buttonMenu(buttonId);
  QPushButton* b = barButton(buttonId);
  if (!m || !b) return;
  if (!isVisible()) {  // asked while the dialog opens: once it is shown
    QMetaObject::invokeMethod(this, [this, buttonId] {
      if (isVisible()) openButtonMenu(buttonId);
    }, Qt::QueuedConnection);
    return;
  }
  m->popup(b->mapToGlobal(QPoint(0, 0)) - QPoint(0, m->sizeHint().height()));
}

void TemplateDialog::resizeEvent(QResizeEvent* event) {
  QDialog::resizeEvent(event);
  if (onSize) onSize();
  else layoutFromTemplate();
}
void TemplateDialog::closeEvent(QCloseEvent* event) {
  if (ending_ || !onClose) {
    QDialog::closeEvent(event);
    return;
  }
  event->ignore();
  onClose();
}
void TemplateDialog::reject() {
  if (onClose) onClose();
  else QDialog::reject();
}
void TemplateDialog::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Help && onHelp) {
    onHelp();
    return;
  }
  // F1 and F2 are the left and right soft keys, as in the main window: a popup or a
  // command.
  const int softKey = event->key() == Qt::Key_F1 ? leftButton_ : event->key() == Qt::Key_F2 ? rightButton_ : 0;
  if (softKey != 0 && bar_->isVisible()) {
    if (menus_.count(softKey) != 0) openButtonMenu(softKey);
    else if (onCommand) onCommand(softKey);
    return;
  }
  QDialog::keyPressEvent(event);
}
bool TemplateDialog::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::KeyPress && onListKey) {
    const QVariant id = watched->property("controlId");
    if (id.isValid()) {
      const ui::DialogKey key = dialogKey(static_cast<QKeyEvent*>(event)->key());
      if (key != ui::DialogKey::kOther && onListKey(id.toInt(), key)) return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}
bool TemplateDialog::event(QEvent* event) {
  if (event->type() == QEvent::WindowActivate && onActivate) onActivate();
  return QDialog::event(event);
}

}  // namespace front
