#!/bin/sh
# Makes the class-data archives for the installed paths with the shipped runtime
# (the app's from the class list recorded when the package was made); without
# them the app only starts slower.
# Follows the app's update site: its keyring, and its apt source unless the
# administrator opted out in /etc/default/@NAME@ or lists it already.
set -e
if [ "$1" = configure ]; then
  @DUMPS@
  @SUBSCRIBE@
fi
exit 0
