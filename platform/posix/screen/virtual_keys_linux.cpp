// The PC's virtual-key codes as keys of this system: the X keysym and the Linux input
// event code of each.
#include <linux/input-event-codes.h>

#include "platform/screen.h"

namespace platform {
namespace {

struct Named {
  uint32_t virtualKey;
  uint32_t keysym;
  uint16_t eventCode;
};

// Keys outside letters, digits and function keys.
constexpr Named kKeys[] = {
    {0x08, 0xFF08, KEY_BACKSPACE}, {0x09, 0xFF09, KEY_TAB},       {0x0D, 0xFF0D, KEY_ENTER},
    {0x10, 0xFFE1, KEY_LEFTSHIFT}, {0x11, 0xFFE3, KEY_LEFTCTRL},  {0x12, 0xFFE9, KEY_LEFTALT},
    {0x13, 0xFF13, KEY_PAUSE},     {0x14, 0xFFE5, KEY_CAPSLOCK},  {0x1B, 0xFF1B, KEY_ESC},
    {0x20, 0x0020, KEY_SPACE},     {0x21, 0xFF55, KEY_PAGEUP},    {0x22, 0xFF56, KEY_PAGEDOWN},
    {0x23, 0xFF57, KEY_END},       {0x24, 0xFF50, KEY_HOME},      {0x25, 0xFF51, KEY_LEFT},
    {0x26, 0xFF52, KEY_UP},        {0x27, 0xFF53, KEY_RIGHT},     {0x28, 0xFF54, KEY_DOWN},
    {0x2C, 0xFF61, KEY_SYSRQ},     {0x2D, 0xFF63, KEY_INSERT},    {0x2E, 0xFFFF, KEY_DELETE},
    {0x5B, 0xFFEB, KEY_LEFTMETA},  {0x5D, 0xFF67, KEY_COMPOSE},   {0x6A, 0xFFAA, KEY_KPASTERISK},
    {0x6B, 0xFFAB, KEY_KPPLUS},    {0x6D, 0xFFAD, KEY_KPMINUS},   {0x6E, 0xFFAE, KEY_KPDOT},
    {0x6F, 0xFFAF, KEY_KPSLASH},   {0x90, 0xFF7F, KEY_NUMLOCK},   {0x91, 0xFF14, KEY_SCROLLLOCK},
    {0xBA, 0x003B, KEY_SEMICOLON}, {0xBB, 0x003D, KEY_EQUAL},     {0xBC, 0x002C, KEY_COMMA},
    {0xBD, 0x002D, KEY_MINUS},     {0xBE, 0x002E, KEY_DOT},       {0xBF, 0x002F, KEY_SLASH},
    {0xC0, 0x0060, KEY_GRAVE},     {0xDB, 0x005B, KEY_LEFTBRACE}, {0xDC, 0x005C, KEY_BACKSLASH},
    {0xDD, 0x005D, KEY_RIGHTBRACE}, {0xDE, 0x0027, KEY_APOSTROPHE},
};

constexpr uint16_t kLetterCodes[26] = {
    KEY_A, KEY_B, KEY_C, KEY_D, KEY_E, KEY_F, KEY_G, KEY_H, KEY_I, KEY_J, KEY_K, KEY_L, KEY_M,
    KEY_N, KEY_O, KEY_P, KEY_Q, KEY_R, KEY_S, KEY_T, KEY_U, KEY_V, KEY_W, KEY_X, KEY_Y, KEY_Z,
};
constexpr uint16_t kDigitCodes[10] = {KEY_0, KEY_1, KEY_2, KEY_3, KEY_4, KEY_5, KEY_6, KEY_7, KEY_8, KEY_9};
constexpr uint16_t kKeypadCodes[10] = {KEY_KP0, KEY_KP1, KEY_KP2, KEY_KP3, KEY_KP4,
                                       KEY_KP5, KEY_KP6, KEY_KP7, KEY_KP8, KEY_KP9};
constexpr uint16_t kFunctionCodes[12] = {KEY_F1, KEY_F2, KEY_F3, KEY_F4,  KEY_F5,  KEY_F6,
                                         KEY_F7, KEY_F8, KEY_F9, KEY_F10, KEY_F11, KEY_F12};

}  // namespace

KeyNames keyForVirtualKey(uint32_t vk) {
  // Letters are the unshifted keys: keysym of the small letter.
  if (vk >= 'A' && vk <= 'Z') return {vk - 'A' + 'a', kLetterCodes[vk - 'A']};
  if (vk >= '0' && vk <= '9') return {vk, kDigitCodes[vk - '0']};
  if (vk >= 0x60 && vk <= 0x69) return {0xFFB0 + (vk - 0x60), kKeypadCodes[vk - 0x60]};
  if (vk >= 0x70 && vk <= 0x7B) return {0xFFBE + (vk - 0x70), kFunctionCodes[vk - 0x70]};
  for (const Named& k : kKeys)
    if (k.virtualKey == vk) return {k.keysym, k.eventCode};
  return {};
}

}  // namespace platform
