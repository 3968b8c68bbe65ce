#!/usr/bin/python3
# -*- coding: utf-8 -*-
# An Ansible module that sets up a receipt printer reachable from the
# managed host, through that host's pellicar-cli.

from __future__ import absolute_import, division, print_function

__metaclass__ = type

DOCUMENTATION = r"""
---
module: pellicar_printer
short_description: Apply a Pellicar profile to a receipt printer, or ask its status
description:
  - Runs C(pellicar-cli) on the managed host, so that a printer that only
    the store's own computer reaches can be set up from the playbook.
  - With I(state=applied) it asks the printer's status, sends the
    profile's sections over one connection, and asks the status again
    (C(pellicar-cli apply PROFILE --targets FILE) for one printer).
  - With I(state=status) it only asks the printer's status.
  - A receipt printer cannot report the settings it holds, so an applied
    profile is always sent, and the task reports C(changed) whenever a
    section was sent.
  - In check mode nothing is sent, not even a status question; the
    profile and the overrides are checked, and the result lists the
    sections that would be sent. I(state=status) asks the printer in
    check mode too, since a status question changes nothing.
version_added: "1.0"
options:
  target:
    description:
      - The printer's channel, written as in a targets file
        C(tcp:HOST[:PORT]), C(serial:PATH), C(device:PATH) or C(queue:NAME).
      - A print queue carries no answers, so I(state=status) needs one of the others.
    type: str
    required: true
  profile:
    description:
      - Path of the profile (a JSON file, see docs/profile.md) on the managed
        host. Logo files named in it are found relative to it.
      - Required with I(state=applied).
    type: path
  overrides:
    description:
      - Profile paths and the values this printer gets instead of the
        profile's, for example C(ethernet.ip), C(ethernet.mac), C(wifi.ssid).
    type: dict
    default: {}
  only:
    description:
      - Send only these sections (base, blackMark, wifi, logos, speed, mac,
        ip; ethernet stands for the last three).
    type: list
    elements: str
  state:
    description:
      - C(applied) sends the profile; C(status) only asks the printer's status.
    type: str
    choices: [applied, status]
    default: applied
  verify_address:
    description:
      - After an IP change over TCP, wait up to this many seconds for the
        printer to answer at its new address (0 does not wait).
    type: int
    default: 0
  timeout:
    description:
      - The longest wait, in seconds, for each step (connection, answer).
    type: int
    default: 10
  cli:
    description:
      - The pellicar-cli program on the managed host.
    type: str
    default: pellicar-cli
notes:
  - The managed host needs pellicar-cli; the printer needs to be reachable from it.
  - Supports check mode.
author:
  - Pellicar developers
"""

EXAMPLES = r"""
- name: Set up the counter printer
  pellicar_printer:
    profile: /etc/pellicar/counter.json
    target: "tcp:{{ printer_ip }}"
    overrides:
      ethernet.mac: "{{ printer_mac }}"

- name: Ask whether it is ready
  pellicar_printer:
    target: "tcp:{{ printer_ip }}"
    state: status
  register: printer

- name: Stop when it is out of paper
  ansible.builtin.fail:
    msg: "{{ inventory_hostname }}: paper out"
  when: printer.status.paper == "out"
"""

RETURN = r"""
sections:
  description: Each section of the profile and its outcome (sent, failed,
    not confirmed, not sent; "would be sent" in check mode) with the bytes
    the channel confirmed.
  returned: state is applied
  type: list
  elements: dict
  sample: [{"section": "base", "outcome": "sent", "bytes": 17}]
sections_sent:
  description: How many sections the channel confirmed.
  returned: state is applied
  type: int
bytes:
  description: The bytes the channel confirmed (in check mode, those that would be sent).
  returned: state is applied
  type: int
status_before:
  description: The printer's status before anything was sent, as C(pellicar-cli status --json) gives it.
  returned: state is applied, and not in check mode
  type: dict
status_after:
  description: The printer's status after the profile was sent.
  returned: state is applied, and not in check mode
  type: dict
status:
  description: The printer's status (online, cover, paper, feed button, error, drawer).
  returned: state is status
  type: dict
  sample: {"online": "yes", "cover": "closed", "paper": "ok", "feed button": "released",
           "error": "none", "drawer": "closed"}
ready:
  description: Whether the printer answered that it is ready to print.
  returned: state is status
  type: bool
address:
  description: The new address the printer answered at (with verify_address).
  returned: when verified
  type: str
"""

import json
import os
import shutil
import tempfile

from ansible.module_utils.basic import AnsibleModule


def csv_cell(value):
    """A value as one CSV field: quoted, quotes doubled."""
    if isinstance(value, bool):
        value = "true" if value else "false"
    text = str(value)
    return '"' + text.replace('"', '""') + '"'


def status_channel(target):
    """pellicar-cli's channel option for a target, or None for a queue."""
    scheme, _, rest = target.partition(":")
    options = {"tcp": "--tcp", "serial": "--serial", "device": "--device"}
    if scheme not in options:
        return None
    return [options[scheme], rest]


