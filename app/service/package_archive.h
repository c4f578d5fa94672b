// The tunnel service package that the program carries: a ZIP archive held as
// the RCDATA resource IDR_TUNNEL_PACKAGE of the running executable.
#pragma once

#include "common/text.h"

// The archive's bytes, exactly as built; empty when the resource is missing.
Bytes EmbeddedTunnelPackage();
