# Sourced by run.sh and screenshots.sh: lays out the stand-in server installation that the program runs on and
# registers it in the Wine prefix (HKLM App Paths of CNSLSRVC.EXE). The server folder is
# INSTALL_ROOT; the program folder is its ClientPackager sub-folder. Files laid out earlier are
# overwritten; what a build left there (TARs, outputs) stays.
INSTALL_ROOT=${INSTALL_ROOT:-$BUILD_DIR/installation}
PROGRAM_DIR=$INSTALL_ROOT/ClientPackager

# Extra arguments go to srvlayout.exe (see server/layout/srvlayout.cpp).
lay_out_installation() {
  mkdir -p "$INSTALL_ROOT"
  wine "$BUILD_DIR/bin/srvlayout.exe" "$(winepath -w "$INSTALL_ROOT")" "$@"
  # The Wine server started here has no display; let it end before the program's run starts one.
  wineserver -w
}

# Everything a run needs: missing packages, the build, the Wine prefix, the laid-out server.
prepare_installation() {
  source "$PROJECT_ROOT/scripts/deps.sh"
  source "$PROJECT_ROOT/scripts/build.sh"
  install_deps
  build_all
  ensure_wine_prefix
  lay_out_installation "$@"
}
