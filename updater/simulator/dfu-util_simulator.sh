#!/usr/bin/env bash
# dfu-util_simulator.sh - stands in for dfu-util 0.9 with an Arc-31 (STM32 ROM
# bootloader, DfuSe, USB 0483:df11) in DFU mode, so that the upgrade tool runs
# its whole flow without a unit on the cable.
#
# Command line (what the tool's simulator mode starts):
#   dfu-util_simulator.sh --dfu-util-command OP [--fast-progress] [dfu-util arguments...]
#
#   version                 prints dfu-util 0.9's "-V" text, exit 0
#   list                    dfu-util's "-l" output: the banner, then four
#                           "Found DFU: [0483:df11] ver=2200, ..." lines (alt 3 to 0)
#                           for every unit in DFU mode
#   upload_OTP / upload_FW  "-a A -s ADDRESS:LENGTH -U FILE": writes LENGTH bytes of
#                           the OTP area (alt 2, 512 bytes at 0x1FFF7800) or of the
#                           flash (alt 0, 1 MiB at 0x08000000) into FILE, overwriting
#                           it; a length past the end of the area is cut there, as
#                           dfu-util does
#   download_FW             "-a 0 -s 0x08000000:leave -D FILE": writes FILE into the
#                           flash from its start; the unit then leaves DFU mode and is
#                           absent from "list" (and from every other operation) for
#                           3 s, after which it is back in DFU mode with the new flash
#   setup_prepared_config NAME
#                           puts the simulated units into a prepared scenario
#
#   --fast-progress         drops every delay except the unit's absence after a
#                           download, which shrinks to 0.3 s. Without it an OTP or
#                           information upload takes 0.5 s, a flash read-back 1 s and
#                           a download 6 s.
#
# Prepared scenarios (NAME):
#   default             one Arc-31: OTP type 4, subtype FF FF FF; flash holding an
#                       older firmware ("Arc-31 main firmware", revision 2.3.1)
#   current             as default, but the flash holds the image named by
#                       DFU_SIMULATOR_FIRMWARE_IMAGE (or by a second argument after
#                       NAME); fails when neither names a readable image. Point it at
#                       the tool's firmware.bin to get a unit that is already up to date.
#   none                no unit attached
#   two                 two default units, serial numbers 336F38723430 and 2057356B4E31
#   other_product       an Arc-30: OTP type 3, flash with a type-3 block (revision 1.8.2)
#   blank_otp           OTP never programmed (all FF), flash as default
#   blank_device        OTP and flash both erased (all FF), as from production
#   unknown_type        OTP type byte 7 (a type without a product), flash as default
#   subtype_mismatch    OTP type 4 subtype 01 FF FF, flash block type 4 subtype FF FF FF
#   otp_upload_fails    as default, but every OTP upload fails with exit code 74
#   flash_upload_fails  as default, but every flash upload fails with exit code 74
#   download_fails      as default, but the download fails with exit code 74 before
#                       the first byte is written: the flash stays unchanged and the
#                       unit stays in DFU mode
#   verify_fails        as default, but after a download the last byte of the image
#                       in the flash reads inverted: the information block shows the
#                       new revision, the byte-for-byte read-back comparison fails
# The four failures can also be added to another scenario with "+", for example
# "blank_otp+flash_upload_fails". An unknown name fails with exit code 2.
#
# State: a directory kept between calls, DFU_SIMULATOR_STATE_DIR if set, else
# $XDG_RUNTIME_DIR/dfu-util-simulator, else ${TMPDIR:-/tmp}/dfu-util-simulator-<uid>.
# A state directory that does not exist yet starts in the default scenario. Give
# every parallel user (test) its own directory.
# DFU_SIMULATOR_FAST_PROGRESS, if set to a non-empty value, acts as --fast-progress.
# DFU_SIMULATOR_LEAVE_MS, if set, replaces the absence after a download (milliseconds).
#
# Needs bash and coreutils only.

set -u
export LC_ALL=C

