#include "app/service/package_archive.h"

#include "common/resource_ids.h"

#include <windows.h>

Bytes EmbeddedTunnelPackage() {
  // Resources of the running image stay mapped for the life of the process:
  // nothing to release.
  HMODULE module = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(module, MAKEINTRESOURCEW(IDR_TUNNEL_PACKAGE), MAKEINTRESOURCEW(10));  // RT_RCDATA
  if (!found) return {};
  DWORD size = SizeofResource(module, found);
  HGLOBAL loaded = LoadResource(module, found);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data || size == 0) return {};
  return Bytes(static_cast<const char*>(data), size);
}
