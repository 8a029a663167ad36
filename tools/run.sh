#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Sets everything up on Debian 12 or 13 and starts the program: installs
# what building and running it need (nothing of the tests'), and builds the
# program alone.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$root/tools/install-deps.sh" run
cmake -S "$root" -B "$root/build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUORVEL_TESTS=OFF
cmake --build "$root/build" --target quorvel
exec "$root/build/quorvel"