readonly PROGRAM_NAME=dfu-util_simulator.sh
readonly FLASH_BASE=$((0x08000000))
readonly FLASH_SIZE=1048576
readonly OTP_BASE=$((0x1FFF7800))
readonly OTP_SIZE=512
readonly OLD_IMAGE_SIZE=612000
readonly FIRST_SERIAL=336F38723430
readonly SECOND_SERIAL=2057356B4E31
readonly INTERFACE_NAMES=(
    "@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg"
    "@Option Bytes  /0x1FFFC000/01*016 e"
    "@OTP Memory /0x1FFF7800/01*512 e,01*016 e"
    "@Device Feature/0xFFFF0000/01*004 e"
)
readonly FAULTS="otp_upload_fails flash_upload_fails download_fails verify_fails"

readonly EX_USAGE=64
readonly EX_NOINPUT=66
readonly EX_CANTCREAT=73
readonly EX_IOERR=74

# The tool itself never passes --fast-progress; tests of the whole tool set this instead.
fast=0
[ -n "${DFU_SIMULATOR_FAST_PROGRESS:-}" ] && fast=1

# ---------------------------------------------------------------- output helpers

print_banner() {
    printf '%s\n' \
        'dfu-util 0.9' \
        '' \
        'Copyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.' \
        'Copyright 2010-2016 Tormod Volden and Stefan Schmidt' \
        'This program is Free Software and has ABSOLUTELY NO WARRANTY' \
        'Please report bugs to http://sourceforge.net/p/dfu-util/tickets/' \
        ''
}

# dfu-util's errx(): message on standard error, then the exit code.
fail() {
    local code=$1
    shift
    printf 'dfu-util: %s\n' "$*" >&2
    exit "$code"
}

usage_error() {
    printf '%s: %s\n' "$PROGRAM_NAME" "$*" >&2
    exit "$EX_USAGE"
}

# Microseconds since the epoch; whole seconds where bash is older than 5.0.
now_us() {
    local now=${EPOCHREALTIME:-}
    if [ -n "$now" ]; then
        printf '%s' "${now/./}"
    else
        printf '%s000000' "$(date +%s)"
    fi
}

sleep_ms() {
    local ms=$1 seconds
    ((ms > 0)) || return 0
    printf -v seconds '%d.%03d' $((ms / 1000)) $((ms % 1000))
    sleep "$seconds"
}

# One line of dfu-util's progress bar, redrawn in place with a carriage return.
progress_line() {
    local desc=$1 current=$2 total=$3 width=25 filled bar='' i
    filled=$((width * current / total))
    for ((i = 0; i < width; i++)); do
        if ((i < filled)); then bar+='='; else bar+=' '; fi
    done
    printf '\r%s\t[%s] %3d%% %12d bytes' "$desc" "$bar" $((100 * current / total)) "$current"
}

# Draws the bar in five steps spread over the given time, ending in "DESC done.".
run_progress() {
    local desc=$1 total=$2 duration_ms=$3 step
    ((fast)) && duration_ms=0
    progress_line "$desc" 0 "$total"
    for step in 1 2 3 4 5; do
        sleep_ms $((duration_ms / 5))
        progress_line "$desc" $((total * step / 5)) "$total"
    done
    printf '\n%s done.\n' "$desc"
}

# ---------------------------------------------------------------- byte writers

# Writes the given bytes, each as two hex digits.
put_bytes() {
    local format='' byte
    for byte in "$@"; do format+="\\x$byte"; done
    printf "$format"
}

put_word() {
    local value=$1 format
    printf -v format '\\x%02x\\x%02x\\x%02x\\x%02x' $((value & 255)) $((value >> 8 & 255)) \
        $((value >> 16 & 255)) $((value >> 24 & 255))
    printf "$format"
}

put_zeros() {
    head -c "$1" /dev/zero
}

put_erased() {
    head -c "$1" /dev/zero | tr '\000' '\377'
}

