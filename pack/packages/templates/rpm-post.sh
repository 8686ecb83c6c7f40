@DUMPS@
exit 0
