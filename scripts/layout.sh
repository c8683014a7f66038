# Sourced by run.sh and screenshots.sh: lays out the stand-in server installation that the program runs on and
# registers it in the Wine prefix (HKLM App Paths of CNSLSRVC.EXE, the key of its product
# version). The server folder is INSTALL_ROOT, by default where a 32-bit server installs, under
# C:\Program Files (x86)\ of the prefix (a path with spaces and parentheses, and none of the build
# machine's folders); the program folder is its ClientPackager sub-folder. Files laid out
# earlier are overwritten; what a build left there (TARs, outputs) stays.
INSTALL_ROOT=${INSTALL_ROOT:-$WINEPREFIX/drive_c/Program Files (x86)/Halvane Endpoint Security/Server}
PROGRAM_DIR=$INSTALL_ROOT/ClientPackager

# Extra arguments go to srvlayout.exe (see server/layout/srvlayout.cpp).
lay_out_installation() {
  mkdir -p "$INSTALL_ROOT"
  wine "$TOOLS_DIR/srvlayout.exe" "$(winepath -w "$INSTALL_ROOT")" --built "$(winepath -w "$BUILD_DIR/bin")" "$@"
  # The Wine server started here has no display; let it end before the program's run starts one.
  wineserver -w
}

# Everything a run needs: missing packages, the build, the Wine prefix, the laid-out server.
prepare_installation() {
  source "$PROJECT_ROOT/scripts/deps.sh"
  source "$PROJECT_ROOT/scripts/build.sh"
  install_deps
  ensure_x86_runtime
  build_all
  # Where 32-bit programs start slowly (emulated), the scripts' own tools are the 64-bit builds;
  # the program and the server's components stay 32-bit.
  export TOOLS_DIR=$BUILD_DIR/bin
  if [ "$X86_NATIVE" = 0 ]; then
    build_x64_tests
    TOOLS_DIR=$BUILD_X64_DIR/bin
  fi
  ensure_wine_prefix
  install_test_mapi "$BUILD_DIR"
  lay_out_installation "$@"
}
