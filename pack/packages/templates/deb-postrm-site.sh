#!/bin/sh
# On purge, removes the update site's source and keyring.
set -e
if [ "$1" = purge ]; then
  rm -f @SOURCES@ @KEYRING@
fi
exit 0
