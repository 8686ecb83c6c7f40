@JAVA@ -Xshare:dump -XX:SharedClassListFile=@CLASS_LIST@ -XX:SharedArchiveFile=@ARCHIVE@ -cp @CLASS_PATH@ >/dev/null 2>&1 || rm -f @ARCHIVE@
