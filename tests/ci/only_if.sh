#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs the command after the first two words only where the environment
# variable they name is 1; elsewhere the test skips (status 77), saying
# how to run it.
#   only_if.sh VARIABLE HOW COMMAND...
variable=$1 how=$2
shift 2
if [ "$(printenv "$variable")" != 1 ]; then
  echo "skipped: runs only with $variable=1 ($how)"
  exit 77
fi
exec "$@"
