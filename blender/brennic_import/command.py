# Runs brennic-import, the converter the add-on relies on, into a .glb and sorts what it says
# into the reports Blender shows. Nothing here needs bpy, so it can be read on its own.

import os
import shutil
import subprocess

COMMAND = "brennic-import"


class ConverterMissing(Exception):
    pass


def find_converter(preferred=""):
    """The brennic-import to run: the preferences' path when set, else one beside the add-on,
    else one on PATH. Raises ConverterMissing with what to do."""
    if preferred:
        path = os.path.abspath(os.path.expanduser(preferred))
        if os.path.isfile(path) and os.access(path, os.X_OK):
            return path
        raise ConverterMissing(
            "the brennic-import set in the add-on's preferences cannot be run: %s "
            "(Edit > Preferences > Add-ons > Import-Export: Brennic Model Import)" % path)
    beside = os.path.join(os.path.dirname(os.path.abspath(__file__)), COMMAND)
    if os.path.isfile(beside) and os.access(beside, os.X_OK):
        return beside
    found = shutil.which(COMMAND)
    if found:
        return found
    raise ConverterMissing(
        "brennic-import was not found: set its path in the add-on's preferences "
        "(Edit > Preferences > Add-ons > Import-Export: Brennic Model Import), "
        "put it beside the add-on or on PATH")


def arguments(converter, model, glb, include_lods=False, normals="host", strict=False):
    args = [converter, "--format", "glb", "-o", glb, "--normals", normals]
    if include_lods:
        args.append("--include-lods")
    if strict:
        args.append("--strict")
    # '--' so that a model whose name starts with '-' is not read as an option.
    return args + ["--", model]


class Outcome:
    def __init__(self, status, warnings, errors):
        self.status = status      # the command's exit status: 0 converted, 1 failed, 2 misused
        self.warnings = warnings  # what it left out or had to guess, one line each
        self.errors = errors      # why it failed


def convert(converter, model, glb, **options):
    """Converts one model into `glb`; the command's exit status, warnings and errors."""
    completed = subprocess.run(arguments(converter, model, glb, **options), stdin=subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    warnings, errors = [], []
    # The command prints names from the files as they are: never fail on bytes that are not UTF-8.
    for line in completed.stderr.decode("utf-8", "replace").splitlines():
        if line.startswith("  warning: "):
            warnings.append(line[len("  warning: "):])
        elif line.startswith(COMMAND + ": "):
            errors.append(line[len(COMMAND + ": "):])
        elif line.startswith("(" + COMMAND + " --help"):
            continue
        elif line and completed.returncode != 0:
            errors.append(line)
    if completed.returncode != 0 and not errors:
        errors.append("brennic-import ended with status %d" % completed.returncode)
    return Outcome(completed.returncode, warnings, errors)
