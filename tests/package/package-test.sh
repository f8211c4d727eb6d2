#!/usr/bin/env bash
# The console's package under Wine, one flow: install (program, shortcut, entry under
# installed programs), the installed console shows its window, a newer package replaces it,
# an older one is refused, and uninstalling leaves the user's configuration alone.
#
#   package-test.sh BUILD_DIR UIDRIVE.exe    (inside the test session: wine-run --shell)
set -uo pipefail
root=$(cd "$(dirname "$0")/../.." && pwd)
build=$1 uidrive=$2
work=$build/tests/package/msi
rm -rf "$work" && mkdir -p "$work"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
IFS=. read -r major minor patch <<<"$version"
newer=$major.$minor.$((patch + 1))
old_msi=$(CORVANE_BUILD_DIR=$build "$root/scripts/package" --no-build --out "$work") || exit 1
new_msi=$(CORVANE_BUILD_DIR=$build "$root/scripts/package" --no-build --out "$work" \
    --version "$newer") || exit 1

drive=$WINEPREFIX/drive_c
program=$drive/Program\ Files/Corvane
# Wine puts a per-machine package's shortcuts under the user's Programs folder, Windows under
# the common one.
shortcuts() {
    local menu='Microsoft/Windows/Start Menu/Programs/Corvane Client Console.lnk'
    ls "$drive/ProgramData/$menu" "$drive"/users/*/AppData/Roaming/"$menu" 2>/dev/null
}
config=$drive/ProgramData/Corvane/userconfig.ini
status=0
fail() {
    echo "package test: $*" >&2
    status=1
}
msiexec() { wine msiexec "$1" "$(winepath -w "$2")" /qn >/dev/null 2>&1; }
# Value $2 of each subkey of $1 that names the console.
values() {
    wine reg query "$1" /s 2>/dev/null | tr -d '\r' | awk -v field="$2" '
        /^HKEY/ { named = 0; value = "" }
        ($1 == "DisplayName" || $1 == "ProductName") && /Corvane Client Console$/ { named = 1 }
        $1 == field { value = $3 }
        /^$/ { if (named) print value; named = 0 }'
}
# The versions of the console under installed programs.
installed() { values 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall' DisplayVersion; }
made_config=0
if [ ! -e "$config" ]; then
    mkdir -p "$(dirname "$config")" && echo "[user]" >"$config" && made_config=1
fi
trap 'msiexec /x "$new_msi"; msiexec /x "$old_msi"; [ $made_config = 0 ] || rm -f "$config"' EXIT

msiexec /i "$old_msi" || fail "installing $version failed"
[ -f "$program/Brantel.exe" ] || fail "Brantel.exe not installed"
[ -n "$(shortcuts)" ] || fail "no Start-menu shortcut"
[ "$(installed)" = "$version" ] || fail "installed programs show \"$(installed)\", not $version"
icon=$(values 'HKCR\Installer\Products' ProductIcon)
[ -n "$icon" ] && [ -f "$(winepath -u "$icon")" ] || fail "the product has no icon (\"$icon\")"

LANG=en_US.UTF-8 wine "C:\\Program Files\\Corvane\\Brantel.exe" >/dev/null 2>&1 &
console=$!
wine "$uidrive" wait "Corvane Client Console" 60 >/dev/null ||
    fail "the installed console shows no window"
wine "$uidrive" close "Corvane Client Console" 30 >/dev/null || kill $console 2>/dev/null
wait $console 2>/dev/null

msiexec /i "$new_msi" || fail "upgrading to $newer failed"
[ "$(installed)" = "$newer" ] || fail "after the upgrade installed programs show \"$(installed)\""
msiexec /i "$old_msi" && fail "the older package was installed over the newer one"
[ "$(installed)" = "$newer" ] || fail "after the refused downgrade: \"$(installed)\""

msiexec /x "$new_msi" || fail "uninstalling failed"
[ -z "$(installed)" ] || fail "still under installed programs: \"$(installed)\""
[ ! -e "$program" ] || fail "the program folder stays after uninstalling"
[ -z "$(shortcuts)" ] || fail "the shortcut stays after uninstalling"
[ -f "$config" ] || fail "uninstalling removed userconfig.ini"
exit $status
