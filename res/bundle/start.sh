#!/bin/sh
# Starts the bundled program once the archive's header has unpacked the bundle and changed into it:
# start NAME [--cli] ARGUMENTS... runs bin/NAME, or with --cli bin/NAME-cli.
#
# The header exports USER_PWD and ARCHIVE_DIR. The Qt variables below could make the bundled Qt load a
# system Qt's plugins or ask for a platform the bundle does not carry, so they are replaced here. Every
# variable changed on the way is named in OSTREL_CHANGED_ENV, with the player's value (when there was
# one) in OSTREL_PLAYER_<name>: the launcher gives the installers it starts the player's environment
# back (src/app/child_environment.h).
bundle=$(cd "$(dirname "$0")" && pwd) || exit 1
program=$1
shift
if [ "${1:-}" = --cli ]; then
    program=$program-cli
    shift
fi
# Relative file names in the arguments (--config FILE) are the player's.
if [ -n "${USER_PWD:-}" ]; then
    cd "$USER_PWD" || exit 1
fi

changed="USER_PWD ARCHIVE_DIR"
for name in QT_PLUGIN_PATH QT_QPA_PLATFORM_PLUGIN_PATH QT_QPA_PLATFORMTHEME QT_QPA_PLATFORM; do
    if eval "[ -n \"\${$name+set}\" ]"; then
        eval "OSTREL_PLAYER_$name=\$$name"
        export "OSTREL_PLAYER_$name"
    fi
    unset "$name"
    changed="$changed $name"
done
OSTREL_CHANGED_ENV=$changed
export OSTREL_CHANGED_ENV
# Natively on Wayland when there is a compositor, through XWayland or X11 when its plugin cannot start.
if [ -n "${WAYLAND_DISPLAY:-}" ]; then
    QT_QPA_PLATFORM="wayland;xcb"
else
    QT_QPA_PLATFORM=xcb
fi
export QT_QPA_PLATFORM

exec "$bundle/bin/$program" "$@"
