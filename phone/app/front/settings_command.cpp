#include "front/settings_command.h"

#include <limits>

#include "platform/utf16.h"
#include "targets/ftp_settings_dialog.h"
#include "targets/ftp_target.h"
#include "targets/network_settings_dialog.h"
#include "ui/memory_dialog_view.h"
#include "ui/settings_panel.h"

namespace front {

namespace {

std::string utf8(std::u16string_view s) { return platform::utf16ToUtf8Lossy(s); }
std::u16string utf16(std::string_view s) { return platform::utf8ToUtf16Lossy(s); }

std::u16string lower(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return s;
}
bool sameName(std::u16string_view a, std::u16string_view b) {
  return lower(std::u16string(a)) == lower(std::u16string(b));
}

// Runs the link's settings dialog logic over an in-memory window: the fields start as the
// dialog shows them, one is changed, and "Done" stores them as the dialog does.
void runNetworkDialog(targets::NetworkTarget& target, int field, const std::u16string& text,
                      bool checked) {
  ui::MemoryDialogView view;
  targets::NetworkSettingsDialog dialog(target, view, {}, u"");
  dialog.onInitDialog();
  if (field == targets::NetworkSettingsDialog::kAutodetect) {
    view.setChecked(field, checked);
    dialog.onCommand(field);
  } else {
    view.setItemText(field, text);
  }
  dialog.onCommand(ui::kDialogDone);
}

std::u16string decimal(uint64_t v) { return utf16(std::to_string(v)); }

TargetField numberField(targets::NetworkTarget& target, std::u16string name, int field,
                        uint32_t targets::NetworkTarget::*member, long long low, long long high) {
  return TargetField{
      name, [&target, member] { return decimal(target.*member); },
      [&target, name, field, low, high](const std::u16string& value, std::string& error) {
        long long v = 0;
        if (!targets::readDialogNumber(value, v) || v < low || v > high) {
          error = utf8(name) + " takes a whole number from " + std::to_string(low) + " to " +
                  std::to_string(high) + ", not \"" + utf8(value) + "\"";
          return false;
        }
        runNetworkDialog(target, field, value, false);
        return true;
      }};
}

// The uploader's dialog logic over an in-memory window, as runNetworkDialog does: one
// field (a text, or a check box when `check` is set) changes, then "Done".
class NoScrolling final : public targets::ScrollingView {
 public:
  int pageHeight() const override { return 0; }
  void setScrollRange(int, int, int) override {}
  void scrollContents(int) override {}
};
void runFtpDialog(targets::FtpTarget& target, int field, const std::u16string& text, bool check, bool checked) {
  ui::MemoryDialogView view;
  NoScrolling scrolling;
  targets::FtpSettingsDialog dialog(target, view, scrolling, {}, u"", 0);
  dialog.onInitDialog();
  if (check) {
    view.setChecked(field, checked);
    dialog.onCommand(field);
  } else {
    view.setItemText(field, text);
  }
  dialog.onCommand(ui::kDialogDone);
}

sources::CaptureSource* findSource(core::CaptureContext& context, std::u16string_view name) {
  sources::CaptureSource* found = nullptr;
  for (sources::CaptureSource& s : context.sources) {
    if (!sameName(context.sourceName(s), name)) continue;
    if (s.enabled()) return &s;  // of two sources of one name, the enabled one
    if (!found) found = &s;
  }
  return found;
}

targets::DeliveryTarget* findTarget(core::CaptureContext& context, std::u16string_view name) {
  for (auto& t : context.targets)
    if (sameName(t->Name(), name)) return t.get();
  return nullptr;
}

std::string sourceNames(core::CaptureContext& context) {
  std::string out;
  for (sources::CaptureSource& s : context.sources) out += (out.empty() ? "" : ", ") + utf8(context.sourceName(s));
  return out;
}
std::string targetNames(core::CaptureContext& context) {
  std::string out;
  for (auto& t : context.targets) out += (out.empty() ? "" : ", ") + utf8(t->Name());
  return out;
}

// Runs `use` over the target prepared: the current target is (the window is active);
// another one is prepared for the call and released after it, which saves its settings.
template <typename Use>
void withPrepared(core::CaptureContext& context, targets::DeliveryTarget& target, Use use) {
  if (&target == context.currentTarget) {
    use();
    return;
  }
  if (!target.Prepare()) return;
  use();
  target.Release();
}

bool applyTargetSetting(core::CaptureContext& context, targets::DeliveryTarget& target,
                        const std::u16string& name, const std::u16string& value,
                        const TargetFields& fields, std::vector<std::string>& messages) {
  bool ok = false;
  withPrepared(context, target, [&] {
    std::vector<TargetField> list = fields ? fields(target) : std::vector<TargetField>{};
    std::string known;
    for (TargetField& f : list) {
      known += (known.empty() ? "" : ", ") + utf8(f.name);
      if (!sameName(f.name, name)) continue;
      std::string error;
      if (!f.set(value, error)) {
        messages.push_back(utf8(target.Name()) + "/" + utf8(f.name) + ": " + error);
      } else {
        messages.push_back(utf8(target.Name()) + "/" + utf8(f.name) + " = " + utf8(f.get()));
        ok = true;
      }
      return;
    }
    messages.push_back(utf8(target.Name()) + " has no setting \"" + utf8(name) + "\"" +
                       (known.empty() ? std::string(" (it has none)") : " (it has: " + known + ")"));
  });
  return ok;
}

bool applySourceSetting(core::CaptureContext& context, sources::CaptureSource& source,
                        const std::u16string& name, const std::u16string& value,
                        std::vector<std::string>& messages) {
  const std::u16string sourceName = context.sourceName(source);
  std::string known;
  for (settings::SourceSetting* s = source.Settings(); s; s = s->next) {
    const std::u16string settingName = s->name ? s->name : u"";
    known += (known.empty() ? "" : ", ") + utf8(settingName);
    if (!sameName(settingName, name)) continue;
    int32_t index = 0;
    std::string error;
    if (s->count == 0) {
      messages.push_back(utf8(sourceName) + "/" + utf8(settingName) +
                         ": its values are known once the source has started");
      return false;
    }
    if (!ui::parseSettingValue(*s, value, context.text(), index, error)) {
      messages.push_back(utf8(sourceName) + "/" + utf8(settingName) + ": " + error);
      return false;
    }
    ui::applySettingIndex(context, source, *s, index);
    messages.push_back(utf8(sourceName) + "/" + utf8(settingName) + " = " +
                       utf8(ui::valueLabel(*s, index, context.text())));
    return true;
  }
  messages.push_back(utf8(sourceName) + " has no setting \"" + utf8(name) + "\"" +
                     (known.empty() ? std::string(" (it has none)") : " (it has: " + known + ")"));
  return false;
}

bool applySet(core::CaptureContext& context, const std::string& text, const TargetFields& fields,
              std::vector<std::string>& messages) {
  const size_t slash = text.find('/');
  const size_t eq = text.find('=', slash == std::string::npos ? 0 : slash);
  if (slash == std::string::npos || eq == std::string::npos || slash == 0 || eq == slash + 1) {
    messages.push_back("--set takes \"Source/Name=value\" (or \"Target/Name=value\"), not \"" + text + "\"");
    return false;
  }
  const std::u16string owner = utf16(text.substr(0, slash));
  const std::u16string name = utf16(text.substr(slash + 1, eq - slash - 1));
  const std::u16string value = utf16(text.substr(eq + 1));
  if (sources::CaptureSource* source = findSource(context, owner))
    return applySourceSetting(context, *source, name, value, messages);
  if (targets::DeliveryTarget* target = findTarget(context, owner))
    return applyTargetSetting(context, *target, name, value, fields, messages);
  messages.push_back("no source or target is called \"" + utf8(owner) + "\" (sources: " +
                     sourceNames(context) + "; targets: " + targetNames(context) + ")");
  return false;
}

}  // namespace

std::vector<TargetField> networkTargetFields(targets::NetworkTarget& target) {
  using Dialog = targets::NetworkSettingsDialog;
  std::vector<TargetField> fields;
  fields.push_back(TargetField{
      u"RemoteIP", [&target] { return target.remoteIp; },
      [&target](const std::u16string& value, std::string& error) {
        if (value.size() > 259) {
          error = "an address has at most 259 characters";
          return false;
        }
        runNetworkDialog(target, Dialog::kAddress, value, false);
        return true;
      }});
  fields.push_back(numberField(target, u"RemotePort", Dialog::kPort, &targets::NetworkTarget::remotePort, 0, 65535));
  fields.push_back(TargetField{
      u"RemoteIPAuto", [&target] { return decimal(target.remoteIpAuto); },
      [&target](const std::u16string& value, std::string& error) {
        const std::u16string v = lower(value);
        const bool on = v == u"1" || v == u"on";
        if (!on && v != u"0" && v != u"off") {
          error = "RemoteIPAuto takes 1 or on (the PC the device is docked to), 0 or off (RemoteIP)";
          return false;
        }
        runNetworkDialog(target, Dialog::kAutodetect, u"", on);
        return true;
      }});
  fields.push_back(numberField(target, u"RemoteTimeout", Dialog::kTimeout,
                               &targets::NetworkTarget::remoteTimeout, 0,
                               std::numeric_limits<uint32_t>::max()));
  return fields;
}

std::vector<TargetField> ftpTargetFields(targets::FtpTarget& target) {
  using Dialog = targets::FtpSettingsDialog;
  using T = targets::FtpTarget;
  std::vector<TargetField> fields;
  const auto text = [&target, &fields](std::u16string name, int id, std::u16string T::*member, bool secret) {
    fields.push_back(TargetField{
        name,
        [&target, member, secret] {
          return secret && !(target.*member).empty() ? std::u16string(u"********") : target.*member;
        },
        [&target, id, name](const std::u16string& value, std::string& error) {
          if (value.size() > targets::kFtpStringChars - 1) {
            error = utf8(name) + " has at most " + std::to_string(targets::kFtpStringChars - 1) + " characters";
            return false;
          }
          runFtpDialog(target, id, value, false, false);
          return true;
        }});
  };
  const auto number = [&target, &fields](std::u16string name, int id, uint32_t T::*member, long long high) {
    fields.push_back(TargetField{
        name, [&target, member] { return decimal(target.*member); },
        [&target, name, id, high](const std::u16string& value, std::string& error) {
          long long v = 0;
          if (!targets::readDialogNumber(value, v) || v < 0 || v > high) {
            error = utf8(name) + " takes a whole number from 0 to " + std::to_string(high) + ", not \"" +
                    utf8(value) + "\"";
            return false;
          }
          runFtpDialog(target, id, value, false, false);
          return true;
        }});
  };
  const auto onOff = [&target, &fields](std::u16string name, int id, uint32_t T::*member) {
    fields.push_back(TargetField{
        name, [&target, member] { return decimal(target.*member); },
        [&target, name, id](const std::u16string& value, std::string& error) {
          const std::u16string v = lower(value);
          const bool on = v == u"1" || v == u"on";
          if (!on && v != u"0" && v != u"off") {
            error = utf8(name) + " takes 1 or on, 0 or off";
            return false;
          }
          runFtpDialog(target, id, u"", true, on);
          return true;
        }});
  };
  text(u"Server", Dialog::kServer, &T::server, false);
  number(u"Port", Dialog::kPort, &T::port, 65535);
  text(u"Login", Dialog::kLogin, &T::login, false);
  text(u"Password", Dialog::kPassword, &T::password, true);
  text(u"Directory", Dialog::kDirectory, &T::directory, false);
  text(u"Filename", Dialog::kFile, &T::fileName, false);
  number(u"Interval", Dialog::kInterval, &T::interval, std::numeric_limits<uint32_t>::max());
  onOff(u"PassiveMode", Dialog::kPassive, &T::passiveMode);
  onOff(u"UseTempFile", Dialog::kUseTempFile, &T::useTempFile);
  onOff(u"IgnoreErrors", Dialog::kIgnoreErrors, &T::ignoreErrors);
  onOff(u"PowerSafe", Dialog::kPowerSafe, &T::powerSafe);
  return fields;
}

std::vector<TargetField> deviceTargetFields(targets::DeliveryTarget& target) {
  if (auto* network = dynamic_cast<targets::NetworkTarget*>(&target)) return networkTargetFields(*network);
  if (auto* ftp = dynamic_cast<targets::FtpTarget*>(&target)) return ftpTargetFields(*ftp);
  return {};
}

bool applySettingChanges(core::CaptureContext& context, ui::MenuBuilder& menu,
                         const std::vector<SettingChange>& changes, const TargetFields& fields,
                         std::vector<std::string>& messages) {
  bool all = true;
  for (const SettingChange& change : changes) {
    bool ok = false;
    switch (change.kind) {
      case SettingChange::Kind::kSet:
        ok = applySet(context, change.text, fields, messages);
        break;
      case SettingChange::Kind::kEnable:
      case SettingChange::Kind::kDisable: {
        const bool enable = change.kind == SettingChange::Kind::kEnable;
        sources::CaptureSource* source = findSource(context, utf16(change.text));
        if (!source) {
          messages.push_back("no source is called \"" + change.text + "\" (sources: " +
                             sourceNames(context) + ")");
          break;
        }
        if (source->enabled() != enable) menu.toggleSource(*source);
        std::string now;
        for (sources::CaptureSource& s : context.sources)
          if (s.enabled()) now += (now.empty() ? "" : ", ") + utf8(context.sourceName(s));
        messages.push_back("enabled sources: " + (now.empty() ? std::string("none") : now));
        ok = true;
        break;
      }
      case SettingChange::Kind::kTarget: {
        targets::DeliveryTarget* target = findTarget(context, utf16(change.text));
        if (!target) {
          messages.push_back("no target is called \"" + change.text + "\" (targets: " +
                             targetNames(context) + ")");
          break;
        }
        if (target != context.currentTarget) menu.chooseTarget(*target);
        ok = target == context.currentTarget;
        messages.push_back(ok ? "target: " + utf8(target->Name())
                              : "target " + utf8(target->Name()) + " could not be prepared; it stays " +
                                    utf8(context.currentTarget ? context.currentTarget->Name() : u""));
        break;
      }
    }
    all = all && ok;
  }
  return all;
}

std::string listSettings(core::CaptureContext& context, const TargetFields& fields) {
  std::string out = "Sources (* enabled):\n";
  for (sources::CaptureSource& source : context.sources) {
    out += (source.enabled() ? "* " : "  ") + utf8(context.sourceName(source)) + "\n";
    for (settings::SourceSetting* s = source.Settings(); s; s = s->next) {
      const int32_t index = settings::effectiveIndex(*s);
      out += "    " + utf8(s->name ? s->name : u"") + " = " +
             utf8(ui::valueLabel(*s, index, context.text()));
      if (s->count == 0) {
        out += "(known once the source has started)";
      } else if (ui::isNumericSetting(*s)) {
        out += "   [" + utf8(ui::valueLabel(*s, 0, context.text())) + " .. " +
               utf8(ui::valueLabel(*s, static_cast<int32_t>(s->count) - 1, context.text()));
        if (s->step != 1) out += ", step " + std::to_string(s->step);
        out += "]";
      } else {
        out += "   [";
        for (uint32_t i = 0; i < s->count; ++i)
          out += (i ? " | " : "") + utf8(ui::valueLabel(*s, static_cast<int32_t>(i), context.text()));
        out += "]";
      }
      if (const char* note = source.settingNote(s); note && *note) out += "   (" + std::string(note) + ")";
      out += "\n";
    }
  }
  out += "Targets (* current):\n";
  for (auto& t : context.targets) {
    out += (t.get() == context.currentTarget ? "* " : "  ") + utf8(t->Name()) + "\n";
    withPrepared(context, *t, [&] {
      if (!fields) return;
      for (TargetField& f : fields(*t)) out += "    " + utf8(f.name) + " = " + utf8(f.get()) + "\n";
    });
  }
  return out;
}

}  // namespace front
