#include "ui/setting_rules.h"

#include <charconv>

#include "platform/utf16.h"

namespace ui {

namespace {
std::u16string decimal(long long v) {
  const std::string s = std::to_string(v);
  return std::u16string(s.begin(), s.end());
}
std::u16string lower(std::u16string s) {
  for (char16_t& c : s)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return s;
}
bool readInteger(const std::u16string& text, long long& out) {
  const std::string narrow = platform::utf16ToUtf8Lossy(text);
  if (narrow.empty()) return false;
  const char* first = narrow.data();
  const char* last = first + narrow.size();
  if (*first == '+') ++first;
  auto [end, ec] = std::from_chars(first, last, out);
  return ec == std::errc() && end == last;
}
}  // namespace

bool isNumericSetting(const settings::SourceSetting& setting) {
  return setting.choices == nullptr && setting.count > 2;
}

std::vector<settings::SourceSetting*> numericSettings(settings::SourceSetting* head) {
  std::vector<settings::SourceSetting*> out;
  for (settings::SourceSetting* s = head; s; s = s->next)
    if (isNumericSetting(*s)) out.push_back(s);
  return out;
}

std::vector<settings::SourceSetting*> choiceSettings(settings::SourceSetting* head) {
  std::vector<settings::SourceSetting*> out;
  for (settings::SourceSetting* s = head; s; s = s->next)
    if (!isNumericSetting(*s)) out.push_back(s);
  return out;
}

bool stepSetting(settings::SourceSetting& setting, int delta) {
  const int32_t index = settings::effectiveIndex(setting);
  if (delta < 0) {
    if (index <= 0) return false;
    setting.current = index - 1;
    return true;
  }
  if (delta > 0) {
    if (index < 0 || static_cast<uint32_t>(index) + 1 >= setting.count) return false;
    setting.current = index + 1;
    return true;
  }
  return false;
}

std::u16string settingValueText(const settings::SourceSetting& setting) {
  return decimal(settings::settingValue(setting));
}

std::u16string choiceLabel(const settings::SettingChoice& choice, const TextFunction& text) {
  if (choice.textId != 0 && text) {
    if (const char16_t* t = text(choice.textId)) return t;
  }
  return choice.label ? std::u16string(choice.label) : std::u16string();
}

bool isSingleItemChoice(const settings::SourceSetting& setting, const TextFunction& text) {
  return setting.choices == nullptr || setting.count == 0 ||
         choiceLabel(setting.choices[0], text).empty();
}

std::u16string valueLabel(const settings::SourceSetting& setting, int32_t index,
                          const TextFunction& text) {
  if (index < 0 || static_cast<uint32_t>(index) >= setting.count) return u"";
  if (setting.choices == nullptr)
    return decimal(static_cast<long long>(setting.base) + static_cast<long long>(index) * setting.step);
  const std::u16string label = choiceLabel(setting.choices[index], text);
  if (label.empty()) return decimal(setting.choices[index].value);
  int same = 0, position = 0;
  for (uint32_t i = 0; i < setting.count; ++i) {
    if (choiceLabel(setting.choices[i], text) != label) continue;
    ++same;
    if (i <= static_cast<uint32_t>(index)) position = same;
  }
  return same > 1 ? label + u" (" + decimal(position) + u")" : label;
}

bool parseSettingValue(const settings::SourceSetting& setting, const std::u16string& value,
                       const TextFunction& text, int32_t& index, std::string& error) {
  long long number = 0;
  const bool isNumber = readInteger(value, number);
  if (isNumericSetting(setting)) {
    if (!isNumber) {
      error = "\"" + platform::utf16ToUtf8Lossy(value) + "\" is not a number";
      return false;
    }
    for (uint32_t i = 0; i < setting.count; ++i) {
      if (static_cast<long long>(setting.base) + static_cast<long long>(i) * setting.step == number) {
        index = static_cast<int32_t>(i);
        return true;
      }
    }
    error = "value " + std::to_string(number) + " is not one of " +
            platform::utf16ToUtf8Lossy(valueLabel(setting, 0, text)) + ".." +
            platform::utf16ToUtf8Lossy(valueLabel(setting, static_cast<int32_t>(setting.count) - 1, text));
    if (setting.step > 1) error += " in steps of " + std::to_string(setting.step);
    return false;
  }
  const std::u16string wanted = lower(value);
  if (setting.choices != nullptr) {
    for (uint32_t i = 0; i < setting.count; ++i) {
      const int32_t at = static_cast<int32_t>(i);
      if (lower(valueLabel(setting, at, text)) == wanted) {
        index = at;
        return true;
      }
    }
    // "640x480" for "640x480 UYVY" and "640x480 JPEG": the first of them.
    for (uint32_t i = 0; i < setting.count && !wanted.empty(); ++i) {
      if (lower(valueLabel(setting, static_cast<int32_t>(i), text)).rfind(wanted + u" ", 0) == 0) {
        index = static_cast<int32_t>(i);
        return true;
      }
    }
  } else if (setting.count == 2 && (wanted == u"on" || wanted == u"off")) {
    index = wanted == u"on" ? 1 : 0;
    return true;
  }
  if (isNumber && number >= 0 && number < static_cast<long long>(setting.count)) {
    index = static_cast<int32_t>(number);
    return true;
  }
  std::string choices;
  for (uint32_t i = 0; i < setting.count && i < 32; ++i) {
    if (!choices.empty()) choices += ", ";
    choices += platform::utf16ToUtf8Lossy(valueLabel(setting, static_cast<int32_t>(i), text));
  }
  error = "\"" + platform::utf16ToUtf8Lossy(value) + "\" is none of: " + choices +
          " (or an index 0.." + std::to_string(setting.count == 0 ? 0 : setting.count - 1) + ")";
  return false;
}

}  // namespace ui
