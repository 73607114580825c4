#!/usr/bin/env python3
"""Runs a catalogue of hostile executables (each followed by a good one) through one build of the
program and judges the outcome; tools/hostile_executables.sh sets up the files, the Wine prefix, the
network and the recording service (tools/recording_service.py), then calls this.

  hostile_pass.py catalogue MANIFEST GOOD_VERSIONS FILES GOOD STYLE DATABASE
      Writes DATABASE: row 1 is good row G0000, then for each listed file its hostile row
      ("H0001 KIND") and a good row ("G0001"). STYLE "windows" gives C:\\ paths (FILES and GOOD are
      then Windows folders), "linux" plain paths. GOOD_VERSIONS lists "FILE<TAB>VERSION" per good copy.
  hostile_pass.py run BUILD FOLDER SERVICE_LOG OUT DEADLINE RESTARTS COMMAND...
      Runs COMMAND (the program under tools/peak_memory, whose report is OUT/peak-N) in FOLDER until
      the pass completes. A run that ends in an unhandled exception, an error box or error line, a
      deadline or a signal is blamed on one row (see blame()), which is then taken out of the
      catalogue with the rows before it (exticon '0'; pins stay as they are), and the pass starts
      again, at most RESTARTS times. Writes OUT/runs.json.
  hostile_pass.py report MANIFEST OUT_WINDOWS OUT_LINUX DATABASE_WINDOWS DATABASE_LINUX
      Prints the tables and the targets; exit status 0 when every target is met. A row that has an
      icon on both builds must have uploaded the same ICO file on both (the recording service's
      SHA-256 of it), unless its kind is one of KNOWN_ICO_DIFFERENCES.
Row times come from the recording service's clock: a good row's existence query arrives after the
previous good row's upload was answered, the marking of that row, the whole hostile row between
them and the good row's own icon, version and file write. That interval bounds the hostile row's
time from above, and is measured only inside one run (never across a restart).
"""
import collections
import json
import os
import sqlite3
import subprocess
import sys
import time

ROW_TARGET_SECONDS = 2.0
PEAK_TARGET_KB = 64 * 1024
# Kinds whose ICO files may differ between the builds, and why (see docs/architecture.md, "Icons on both builds").
KNOWN_ICO_DIFFERENCES = {
    "png-wine-colours": "PNG images without an alpha channel of their own: the system's PNG decoder under Wine "
                        "hands them back with red and blue swapped and alpha 0; the Linux build writes the image's "
                        "own pixels",
}


def rows_of_manifest(manifest):
    with open(manifest, encoding="utf-8") as source:
        return [line.rstrip("\n").split("\t") for line in source if line.strip()]


def good_name(i):
    return "G%04d" % i


def hostile_name(i, kind):
    return "H%04d %s" % (i, kind)


def row_of_name(name):
    """(ID, is_good) of a row name; IDs: G0000 is 1, Hi is 2i, Gi is 2i + 1."""
    number = int(name[1:5])
    return (2 * number + 1, True) if name[0] == "G" else (2 * number, False)


def catalogue(manifest, good_versions, files, good, style, database):
    separator = "\\" if style == "windows" else "/"
    goods = [line.split("\t")[0] for line in open(good_versions, encoding="utf-8").read().splitlines() if line]
    entries = [(1, good_name(0), good + separator + goods[0])]
    for i, (name, kind, _) in enumerate(rows_of_manifest(manifest), start=1):
        entries.append((2 * i, hostile_name(i, kind), files + separator + name))
        entries.append((2 * i + 1, good_name(i), good + separator + goods[i % len(goods)]))
    if os.path.exists(database):
        os.remove(database)
    db = sqlite3.connect(database)
    db.execute("CREATE TABLE software_data (ID INTEGER PRIMARY KEY, softname TEXT, exepath TEXT, pin TEXT, "
               "exticon TEXT)")
    db.executemany("INSERT INTO software_data VALUES (?, ?, ?, '0', '1')", entries)
    db.commit()
    db.close()


