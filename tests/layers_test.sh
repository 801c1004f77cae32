#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# scripts/check-layers against a copy of the sources: the copy as it is must
# pass, and each include added below must be reported (or, for the allowed
# ones, must not be) at the line it was added. Usage: layers_test.sh <root>.
set -euo pipefail
root=${1:?usage: layers_test.sh <source root>}
check="$root/scripts/check-layers"
copy=$(mktemp -d)
trap 'rm -rf "$copy"' EXIT
cp -r "$root/src" "$root/cli" "$root/sim" "$root/gui" "$root/gui-win32" "$copy/"

failures=0
if ! out=$("$check" "$copy"); then
  printf 'the sources themselves break the layers:\n%s\n' "$out"
  failures=1
fi

# file | include added at its end | the layer reported, or "allowed"
cases=(
  'src/image/aes.h|#include <QtCore/QObject>|image'
  'cli/output.cpp|#include <QString>|cli'
  'sim/main.cpp|  #  include <QProcess>|sim'
  'src/device/pause.h|#include "image/aes.h"|device'
  'src/image/aes.h|#include "linux/serial_baud_rate.h"|image'
  'src/image/aes.h|#include "virtual/virtual_devices.h"|image'
  'src/device/pause.h|#include "../session/device_list.h"|device'
  'src/protocol/upgrade_host.h|#include "online/catalogue.h"|protocol'
  'src/online/catalogue.h|#include "protocol/upgrade_host.h"|online'
  'src/online/catalogue.h|#include <session/device_table.h>|online'
  'src/session/device_table.h|#include "gui/main_dialog.h"|session'
  'cli/output.cpp|#include "gui/main_dialog.h"|cli'
  'sim/main.cpp|#include "gui/pictures.h"|sim'
  'gui/main.cpp|#include "cli/output.h"|gui'
  'src/protocol/upgrade_host.h|#include "virtual/virtual_devices.h"|allowed'
  'src/online/catalogue.h|#include <windows.h>|online'
  'src/device/pause.h|#include <setupapi.h>|device'
  'cli/output.cpp|#include <unistd.h>|cli'
  'src/image/aes.h|#include <sys/stat.h>|image'
  'src/device/linux/serial_port.cpp|#include <linux/serial.h>|allowed'
  'src/device/windows/pause.cpp|#include <windows.h>|allowed'
  'cli/windows/console.cpp|#include <io.h>|allowed'
  'sim/main.cpp|#include <termios.h>|allowed'
  'gui-win32/main.cpp|#include <commctrl.h>|allowed'
  'gui-win32/main.cpp|#include "session/main_window_logic.h"|allowed'
  'src/session/device_table.h|#include "online/catalogue.h"|allowed'
  'gui/main.cpp|#include "protocol/upgrade_host.h"|allowed'
  'cli/output.cpp|#include "terminal_text.h"|allowed'
)
for row in "${cases[@]}"; do
  IFS='|' read -r file include layer <<<"$row"
  cp "$copy/$file" "$copy/saved"
  printf '\n%s\n' "$include" >>"$copy/$file"
  line=$(wc -l <"$copy/$file")
  target=$(sed -E 's/.*include *[<"]([^>"]*)[>"].*/\1/' <<<"$include")
  status=0
  out=$("$check" "$copy") || status=$?
  mv "$copy/saved" "$copy/$file"
  if [[ $layer == allowed ]]; then
    if grep -qF "$file:$line:" <<<"$out"; then
      printf 'FAIL: %s in %s was reported:\n%s\n' "$include" "$file" "$out"
      failures=1
    fi
  elif [[ $status -ne 1 ]] || ! grep -qF "$file:$line: $layer may not include $target" <<<"$out"; then
    printf 'FAIL: %s in %s (exit %d) not reported:\n%s\n' "$include" "$file" "$status" "$out"
    failures=1
  fi
done

# A file outside every layer of the core.
printf 'int stray;\n' >"$copy/src/stray.cpp"
if out=$("$check" "$copy") || ! grep -qxF 'src/stray.cpp:1: file lies in no layer' <<<"$out"; then
  printf 'FAIL: src/stray.cpp not reported:\n%s\n' "$out"
  failures=1
fi
exit "$failures"
