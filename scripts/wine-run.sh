#!/usr/bin/env bash
# Runs a cross-built Windows program under Wine, quietly.
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
exec /usr/lib/wine/wine64 "$@"
