# Lays out the demo's installed tree: bin/ (the burned launcher), lib/app/
# (the jars), lib/runtime (a link to the JDK).
set(app "${DEST}/vorlane-demo")
file(REMOVE_RECURSE "${app}")
file(MAKE_DIRECTORY "${app}/bin" "${app}/lib/app")
file(CREATE_LINK "${RUNTIME}" "${app}/lib/runtime" SYMBOLIC)
file(COPY_FILE "${DEMO_JAR}" "${app}/lib/app/demo.jar")
file(COPY_FILE "${LAUNCHER_JAR}" "${app}/lib/app/vorlane-launcher.jar")
execute_process(
  COMMAND "${PACK}" burn
    --template "${TEMPLATE}"
    --output "${app}/bin/vorlane-demo"
    --main-class demo.Main
    --java-option "-Djava.class.path=&&/demo.jar:&&/vorlane-launcher.jar"
    --java-option "-Dapp.dir=&&"
    --java-option -Dfile.encoding=UTF-8
    --java-option -Xshare:auto
    --allow-java-option -Xmx
    --allow-java-option -Xlog
  COMMAND_ERROR_IS_FATAL ANY)
