#!/usr/bin/python
# -*- coding: utf-8 -*-
# Copyright 2026 Morvane

from __future__ import absolute_import, division, print_function
__metaclass__ = type

DOCUMENTATION = r'''
---
module: plinthos_serial
short_description: Set the file-system volume serial number of a FAT, exFAT or NTFS volume
description:
  - Gives a volume a chosen or a random file-system volume serial number with C(qorin), the Plinthos
    command line, which saves the boot sectors it overwrites to a backup file first, verifies every write
    and puts the old bytes back when a write fails.
  - A chosen serial is written only when the volume's serial differs from it.
  - Changes only the file-system serial, never the drive's hardware serial.
version_added: "3.0.2"
author: Morvane
options:
  drive:
    description:
      - The volume as C(qorin) takes it. On Linux a block device (C(/dev/sdb1)), a disk-image file, a mounted
        folder, or C(UUID=), C(LABEL=), C(PARTUUID=); on Windows a drive letter (C(E:)), a mounted folder, a
        volume GUID path or a disk-image file.
    type: str
    required: true
  serial:
    description:
      - The serial to give the volume, hexadecimal, as C(XXXX-XXXX); with I(full64) all 16 digits of an NTFS
        serial. Blanks and hyphens between digits do not count.
      - Without I(full64), an NTFS volume keeps the upper half of its 64-bit serial.
    type: str
  random:
    description:
      - Give the volume a new random serial. Always reports a change.
    type: bool
    default: false
  backup_dir:
    description:
      - The backups folder, instead of qorin's default (C(/var/lib/plinthos/backups) for root on Linux,
        C(%ProgramData%\Morvane\Plinthos\Backups) on Windows).
    type: path
  full64:
    description:
      - Set all 64 bits of an NTFS serial.
    type: bool
    default: false
  executable:
    description:
      - The C(qorin) program to run; by default the one on the PATH.
    type: path
notes:
  - Check mode reads the volume and reports what would change without writing anything.
  - Supports diff mode (the serial before and after).
  - Changing a serial needs root (or write permission on an image file) on Linux and an elevated
    account on Windows.
seealso:
  - name: qorin manual page
    description: C(man qorin) on a machine with the Debian package.
    link: https://plinthos.morvane.example/
'''

EXAMPLES = r'''
- name: Give the data volume its old serial back
  plinthos_serial:
    drive: /dev/sdb1
    serial: 1234-ABCD

- name: Give a cloned machine's data volume a new random serial
  plinthos_serial:
    drive: LABEL=DATA
    random: true
  register: serial

- name: All 64 bits of an NTFS serial, with backups in a folder of our own
  plinthos_serial:
    drive: /srv/images/ntfs.img
    serial: 0123-4567-89AB-CDEF
    full64: true
    backup_dir: /var/backups/plinthos
'''

RETURN = r'''
old_serial:
  description: The serial before the run, as C(qorin get) shows it (64-bit form with I(full64)).
  returned: always
  type: str
  sample: 1234-ABCD
serial:
  description: The serial after the run (in check mode, the one that would be written; C(null) for a
    random serial in check mode).
  returned: always
  type: str
  sample: CAFE-F00D
backup:
  description: The backup file qorin saved before writing; C(null) when nothing was written.
  returned: always
  type: str
  sample: /var/lib/plinthos/backups/dev_sdb1/20261211T120000Z_1234-ABCD_CAFE-F00D.tlxbak
result:
  description: qorin's change result (its C(--json) object); absent when nothing was written.
  returned: when changed and not in check mode
  type: dict
rc:
  description: qorin's exit code.
  returned: failed
  type: int
'''

import json

from ansible.module_utils.basic import AnsibleModule

HEX_DIGITS = "0123456789abcdefABCDEF"


def parse_serial(text, max_digits):
    """The serial's value, read as qorin reads it; None when qorin would refuse it."""
    rest = text.lstrip(" \t")
    if rest[:2] in ("0x", "0X"):
        rest = rest[2:]
    digits = ""
    for char in rest:
        if char in HEX_DIGITS:
            digits += char
            if len(digits) > max_digits:
                return None
        elif char not in " \t-":
            return None
    return int(digits, 16) if digits else None


def format_serial(value, full64):
    if full64:
        groups = [(value >> shift) & 0xFFFF for shift in (48, 32, 16, 0)]
    else:
        groups = [(value >> 16) & 0xFFFF, value & 0xFFFF]
    return "-".join("%04X" % group for group in groups)


def run_qorin(module, executable, arguments):
    """qorin's exit code, its JSON answer (None when it gave none) and its own words."""
    rc, out, err = module.run_command([executable] + arguments)
    try:
        answer = json.loads(out.strip().splitlines()[-1]) if out.strip() else None
    except ValueError:
        answer = None
    words = (answer or {}).get("message") if isinstance(answer, dict) else None
    return rc, answer, words or err.strip() or out.strip()


def main():
    module = AnsibleModule(
        argument_spec=dict(
            drive=dict(type="str", required=True),
            serial=dict(type="str"),
            random=dict(type="bool", default=False),
            backup_dir=dict(type="path"),
            full64=dict(type="bool", default=False),
            executable=dict(type="path"),
        ),
        mutually_exclusive=[("serial", "random")],
        required_one_of=[("serial", "random")],
        supports_check_mode=True,
    )
    drive = module.params["drive"]
    full64 = module.params["full64"]
    executable = module.params["executable"] or module.get_bin_path("qorin", required=True)
    options = ["--json"]
    if module.params["backup_dir"]:
        options += ["--backup-dir", module.params["backup_dir"]]

    rc, volume, words = run_qorin(module, executable, ["get", drive] + options)
    if rc != 0 or not isinstance(volume, dict):
        module.fail_json(msg=words, rc=rc)
    # A volume without the serial asked for (64 bits of a FAT volume, no file system) is qorin's to refuse.
    old = volume.get("fullSerial") if full64 else volume.get("serial")

    wanted = None
    if not module.params["random"]:
        text = module.params["serial"]
        wanted = parse_serial(text, 16 if full64 else 8)
        if wanted is None and module.check_mode:
            # Nothing runs in check mode; qorin's own sentence for the same mistake.
            module.fail_json(msg='"%s" isn\'t a serial number. Format: XXXX-XXXX (hexadecimal)%s'
                             % (text, ", or 16 hex digits with --full64." if full64 else "."), rc=2)
        if wanted is not None and old and wanted == parse_serial(old, 16):
            module.exit_json(changed=False, old_serial=old, serial=old, backup=None)

    new = format_serial(wanted, full64) if wanted is not None else None
    diff = dict(before="serial: %s\n" % old, after="serial: %s\n" % (new or "(random)"))
    if module.check_mode:
        module.exit_json(changed=True, old_serial=old, serial=new, backup=None, diff=diff)

    if wanted is None and not module.params["random"]:
        command = ["set", drive, module.params["serial"]]  # qorin explains what is wrong with it
    elif wanted is None:
        command = ["random", drive]
    else:
        command = ["set", drive, format_serial(wanted, full64)]
    if full64:
        command.append("--full64")
    rc, result, words = run_qorin(module, executable, command + ["--yes"] + options)
    backup = result.get("backup") if isinstance(result, dict) else None
    if rc != 0:
        module.fail_json(msg=words, rc=rc, old_serial=old, backup=backup, result=result)
    new = result.get("newSerial")
    diff["after"] = "serial: %s\n" % new
    module.exit_json(changed=result.get("outcome") != "NothingWritten", old_serial=old, serial=new,
                     backup=backup, result=result, diff=diff)


if __name__ == "__main__":
    main()
