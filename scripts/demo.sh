#!/usr/bin/env bash
# The main job on a fresh machine: installs what is missing, builds the library and the
# psrl command (release preset), and reports a fresh copy of the sample store
# (examples/store), so that the sample itself is never consumed.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh
cmake --preset release >/dev/null
cmake --build --preset release --target psrl psrl_cli
psrl=build/release/tools/psrl/psrl

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp examples/store/psrl.ini examples/store/plg.dat "$work"

step() { printf '\n== %s\n' "$*"; }

step "The sample store: its sessions and the tallies a report would make"
"$psrl" sessions --dir "$work"

step "First report, into a buffer of 300 bytes: only the lines that fit are delivered"
"$psrl" report --dir "$work" --buffer-size 300

step "Second report: only what stayed in the store"
"$psrl" report --dir "$work"

step "A game is running: its session is written and held live while a report runs"
"$psrl" add --dir "$work" PlgSession_5E10C4A7 UserID=1002 "GameName=Stellar Drift" \
  GameModuleName=StellarDrift.exe "GameFullPath=C:\\Games\\Stellar Drift\\" \
  "StartTime=2026-12-02 20:31:05" GamingTime=1260 IGActived=0 ErrorCode=0
"$psrl" hold PlgSession_5E10C4A7 -- "$psrl" report --dir "$work"

step "The game has ended: the next report takes its session"
"$psrl" report --dir "$work"
"$psrl" sessions --dir "$work"
