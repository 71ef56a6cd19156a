#!/bin/bash
# The amd64 package as dpkg installs it, into a throw-away root whose package database holds
# this machine's own entries for the packages lumo depends on, so Depends must be satisfiable on
# Debian 12 as it stands (a version built against newer libraries would not install). Then the
# installed program runs, the settings file is a conffile that removing keeps and purging
# removes; or (unit) systemd checks the installed unit.
#   package_install.sh install|unit PACKAGE
# Exits 77 (skipped) for unit when systemd-analyze is not installed.
set -u
what=$1 deb=$2
fail() { echo "FAIL: $*"; exit 1; }
[ -f "$deb" ] || fail "$deb is missing: make builds it"
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
admin=$root/var/lib/dpkg
mkdir -p "$admin/info" "$admin/updates"

if [ "$what" = unit ]; then
    command -v systemd-analyze >/dev/null ||
        { echo "systemd-analyze is not installed: the unit was not verified"; exit 77; }
    dpkg-deb -x "$deb" "$root"
    # Checked as the unit of this root's program: the check wants ExecStart's file to exist.
    # systemd-analyze exits 0 on keys it ignores, so anything it says is a failure.
    sed "s|=/usr/bin/lumolisten|=$root/usr/bin/lumolisten|" \
        "$root/usr/lib/systemd/user/lumolisten.service" >"$root/lumolisten.service"
    said=$(systemd-analyze verify --man=no "$root/lumolisten.service" 2>&1) ||
        fail "systemd-analyze verify: $said"
    [ -z "$said" ] || fail "systemd-analyze verify says: $said"
    echo "systemd-analyze verify finds nothing wrong with the unit"
    exit 0
fi

for package in $(dpkg-deb -f "$deb" Depends | tr ',' '\n' | sed 's/(.*)//; s/ //g'); do
    dpkg-query -s "$package:amd64" >>"$admin/status" 2>/dev/null ||
        fail "lumo depends on $package, which this machine does not have installed"
    echo >>"$admin/status"
    touch "$admin/info/$package.list" "$admin/info/$package:amd64.list"
done
said=$(dpkg --root="$root" --force-not-root --install "$deb" 2>&1) || fail "dpkg --install: $said"
status=$(dpkg-query --admindir="$admin" -W -f='${Status}|${Conffiles}' lumo)
case $status in
"install ok installed| /etc/lumo/lumolisten.ini "*) ;;
*) fail "dpkg records '$status', not lumo installed with its conffile /etc/lumo/lumolisten.ini" ;;
esac

# A sound server that is not there: the program must say so rather than wait or start one.
export HOME=$root/home PULSE_SERVER=unix:$root/no-sound-server
mkdir -p "$HOME"
program=$root/usr/bin/lumolisten
listed=$("$program" --list 2>&1) || fail "lumolisten --list exits $?: $listed"
[ -n "$listed" ] || fail "lumolisten --list printed nothing"
strays=$(echo "$listed" | grep -v -e '^port: ' -e '^recording device: ' -e 'sound server')
[ -z "$strays" ] || fail "lumolisten --list printed lines that name no port or device: $strays"
told=$("$program" --mode Disco 2>&1)
code=$?
[ "$code" -eq 2 ] || fail "lumolisten --mode Disco exits $code, not 2: $told"
[ "$(echo "$told" | wc -l)" -eq 1 ] && [[ $told == *Disco* ]] ||
    fail "lumolisten --mode Disco must say in one line that Disco is no mode, not: $told"
echo "installed; --list: $(echo "$listed" | head -n 1); --mode Disco: $told"

said=$(dpkg --root="$root" --force-not-root --remove lumo 2>&1) || fail "dpkg --remove: $said"
[ ! -e "$program" ] || fail "dpkg --remove left usr/bin/lumolisten"
[ -f "$root/etc/lumo/lumolisten.ini" ] || fail "dpkg --remove took the machine's settings file"
said=$(dpkg --root="$root" --force-not-root --purge lumo 2>&1) || fail "dpkg --purge: $said"
[ ! -e "$root/etc/lumo" ] || fail "dpkg --purge left $(find "$root/etc/lumo" | xargs)"
echo "removed (the settings file kept), then purged (nothing left)"
