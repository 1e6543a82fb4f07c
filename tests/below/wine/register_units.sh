#!/bin/bash
# Gives a Wine prefix the disks Windows would list for the machine fake_machine.sh made: the
# system's disk and each projector's disk and optical unit as present disk interfaces
# (GUID_DEVINTERFACE_DISK, linked), each interface path naming, in the prefix's dosdevices,
# the sg node the virtual projector plays; and three drives for the volume search: E: the
# projector's removable volume "TARQ K7Q0", F: a removable one labelled "tarq k7q0", G: a
# fixed one labelled "TARQ K7Q0".
#   register_units.sh DRIVES_DIR     (WINEPREFIX and KVUSB_SG_NODES set)
# The instance ids are those the in-process projector gives its units, so that both ways of
# attaching it name the units alike.
set -eu
drives=$1
guid='{53f56307-b6bf-11d0-94f2-00a0c91efb8b}'
disk_class='{4d36e967-e325-11ce-bfc1-08002be10318}'
IFS=: read -r -a nodes <<< "$KVUSB_SG_NODES"

reg_file="$drives/units.reg"
mkdir -p "$drives"
printf 'Windows Registry Editor Version 5.00\n' > "$reg_file"

# interface BUS DEVICE INSTANCE NODE: one present disk interface whose path opens NODE.
interface() {
    local id="$1\\$2\\$3" link="\\\\?\\$1#$2#$3#$guid"
    local key="HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Control\\DeviceClasses\\$guid\\##?#$1#$2#$3#$guid"
    cat >> "$reg_file" <<REG

[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Enum\\$id]
"ClassGUID"="$disk_class"

[$key]
"DeviceInstance"="${id//\\/\\\\}"

[$key\\#]
"SymbolicLink"="${link//\\/\\\\}"

[$key\\#\\Control]
"Linked"=dword:00000001
REG
    local name="${link#\\\\?\\}"
    ln -sfn "$4" "$WINEPREFIX/dosdevices/${name,,}"
}

interface SCSI "Disk&Ven_Kestrel&Prod_SSD_512" "4&2f6b2b1c&0&000000" "${nodes[0]}"
for ((p = 0; 2 * p + 2 < ${#nodes[@]}; p++)); do
    interface USBSTOR "Disk&Ven_KVUSB&Prod_TR40W17B6-2&Rev_1.00" "7&1c2a3f4e&$p&000000" \
        "${nodes[2 * p + 1]}"
    interface USBSTOR "Optical&Ven_KVUSB&Prod_TR40W17B6-1&Rev_1.00" "7&1c2a3f4e&$p&000001" \
        "${nodes[2 * p + 2]}"
done

# drive LETTER TYPE LABEL: a drive of Wine's TYPE whose volume has LABEL.
drive() {
    mkdir -p "$drives/$1"
    printf '%s\n' "$3" > "$drives/$1/.windows-label"
    ln -sfn "$drives/$1" "$WINEPREFIX/dosdevices/$1:"
    printf '\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Drives]\n"%s:"="%s"\n' "$1" "$2" >> "$reg_file"
}
drive e floppy "TARQ K7Q0"
drive f floppy "tarq k7q0"
drive g hd "TARQ K7Q0"

wine regedit "$(winepath -w "$reg_file")" >/dev/null 2>&1
# Drives are read when Wine's mount manager starts: let this server go, so the next starts it.
timeout 120 wineserver -w || { echo "FAIL: Wine's server still ran 120 s after the units" >&2; exit 1; }
