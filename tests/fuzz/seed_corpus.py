# SPDX-License-Identifier: MIT
"""Writes each evemu recording as the raw input_event stream a device would deliver."""
import os
import struct
import sys

out = sys.argv[1]
os.makedirs(out, exist_ok=True)
for folder in sys.argv[2:]:
    if not os.path.isdir(folder):
        continue
    for name in sorted(os.listdir(folder)):
        if not name.endswith(".events"):
            continue
        records = bytearray()
        with open(os.path.join(folder, name)) as file:
            for line in file:
                if line.startswith("E:"):
                    stamp, kind, code, value = line.split()[1:5]
                    seconds, micros = stamp.split(".")
                    records += struct.pack("<qqHHi", int(seconds), int(micros), int(kind, 16),
                                           int(code, 16), int(value))
        with open(os.path.join(out, name + ".bin"), "wb") as file:
            file.write(records)
