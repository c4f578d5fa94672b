#include "common/message_box.h"

#include "common/gbk.h"

#include <windows.h>

int MessageBoxResultCode(int platformId) {
  switch (platformId) {
    case IDOK: return 0;
    case IDCANCEL: return 1;
    case IDABORT: return 2;
    case IDRETRY: return 3;
    case IDIGNORE: return 4;
    case IDYES: return 5;
    case IDNO: return 6;
    default: return 0;
  }
}

int ShowPlatformMessageBox(const Text& text, int flags, const Text& caption) {
  UINT style = static_cast<UINT>(flags);
  if ((style & MB_SYSTEMMODAL) == 0) style |= MB_TASKMODAL;
  int id = MessageBoxW(nullptr, GbkToWide(text).c_str(), GbkToWide(caption).c_str(), style);
  return MessageBoxResultCode(id);
}