# A 32-byte text field: the text and NULs.
put_field() {
    local text=$1
    printf '%s' "$text"
    put_zeros $((32 - ${#text}))
}

# ---------------------------------------------------------------- unit contents

# OTP area: one identification record at offset 0, the rest never programmed.
write_otp() {
    local file=$1 type=$2 sub1=$3 sub2=$4 sub3=$5
    {
        put_bytes 11 47 23 01 "$type" "$sub1" "$sub2" "$sub3" 26 11 20 00 00 01 4c 58
        put_erased $((OTP_SIZE - 16))
    } >"$file"
}

write_blank_otp() {
    put_erased "$OTP_SIZE" >"$1"
}

vector_table() {
    local i
    put_word $((0x20020000))
    for ((i = 1; i < 128; i++)); do
        put_word $(((FLASH_BASE + 0xA00 + 4 * i) | 1))
    done
}

# Firmware-information block with four detail pairs: 72 + 4 * 64 + 4 bytes.
info_block() {
    local type=$1 sub1=$2 sub2=$3 sub3=$4 name=$5 revision=$6 tag=$7
    put_bytes 12 47 23 01 "$type" "$sub1" "$sub2" "$sub3"
    put_field "$name"
    put_field "$revision"
    put_field 'Creation date'
    put_field '2025-06-02'
    put_field 'Creation time'
    put_field '09:41:15'
    put_field 'Git tag'
    put_field "$tag"
    put_field 'Compiler'
    put_field 'arm-none-eabi-gcc 10.3.1'
    put_bytes 13 47 23 01
}

# Flash holding an older firmware: vector table, information block at 0x200,
# code-like filler up to the end of the image, erased flash after it.
write_firmware_flash() {
    local file=$1 type=$2 sub1=$3 sub2=$4 sub3=$5 name=$6 revision=$7 tag=$8
    local block_end=$((0x200 + 72 + 4 * 64 + 4))
    {
        vector_table
        info_block "$type" "$sub1" "$sub2" "$sub3" "$name" "$revision" "$tag"
        put_zeros $((0x800 - block_end))
        yes "$name $revision code " | head -c $((OLD_IMAGE_SIZE - 0x800))
        put_erased $((FLASH_SIZE - OLD_IMAGE_SIZE))
    } >"$file"
}

write_erased_flash() {
    put_erased "$FLASH_SIZE" >"$1"
}

write_image_flash() {
    local file=$1 image=$2 size
    size=$(wc -c <"$image")
    {
        cat "$image"
        put_erased $((FLASH_SIZE - size))
    } >"$file"
}

# ---------------------------------------------------------------- state

# Sets STATE in this shell: a subshell per call would cost every poll a fork.
set_state_dir() {
    if [ -n "${DFU_SIMULATOR_STATE_DIR:-}" ]; then
        STATE=$DFU_SIMULATOR_STATE_DIR
    elif [ -n "${XDG_RUNTIME_DIR:-}" ] && [ -d "$XDG_RUNTIME_DIR" ]; then
        STATE=$XDG_RUNTIME_DIR/dfu-util-simulator
    else
        STATE=${TMPDIR:-/tmp}/dfu-util-simulator-$EUID
    fi
}

set_state_dir
readonly STATE
readonly UNITS="$STATE/units"

new_unit() {
    local number=$1 serial=$2 devnum=$3 path=$4 dir="$UNITS/$1"
    mkdir -p "$dir" || exit 1
    printf '%s\n' "$serial" >"$dir/serial"
    printf '%s\n' "$devnum" >"$dir/devnum"
    printf '%s\n' "$path" >"$dir/path"
    printf '%s' "$dir"
}

add_default_unit() {
    local dir
    dir=$(new_unit "$1" "$2" "$3" "$4")
    write_otp "$dir/otp.bin" 04 ff ff ff
    write_firmware_flash "$dir/flash.bin" 04 ff ff ff 'Arc-31 main firmware' '2.3.1' 'arc31-v2.3.1'
}

is_fault() {
    local fault
    for fault in $FAULTS; do
        [ "$fault" = "$1" ] && return 0
    done
    return 1
}

has_fault() {
    [ -e "$STATE/faults/$1" ]
}

# Checks a scenario name before anything of the old state is touched.
check_scenario() {
    local name=$1 image=$2 base part
    IFS='+' read -r -a parts <<<"$name"
    base=${parts[0]:-}
    is_fault "$base" && base=default
    case $base in
    default | none | two | other_product | blank_otp | blank_device | unknown_type | subtype_mismatch) ;;
    current)
        [ -n "$image" ] || {
            printf '%s: scenario "current" needs DFU_SIMULATOR_FIRMWARE_IMAGE or an image argument\n' \
                "$PROGRAM_NAME" >&2
            return 1
        }
        [ -f "$image" ] && [ -r "$image" ] && [ -s "$image" ] || {
            printf '%s: cannot read firmware image "%s"\n' "$PROGRAM_NAME" "$image" >&2
            return 1
        }
        (($(wc -c <"$image") <= FLASH_SIZE)) || {
            printf '%s: firmware image "%s" is larger than the flash\n' "$PROGRAM_NAME" "$image" >&2
            return 1
        }
        ;;
    *)
        printf '%s: unknown prepared configuration "%s"\n' "$PROGRAM_NAME" "$name" >&2
        printf 'known: default current none two other_product blank_otp blank_device unknown_type subtype_mismatch %s\n' \
            "$FAULTS" >&2
        return 1
        ;;
    esac
    for part in "${parts[@]:1}"; do
        is_fault "$part" || {
            printf '%s: unknown failure "%s" in "%s"; known: %s\n' "$PROGRAM_NAME" "$part" "$name" "$FAULTS" >&2
            return 1
        }
    done
    return 0
}

