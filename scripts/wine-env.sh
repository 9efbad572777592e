# Sourced by the scripts: one 32-bit Wine prefix for the project, quiet and headless-safe.
export WINEARCH=win32
export WINEPREFIX="${TARVEL_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/tarvel-wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono/Gecko install prompts; callers may add their own overrides after these.
export WINEDLLOVERRIDES="mscoree,mshtml=${TARVEL_DLLOVERRIDES:+;$TARVEL_DLLOVERRIDES}"
# Wine names Unix files in the locale's character set: without a UTF-8 locale (a bare root, a CI runner
# with no LANG) a file name beyond ASCII cannot be created at all.
case "${LC_ALL:-${LC_CTYPE:-${LANG:-}}}" in
    *UTF-8* | *utf-8* | *UTF8* | *utf8*) ;;
    *) export LC_ALL=C.UTF-8 ;;
esac
