#!/usr/bin/env bash
# run-demo.sh WIN64_BUILD_DIR TARGET_DIR
#
# Lays out TARGET_DIR (e.g. dist/demo) as a Tavro application directory and starts it under Wine:
#   TARGET_DIR/Tavro.exe                     the launcher from the x86_64 build
#   TARGET_DIR/Java/bin/client/jvm.dll       the recording Java VM stand-in from the same build
#   TARGET_DIR/lib/QTJava.zip                two small sample archives, made now with python's
#   TARGET_DIR/lib/extras/sample.jar         zipfile (the class-path scan lists both)
# Tavro.exe is started with two arguments, one of them non-ASCII, with the prefix's own TEMP and
# USERPROFILE. The script prints the launcher's trace lines and what the VM received, and exits
# with the launcher's exit code.
#
# Needs a running Wine session (tools/wine-session.sh start) with the same TAVRO_WINE_STATE.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
if [ $# -ne 2 ]; then
  echo "usage: $0 WIN64_BUILD_DIR TARGET_DIR" >&2
  exit 2
fi
build="$(cd "$1" && pwd)"
launcher="$build/launcher/Tavro.exe"
jvm="$build/tests/launcher/jvm_standin/jvm.dll"
for file in "$launcher" "$jvm"; do
  [ -f "$file" ] || { echo "missing $file (build the win64 tree first)" >&2; exit 1; }
done

rm -rf "$2"
mkdir -p "$2/Java/bin/client" "$2/lib/extras"
target="$(cd "$2" && pwd)"
cp "$launcher" "$target/Tavro.exe"
cp "$jvm" "$target/Java/bin/client/jvm.dll"
python3 - "$target/lib" <<'EOF'
import sys, zipfile
lib = sys.argv[1]
with zipfile.ZipFile(lib + "/QTJava.zip", "w") as archive:
    archive.writestr("quicktime/QTSession.txt", "QuickTime for Java stand-in\n")
with zipfile.ZipFile(lib + "/extras/sample.jar", "w") as archive:
    archive.writestr("META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\n\r\n")
    archive.writestr("sample/readme.txt", "sample archive\n")
EOF

# Wine hands exported variables to the Windows side; the record path must be a Windows path.
record="$target/vm-record.txt"
export TAVRO_JVM_RECORD="Z:${record//\//\\}"
# Wine turns the Unix arguments into the Windows command line through the locale.
export LC_ALL=C.UTF-8

echo "== starting $target/Tavro.exe"
status=0
(cd "$target" && "$here/wine-run.sh" ./Tavro.exe "Grüße aus Köln" second) || status=$?
echo "== the VM received ($record)"
cat "$record" 2>/dev/null || echo "(nothing: the VM was not created)"
echo "== Tavro.exe exit code: $status"
exit "$status"
