#!/usr/bin/env bash
# Writes phpMyAdmin's and Adminer's own SQL exports of the databases in
# tests/fixtures/sqldump-producers/source.sql into that folder, as fixtures
# for SQLDumpProducersIntegrationTests. Everything runs for real and is
# thrown away after: a MariaDB server on a private socket, Debian's
# phpMyAdmin (a copy pointed at its own config) and Adminer served by PHP's
# built-in server on a free loopback port, curl logging in and exporting as
# a browser would. Run as an unprivileged user (MariaDB refuses root).
set -euo pipefail

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
out="$repo/tests/fixtures/sqldump-producers"
[ "$(id -u)" -ne 0 ] || { echo "run as an unprivileged user" >&2; exit 1; }

work="$(mktemp -d "${TMPDIR:-/tmp}/producer-exports-XXXXXX")"
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    rm -rf "$work"
}
trap cleanup EXIT

socket="$work/mysql.sock"
mkdir -p "$work/tmp" "$work/sessions"
/usr/bin/mariadb-install-db --no-defaults --datadir="$work/data" \
    --auth-root-authentication-method=socket --auth-root-socket-user="$(id -un)" \
    --skip-test-db >"$work/install.log" 2>&1
/usr/sbin/mariadbd --no-defaults --datadir="$work/data" --socket="$socket" --skip-networking \
    --pid-file="$work/mariadb.pid" --log-error="$work/error.log" --tmpdir="$work/tmp" \
    --max-allowed-packet=64M &
pids+=($!)
client=(/usr/bin/mariadb --no-defaults --socket="$socket" --default-character-set=utf8mb4)
for _ in $(seq 240); do
    "${client[@]}" --user="$(id -un)" -e 'SELECT 1' >/dev/null 2>&1 && break
    kill -0 "${pids[0]}" || { cat "$work/error.log" >&2; exit 1; }
    sleep 0.25
done
"${client[@]}" --user="$(id -un)" -e 'SELECT 1' >/dev/null

# The objects belong to the account the tests load as, but those of `shop`,
# which name `shop_app`@`%` or `root`@`localhost`; the exporter sees all.
"${client[@]}" --user="$(id -un)" <<'SQL'
CREATE USER 'loader'@'localhost';
GRANT ALL PRIVILEGES ON `plain`.* TO 'loader'@'localhost';
GRANT ALL PRIVILEGES ON `ansi`.* TO 'loader'@'localhost';
GRANT ALL PRIVILEGES ON `noesc`.* TO 'loader'@'localhost';
GRANT ALL PRIVILEGES ON `shop`.* TO 'loader'@'localhost';
GRANT SET USER ON *.* TO 'loader'@'localhost';
CREATE USER 'shop_app'@'%';
GRANT ALL PRIVILEGES ON `shop`.* TO 'shop_app'@'%';
CREATE USER 'exporter'@'localhost' IDENTIFIED BY 'export';
GRANT ALL PRIVILEGES ON *.* TO 'exporter'@'localhost';
SQL
"${client[@]}" --user=loader <"$out/source.sql"
"${client[@]}" --user="$(id -un)" -e "REVOKE SET USER ON *.* FROM 'loader'@'localhost'"

port="$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')"
php=(php -d session.save_path="$work/sessions" -d display_errors=0 -d memory_limit=512M)

# phpMyAdmin reads its config from /etc; the copy reads its own.
# Debian's tree links into other packages; links that lead nowhere are left out.
cp -rL /usr/share/phpmyadmin "$work/pma" 2>/dev/null || true
[ -f "$work/pma/index.php" ] || { echo "could not copy phpMyAdmin" >&2; exit 1; }
mkdir -p "$work/pma-tmp"
sed -i -e "s|'configFile' => '[^']*'|'configFile' => ROOT_PATH . 'config.inc.php'|" \
    -e "s|'tempDir' => '[^']*'|'tempDir' => '$work/pma-tmp/'|" "$work/pma/libraries/vendor_config.php"
cat >"$work/pma/config.inc.php" <<PHP
<?php
\$cfg['blowfish_secret'] = '0123456789abcdef0123456789abcdef';
\$cfg['Servers'][1]['auth_type'] = 'cookie';
\$cfg['Servers'][1]['host'] = 'localhost';
\$cfg['Servers'][1]['connect_type'] = 'socket';
\$cfg['Servers'][1]['socket'] = '$socket';
\$cfg['TempDir'] = '$work/pma-tmp/';
\$cfg['VersionCheck'] = false;
\$cfg['SendErrorReports'] = 'never';
PHP
# One server for both: Adminer's single file (Debian's adminer package)
# beside phpMyAdmin.
[ -f /usr/share/adminer/adminer.php ] || { echo "install Debian's adminer package" >&2; exit 1; }
cp /usr/share/adminer/adminer.php "$work/pma/adminer.php"

TMPDIR="$work/tmp" "${php[@]}" -S "127.0.0.1:$port" -t "$work/pma" >"$work/php.log" 2>&1 &
pids+=($!)
base="http://127.0.0.1:$port"
for _ in $(seq 120); do
    curl -fs -o /dev/null "$base/robots.txt" && break
    sleep 0.25
done

token() { sed -n 's/.*name="token" value="\([^"]*\)".*/\1/p' | head -n 1; }

# phpMyAdmin: log in through its form, then export one database.
jar="$work/pma.cookies"
login="$(curl -fsS -c "$jar" -b "$jar" "$base/index.php")"
curl -fsS -c "$jar" -b "$jar" -o /dev/null "$base/index.php?route=/" \
    --data-urlencode "token=$(token <<<"$login")" --data-urlencode "pma_username=exporter" \
    --data-urlencode "pma_password=export" --data-urlencode "server=1"
