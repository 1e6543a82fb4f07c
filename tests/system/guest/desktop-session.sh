# The desktop of the test's machine, started by the login shell of the user signed in on tty1:
# an X server with a picture on it, an 800 x 600 mode on offer as a monitor would have, and
# DISPLAY given to the user's systemd so that the units it starts reach this session.
if [ "$(tty)" = /dev/tty1 ] && [ -z "${DISPLAY-}" ]; then
    Xvfb :0 -screen 0 1280x720x24 -nolisten tcp -extension GLX > /tmp/xvfb.log 2>&1 &
    export DISPLAY=:0
    while ! xdotool getdisplaygeometry > /dev/null 2>&1; do sleep 0.2; done
    kv_x11_test_helper offer-mode 800x600 > /tmp/offer-mode.log 2>&1 &
    while ! grep -q ready /tmp/offer-mode.log; do sleep 0.2; done
    xwud -in /usr/local/share/kvusb-test/desktop.xwd &
    xdotool mousemove 1279 719
    systemctl --user import-environment DISPLAY
    systemctl --user start desktop-session.target
fi
