#!/usr/bin/env python3
"""quorvel-flash's JSON record against its schema (docs/quorvel-flash-record.schema.json):
every line of real runs against simulated cameras (a whole update, a camera
that answers ERROR, an unknown product, a dry run, two ports side by side),
on standard output and in the --log file, and what the result line says
against what the camera took.

Usage: check_record.py FLASH SIMCAM PACK SCHEMA"""
import json
import os
import subprocess
import sys
import tempfile

import jsonschema

flash, simcam, pack, schema_path = sys.argv[1:5]
with open(schema_path) as f:
    schema = json.load(f)
jsonschema.Draft202012Validator.check_schema(schema)
validator = jsonschema.Draft202012Validator(schema)
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        if len(failures) <= 10:
            print("FAIL:", what)


def camera(work, name, *options):
    """A simulated camera; returns (process, device, saved image path)."""
    saved = os.path.join(work, name + ".bin")
    process = subprocess.Popen([simcam, "--quiet", "--file-ok", "0.05", "--erase", "0.1", "--program", "0.1",
                                "--save-image", saved, *options], stdout=subprocess.PIPE, text=True)
    device = process.stdout.readline().strip()
    return process, device, saved


def stop(process):
    process.terminate()
    code = process.wait(timeout=10)
    check(code == 0, f"simulated camera: exit {code}")


def records(text, where):
    lines = text.splitlines()
    check(lines, where + ": no line")
    objects = []
    for number, line in enumerate(lines, 1):
        try:
            record = json.loads(line)
        except ValueError as error:
            check(False, f"{where} line {number}: not JSON ({error}): {line!r}")
            continue
        errors = sorted(validator.iter_errors(record), key=str)
        check(not errors, f"{where} line {number}: {errors[0].message if errors else ''}: {line}")
        objects.append(record)
    return objects


def run(work, log, *arguments):
    done = subprocess.run([flash, "--json", "--log", log, *arguments], capture_output=True, text=True, timeout=120)
    return done.returncode, done.stdout


with tempfile.TemporaryDirectory() as work:
    image0 = os.urandom(300000)
    image1 = os.urandom(120000)
    for name, data in (("image0", image0), ("image1", image1)):
        with open(os.path.join(work, name), "wb") as f:
            f.write(data)
    package = os.path.join(work, "vers.kq")
    subprocess.run([pack, "create", package, os.path.join(work, "image0"), "1.50", os.path.join(work, "image1"),
                    "2.05"], check=True, stdout=subprocess.DEVNULL)
    log = os.path.join(work, "record.jsonl")
    printed = []

    # A whole update: the result says what went out, as the camera took it.
    cam, device, saved = camera(work, "whole")
    code, out = run(work, log, "--package", package, "--port", device)
    stop(cam)
    lines = records(out, "whole update")
    printed += out.splitlines()
    check(code == 0, f"whole update: exit {code}")
    result = lines[-1] if lines else {}
    with open(saved, "rb") as f:
        taken = f.read()
    expected_checksum = "%08X" % (~sum(image0) & 0xFFFFFFFF)
    check(result.get("event") == "result", "whole update: the last line is not the result")
    check(taken == image0, "whole update: the camera did not take the image")
    check(result.get("version") == "1.50", f"whole update: version {result.get('version')!r}, not as written")
    check(result.get("header_size") == len(taken), "whole update: header size is not what the camera took")
    check(result.get("header_checksum") == expected_checksum, "whole update: header checksum")
    check(result.get("bytes_sent") == len(taken), "whole update: bytes sent")
    check(result.get("outcome") == "success" and result.get("product") == "RZ4417", "whole update: outcome")
    check(all(r.get("device") == device for r in lines), "whole update: a line without the device")
    progress = [r["bytes"] for r in lines if r.get("event") == "progress"]
    check(progress == sorted(progress) and progress and progress[-1] == len(image0), "whole update: progress bytes")

    # ERROR, an unknown product, a dry run: their lines too.
    for name, options, arguments, want in (("error", ["--error-after", "50000"], [], 1),
                                           ("unknown", ["--product", "XYZ999"], [], 5),
                                           ("dry", ["--product", "KWT6083"], ["--dry-run"], 0)):
        cam, device, _ = camera(work, name, *options)
        code, out = run(work, log, "--package", package, "--port", device, *arguments)
        stop(cam)
        records(out, name)
        printed += out.splitlines()
        check(code == want, f"{name}: exit {code}, {want} expected")

    # Two ports side by side: both cameras' lines and the summary.
    cams = [camera(work, "side%d" % n) for n in (1, 2)]
    code, out = run(work, log, "--package", package, "--port", cams[0][1], "--port", cams[1][1])
    for cam in cams:
        stop(cam[0])
    lines = records(out, "two ports")
    printed += out.splitlines()
    check(code == 0, f"two ports: exit {code}")
    check(lines and lines[-1].get("event") == "summary" and lines[-1].get("updated") == 2, "two ports: summary")
    check(sum(1 for r in lines if r.get("event") == "result") == 2, "two ports: a result line per camera")

    # The --log file holds the same lines, whole.
    with open(log) as f:
        logged = f.read().splitlines()
    records("\n".join(logged), "--log file")
    check(sorted(logged) == sorted(printed), "--log file: not the lines printed")

print(f"{len(failures)} failure(s)")
sys.exit(1 if failures else 0)