pma_token="$(curl -fsS -c "$jar" -b "$jar" "$base/index.php?route=/database/export&db=plain" | token)"
[ -n "$pma_token" ] || { echo "phpMyAdmin login failed" >&2; exit 1; }

pma_export() { # file database, then name=value to change the form, name= to leave it out
    local file="$1" db="$2"; shift 2
    local -A form=([token]="$pma_token" [db]="$db" [export_type]=database
        [export_method]=custom [what]=sql [output_format]=sendit [charset]=utf-8
        [compression]=none [filename_template]=@DATABASE@
        [sql_structure_or_data]=structure_and_data [sql_include_comments]=something
        [sql_use_transaction]=something [sql_compatibility]=NONE [sql_create_table]=something
        [sql_auto_increment]=something [sql_create_view]=something
        [sql_procedure_function]=something [sql_create_trigger]=something
        [sql_backquotes]=something [sql_type]=INSERT [sql_insert_syntax]=both
        [sql_max_query_size]=50000 [sql_hex_for_binary]=something [sql_utc_time]=something
        [sql_create_database]=something)
    local change
    for change in "$@"; do
        if [ -n "${change#*=}" ]; then form[${change%%=*}]="${change#*=}"; else unset "form[${change%%=*}]"; fi
    done
    local curl_args=() name t
    for name in "${!form[@]}"; do curl_args+=(--data-urlencode "$name=${form[$name]}"); done
    while read -r t; do
        [ -n "$t" ] || continue
        curl_args+=(--data-urlencode "db_select[]=$t" --data-urlencode "table_select[]=$t"
            --data-urlencode "table_structure[]=$t" --data-urlencode "table_data[]=$t")
    done < <("${client[@]}" --user="$(id -un)" -N -e \
        "SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_SCHEMA = '$db' ORDER BY 1")
    curl -fsS -c "$jar" -b "$jar" -o "$out/$file" "$base/index.php?route=/export" "${curl_args[@]}"
    grep -q '^SET SQL_MODE = ' "$out/$file" || { cat "$out/$file" >&2; exit 1; }
}

pma_export phpmyadmin-plain.sql plain
pma_export phpmyadmin-plain-rows.sql plain sql_create_database= sql_insert_syntax=complete
pma_export phpmyadmin-plain-plain-inserts.sql plain sql_insert_syntax=none sql_hex_for_binary= \
    sql_include_comments= sql_use_transaction=
pma_export phpmyadmin-plain-drop.sql plain sql_drop_table=something sql_if_not_exists=something
pma_export phpmyadmin-ansi.sql ansi
pma_export phpmyadmin-shop.sql shop
pma_export phpmyadmin-shop-drop.sql shop sql_drop_table=something sql_if_not_exists=something \
    sql_insert_syntax=complete

# Adminer: log in through its form, then export one database.
jar="$work/adminer.cookies"
server="localhost:$socket"
login="$(curl -fsS -c "$jar" -b "$jar" "$base/adminer.php")"
curl -fsS -c "$jar" -b "$jar" -o /dev/null "$base/adminer.php" \
    --data-urlencode "auth[driver]=server" --data-urlencode "auth[server]=$server" \
    --data-urlencode "auth[username]=exporter" --data-urlencode "auth[password]=export" \
    --data-urlencode "auth[db]="
adminer_export() { # file database db_style data_style
    local file="$1" db="$2" db_style="$3" data_style="$4"
    local query="server=$(python3 -c 'import sys, urllib.parse; print(urllib.parse.quote(sys.argv[1], safe=""))' "$server")&username=exporter&db=$db"
    local page
    page="$(curl -fsS -c "$jar" -b "$jar" "$base/adminer.php?$query&dump=")"
    local curl_args=(--data-urlencode "token=$(token <<<"$page")" --data-urlencode "output=text"
        --data-urlencode "format=sql" --data-urlencode "db_style=$db_style"
        --data-urlencode "routines=1" --data-urlencode "events=1"
        --data-urlencode "table_style=CREATE" --data-urlencode "auto_increment=1"
        --data-urlencode "triggers=1" --data-urlencode "data_style=$data_style")
    local t
    while read -r t; do
        [ -n "$t" ] || continue
        curl_args+=(--data-urlencode "tables[]=$t" --data-urlencode "data[]=$t")
    done < <("${client[@]}" --user="$(id -un)" -N -e \
        "SELECT TABLE_NAME FROM information_schema.TABLES WHERE TABLE_SCHEMA = '$db' ORDER BY 1")
    curl -fsS -c "$jar" -b "$jar" -o "$out/$file" "$base/adminer.php?$query&dump=" "${curl_args[@]}"
    grep -q '^-- Adminer' "$out/$file" || { cat "$out/$file" >&2; exit 1; }
}

adminer_export adminer-plain.sql plain CREATE INSERT
adminer_export adminer-plain-use.sql plain USE 'INSERT+UPDATE'
adminer_export adminer-plain-tables.sql plain '' 'TRUNCATE+INSERT'
adminer_export adminer-plain-drop.sql plain 'DROP+CREATE' INSERT
adminer_export adminer-ansi.sql ansi USE INSERT
adminer_export adminer-shop.sql shop CREATE INSERT
adminer_export adminer-shop-upsert.sql shop CREATE 'INSERT+UPDATE'
echo "wrote the exports to $out"
