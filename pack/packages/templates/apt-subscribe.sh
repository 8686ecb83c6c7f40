install -m 0644 @TREE_KEYRING@ @APT_KEYRING@ || true
if grep -Eqs '^[[:space:]]*repo_add_once=["'\'']?false' @DEFAULTS@; then
  rm -f @SOURCES@
elif [ ! -e @SOURCES@ ] &&
  ! grep -rqsF --exclude=@SOURCES_NAME@ -e @SITE@ /etc/apt/sources.list /etc/apt/sources.list.d; then
  printf '%s\n' @SOURCE_LINES@ >@SOURCES@ || true
fi
