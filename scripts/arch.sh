# Sourced by every script, before anything else it does: sets up the machine once per command
# (scripts/bootstrap), takes `--arch i686|x86_64|all` off the front of the script's arguments
# into $arch (empty: the machine's own choice), and decides which build runs.
#
# What ships is the i686 build, in build/. Where this machine runs 32-bit programs, that build is
# the one run. Some machines run 64-bit user code only: there Wine's 32-bit loader fails with
# "Exec format error", so an x86_64 build of the same sources (in build/x86_64/) is run under
# 64-bit Wine instead, and the shipped i686 programs are checked without running them.
# `--arch i686|x86_64` forces either; `--arch all` runs every build that the machine can run.

"$(dirname "${BASH_SOURCE[0]}")/bootstrap"
export QORVEL_BOOTSTRAPPED=1

arch=""
if [ "${1:-}" = --arch ]; then arch=${2:?--arch takes i686, x86_64 or all}; shift 2; fi

can_run_i686() { /usr/lib/wine/wine --version >/dev/null 2>&1; }

# The builds to run for ARCH-OPTION (empty: the machine's own choice), one a line.
builds_to_run() {
  case "${1:-}" in
    "") if can_run_i686; then echo i686; else echo x86_64; fi ;;
    i686)
      can_run_i686 || { echo "this machine cannot run 32-bit programs: --arch i686 is not possible here" >&2; return 1; }
      echo i686 ;;
    x86_64) echo x86_64 ;;
    all) if can_run_i686; then printf 'i686\nx86_64\n'; else echo x86_64; fi ;;
    *) echo "unknown architecture '$1': i686, x86_64 or all" >&2; return 2 ;;
  esac
}

# The build folder of a build (the configure preset of the same name says so too).
build_dir() { if [ "$1" = i686 ]; then echo build; else echo build/x86_64; fi; }

# One line that says which build runs, and why.
describe_builds() {  # describe_builds BUILD...
  local machine
  if can_run_i686; then machine="this machine runs 32-bit programs"; else machine="this machine cannot run 32-bit programs"; fi
  case "$*" in
    i686) echo "$machine: the shipped i686 build runs" ;;
    x86_64) echo "$machine: the x86_64 build of the same sources runs" ;;
    *) echo "$machine: the shipped i686 build runs, then the x86_64 build of the same sources" ;;
  esac
}
