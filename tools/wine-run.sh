#!/usr/bin/env bash
# Runs one Windows program under the project's Wine harness (the CTest emulator).
# Expects wine_up to have run (the test script does that); works without it too,
# only slower, as long as DISPLAY is not needed.
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"
exec wine "$@"
