#!/usr/bin/python3 -I
"""Lays out a Homebrew-style prefix whose formulae run Debian's servers.

    tools/build-brew-prefixes.py ROOT

ROOT becomes a Homebrew prefix: ROOT/bin/brew (the stand-in beside this
script) with its state file, ROOT/Cellar/FORMULA/VERSION and the links
ROOT/opt/FORMULA, for "php@8.2", "mariadb@10.11", "nginx", "httpd" and
"phpmyadmin", each at the version Debian ships. Newer series ("php" and
"php@8.3", "mariadb" and "mariadb@11.4") are listed but not installed, so the
catalogue query needs its second, versioned call as with real Homebrew and
the built-in environments' series appear; brew refuses to install them, since
no Debian program stands behind them.

Debian's programs need a few adjustments to behave like Homebrew's:
- php-fpm is a wrapper that keeps Debian's own conf.d (PDO, mysqli) ahead of
  the caller's PHP_INI_SCAN_DIR;
- httpd is a wrapper that comments out LoadModule lines for the modules
  Debian compiles into apache2 (they are errors there) in a copy of the -f
  file, then runs apache2;
- mariadb links its programs, "share/mysql" and the plugin folder, and its
  Cellar folder is named after the real version (mariadbd --version prints
  its own path, and the version is read from that output);
- phpmyadmin is a dereferenced copy of Debian's tree that reads its
  configuration from its own folder and has "vendor/autoload.php".
A missing Debian program stops the build with a message naming it.
"""

import json
import os
import re
import shutil
import stat
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))

PHP = "/usr/bin/php8.2"
PHP_FPM = "/usr/sbin/php-fpm8.2"
MARIADBD = "/usr/sbin/mariadbd"
MARIADB_PROGRAMS = {
    "mariadb": "/usr/bin/mariadb",
    "mariadb-install-db": "/usr/bin/mariadb-install-db",
    "my_print_defaults": "/usr/bin/my_print_defaults",
    "resolveip": "/usr/bin/resolveip",
}
MARIADB_SHARE = "/usr/share/mysql"
MARIADB_PLUGINS = "/usr/lib/mysql/plugin"
NGINX = "/usr/sbin/nginx"
NGINX_TEMP = ["/var/lib/nginx/" + d for d in ("body", "fastcgi", "proxy", "scgi", "uwsgi")]
APACHE = "/usr/sbin/apache2"
APACHE_MODULES = "/usr/lib/apache2/modules"
PHPMYADMIN = "/usr/share/phpmyadmin"

REQUIRED = {
    PHP: "php8.2-cli",
    PHP_FPM: "php8.2-fpm",
    MARIADBD: "mariadb-server",
    MARIADB_PROGRAMS["mariadb"]: "mariadb-client",
    MARIADB_PROGRAMS["mariadb-install-db"]: "mariadb-server",
    MARIADB_PROGRAMS["my_print_defaults"]: "mariadb-server",
    MARIADB_PROGRAMS["resolveip"]: "mariadb-server",
    MARIADB_SHARE: "mariadb-server",
    MARIADB_PLUGINS: "mariadb-server",
    NGINX: "nginx",
    APACHE: "apache2",
    APACHE_MODULES: "apache2",
    PHPMYADMIN: "phpmyadmin",
}


def die(message):
    print("build-brew-prefixes: " + message, file=sys.stderr)
    sys.exit(1)


def require_debian_programs():
    missing = [path for path in REQUIRED if not os.path.exists(path)]
    if missing:
        die(
            "missing Debian files:\n"
            + "".join("  %s (package %s)\n" % (path, REQUIRED[path]) for path in missing)
            + "Run tools/install-dependencies.sh first."
        )
    absent = [d for d in NGINX_TEMP if not os.path.isdir(d)]
    if absent and os.geteuid() == 0:
        for d in absent:
            os.makedirs(d, mode=0o755, exist_ok=True)
    elif absent:
        die(
            "nginx needs its compiled-in temp folders %s; run tools/install-dependencies.sh "
            "as root once." % ", ".join(absent)
        )