def read_service_log(path):
    records = []
    if not os.path.exists(path):
        return records
    for line in open(path, encoding="utf-8", errors="replace"):
        fields = line.rstrip("\n").split("\t")
        if len(fields) < 8:
            continue
        records.append({"seq": int(fields[0]), "arrived": float(fields[1]), "done": float(fields[2]),
                        "route": fields[3], "name": fields[4], "version": fields[5], "bytes": fields[6],
                        "sha": fields[7]})
    return records


def pending_ids(database):
    db = sqlite3.connect(database)
    ids = [row[0] for row in db.execute("SELECT ID FROM software_data WHERE pin = '0' AND exticon = '1' ORDER BY ID")]
    db.close()
    return ids


def failure_of(build, code, errors, seconds, deadline):
    """What went wrong in one run, or None when it ended normally."""
    if build == "windows":
        if "debugrun: unhandled exception" in errors:
            return "unhandled exception: " + errors.split("debugrun: unhandled exception", 1)[1].split("\n")[0].strip()
        if "debugrun: deadline passed" in errors or code == 124 or seconds >= deadline:
            return "deadline"
        if "debugrun: error box" in errors:
            return "error box: " + errors.split("debugrun: error box", 1)[1].split("\n")[0].strip()[:200]
        if code not in (0,):
            return "exit code %d" % code
        return None
    if seconds >= deadline:
        return "deadline"
    if code >= 128:
        return "signal %d" % (code - 128)
    for line in errors.splitlines():
        if line.startswith("talvenook: "):
            return "error line: " + line[len("talvenook: "):][:200]
    if code != 0:
        return "exit code %d" % code
    return None


def blame(selected, requests):
    """The row a failed run stopped at: after the last row that reached the service, the next
    selected row, unless that last row's own exchange was left half done (query without upload)."""
    if not requests:
        return selected[0]
    last = requests[-1]
    last_id, _ = row_of_name(last["name"])
    if last["route"] == "exist":
        return last_id
    later = [i for i in selected if i > last_id]
    return later[0] if later else last_id


def run(build, folder, service_log, out, deadline, restarts, command):
    os.makedirs(out, exist_ok=True)
    database = os.path.join(folder, "DB", "REDU.sqlite")
    runs = []
    json.dump(runs, open(os.path.join(out, "runs.json"), "w"))
    for number in range(restarts + 1):
        selected = pending_ids(database)
        if not selected:
            break
        peak_report = os.path.join(out, "peak-%d" % number)
        started = time.monotonic()
        argv = [command[0], peak_report, str(deadline + 30)] + command[1:]
        with open(os.path.join(out, "debug-%d" % number), "wb") as stdout, \
                open(os.path.join(out, "errors-%d" % number), "wb") as stderr:
            try:
                code = subprocess.run(argv, cwd=folder, stdout=stdout, stderr=stderr, timeout=deadline + 60).returncode
            except subprocess.TimeoutExpired:
                code = -1
        ended = time.monotonic()
        errors = open(os.path.join(out, "errors-%d" % number), encoding="utf-8", errors="replace").read()
        requests = [r for r in read_service_log(service_log) if started <= r["arrived"] <= ended]
        peaks = []
        if os.path.exists(peak_report):
            for line in open(peak_report, encoding="utf-8", errors="replace"):
                fields = line.rstrip("\n").split("\t")
                if len(fields) == 3 and "talvenook" in fields[2]:
                    peaks.append(int(fields[1]))
        failure = failure_of(build, code, errors, ended - started, deadline)
        record = {"run": number, "started": started, "ended": ended, "code": code, "failure": failure,
                  "first": selected[0], "last": selected[-1], "peak_kb": max(peaks) if peaks else None,
                  "reports": [l for l in errors.splitlines() if l.startswith("debugrun: ")][:20]}
        if failure is not None:
            blamed = blame(selected, requests)
            record["blamed"] = blamed
            db = sqlite3.connect(database)
            db.execute("UPDATE software_data SET exticon = '0' WHERE ID <= ? AND pin = '0'", (blamed,))
            db.commit()
            db.close()
        runs.append(record)
        # Written after every run, so a pass cut short by its caller still leaves its record.
        json.dump(runs, open(os.path.join(out, "runs.json"), "w"), indent=1)
        print("%s run %d: rows %d..%d, %.1f s, %s" % (build, number, selected[0], selected[-1], ended - started,
                                                      failure or "completed"), file=sys.stderr, flush=True)
        if failure is None:
            break


