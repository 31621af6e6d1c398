#!/usr/bin/env bash
# Installs what is needed, builds, installs and starts Vessora for the user
# who runs it. The application never runs as root: as root it runs it as the
# user named in VESSORA_USER (default: the user who called sudo).
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
prefix="${VESSORA_PREFIX:-/usr/local}"

bash "$repo/tools/install-dependencies.sh"

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

build="${VESSORA_BUILD_DIR:-/var/tmp/vessora-app-build}"
as_root install -d -m 0755 "$build"
as_root cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DVESSORA_BUILD_TESTS=OFF
as_root cmake --build "$build" -j "$(nproc)"
as_root cmake --install "$build"

app="$prefix/bin/Vessora"
if [ ! -x "$app" ]; then
    echo "Built and installed the Vessora engine libraries under $prefix."
    echo "The desktop application is not part of this build yet; nothing to start."
    exit 0
fi
user="${VESSORA_USER:-${SUDO_USER:-$(id -un)}}"
if [ "$(id -u "$user")" -eq 0 ]; then
    echo "Vessora does not run as root. Run this command as your own user, or set VESSORA_USER." >&2
    exit 1
fi
if [ "$(id -un)" = "$user" ]; then exec "$app"; fi
exec runuser -u "$user" -- "$app"