prepare_scenario() {
    local name=$1 image=$2 base part dir
    IFS='+' read -r -a parts <<<"$name"
    base=${parts[0]}
    rm -rf "$UNITS" "$STATE/faults" || exit 1
    mkdir -p "$UNITS" "$STATE/faults" || exit 1
    if is_fault "$base"; then
        : >"$STATE/faults/$base"
        base=default
    fi
    for part in "${parts[@]:1}"; do
        : >"$STATE/faults/$part"
    done
    case $base in
    default) add_default_unit 1 "$FIRST_SERIAL" 5 1-1 ;;
    none) ;;
    two)
        add_default_unit 1 "$FIRST_SERIAL" 5 1-1
        add_default_unit 2 "$SECOND_SERIAL" 7 1-2
        ;;
    current)
        dir=$(new_unit 1 "$FIRST_SERIAL" 5 1-1)
        write_otp "$dir/otp.bin" 04 ff ff ff
        write_image_flash "$dir/flash.bin" "$image"
        ;;
    other_product)
        dir=$(new_unit 1 "$FIRST_SERIAL" 5 1-1)
        write_otp "$dir/otp.bin" 03 ff ff ff
        write_firmware_flash "$dir/flash.bin" 03 ff ff ff 'Arc-30 main firmware' '1.8.2' 'arc30-v1.8.2'
        ;;
    blank_otp)
        add_default_unit 1 "$FIRST_SERIAL" 5 1-1
        write_blank_otp "$UNITS/1/otp.bin"
        ;;
    blank_device)
        dir=$(new_unit 1 "$FIRST_SERIAL" 5 1-1)
        write_blank_otp "$dir/otp.bin"
        write_erased_flash "$dir/flash.bin"
        ;;
    unknown_type)
        add_default_unit 1 "$FIRST_SERIAL" 5 1-1
        write_otp "$UNITS/1/otp.bin" 07 ff ff ff
        ;;
    subtype_mismatch)
        add_default_unit 1 "$FIRST_SERIAL" 5 1-1
        write_otp "$UNITS/1/otp.bin" 04 01 ff ff
        ;;
    esac
    printf '%s\n' "$name" >"$STATE/scenario"
}

ensure_state() {
    [ -f "$STATE/scenario" ] && return 0
    mkdir -p "$STATE" || exit 1
    prepare_scenario default ''
}