def analyse(out, service_log_name="service.log"):
    runs = json.load(open(os.path.join(out, "runs.json")))
    requests = read_service_log(os.path.join(out, service_log_name))
    queried = set()   # row IDs that reached the service (rows with an icon)
    times = {}        # hostile row ID -> seconds of its interval
    versions = collections.defaultdict(set)
    icons = collections.defaultdict(set)  # row ID -> SHA-256 of each icon uploaded for it
    for record in runs:
        inside = [r for r in requests if record["started"] <= r["arrived"] <= record["ended"]]
        last_good_done = None
        for r in inside:
            row, good = row_of_name(r["name"])
            queried.add(row)
            if r["route"] == "upload":
                versions[row].add(r["version"])
                icons[row].add(r["sha"])
            if good and r["route"] == "exist" and last_good_done is not None and row - 1 not in times:
                times[row - 1] = r["arrived"] - last_good_done
            if good:
                last_good_done = r["done"]
    return runs, queried, times, versions, icons


def report(manifest, out_windows, out_linux, database_windows, database_linux):
    files = rows_of_manifest(manifest)
    builds = {}
    for build, out, database in (("windows", out_windows, database_windows), ("linux", out_linux, database_linux)):
        if not os.path.exists(os.path.join(out, "runs.json")):
            continue
        runs, queried, times, versions, icons = analyse(out)
        db = sqlite3.connect(database)
        pins = dict(db.execute("SELECT ID, pin FROM software_data"))
        db.close()
        builds[build] = {"runs": runs, "queried": queried, "times": times, "pins": pins, "versions": versions,
                         "icons": icons}
    kinds = collections.OrderedDict()
    for i, (name, kind, detail) in enumerate(files, start=1):
        kinds.setdefault(kind, []).append((2 * i, name, detail))

    status = 0
    print("| kind | files | icon rows, Windows | icon rows, Linux | disagree | same ICO | other ICO | "
          "failed runs, Windows | failed runs, Linux | slowest row s, Windows | slowest row s, Linux |")
    print("|---|---|---|---|---|---|---|---|---|---|---|")
    failures = []
    for kind, rows in kinds.items():
        cells = [kind, str(len(rows))]
        blamed = {}
        for build in ("windows", "linux"):
            b = builds.get(build)
            blamed[build] = {r.get("blamed"): r["failure"] for r in b["runs"] if r["failure"]} if b else {}
        for build in ("windows", "linux"):
            b = builds.get(build)
            cells.append(str(sum(1 for row, _, _ in rows if row in b["queried"])) if b else "-")
        disagree = [row for row, _, _ in rows if "windows" in builds and "linux" in builds
                    and (row in builds["windows"]["queried"]) != (row in builds["linux"]["queried"])]
        cells.append(str(len(disagree)))
        both = [row for row, _, _ in rows if "windows" in builds and "linux" in builds
                and builds["windows"]["icons"].get(row) and builds["linux"]["icons"].get(row)]
        other_ico = [row for row in both if builds["windows"]["icons"][row] != builds["linux"]["icons"][row]]
        cells.append(str(len(both) - len(other_ico)) if both else "-")
        cells.append((str(len(other_ico)) + (" (known)" if other_ico and kind in KNOWN_ICO_DIFFERENCES else ""))
                     if both else "-")
        for build in ("windows", "linux"):
            cells.append(str(sum(1 for row, _, _ in rows if row in blamed[build])))
        for build in ("windows", "linux"):
            b = builds.get(build)
            slowest = max((b["times"].get(row, 0) for row, _, _ in rows), default=0) if b else 0
            cells.append("%.2f" % slowest if b else "-")
        print("| " + " | ".join(cells) + " |")
        for row, name, detail in rows:
            for build in ("windows", "linux"):
                if row in blamed[build]:
                    failures.append((build, name, kind, detail, blamed[build][row]))
            if row in disagree:
                failures.append(("both", name, kind, detail, "icon on %s only" %
                                 ("Windows" if row in builds["windows"]["queried"] else "Linux")))
            if row in other_ico and kind not in KNOWN_ICO_DIFFERENCES:
                failures.append(("both", name, kind, detail, "the builds uploaded different ICO files"))
            for build in ("windows", "linux"):
                b = builds.get(build)
                if b and b["times"].get(row, 0) > ROW_TARGET_SECONDS:
                    failures.append((build, name, kind, detail, "row took %.2f s" % b["times"][row]))
    print()
    print("| build | runs | failed runs | good rows marked | good rows unmarked | peak MB (program) | "
          "slowest row | rows with icons |")
    print("|---|---|---|---|---|---|---|---|")
    for build in ("windows", "linux"):
        b = builds.get(build)
        if not b:
            print("| %s | not run | | | | | | |" % build)
            failures.append((build, "-", "-", "-", "not run: no targets can be judged"))
            continue
        good_rows = [2 * i + 1 for i in range(len(files) + 1)]
        marked = [row for row in good_rows if b["pins"].get(row) == "1"]
        unmarked = [row for row in good_rows if b["pins"].get(row) != "1"]
        peaks = [r["peak_kb"] for r in b["runs"] if r["peak_kb"]]
        peak = max(peaks) if peaks else 0
        slow_row, slow = max(b["times"].items(), key=lambda item: item[1], default=(0, 0))
        slow_name = files[slow_row // 2 - 1][0] if slow_row else "-"
        print("| %s | %d | %d | %d | %d | %.1f | %.2f s (%s) | %d |" % (
            build, len(b["runs"]), sum(1 for r in b["runs"] if r["failure"]), len(marked), len(unmarked),
            peak / 1024, slow, slow_name, sum(1 for row in b["queried"] if row % 2 == 0)))
        if unmarked:
            status = 1
            failures.append((build, "good rows", "-", "-", "unmarked: " + ", ".join(
                good_name((row - 1) // 2) for row in unmarked[:20]) + (" ..." if len(unmarked) > 20 else "")))
        if peak > PEAK_TARGET_KB:
            status = 1
            heavy = [r for r in b["runs"] if r["peak_kb"] and r["peak_kb"] > PEAK_TARGET_KB]
            for r in heavy[:10]:
                failures.append((build, "run %d" % r["run"], "-", "rows %d..%d" % (r["first"], r["last"]),
                                 "peak %.1f MB, run ended: %s" % (r["peak_kb"] / 1024, r["failure"] or "completed")))
        bad_versions = [row for row, seen in b["versions"].items() if row % 2 == 1 and len(seen) != 1]
        if bad_versions:
            status = 1
            failures.append((build, "good rows", "-", "-", "uploaded with several versions: %s" % bad_versions[:10]))
    print()
    if failures:
        status = 1
        print("Failures (build, row, kind, file detail, what):")
        for build, name, kind, detail, what in failures:
            print("  %s | %s | %s | %s | %s" % (build, name, kind, detail, what))
    else:
        print("Every target met: no failed run, every good row marked, peak under 64 MB, no row over 2 s, "
              "the same rows have icons on both builds, and the same ICO files but for the known differences.")
    for kind, why in KNOWN_ICO_DIFFERENCES.items():
        print("Known ICO difference, %s: %s." % (kind, why))
    return status


def main():
    command = sys.argv[1]
    if command == "catalogue":
        catalogue(*sys.argv[2:8])
    elif command == "run":
        build, folder, service_log, out, deadline, restarts = sys.argv[2:8]
        run(build, folder, service_log, out, float(deadline), int(restarts), sys.argv[8:])
    elif command == "report":
        sys.exit(report(*sys.argv[2:7]))
    else:
        sys.exit("hostile_pass.py: unknown command " + command)


if __name__ == "__main__":
    main()
