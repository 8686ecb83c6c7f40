#!/bin/sh
# Removes the class-data archives, should a failed removal have left them;
# on purge, the update site's source and keyring.
set -e
if [ "$1" = purge ] || [ "$1" = remove ]; then
  rm -f @ARCHIVES@
fi
if [ "$1" = purge ]; then
  rm -f @SOURCES@ @KEYRING@
fi
exit 0
