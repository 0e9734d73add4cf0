"""Writes one key of the driver's settings file, keeping every other line.

Section and key names compare without regard to case, as the driver reads
them; a missing section or key is appended."""

import os
import re

_SECTION = re.compile(r"^\s*\[(.*)\]\s*$")


def _key_of(line):
    return line.split("=", 1)[0].strip().lower() if "=" in line else None


def _updated(lines, section, key, value):
    entry = f"{key}={value}"
    start, end = None, len(lines)
    for index, line in enumerate(lines):
        header = _SECTION.match(line)
        if header and start is not None:
            end = index
            break
        if header and header.group(1).strip().lower() == section.lower():
            start = index
    if start is None:
        return lines + [f"[{section}]", entry]
    for index in range(start + 1, end):
        if _key_of(lines[index]) == key.lower():
            return lines[:index] + [entry] + lines[index + 1:]
    while end > start + 1 and not lines[end - 1].strip():
        end -= 1
    return lines[:end] + [entry] + lines[end:]


def set_value(path, section, key, value):
    try:
        with open(path, encoding="utf-8", errors="surrogateescape") as file:
            lines = file.read().splitlines()
    except FileNotFoundError:
        lines = []
    lines = _updated(lines, section, key, value)
    # Written whole and then renamed, so the driver never reads half a file.
    temporary = f"{path}.{os.getpid()}.tmp"
    with open(temporary, "w", encoding="utf-8", errors="surrogateescape") as file:
        file.write("\n".join(lines) + "\n")
    os.replace(temporary, path)
