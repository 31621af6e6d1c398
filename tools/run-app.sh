#!/usr/bin/env bash
# Installs what Vessora needs, builds it (the settings in
# tools/release-build.cmake), installs it under the prefix (VESSORA_PREFIX,
# default /usr/local) and starts it for the user who runs this command.
#
# The application never runs as root: run as root, this starts it for the
# user named in VESSORA_USER, else for the user who called sudo.
#
# Without Homebrew on Linux, Debian's servers stand in for Homebrew's
# formulae: tools/build-brew-prefixes.py lays them out in /opt/vessora-brew
# and the build compiles that brew path in. The folder is a fixed one outside
# every home, since the installed program is shared by all users (and on
# Debian 12 a home is closed to others). It belongs to the user who runs the
# application, because the stand-in writes its state and call log there.
#
#   --checks-only   checks the display and the user, then stops
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
prefix="${VESSORA_PREFIX:-/usr/local}"
build="${VESSORA_BUILD_DIR:-/var/tmp/vessora-app-build}"
homebrew=/home/linuxbrew/.linuxbrew/bin/brew
stand_in=/opt/vessora-brew

checks_only=0
case "$*" in
"") ;;
--checks-only) checks_only=1 ;;
*)
    echo "Usage: bash tools/run-app.sh [--checks-only]" >&2
    exit 2
    ;;
esac

fail() {
    echo "$1" >&2
    exit 1
}

# Everything that can stop the start is checked before the long install and
# build, so the user learns it at once.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    fail "Vessora needs a desktop session, but neither DISPLAY nor WAYLAND_DISPLAY is set: run this command in a terminal of your desktop."
fi
if [ "$(id -u)" -eq 0 ]; then
    user="${VESSORA_USER:-${SUDO_USER:-}}"
    if [ -z "$user" ] || { [ -z "${VESSORA_USER:-}" ] && [ "$user" = root ]; }; then
        fail "Vessora does not run as root and no user was named to run it: run this command as your own user, with sudo from your user, or with VESSORA_USER set."
    fi
else
    user="$(id -un)"
    if [ -n "${VESSORA_USER:-}" ] && [ "$VESSORA_USER" != "$user" ]; then
        fail "Only root can start Vessora for another user ($VESSORA_USER): run this command with sudo."
    fi
    command -v sudo >/dev/null 2>&1 ||
        fail "Installing Vessora needs root rights, but sudo is not installed: run this command as root with VESSORA_USER set."
fi
uid="$(id -u "$user" 2>/dev/null)" || fail "There is no user named $user to run Vessora."
if [ "$uid" -eq 0 ]; then
    fail "Vessora does not run as root: set VESSORA_USER to the user who should run it."
fi
if [ "$checks_only" -eq 1 ]; then
    echo "Ready to install, build and start Vessora for $user."
    exit 0
fi

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

bash "$repo/tools/install-dependencies.sh"

if [ -x "$homebrew" ]; then
    brew="$homebrew"
else
    # Laid out afresh each time, since Debian's versions may have changed:
    # root builds it in a new folder (never writing into one the user owns)
    # and then hands it to the user.
    echo "Setting up Debian's servers as Homebrew formulae in $stand_in."
    as_root rm -rf "$stand_in"
    as_root /usr/bin/python3 -I "$repo/tools/build-brew-prefixes.py" "$stand_in"
    as_root chown -hR "$user:$(id -gn "$user")" "$stand_in"
    brew="$stand_in/bin/brew"
fi

as_root install -d -m 0755 "$build"
as_root cmake -C "$repo/tools/release-build.cmake" -S "$repo" -B "$build" -G Ninja \
    -DCMAKE_INSTALL_PREFIX="$prefix" -DVESSORA_BREW_PATH="$brew"
as_root cmake --build "$build" -j "$(nproc)"
as_root cmake --install "$build"
# A changed helper unit takes effect at its next start.
if [ -d /run/systemd/system ]; then
    as_root systemctl daemon-reload
fi
# A desktop's icon cache older than its folder is not used, so the new icon shows.
as_root touch "$prefix/share/icons/hicolor"

app="$prefix/bin/Vessora"
echo "Starting Vessora for $user."
if [ "$(id -u)" -ne 0 ]; then
    exec "$app"
fi
# root's own folders are no place for the user's data, settings or sockets.
session=(-u XDG_DATA_HOME -u XDG_CONFIG_HOME -u XDG_CACHE_HOME -u XDG_STATE_HOME
    -u XDG_RUNTIME_DIR)
if [ -d "/run/user/$uid" ]; then
    session+=("XDG_RUNTIME_DIR=/run/user/$uid")
fi
# root's X authority file is closed to the user: the display's cookie goes
# into the user's own (~/.Xauthority), written by the user.
if [ -n "${DISPLAY:-}" ] && command -v xauth >/dev/null 2>&1; then
    cookie="$(xauth nextract - "$DISPLAY" 2>/dev/null || true)"
    if [ -n "$cookie" ]; then
        printf '%s\n' "$cookie" | runuser -u "$user" -- env -u XAUTHORITY xauth -q nmerge -
        session+=(-u XAUTHORITY)
    fi
fi
exec runuser -u "$user" -- env "${session[@]}" "$app"
