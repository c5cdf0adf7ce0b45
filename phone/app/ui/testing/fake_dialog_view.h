#pragma once

#include "ui/memory_dialog_view.h"

namespace ui::testing {
using FakeDialogView = ui::MemoryDialogView;
}  // namespace ui::testing
