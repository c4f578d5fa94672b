// The Updater executable that the main program carries as a resource.
#pragma once

#include "common/text.h"

// The complete image, byte for byte; empty when the resource is missing.
Bytes LoadUpdaterImage();