# Units in DFU mode, into the array present_units: those not away after a leave
# request. Filled in this shell, without subshells, as listing runs on every poll.
find_present_units() {
    local dir back_at now=${EPOCHREALTIME:-}
    if [ -n "$now" ]; then now=${now/./}; else now=$(now_us); fi
    present_units=()
    for dir in "$UNITS"/*/; do
        [ -d "$dir" ] || continue
        dir=${dir%/}
        if [ -f "$dir/back_at" ]; then
            back_at=$(<"$dir/back_at")
            ((now >= back_at)) || continue
        fi
        present_units+=("$dir")
    done
}

# The one unit an operation acts on; dfu-util's errors for none or several.
select_unit() {
    find_present_units
    ((${#present_units[@]} == 0)) && fail "$EX_IOERR" 'No DFU capable USB device available'
    ((${#present_units[@]} > 1)) && fail "$EX_IOERR" \
        "More than one DFU capable USB device found! Try \`--list' and specify the serial number or disconnect all but one device"
    selected_unit=${present_units[0]}
}

# ---------------------------------------------------------------- dfu-util arguments

alt=''
address=''
length=''
modifier=''
upload_file=''
download_file=''

parse_dfu_arguments() {
    local transfer
    while (($#)); do
        case $1 in
        -d | -a | -s | -U | -D)
            (($# >= 2)) || usage_error "option $1 needs an argument"
            case $1 in
            -d) ;;
            -a) alt=$2 ;;
            -s) transfer=$2 ;;
            -U) upload_file=$2 ;;
            -D) download_file=$2 ;;
            esac
            shift 2
            ;;
        -l | -V) shift ;;
        *) usage_error "unexpected argument \"$1\"" ;;
        esac
    done
    if [ -n "${transfer:-}" ]; then
        address=${transfer%%:*}
        [ "$address" != "$transfer" ] && modifier=${transfer#*:}
        [[ $address =~ ^0x[0-9A-Fa-f]+$ ]] || usage_error "invalid address in \"$transfer\""
        address=$((address))
        if [[ $modifier =~ ^[0-9]+$ ]]; then
            length=$((10#$modifier))
            modifier=''
        fi
    fi
}

print_opening() {
    printf '%s\n' \
        'ID 0483:df11' \
        'Run-time device DFU version 011a' \
        'Claiming USB DFU Interface...' \
        "Setting Alternate Setting #$alt ..." \
        'Determining device status: state = dfuIDLE, status = 0' \
        'dfuIDLE, continuing' \
        'DFU mode device DFU version 011a' \
        'Device returned transfer size 2048'
    local name=${INTERFACE_NAMES[$alt]#@}
    printf 'DfuSe interface name: "%s"\n' "${name%%/*}"
}

# ---------------------------------------------------------------- operations

operation_list() {
    local dir alt_setting serial devnum path
    print_banner
    find_present_units
    # The guard keeps bash before 4.4 from calling an empty array unbound (set -u).
    for dir in ${present_units[@]+"${present_units[@]}"}; do
        serial=$(<"$dir/serial")
        devnum=$(<"$dir/devnum")
        path=$(<"$dir/path")
        for alt_setting in 3 2 1 0; do
            printf 'Found DFU: [0483:df11] ver=2200, devnum=%s, cfg=1, intf=0, path="%s", alt=%s, name="%s", serial="%s"\n' \
                "$devnum" "$path" "$alt_setting" "${INTERFACE_NAMES[$alt_setting]}" "$serial"
        done
    done
    exit 0
}

operation_upload() {
    local area base size offset duration_ms fault
    parse_dfu_arguments "$@"
    [ -n "$upload_file" ] || usage_error 'upload needs -U FILE'
    [ -n "$length" ] || usage_error 'upload needs -s ADDRESS:LENGTH'
    case $alt in
    0) area=flash.bin base=$FLASH_BASE size=$FLASH_SIZE fault=flash_upload_fails duration_ms=500 ;;
    2) area=otp.bin base=$OTP_BASE size=$OTP_SIZE fault=otp_upload_fails duration_ms=500 ;;
    *) usage_error "the simulated unit answers uploads on alternate settings 0 and 2 only" ;;
    esac
    print_banner
    printf '%s\n' 'Opening DFU capable USB device...'
    select_unit
    : 2>/dev/null >"$upload_file" || fail "$EX_CANTCREAT" "Cannot open file $upload_file for writing"
    print_opening
    offset=$((address - base))
    ((offset >= 0 && offset < size)) ||
        fail "$EX_IOERR" "$(printf 'Start address 0x%08x is not in a valid memory segment' "$address")"
    if ((offset + length > size)); then
        length=$((size - offset))
        printf 'Limiting upload to end of memory segment, %d bytes\n' "$length"
    fi
    ((length > 2048)) && duration_ms=1000
    if has_fault "$fault"; then
        progress_line Upload 0 "$length"
        printf '\n'
        fail "$EX_IOERR" 'dfuse_upload: libusb_control_transfer returned -9'
    fi
    run_progress Upload "$length" "$duration_ms"
    tail -c +$((offset + 1)) "$selected_unit/$area" | head -c "$length" >"$upload_file" ||
        fail "$EX_IOERR" "Cannot write file $upload_file"
    exit 0
}

# Inverts one byte of the flash in place.
corrupt_flash_byte() {
    local file=$1 offset=$2 value octal
    value=$(od -An -tu1 -j "$offset" -N1 "$file")
    printf -v octal '\\%03o' $((255 - value))
    printf "$octal" | dd of="$file" bs=1 seek="$offset" conv=notrunc 2>/dev/null
}

operation_download() {
    local size leave_ms
    parse_dfu_arguments "$@"
    [ -n "$download_file" ] || usage_error 'download needs -D FILE'
    [ "$alt" = 0 ] || usage_error 'the simulated unit takes downloads on alternate setting 0 only'
    [ "$address" = "$FLASH_BASE" ] || usage_error 'the simulated unit takes downloads to 0x08000000 only'
    print_banner
    [ -f "$download_file" ] && [ -r "$download_file" ] ||
        fail "$EX_NOINPUT" "Could not open file $download_file for reading"
    size=$(wc -c <"$download_file")
    printf 'dfu-util: Invalid DFU suffix signature\n' >&2
    printf 'dfu-util: A valid DFU suffix will be required in a future dfu-util release!!!\n' >&2
    printf '%s\n' 'Opening DFU capable USB device...'
    select_unit
    print_opening
    ((size <= FLASH_SIZE)) ||
        fail "$EX_IOERR" "$(printf 'Last page at 0x%08x is not writeable' $((FLASH_BASE + size - 1)))"
    printf 'Downloading to address = 0x%08x, size = %d\n' "$FLASH_BASE" "$size"
    if has_fault download_fails; then
        progress_line Download 0 "$size"
        printf '\n'
        fail "$EX_IOERR" 'Error during download get_status'
    fi
    run_progress Download "$size" 6000
    dd if="$download_file" of="$selected_unit/flash.bin" bs=65536 conv=notrunc 2>/dev/null ||
        fail "$EX_IOERR" 'Error during download'
    if has_fault verify_fails && ((size > 0)); then
        corrupt_flash_byte "$selected_unit/flash.bin" $((size - 1))
    fi
    printf '%s\n' 'File downloaded successfully'
    if [ "$modifier" = leave ]; then
        printf '%s\n' 'Submitting leave request...' 'Transitioning to dfuMANIFEST state'
        leave_ms=3000
        ((fast)) && leave_ms=300
        [[ ${DFU_SIMULATOR_LEAVE_MS:-} =~ ^[0-9]+$ ]] && leave_ms=$((10#$DFU_SIMULATOR_LEAVE_MS))
        printf '%s\n' $(($(now_us) + leave_ms * 1000)) >"$selected_unit/back_at"
    fi
    exit 0
}

operation_setup() {
    local name=${1:-} image=${2:-${DFU_SIMULATOR_FIRMWARE_IMAGE:-}}
    [ -n "$name" ] || usage_error 'setup_prepared_config needs a configuration name'
    check_scenario "$name" "$image" || exit 2
    mkdir -p "$STATE" || exit 1
    prepare_scenario "$name" "$image"
    printf '%s: prepared configuration "%s" in %s\n' "$PROGRAM_NAME" "$name" "$STATE"
    exit 0
}

main() {
    [ "${1:-}" = --dfu-util-command ] && (($# >= 2)) ||
        usage_error 'usage: --dfu-util-command OPERATION [--fast-progress] [dfu-util arguments...]'
    local operation=$2
    shift 2
    if [ "${1:-}" = --fast-progress ]; then
        fast=1
        shift
    fi
    case $operation in
    version)
        print_banner
        exit 0
        ;;
    setup_prepared_config) operation_setup "$@" ;;
    esac
    ensure_state
    case $operation in
    list) operation_list ;;
    upload_OTP | upload_FW) operation_upload "$@" ;;
    download_FW) operation_download "$@" ;;
    *) usage_error "unknown operation \"$operation\"" ;;
    esac
}

main "$@"
