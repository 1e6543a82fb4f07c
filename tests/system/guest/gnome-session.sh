# The desktop of the test's machine on GNOME, started by the login shell of the user signed in
# on tty1 as a display manager would start her session: GNOME's shell on Wayland, headless on a
# 1280 x 720 virtual monitor with a picture as its background, its variables given to the
# user's systemd and bus so that the units and portals they start reach this session.
if [ "$(tty)" = /dev/tty1 ] && [ -z "${WAYLAND_DISPLAY-}" ]; then
    export XDG_CURRENT_DESKTOP=GNOME XDG_SESSION_TYPE=wayland GSETTINGS_BACKEND=keyfile
    # No banner over the screen: without its display manager the shell says at its start, at
    # a time of its own, that it cannot lock the screen.
    mkdir -p ~/.config/glib-2.0/settings
    printf '%s\n' '[org/gnome/desktop/notifications]' 'show-banners=false' \
        '[org/gnome/desktop/background]' \
        "picture-uri='file:///usr/local/share/kvusb-test/desktop.png'" \
        "picture-options='stretched'" > ~/.config/glib-2.0/settings/keyfile
    dbus-update-activation-environment --systemd XDG_CURRENT_DESKTOP XDG_SESSION_TYPE \
        GSETTINGS_BACKEND WAYLAND_DISPLAY=wayland-0
    gnome-shell --headless --wayland --no-x11 --virtual-monitor 1280x720 \
        > /tmp/gnome-shell-$USER.log 2>&1 &
    while ! dbus-send --session --print-reply --dest=org.gnome.Shell /org/gnome/Shell \
        org.freedesktop.DBus.Properties.Get string:org.gnome.Shell string:ShellVersion \
        > /dev/null 2>&1; do sleep 0.5; done
    export WAYLAND_DISPLAY=wayland-0
    systemctl --user start desktop-session.target
fi
