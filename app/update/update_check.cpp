#include "app/update/update_check.h"

void CheckForUpdate(AppContext&) {}
