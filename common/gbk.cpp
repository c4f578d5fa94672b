#include "common/gbk.h"

#include <windows.h>

std::wstring GbkToWide(const Text& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(kGbkCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  if (n <= 0) return {};
  std::wstring out(n, L'\0');
  MultiByteToWideChar(kGbkCodePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n);
  return out;
}

Text WideToGbk(const std::wstring& text) {
  if (text.empty()) return {};
  int n = WideCharToMultiByte(kGbkCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr,
                              nullptr);
  if (n <= 0) return {};
  Text out(n, '\0');
  WideCharToMultiByte(kGbkCodePage, 0, text.data(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}
