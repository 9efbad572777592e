# Sourced by the scripts: one 32-bit Wine prefix for the project, quiet and headless-safe.
export WINEARCH=win32
export WINEPREFIX="${TARVEL_WINEPREFIX:-${XDG_CACHE_HOME:-$HOME/.cache}/tarvel-wine}"
export WINEDEBUG="${WINEDEBUG:--all}"
# No Mono/Gecko install prompts; callers may add their own overrides after these.
export WINEDLLOVERRIDES="mscoree,mshtml=${TARVEL_DLLOVERRIDES:+;$TARVEL_DLLOVERRIDES}"
