# SPDX-License-Identifier: MIT
# Scenarios of the test guest (tests/vm/guest-init) and the helpers they use.
# Sourced by the init, and again by the shell that runs each scenario in its
# own session, so it only defines: no commands at the top level.
#
# A scenario is a function that prints what it sees and exits non-zero
# (`fail TEXT`) on a fault; its last line becomes the detail of its result.
# The devices it finds when it starts: the serial charger at /dev/ttyACM0
# (gadget end /dev/ttyGS0, configfs directory $GADGETS/$ACM_GADGET, on
# dummy_udc.0), the HID charger at /dev/hidraw0 (gadget end /dev/hidg0,
# $GADGETS/$HID_GADGET, on dummy_udc.1), QEMU's FTDI adapter at /dev/ttyUSB0
# (a plain port; what the guest sends it lands in build/vm/ftdi-out.bin) and
# the console at /dev/ttyS0 (COM1: never touch it). dummy_udc.2 and .3 are
# free for further gadgets. A scenario that unplugs a gadget plugs it back,
# and removes what it added. No udevd runs unless a scenario starts it (and
# stops it again).
# shellcheck disable=SC2034 # the constants below serve the init too

# The scenarios in the order they run, NAME:SECONDS with the time each may
# take. scripts/vm-test reads this line: a listed scenario without a result
# fails the run.
VMTEST_SCENARIOS="discovery:60 udev:60 plain_port_rate:60 device_watcher:60 serial_upgrade:120 hid_upgrade:120 serial_unplug:90 hid_unplug:90 serial_back:150 hid_back:150"

# The chargers that the init makes (tests/vm/guest-init) and the scenarios
# expect.
GADGETS=/sys/kernel/config/usb_gadget
ACM_GADGET=acm
HID_GADGET=hid
CHARGER_PRODUCT="Varno Kestrion X"
ACM_SERIAL=0001A2B3
HID_SERIAL=HX000123

# --- Helpers --------------------------------------------------------------

