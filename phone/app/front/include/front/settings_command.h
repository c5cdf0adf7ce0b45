#pragma once

// The headless settings command: lists every source's and target's settings and
// applies "--set", "--enable", "--disable" and "--target" to a running capture context
// through the same rules as the menus and the setting editor (MenuBuilder's actions,
// applySettingIndex, a target's own settings dialog logic).
//
// Threading: the window thread.

#include <functional>
#include <string>
#include <vector>

#include "core/capture_context.h"
#include "front/command_line.h"
#include "targets/ftp_target.h"
#include "targets/network_target.h"
#include "ui/menu_builder.h"

namespace front {

// One setting of a delivery target as the command sees it.
struct TargetField {
  std::u16string name;
  std::function<std::u16string()> get;
  // Changes the value through the target's own rules; false with `error` set.
  std::function<bool(const std::u16string& value, std::string& error)> set;
};
// The settings of a target (empty for a target without any). The target is prepared.
using TargetFields = std::function<std::vector<TargetField>(targets::DeliveryTarget& target)>;

// "RemoteIP", "RemotePort", "RemoteIPAuto" and "RemoteTimeout" of the link, changed
// through the logic of its settings dialog (600).
std::vector<TargetField> networkTargetFields(targets::NetworkTarget& target);
// "Server", "Port", "Login", "Password" (listed masked), "Directory", "Filename",
// "Interval", "PassiveMode", "UseTempFile", "IgnoreErrors" and "PowerSafe" of the FTP
// uploader, changed through the logic of its settings dialog (604).
std::vector<TargetField> ftpTargetFields(targets::FtpTarget& target);
// The fields of the link or of the uploader; nothing for other targets.
std::vector<TargetField> deviceTargetFields(targets::DeliveryTarget& target);

// Applies `changes` in order to a loaded context whose current target is prepared (the
// window is active). Each change that is refused adds a message saying why and leaves
// everything else as it was; changes that worked add a line saying what changed. True
// when every change was applied.
bool applySettingChanges(core::CaptureContext& context, ui::MenuBuilder& menu,
                         const std::vector<SettingChange>& changes, const TargetFields& fields,
                         std::vector<std::string>& messages);

// The listing of --settings: the sources (enabled ones marked) with every setting's value
// and its choices, then the targets (the current one marked) with theirs.
std::string listSettings(core::CaptureContext& context, const TargetFields& fields);

}  // namespace front
