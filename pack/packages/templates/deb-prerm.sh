#!/bin/sh
# Removes the class-data archives the post-install step made.
set -e
rm -f @ARCHIVES@
exit 0
