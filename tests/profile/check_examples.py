#!/usr/bin/env python3
"""Every JSON example in docs/profile.md passes the JSON Schema beside it
and `pellicar-cli profile check`; profiles with one fault each fail both.

Usage: check_examples.py PELLICAR_CLI DOCS_FOLDER
"""
import json
import os
import pathlib
import re
import shutil
import subprocess
import sys
import tempfile

import jsonschema

cli, docs = sys.argv[1], pathlib.Path(sys.argv[2])
schema = json.loads((docs / "profile.schema.json").read_text())
jsonschema.Draft7Validator.check_schema(schema)
validator = jsonschema.Draft7Validator(schema)
examples = re.findall(r"```json\n(.*?)```", (docs / "profile.md").read_text(), re.S)
failures = []

# One fault each; the schema and the tool must both refuse them.
BAD = [
    ({"wifi": {"ssid": "S", "security": "wpa3", "key": "k"}}, "wifi.security"),
    ({"wifi": {"ssid": "S", "security": "wpa-psk", "key": "k"}}, "wifi.cipher"),
    ({"wifi": {"ssid": "S", "security": "open", "key": "k"}}, "wifi.key"),
    ({"ethernet": {"ip": "192.168.1.300"}}, "ethernet.ip"),
    ({"ethernet": {"mac": "01:64:65:66:67:68"}}, "ethernet.mac"),
    ({"ethernet": {"speed": "1G"}}, "ethernet.speed"),
    ({"blackMark": {"pitch": 3}}, "blackMark.pitch"),
    ({"blackMark": {"widthMm": 8192}}, "blackMark.widthMm"),
    ({"logos": [{"file": "a.bmp", "bmp": "AA=="}]}, "logos.0"),
    ({"connection": {"port": "tcp", "tcpPort": 0}}, "connection.tcpPort"),
]

with tempfile.TemporaryDirectory() as folder:
    shutil.copy(docs / "example-logo.bmp", folder)

    def check(number, document):
        path = pathlib.Path(folder) / f"example-{number}.json"
        path.write_text(json.dumps(document))
        # The keyEnv example's variable, as the user would set it.
        environment = {**os.environ, "SHOP_WIFI_KEY": "secret12"}
        return subprocess.run([cli, "profile", "check", str(path)], capture_output=True, text=True,
                              env=environment)

    for number, text in enumerate(examples):
        document = json.loads(text)
        for error in validator.iter_errors(document):
            failures.append(f"example {number}: schema: {error.message}")
        result = check(number, document)
        if result.returncode != 0:
            failures.append(f"example {number}: profile check: {result.stderr.strip()}")
    if len(examples) < 4:
        failures.append(f"only {len(examples)} examples found in profile.md")

    for number, (section, path) in enumerate(BAD):
        document = {"pellicarProfile": 1, **section}
        if validator.is_valid(document):
            failures.append(f"bad {number} ({path}): the schema takes it")
        result = check(f"bad-{number}", document)
        if result.returncode != 2 or f": {path}" not in result.stderr:
            failures.append(f"bad {number}: profile check gave {result.returncode}: "
                            f"{result.stderr.strip()} (wanted exit 2 naming {path})")

for failure in failures:
    print(failure, file=sys.stderr)
sys.exit(1 if failures else 0)
