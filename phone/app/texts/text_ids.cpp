#include "texts/text_ids.h"

namespace texts {
namespace {

struct Loaded {
  uint32_t textId;
  uint32_t resourceId;
};

constexpr Loaded kLoaded[] = {
    {9, 113},  {10, 114}, {11, 113}, {12, 120}, {13, 167}, {14, 303}, {15, 126}, {16, 127},
    {17, 128}, {18, 129}, {19, 131}, {21, 154}, {22, 155}, {23, 156}, {24, 157}, {25, 158},
    {26, 159}, {27, 260}, {28, 161}, {29, 162}, {30, 163}, {31, 165}, {32, 166}, {33, 147},
    {34, 300}, {35, 301}, {36, 304}, {37, 305}, {38, 306}, {39, 307}, {40, 211}, {41, 212},
    {42, 213}, {43, 214}, {44, 215}, {45, 216}, {46, 217}, {47, 218}, {48, 219}, {49, 220},
    {50, 221}, {51, 222}, {52, 223}, {53, 224}, {54, 225}, {55, 229}, {56, 230}, {57, 231},
    {58, 233}, {59, 316}, {60, 310}, {61, 314}, {62, 317}, {63, 315}, {64, 311}, {65, 312},
    {66, 313}, {67, 318}, {68, 319}, {69, 320}, {71, 321}, {76, 324},
};

struct Fixed {
  uint32_t textId;
  const char16_t* text;
};

constexpr Fixed kFixed[] = {
    {1, u"MAX"},        {2, u"H"},          {3, u"V"},      {4, u"HV"},
    {5, u"Normal"},     {6, u"Overclock"},  {7, u"Format"}, {8, u"Frame Time"},
    {70, u"Sound"},     {72, u"Imageon"},
};

}  // namespace

uint32_t textResourceId(uint32_t textId) {
  for (const auto& l : kLoaded)
    if (l.textId == textId) return l.resourceId;
  return 0;
}

const char16_t* fixedText(uint32_t textId) {
  for (const auto& f : kFixed)
    if (f.textId == textId) return f.text;
  return nullptr;
}

}  // namespace texts
