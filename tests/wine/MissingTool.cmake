# Stands in for a test whose tool is missing: it fails with what to install.
#   cmake -DMESSAGE=<text> -P MissingTool.cmake
message(FATAL_ERROR "${MESSAGE}")
