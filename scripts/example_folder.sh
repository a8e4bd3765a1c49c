# Sourced by the run.sh of each worked example (examples/<name>/run.sh), with
# `here` set to the example's folder and the script's arguments in place:
#   $1  the folder of korva, varnock and main (default build/release)
#   $2  the work folder (default build/examples/<name>)
# Sets `bin` and `work`, copies the example's inputs into a fresh work folder,
# puts `bin` first on the PATH and changes into the work folder.
bin=$(cd "${1:-$here/../../build/release}" && pwd)
work=${2:-$here/../../build/examples/$(basename "$here")}
rm -rf "$work"
mkdir -p "$work"
cp "$here"/* "$work"/
rm -f "$work/README.md" "$work/run.sh"
cd "$work"
PATH="$bin:$PATH"
export PATH
