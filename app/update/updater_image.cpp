#include "app/update/updater_image.h"

#include <windows.h>

#include "common/resource_ids.h"

Bytes LoadUpdaterImage() {
  HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(IDR_UPDATER_IMAGE), MAKEINTRESOURCEW(10) /* RT_RCDATA */);
  if (!found) return {};
  const DWORD size = SizeofResource(nullptr, found);
  HGLOBAL loaded = LoadResource(nullptr, found);  // module memory; nothing to free
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (!bytes || size == 0) return {};
  return Bytes(static_cast<const char*>(bytes), size);
}
