@JAVA@ @OPTION@ -Xshare:dump -XX:SharedArchiveFile=@ARCHIVE@ >/dev/null 2>&1 || rm -f @ARCHIVE@ &
