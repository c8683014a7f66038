# Sourced by run.sh: lays out the stand-in installation that the program runs on.
INSTALL_ROOT=${INSTALL_ROOT:-$BUILD_DIR/installation}
PROGRAM_DIR=$INSTALL_ROOT/ClientPackager

lay_out_installation() {
  mkdir -p "$PROGRAM_DIR/clPacker"
  cp "$BUILD_DIR/bin/tmrovane.exe" "$BUILD_DIR/bin/uistr.dll" "$BUILD_DIR/bin/verkit.dll" "$PROGRAM_DIR/"
}
