# The desktop of the test's machine, started by the login shell of a user signed in on tty1
# (display :0) or tty2 (display :1, a second user on the same seat): an X server with a picture on it, an 800 x 600 mode on offer as a monitor would have, and
# DISPLAY given to the user's systemd so that the units it starts reach this session.
tty_number=$(tty | sed -n 's|^/dev/tty\([12]\)$|\1|p')
if [ -n "$tty_number" ] && [ -z "${DISPLAY-}" ]; then
    export DISPLAY=:$((tty_number - 1))
    Xvfb $DISPLAY -screen 0 1280x720x24 -nolisten tcp -extension GLX > /tmp/xvfb-$USER.log 2>&1 &
    while ! xdotool getdisplaygeometry > /dev/null 2>&1; do sleep 0.2; done
    kv_x11_test_helper offer-mode 800x600 > /tmp/offer-mode-$USER.log 2>&1 &
    while ! grep -q ready /tmp/offer-mode-$USER.log; do sleep 0.2; done
    xwud -in /usr/local/share/kvusb-test/desktop.xwd &
    xdotool mousemove 1279 719
    systemctl --user import-environment DISPLAY
    systemctl --user start desktop-session.target
fi