def output(arguments):
    result = subprocess.run(arguments, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
    if result.returncode != 0:
        die("%s failed (%d):\n%s" % (arguments[0], result.returncode, result.stdout))
    return result.stdout


def version_in(text, pattern, what):
    found = re.search(pattern, text)
    if not found:
        die("could not read the %s version from:\n%s" % (what, text))
    return found.group(1)


def debian_versions():
    with open(os.path.join(PHPMYADMIN, "libraries/classes/Version.php"), encoding="utf-8") as f:
        phpmyadmin = version_in(f.read(), r"VERSION = '([0-9]+\.[0-9]+\.[0-9]+)'", "phpMyAdmin")
    return {
        "php@8.2": version_in(output([PHP, "-n", "-r", "echo PHP_VERSION;"]),
                              r"^([0-9]+\.[0-9]+\.[0-9]+)", "PHP"),
        "mariadb@10.11": version_in(output([MARIADBD, "--no-defaults", "--version"]),
                                    r"Ver ([0-9]+\.[0-9]+\.[0-9]+)", "MariaDB"),
        "nginx": version_in(output([NGINX, "-v"]), r"nginx/([0-9]+\.[0-9]+\.[0-9]+)", "nginx"),
        "httpd": version_in(output([APACHE, "-v"]), r"Apache/([0-9]+\.[0-9]+\.[0-9]+)", "Apache"),
        "phpmyadmin": phpmyadmin,
    }


def link(target, path):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    os.symlink(target, path)


def write_executable(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)
    os.chmod(path, 0o755)


PHP_FPM_WRAPPER = """#!/bin/sh
# Debian's PHP-FPM. The leading colon keeps Debian's own conf.d (PDO, mysqli)
# before the caller's scan folder.
PHP_INI_SCAN_DIR=":${PHP_INI_SCAN_DIR}"
export PHP_INI_SCAN_DIR
exec %s "$@"
"""

HTTPD_WRAPPER = '''#!/usr/bin/python3 -I
"""Debian's apache2 behind Homebrew's httpd name.

Debian compiles some modules into apache2, where loading them again is an
error. The -f file is copied beside itself as ".NAME.debian" with those
LoadModule lines commented out (line numbers stay the same), and apache2 runs
with the copy. Everything else passes through; the process becomes apache2.
"""
import os
import re
import sys

APACHE = %(apache)r
BUILT_IN = %(built_in)r
LOAD = re.compile(r"^\\s*LoadModule\\s+(\\S+)\\s")


def filtered(path):
    try:
        with open(path, encoding="utf-8", errors="surrogateescape") as f:
            lines = f.read().split("\\n")
    except OSError:
        return path  # apache2 reports it
    for i, line in enumerate(lines):
        match = LOAD.match(line)
        if match and match.group(1) in BUILT_IN:
            lines[i] = "# built into Debian's apache2: " + line
    folder, name = os.path.split(os.path.abspath(path))
    copy = os.path.join(folder, "." + name + ".debian")
    temporary = "%%s.%%d" %% (copy, os.getpid())
    try:
        descriptor = os.open(temporary, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600)
        with os.fdopen(descriptor, "w", encoding="utf-8", errors="surrogateescape") as f:
            f.write("\\n".join(lines))
        os.replace(temporary, copy)
    except OSError:
        return path
    return copy


arguments = sys.argv[1:]
for i, argument in enumerate(arguments):
    if argument == "-f" and i + 1 < len(arguments):
        arguments[i + 1] = filtered(arguments[i + 1])
        break
    if argument.startswith("-f") and len(argument) > 2:
        arguments[i] = "-f" + filtered(argument[2:])
        break
os.execv(APACHE, [sys.argv[0]] + arguments)
'''

VENDOR_AUTOLOAD = """<?php
// Homebrew's phpMyAdmin keeps its autoloader here; Debian's sits at the top.
require_once __DIR__ . '/../autoload.php';
"""


def apache_built_in_modules():
    listing = output([APACHE, "-l"])
    modules = re.findall(r"^\s*mod_(\w+)\.c\s*$", listing, re.MULTILINE)
    return sorted(name + "_module" for name in modules)


def build_php(keg):
    link(PHP, os.path.join(keg, "bin/php"))
    write_executable(os.path.join(keg, "sbin/php-fpm"), PHP_FPM_WRAPPER % PHP_FPM)


def build_mariadb(keg):
    link(MARIADBD, os.path.join(keg, "bin/mariadbd"))
    link(MARIADBD, os.path.join(keg, "sbin/mariadbd"))
    for name, target in MARIADB_PROGRAMS.items():
        link(target, os.path.join(keg, "bin", name))
    link(MARIADB_SHARE, os.path.join(keg, "share/mysql"))
    link(MARIADB_PLUGINS, os.path.join(keg, "lib/mysql/plugin"))


def build_nginx(keg):
    link(NGINX, os.path.join(keg, "bin/nginx"))


def build_httpd(keg):
    link(APACHE_MODULES, os.path.join(keg, "lib/httpd/modules"))
    wrapper = HTTPD_WRAPPER % {"apache": APACHE, "built_in": apache_built_in_modules()}
    write_executable(os.path.join(keg, "bin/httpd"), wrapper)


def build_phpmyadmin(keg):
    tree = os.path.join(keg, "share/phpmyadmin")
    shutil.copytree(PHPMYADMIN, tree, symlinks=False, ignore_dangling_symlinks=True)
    vendor_config = os.path.join(tree, "libraries/vendor_config.php")
    with open(vendor_config, encoding="utf-8") as f:
        text = f.read()
    patched, count = re.subn(r"'configFile' => '[^']*'",
                             "'configFile' => ROOT_PATH . 'config.inc.php'", text)
    if count != 1:
        die("could not point %s at the copy's own config.inc.php" % vendor_config)
    os.chmod(vendor_config, 0o644)
    with open(vendor_config, "w", encoding="utf-8") as f:
        f.write(patched)
    os.makedirs(os.path.join(tree, "vendor"), exist_ok=True)
    with open(os.path.join(tree, "vendor/autoload.php"), "w", encoding="utf-8") as f:
        f.write(VENDOR_AUTOLOAD)


BUILDERS = {
    "php@8.2": build_php,
    "mariadb@10.11": build_mariadb,
    "nginx": build_nginx,
    "httpd": build_httpd,
    "phpmyadmin": build_phpmyadmin,
}


def unavailable(versioned):
    return "not available from Debian's packages on this machine; choose %s." % versioned


def state(root, versions):
    formulae = {
        # Newer series that Debian does not ship (among them those of the
        # built-in environments): listed as disabled, the state Homebrew gives
        # a formula that can no longer be installed, so the pickers never
        # offer them; brew refuses to install them all the same.
        "php": {"aliases": ["php@8.4"], "versioned_formulae": ["php@8.3", "php@8.2"],
                "stable": "8.4.15", "unavailable": unavailable("php@8.2"), "disabled": True},
        "php@8.3": {"stable": "8.3.28", "unavailable": unavailable("php@8.2"), "disabled": True},
        "mariadb": {"aliases": ["mariadb@11.8"],
                    "versioned_formulae": ["mariadb@11.4", "mariadb@10.11"],
                    "stable": "11.8.3", "unavailable": unavailable("mariadb@10.11"),
                    "disabled": True},
        "mariadb@11.4": {"stable": "11.4.8", "unavailable": unavailable("mariadb@10.11"),
                         "disabled": True},
    }
    for name, version in versions.items():
        formulae[name] = {"stable": version, "installed": [version]}
    for entry in formulae.values():
        entry.setdefault("tap", "homebrew/core")
        entry.setdefault("aliases", [])
        entry.setdefault("versioned_formulae", [])
        entry.setdefault("installed", [])
        entry.setdefault("deprecated", False)
        entry.setdefault("disabled", False)
    return {"prefix": root, "formulae": formulae, "knobs": {}}


def main():
    if len(sys.argv) != 2:
        die("usage: build-brew-prefixes.py ROOT")
    root = os.path.abspath(sys.argv[1])
    require_debian_programs()
    versions = debian_versions()

    os.makedirs(os.path.join(root, "bin"), exist_ok=True)
    brew = os.path.join(root, "bin/brew")
    shutil.copyfile(os.path.join(HERE, "brew"), brew)
    os.chmod(brew, 0o755)
    print("brew        %s" % brew)

    for name, version in versions.items():
        keg = os.path.join(root, "Cellar", name, version)
        if os.path.lexists(os.path.join(root, "Cellar", name)):
            shutil.rmtree(os.path.join(root, "Cellar", name))
        os.makedirs(keg)
        BUILDERS[name](keg)
        opt = os.path.join(root, "opt", name)
        if os.path.lexists(opt):
            os.remove(opt)
        link(os.path.join("..", "Cellar", name, version), opt)
        print("%-11s %-9s %s" % (name, version, keg))

    state_file = os.path.join(root, "bin/brew-state.json")
    with open(state_file, "w", encoding="utf-8") as f:
        json.dump(state(root, versions), f, indent=2, sort_keys=True)
        f.write("\n")
    print("state       %s" % state_file)


if __name__ == "__main__":
    main()
