#!/usr/bin/env bash
# Installs every Debian package the project builds, tests and runs with
# (tools/debian-packages.txt), without letting Debian start its own servers.
# Idempotent and non-interactive; uses sudo when not run as root.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

mapfile -t packages < <(grep -Ev '^\s*(#|$)' "$here/debian-packages.txt")

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done

# Debian's maintainer scripts would start nginx, apache2, php-fpm and mariadb
# system services; a policy-rc.d that answers 101 forbids that.
policy=/usr/sbin/policy-rc.d
if [ ${#missing[@]} -gt 0 ]; then
    echo "Installing Debian packages: ${missing[*]}"
    added_policy=0
    if [ ! -e "$policy" ]; then
        as_root sh -c "printf '#!/bin/sh\nexit 101\n' > $policy && chmod 755 $policy"
        added_policy=1
        trap 'as_root rm -f "$policy"' EXIT
    fi
    export DEBIAN_FRONTEND=noninteractive
    # phpMyAdmin is only copied from; it needs no database or web server set-up.
    printf '%s\n' 'phpmyadmin phpmyadmin/dbconfig-install boolean false' \
        'phpmyadmin phpmyadmin/reconfigure-webserver multiselect' | as_root debconf-set-selections
    as_root apt-get update -q
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -q \
        -o Dpkg::Options::=--force-confdef -o Dpkg::Options::=--force-confold "${missing[@]}"
    if [ "$added_policy" -eq 1 ]; then
        as_root rm -f "$policy"
        trap - EXIT
    fi
fi

# Stop whatever an earlier install may have started anyway.
for service in nginx apache2 php8.2-fpm mariadb; do
    if command -v systemctl >/dev/null 2>&1 && [ -d /run/systemd/system ]; then
        as_root systemctl disable --now "$service" >/dev/null 2>&1 || true
    fi
    as_root service "$service" stop >/dev/null 2>&1 || true
done

# nginx run by an unprivileged user still opens its compiled-in temp folders.
for d in body fastcgi proxy scgi uwsgi; do
    as_root install -d -m 0755 "/var/lib/nginx/$d"
done
