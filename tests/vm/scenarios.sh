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
VMTEST_SCENARIOS="discovery:60 udev:60 plain_port_rate:60 device_watcher:60"

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
