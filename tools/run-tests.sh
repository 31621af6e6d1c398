#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test. As root it runs the
# unit, integration and gui labels as an unprivileged user (MariaDB and
# PHP-FPM refuse root) and the root label as root.
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
jobs="$(nproc)"

bash "$repo/tools/install-dependencies.sh"

run_ctest() { # label-regex, then a command prefix
    local labels="$1"; shift
    "$@" ctest --test-dir "$build" -L "$labels" --output-on-failure -j "$jobs" \
        --timeout 900 2>&1 | tee "$build/ctest-$(echo "$labels" | tr -dc 'a-z').log" || true
}

summary() { # sums "N tests failed out of M" over the logs
    local passed=0 failed=0 f line total fails
    for f in "$@"; do
        [ -f "$f" ] || continue
        line="$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$f" | tail -n 1 || true)"
        [ -n "$line" ] || continue
        fails="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/' <<<"$line")"
        total="$(sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\2/' <<<"$line")"
        passed=$((passed + total - fails)); failed=$((failed + fails))
    done
    echo "ctest: $passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}

if [ "$(id -u)" -eq 0 ]; then
    user=vessora-test
    id -u "$user" >/dev/null 2>&1 || useradd --create-home --shell /bin/bash "$user"
    # The clone may sit in a folder the test user cannot enter: stage a copy.
    stage="${VESSORA_STAGE:-/var/tmp/vessora-ci}"
    install -d -m 0755 "$stage"
    install -d -o "$user" -m 0755 "$stage/src" "$stage/build"
    # Only files whose content changed are copied, and they get the time of
    # the copy, so an incremental build never mistakes a new file for old.
    rsync -rlc --delete --exclude='/build*' --exclude='/.git' "$repo/" "$stage/src/"
    chown -R "$user:" "$stage/src" "$stage/build"
    build="$stage/build"
    as_user=(runuser -u "$user" --)
    "${as_user[@]}" cmake -S "$stage/src" -B "$build" -G Ninja
    "${as_user[@]}" cmake --build "$build" -j "$jobs"
    rm -f "$build"/ctest-*.log
    run_ctest '^root$' env
    chown -R "$user:" "$build"
    run_ctest '^(unit|integration|gui)$' "${as_user[@]}"
else
    build="$repo/build"
    cmake -S "$repo" -B "$build" -G Ninja
    cmake --build "$build" -j "$jobs"
    rm -f "$build"/ctest-*.log
    run_ctest '^(unit|integration|gui)$' env
    run_ctest '^root$' sudo
fi
summary "$build"/ctest-*.log