# Centiseconds since the kernel started.
now_cs() {
    read -r up _ </proc/uptime
    f=${up#*.}
    echo $((${up%.*} * 100 + ${f#0}))
}

# CENTISECONDS as seconds, e.g. 1.25s.
format_cs() {
    printf '%d.%02ds' $(($1 / 100)) $(($1 % 100))
}

info() {
    echo "VMTEST-INFO $*"
}

fail() {
    echo "$*"
    exit 1
}

# wait_for_node PATH MS: waits up to MS milliseconds for PATH to exist.
wait_for_node() {
    left=$2
    while [ ! -e "$1" ]; do
        if [ "$left" -le 0 ]; then
            echo "$1 did not appear within $2 ms"
            return 1
        fi
        usleep 20000
        left=$((left - 20))
    done
}

# wait_for_gone PATH MS: waits up to MS milliseconds for PATH to go away.
wait_for_gone() {
    left=$2
    while [ -e "$1" ]; do
        if [ "$left" -le 0 ]; then
            echo "$1 still there after $2 ms"
            return 1
        fi
        usleep 20000
        left=$((left - 20))
    done
}

# unplug GADGET: a USB disconnect, as pulling the cable; the host side's
# node goes away.
unplug() {
    echo "" >"$GADGETS/$1/UDC"
}

# plug_back GADGET: replugs GADGET unless it is bound already, so that a
# scenario leaves its charger as it found it, also when it fails.
plug_back() {
    [ -n "$(cat "$GADGETS/$1/UDC")" ] || replug "$1"
}

# replug GADGET: connects the gadget to its UDC again; the host enumerates
# it anew.
replug() {
    cat "/run/vmtest/udc.$1" >"$GADGETS/$1/UDC"
}

# scenario [-t SECONDS] NAME COMMAND...: runs COMMAND (a function of this
# file or a program) in a session of its own, bounded by SECONDS (default
# 60), and prints its output, indented, and the line
#   VMTEST NAME PASS|FAIL <time> <last line of its output>
# Whatever the command left running in its session is killed afterwards.
scenario() {
    limit=60
    if [ "$1" = -t ]; then
        limit=$2
        shift 2
    fi
    name=$1
    shift
    log=/run/vmtest/$name.log
    start=$(now_cs)
    setsid /bin/sh -c '. /vmtest/scenarios.sh && "$@"' "$name" "$@" </dev/null >"$log" 2>&1 &
    leader=$!
    rm -f "/run/vmtest/$name.timeout"
    (
        sleep "$limit"
        touch "/run/vmtest/$name.timeout"
        kill -TERM -"$leader" 2>/dev/null
        sleep 2
        kill -KILL -"$leader" 2>/dev/null
    ) &
    watchdog=$!
    wait "$leader"
    status=$?
    kill "$watchdog" 2>/dev/null
    wait "$watchdog" 2>/dev/null
    kill -KILL -"$leader" 2>/dev/null
    took=$(format_cs $(($(now_cs) - start)))
    sed "s/^/    $name| /" "$log"
    detail=$(grep -v '^[[:space:]]*$' "$log" | tail -n 1)
    if [ -e "/run/vmtest/$name.timeout" ]; then
        echo "VMTEST $name FAIL $took timed out after ${limit}s: $detail"
    elif [ "$status" -eq 0 ]; then
        echo "VMTEST $name PASS $took $detail"
    else
        echo "VMTEST $name FAIL $took (exit $status) $detail"
    fi
}

run_scenarios() {
    for entry in $VMTEST_SCENARIOS; do
        scenario -t "${entry#*:}" "${entry%%:*}" "scenario_${entry%%:*}"
    done
}

# --- Scenarios ------------------------------------------------------------

# expect_line TEXT LINE: fails unless TEXT has LINE as one of its lines.
expect_line() {
    printf '%s\n' "$1" | grep -qxF "$2" || fail "missing line: $2"
}

# expect_no_line TEXT PATTERN: fails if a line of TEXT matches PATTERN.
expect_no_line() {
    if printf '%s\n' "$1" | grep -q "$2"; then
        fail "unexpected line: $(printf '%s\n' "$1" | grep "$2" | head -n 1)"
    fi
}

# The chargers that the kernel's drivers present, as `velmorin-cli list`
# names them: the ACM charger by the COM number of ttyACM0 (COM65), the HID
# charger as HID0; the FTDI adapter is a plain port, listed only with
# --include-com.
scenario_discovery() {
    tab=$(printf '\t')
    chargers=$(velmorin-cli list) || fail "velmorin-cli list failed"
    echo "velmorin-cli list:"
    printf '%s\n' "$chargers"
    expect_line "$chargers" "COM65${tab}Type: $CHARGER_PRODUCT, S/N:$ACM_SERIAL"
    expect_line "$chargers" "HID0${tab}Type: $CHARGER_PRODUCT, S/N:$HID_SERIAL"
    expect_no_line "$chargers" "^COM33${tab}"
    [ "$(printf '%s\n' "$chargers" | wc -l)" -eq 2 ] || fail "expected two chargers"

    all=$(velmorin-cli list --include-com) || fail "velmorin-cli list --include-com failed"
    echo "velmorin-cli list --include-com:"
    printf '%s\n' "$all"
    expect_line "$all" "COM65${tab}Type: $CHARGER_PRODUCT, S/N:$ACM_SERIAL"
    expect_line "$all" "HID0${tab}Type: $CHARGER_PRODUCT, S/N:$HID_SERIAL"
    expect_line "$all" "COM33${tab}QEMU USB SERIAL (COM33)"
    echo "ACM charger COM65, HID charger HID0, FTDI adapter COM33 only with --include-com"
}

# packaging/70-kestrion.rules under the real udevd: the ACM charger's tty
# gets the uaccess tag, mode 0660 and ModemManager's ignore flag, the HID
# charger's hidraw node the uaccess tag and mode 0660; the FTDI adapter's
# tty neither tag nor flag.
scenario_udev() {
    /lib/systemd/systemd-udevd --daemon || fail "systemd-udevd did not start"
    # udevd leaves this scenario's session: stop it on the way out.
    trap 'udevadm control --exit 2>/dev/null' EXIT
    trap 'exit 1' TERM
    udevadm trigger --action=add || fail "udevadm trigger failed"
    udevadm settle --timeout=30 || fail "udevadm settle timed out"
    for node in /dev/ttyACM0 /dev/hidraw0 /dev/ttyUSB0; do
        echo "$node: mode $(stat -c %a "$node"), $(udevadm info -q property -n "$node" |
            grep -E '^(TAGS|CURRENT_TAGS|ID_MM_DEVICE_IGNORE)=' | tr '\n' ' ')"
    done

    acm=$(udevadm info -q property -n /dev/ttyACM0) || fail "no udev data for ttyACM0"
    printf '%s\n' "$acm" | grep -qx 'ID_MM_DEVICE_IGNORE=1' || fail "ttyACM0: no ID_MM_DEVICE_IGNORE=1"
    printf '%s\n' "$acm" | grep -q '^TAGS=.*:uaccess:' || fail "ttyACM0: no uaccess tag"
    [ "$(stat -c %a /dev/ttyACM0)" = 660 ] || fail "ttyACM0: mode $(stat -c %a /dev/ttyACM0)"

    hid=$(udevadm info -q property -n /dev/hidraw0) || fail "no udev data for hidraw0"
    printf '%s\n' "$hid" | grep -q '^TAGS=.*:uaccess:' || fail "hidraw0: no uaccess tag"
    [ "$(stat -c %a /dev/hidraw0)" = 660 ] || fail "hidraw0: mode $(stat -c %a /dev/hidraw0)"

    ftdi=$(udevadm info -q property -n /dev/ttyUSB0) || fail "no udev data for ttyUSB0"
    expect_no_line "$ftdi" '^ID_MM_DEVICE_IGNORE='
    expect_no_line "$ftdi" '^TAGS=.*:uaccess:'
    echo "ttyACM0 and hidraw0 tagged uaccess (ttyACM0 ignored by ModemManager), ttyUSB0 untouched"
}

# QEMU's FTDI adapter through usbserial and ftdi_sio: the port opens at the
# charger's 128000 baud as an upgrade opens it (the driver's nearest rate is
# within the 3 % the charger tolerates), and a rate the driver cannot make is
# refused rather than run at another.
scenario_plain_port_rate() {
    taken=$(vm_probe rate /dev/ttyUSB0 128000) || fail "128000 refused: $taken"
    echo "128000: $taken"
    refused=$(vm_probe rate /dev/ttyUSB0 4000000) && fail "4000000 taken: $refused"
    echo "4000000: $refused"
    case $refused in
    refused:*) ;;
    *) fail "4000000: no refusal: $refused" ;;
    esac
    echo "FTDI at 128000 ${taken#opened 128000 }; 4000000 refused (${refused##*(}"
}

# The device watcher sees the HID charger leave and come back. It listens
# to udevd's monitor, so udevd runs for this scenario.
scenario_device_watcher() {
    /lib/systemd/systemd-udevd --daemon || fail "systemd-udevd did not start"
    trap 'udevadm control --exit 2>/dev/null' EXIT
    trap 'exit 1' TERM
    udevadm settle --timeout=30 || fail "udevadm settle timed out"
    vm_probe watch 6000 >/run/vmtest/watch.out &
    watcher=$!
    usleep 500000
    unplug "$HID_GADGET"
    wait_for_gone /dev/hidraw0 5000 || fail "hidraw0 stayed"
    usleep 500000
    replug "$HID_GADGET"
    wait_for_node /dev/hidraw0 5000 || fail "hidraw0 did not come back"
    wait "$watcher"
    cat /run/vmtest/watch.out
    changes=$(sed -n 's/^changes //p' /run/vmtest/watch.out)
    [ "${changes:-0}" -ge 2 ] || fail "the watcher saw ${changes:-no} changes for a remove and an add"
    echo "the watcher saw $changes changes for the HID charger's remove and add"
}

# --- Upgrades through the drivers ------------------------------------------

# The model byte of the simulated chargers and of the files sealed for them.
MODEL_CODE=0x2A

# prepare_upgrade DIR FORM: a 4 KiB payload of random bytes in DIR/payload
# and the update file sealed from it in DIR/update.bin (FORM: whole-file or
# header).
prepare_upgrade() {
    mkdir -p "$1"
    head -c 4096 /dev/urandom >"$1/payload"
    velmorin-sim seal "$1/payload" -o "$1/update.bin" --form "$2" --model-code "$MODEL_CODE" \
        >/dev/null || fail "velmorin-sim seal failed"
}

# start_charger DIR KIND ARGS...: velmorin-sim KIND on its gadget, saving
# what it receives in DIR/received.bin; returns when it is ready.
start_charger() {
    dir=$1
    kind=$2
    shift 2
    velmorin-sim "$kind" --model-code "$MODEL_CODE" --save "$dir/received.bin" \
        --report "$dir/report.json" "$@" >"$dir/sim.out" 2>&1 &
    charger=$!
    left=5000
    until grep -qs "simulated.*charger" "$dir/sim.out"; do
        kill -0 "$charger" 2>/dev/null || fail "velmorin-sim $kind ended: $(cat "$dir/sim.out")"
        [ "$left" -gt 0 ] || fail "velmorin-sim $kind did not get ready"
        usleep 20000
        left=$((left - 20))
    done
}

# run_update DIR DEVICE: velmorin-cli update on DEVICE with DIR/update.bin,
# timed by busybox (DIR/time: elapsed, user and system seconds); its process
# ID in DIR/pid, its output in DIR/cli.out. Returns the CLI's exit status.
run_update() {
    # shellcheck disable=SC2016 # expanded by the inner shell
    command time -f "%e %U %S" -o "$1/time.out" \
        sh -c 'echo $$ >"$1/pid" && exec velmorin-cli update "$1/update.bin" --device "$2"' \
        sh "$1" "$2" >"$1/cli.out" 2>&1
    status=$?
    # busybox puts "Command exited with non-zero status N" before the figures.
    tail -n 1 "$1/time.out" >"$1/time"
    return "$status"
}

# cpu_ticks PID: the user and system time that process PID (all its threads)
# has used so far, in clock ticks of 1/100 s; nothing once it has ended.
cpu_ticks() {
    stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 0
    # The fields after the command's name, which is in brackets and may hold
    # blanks: utime and stime are the 12th and 13th of them.
    # shellcheck disable=SC2086 # split into its fields
    set -- ${stat##*") "}
    echo $((${12} + ${13}))
}

# holders_of NODE: the processes with NODE open (also once it is deleted).
holders_of() {
    for fd in /proc/[0-9]*/fd/*; do
        case $(readlink "$fd" 2>/dev/null) in
        "$1" | "$1 (deleted)") echo "${fd%/fd/*}" ;;
        esac
    done | sort -u | tr '\n' ' '
}

# expect_received DIR: the charger saved exactly the payload.
expect_received() {
    left=3000
    until [ -s "$1/received.bin" ]; do
        [ "$left" -gt 0 ] || fail "the charger saved nothing"
        usleep 20000
        left=$((left - 20))
    done
    cmp -s "$1/payload" "$1/received.bin" || fail "the charger received other bytes than the payload"
}

# use_charger KIND: what the scenarios need to know of the serial or the HID
# charger: its device name, its host-side node, the form of the files sealed
# for it, its gadget and what velmorin-sim takes besides.
use_charger() {
    case $1 in
    serial)
        device=COM65
        node=/dev/ttyACM0
        form=whole-file
        gadget=$ACM_GADGET
        charger_args="--node /dev/ttyGS0"
        ;;
    hid)
        device=HID0
        node=/dev/hidraw0
        form=header
        gadget=$HID_GADGET
        charger_args="--absence-ms 300"
        ;;
    esac
}

# upgrade_scenario KIND: a whole upgrade through the kernel's driver, the
# payload compared.
upgrade_scenario() {
    use_charger "$1"
    work=/run/vmtest/$1-upgrade
    prepare_upgrade "$work" "$form"
    # shellcheck disable=SC2086 # the charger's options are words
    start_charger "$work" "$1" --gadget "$GADGETS/$gadget" $charger_args
    run_update "$work" "$device" || fail "update failed: $(tail -n 3 "$work/cli.out")"
    cat "$work/cli.out"
    expect_received "$work"
    echo "4096 bytes intact through $device in $(cut -d' ' -f1 "$work/time") s" \
        "(CPU $(cut -d' ' -f2 "$work/time") s user, $(cut -d' ' -f3 "$work/time") s system)"
}

# A serial upgrade through cdc_acm, the charger on the ACM gadget's tty.
scenario_serial_upgrade() {
    upgrade_scenario serial
}

# A HID upgrade through usbhid; the charger's restart into its bootloader is
# a real disconnect and re-enumeration of the HID gadget.
scenario_hid_upgrade() {
    upgrade_scenario hid
}

# start_unplugging KIND WORK-SUFFIX CHARGER-ARGS...: the charger of KIND,
# unplugged by itself at its fourth block, with a file sealed for it; it is
# plugged back when the scenario ends, whatever happened.
start_unplugging() {
    use_charger "$1"
    work=/run/vmtest/$1-$2
    kind=$1
    shift 2
    trap 'plug_back '"$gadget" EXIT
    prepare_upgrade "$work" "$form"
    # shellcheck disable=SC2086 # the charger's options are words
    start_charger "$work" "$kind" --gadget "$GADGETS/$gadget" --unplug-at-block 3 \
        $charger_args "$@"
}

# unplug_scenario KIND: the charger is unplugged at its fourth block. The
# CLI must end within a second of the unplug, with a failure that says the
# charger was lost, having used little CPU from the unplug to its end (not
# over the whole run, whose CPU a busy host inflates), and leave nothing
# holding the port.
unplug_scenario() {
    start_unplugging "$1" unplug
    # The moment of the unplug: the charger says so as it empties UDC. A HID
    # charger has unplugged once before, as it restarted into its bootloader.
    # The CLI's CPU time so far is read at once.
    unplugs=1
    [ "$kind" = serial ] || unplugs=2
    (
        until [ "$(grep -cs "unplugged the gadget" "$work/sim.out")" -ge "$unplugs" ]; do
            usleep 5000
        done
        cpu_ticks "$(cat "$work/pid")" >"$work/cpu-at-unplug"
        now_cs >"$work/gone"
    ) &
    if run_update "$work" "$device"; then
        fail "the update succeeded although the charger was unplugged"
    fi
    ended=$(now_cs)
    cat "$work/cli.out"
    [ -s "$work/gone" ] || fail "the charger never unplugged"
    after=$((ended - $(cat "$work/gone")))
    # The whole run's CPU, in ticks, less what it had used at the unplug;
    # had it ended before that could be read, the whole run's is the bound.
    run_cpu=$(awk '{printf "%d", ($2 + $3) * 100 + 0.5}' "$work/time")
    at_unplug=$(cat "$work/cpu-at-unplug")
    cpu=$((run_cpu - ${at_unplug:-0}))
    [ "$cpu" -ge 0 ] || cpu=0
    figures="ended $(format_cs "$after") after the unplug, CPU $(format_cs "$cpu") since"
    [ -n "$at_unplug" ] || figures="$figures (the whole run's: it had ended before the unplug's reading)"
    grep -q "lost" "$work/cli.out" ||
        fail "$figures; no word of the lost charger: $(grep -m1 Error "$work/cli.out")"
    [ "$after" -le 100 ] || fail "$figures: too late"
    [ "$cpu" -lt 50 ] || fail "$figures: too much CPU"
    holder=$(holders_of "$node")
    [ -z "$holder" ] || fail "still holding $node: $holder"
    plug_back "$gadget"
    wait_for_node "$node" 5000 || fail "$node did not come back"
    echo "$figures (whole run $(cut -d' ' -f1 "$work/time") s, CPU $(format_cs "$run_cpu")):" \
        "$(grep -m1 "lost" "$work/cli.out")"
}

scenario_serial_unplug() {
    unplug_scenario serial
}

scenario_hid_unplug() {
    unplug_scenario hid
}

# back_scenario KIND: the charger is unplugged mid-run and comes back 1.5 s
# later; it is found again and a second run completes, the payload intact.
back_scenario() {
    start_unplugging "$1" back --replug-after-ms 1500
    if run_update "$work" "$device"; then
        fail "the first run succeeded although the charger was unplugged"
    fi
    wait_for_node "$node" 10000 || fail "$node did not come back"
    usleep 500000
    velmorin-cli list | grep -q "^$device	" || fail "$device is not listed again"
    run_update "$work" "$device" || fail "the second run failed: $(tail -n 3 "$work/cli.out")"
    expect_received "$work"
    echo "found again as $device; the second run took $(cut -d' ' -f1 "$work/time") s, payload intact"
}

scenario_serial_back() {
    back_scenario serial
}

scenario_hid_back() {
    back_scenario hid
}
