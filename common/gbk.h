// Conversions between the system's GBK texts and UTF-16 for the W entry points.
// The code page is always named: 936, whatever the system locale.
#pragma once

#include "common/text.h"

#include <string>

inline constexpr unsigned kGbkCodePage = 936;

std::wstring GbkToWide(const Text& text);
Text WideToGbk(const std::wstring& text);