def run_json(module, command):
    rc, out, err = module.run_command(command)
    try:
        return rc, json.loads(out), err
    except ValueError:
        return rc, None, err


def ask_status(module, cli):
    channel = status_channel(module.params["target"])
    if channel is None:
        module.fail_json(msg="%s: a print queue carries no answers; state=status needs "
                         "tcp:, serial: or device:" % module.params["target"])
    command = [cli, "--timeout", str(module.params["timeout"])] + channel + ["status", "--json"]
    rc, status, err = run_json(module, command)
    # 0: ready, 3: answered but not ready; anything else: no trusted answer.
    if rc not in (0, 3) or status is None:
        module.fail_json(msg=err.strip() or "pellicar-cli status failed", rc=rc)
    module.exit_json(changed=False, status=status, ready=rc == 0,
                     msg="%s: %s" % (module.params["target"], "ready" if rc == 0 else "not ready"))


def apply_profile(module, cli):
    params = module.params
    if not params["profile"]:
        module.fail_json(msg="state=applied needs profile")
    folder = tempfile.mkdtemp(prefix="pellicar-")
    try:
        # The targets file may hold a key: readable by its owner only.
        os.chmod(folder, 0o700)
        targets = os.path.join(folder, "targets.csv")
        overrides = params["overrides"] or {}
        for key in overrides:
            if key.split(".")[0] not in ("base", "ethernet", "wifi", "blackMark") or "." not in key:
                module.fail_json(msg="overrides: '%s' is not a profile path such as "
                                 "ethernet.ip or wifi.ssid" % key)
        header = ["target"] + list(overrides)
        row = [params["target"]] + [overrides[key] for key in overrides]
        with open(targets, "w", encoding="utf-8") as f:
            f.write(",".join(csv_cell(c) for c in header) + "\n")
            f.write(",".join(csv_cell(c) for c in row) + "\n")
        command = [cli, "--timeout", str(params["timeout"]), "apply", params["profile"],
                   "--targets", targets, "--json"]
        if params["only"]:
            command += ["--only", ",".join(params["only"])]
        if params["verify_address"] > 0:
            command += ["--verify-address", str(params["verify_address"])]
        if module.check_mode:
            command.append("--dry-run")
        rc, report, err = run_json(module, command)
    finally:
        shutil.rmtree(folder, ignore_errors=True)

    printers = (report or {}).get("printers") or []
    if not printers:
        # Refused before anything was sent (a bad profile or override); the
        # targets file was ours, so its line stands for the overrides.
        message = err.strip().replace("pellicar-cli: ", "", 1)
        message = message.replace(targets + ":2: ", "overrides: ")
        module.fail_json(msg=message or "pellicar-cli apply failed", rc=rc, changed=False)
    printer = printers[0]
    sections = printer.get("sections", [])
    if module.check_mode:
        for section in sections:
            section["outcome"] = "would be sent"
        names = ", ".join(s["section"] for s in sections)
        module.exit_json(changed=bool(sections), sections=sections, sections_sent=0,
                         bytes=printer.get("bytes", 0),
                         msg="check mode: would send %s to %s" % (names, params["target"]))
    result = dict(
        changed=printer.get("sectionsSent", 0) > 0,
        sections=sections,
        sections_sent=printer.get("sectionsSent", 0),
        bytes=printer.get("bytes", 0),
        seconds=printer.get("seconds", 0),
        status_before=printer.get("statusBefore"),
        status_after=printer.get("statusAfter"),
    )
    if printer.get("address"):
        result["address"] = printer["address"]
    if printer.get("statusAfterNote"):
        result["status_after_note"] = printer["statusAfterNote"]
    if printer.get("outcome") != "ok":
        module.fail_json(msg="%s: %s" % (params["target"], printer.get("message") or
                                         printer.get("outcome")), **result)
    result["msg"] = "%s: %d of %d sections sent" % (params["target"], result["sections_sent"],
                                                    len(sections))
    module.exit_json(**result)


def main():
    module = AnsibleModule(
        argument_spec=dict(
            target=dict(type="str", required=True),
            profile=dict(type="path"),
            overrides=dict(type="dict", default={}),
            only=dict(type="list", elements="str"),
            state=dict(type="str", choices=["applied", "status"], default="applied"),
            verify_address=dict(type="int", default=0),
            timeout=dict(type="int", default=10),
            cli=dict(type="str", default="pellicar-cli"),
        ),
        supports_check_mode=True,
    )
    cli = module.params["cli"]
    found = cli if os.sep in cli else module.get_bin_path(cli)
    if not found or not os.access(found, os.X_OK):
        module.fail_json(msg="%s: no such program on the managed host" % cli)
    if module.params["state"] == "status":
        ask_status(module, found)
    else:
        apply_profile(module, found)


if __name__ == "__main__":
    main()
