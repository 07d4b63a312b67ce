# Sourced by the demo and the bench: an install set as a lab's administrator gets it.
#   install_set FOLDER BUILD-DIR RELEASE [PROFILE-LINE]
# Setup.exe and remover.exe of the build in BUILD-DIR; the add-in of RELEASE, and the shipped
# profile with Ver=RELEASE (and PROFILE-LINE, bytes in code page 936); the template, databases
# and picture that the profile records (empty files: nothing opens them).
install_set() {
  local set=$1 dir=$2 release=$3
  mkdir -p "$set/Data" "$set/Face"
  cp "$dir/bin/Setup.exe" "$dir/bin/remover.exe" "$set/"
  echo "Qorvel add-in workbook, release $release" >"$set/setup.xla"
  { printf '[CurveInformation]\r\nVer=%s\r\n' "$release"; [ -z "${4:-}" ] || printf '%s\r\n' "$4"; } \
    >"$set/QorvelProfile.ini"
  touch "$set/Qorvel.xltm" "$set/Qorvel.xlt" "$set/Data/Qorvel.mdb" "$set/Data/Samples.mdb" \
    "$set/Face/face01.jpg"
}
