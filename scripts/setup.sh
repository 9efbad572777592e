#!/usr/bin/env bash
# Installs what the build and the tests need on Debian 12 and prepares the Wine prefix. Safe to run again.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

sudo_=""
[ "$(id -u)" -eq 0 ] || sudo_="sudo"

packages=(cmake make g++ g++-mingw-w64-i686-posix wine wine32:i386 xvfb googletest
          python3-pytest python3-aiosmtpd python3-cryptography nsis fonts-wine openssl libssl-dev
          clang libclang-rt-14-dev clang-format git postfix dovecot-core)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
    echo "setup: installing ${missing[*]}"
    $sudo_ dpkg --add-architecture i386
    $sudo_ apt-get update -qq
    # Postfix and Dovecot are for the end-to-end tests, which start instances of their own: the system's
    # mail system stays unconfigured, and no service starts while the packages install.
    echo "postfix postfix/main_mailer_type select No configuration" | $sudo_ debconf-set-selections
    policy=""
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        policy=/usr/sbin/policy-rc.d
        printf '#!/bin/sh\nexit 101\n' | $sudo_ tee "$policy" >/dev/null
        $sudo_ chmod 755 "$policy"
    fi
    status=0
    $sudo_ env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        "${missing[@]}" </dev/null >/dev/null || status=$?
    [ -z "$policy" ] || $sudo_ rm -f "$policy"
    [ "$status" -eq 0 ] || exit "$status"
    if [ -d /run/systemd/system ]; then
        $sudo_ systemctl disable --now dovecot.service postfix.service >/dev/null 2>&1 || true
    fi
fi

. "$here/wine-env.sh"
ready="$WINEPREFIX/.tarvel-ready"
if [ ! -f "$ready" ]; then
    mkdir -p "$(dirname "$WINEPREFIX")"
    exec 9>"$WINEPREFIX.lock"
    flock 9
    if [ ! -f "$ready" ]; then
        echo "setup: creating the Wine prefix $WINEPREFIX"
        # No display needed: Wine's services start detached from our pipes.
        DISPLAY= wine wineboot -i </dev/null >/dev/null 2>&1 || true
        # Without a window manager, unmanaged windows hide and close at once instead of after 2 s.
        DISPLAY= wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f </dev/null >/dev/null 2>&1
        # A crash must end the process, not wait behind an invisible dialog.
        DISPLAY= wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f \
            </dev/null >/dev/null 2>&1
        wineserver -w
        touch "$ready"
    fi
    flock -u 9
fi

# The windows are laid out for "MS Sans Serif" 8 pt. Wine's own copy of that font comes with fonts-wine
# but is not put into the prefix; without it Wine draws a wider face and labels are cut off.
fonts="$WINEPREFIX/drive_c/windows/Fonts"
if [ -d "$fonts" ] && [ ! -e "$fonts/sserife.fon" ]; then
    cp /usr/share/wine/fonts/sserif*.fon "$fonts/" 2>/dev/null || true
fi
