#!/bin/sh
# Follows the app's update site: its keyring, and its apt source unless the
# administrator opted out in /etc/default/@NAME@ or lists it already.
set -e
if [ "$1" = configure ]; then
  @SUBSCRIBE@
fi
exit 0
