#!/usr/bin/env python3
"""Broken-input campaign for korva and main.

Every project (the bundled examples, and the projects of the end-to-end tests when
--e2e-projects names a folder that KORVA_PROJECT_EXPORT filled) is run once as it
is; then each of its input files is broken in one way at a time (cut short,
emptied, a folder in its place, a line deleted or doubled, a number replaced by 0,
-1, 1e308, -1e308, 1e-320, nan, inf, 2147483648 or text) and the program is run
again over the results of the good run. A case passes when the program ends with
status 0 and writes no nan or inf, or ends with status 1 naming the broken file
(or the card of a broken project line) and leaves every result file of the good
run as it was, with no staged file left behind. Crashes, other statuses, changed
results and left staged files always fail; with --strict so do runs that pass
the time limit, unnamed refusals and non-finite results.

After the cases: two runs at once in one folder (the second is refused naming the
file held), and, where a small tmpfs can be mounted, a full disk and a read-only
folder for korva, korva -c, korva -m and main.

  broken_inputs.py --korva K --main M [--sample N] [--seed S] [--jobs J]
"""
import argparse, concurrent.futures as cf, hashlib, os, random, re, shutil, stat
import subprocess, sys, tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
VALUES = ["0", "-1", "1e308", "-1e308", "1e-320", "nan", "inf", "2147483648", "abc"]
LOGS = {"out_time.dat", ".korva-run.lock", "0_hmle.dat", "0_obs.log"}  # appended by every run
NUMBER = re.compile(r"(?<![\w.\[])[-+]?(?:\d+\.?\d*|\.\d+)(?:[eE][-+]?\d+)?(?![\w.\]])")
NONFINITE = re.compile(rb"(?<![a-zA-Z_])-?(?:nan|inf)(?![a-zA-Z_])", re.I)
LINES_PER_FILE, TOKENS_PER_LINE = 8, 3


def examples(work):
    """(name, folder, program, args) of each bundled example, made small."""
    out = []
    for sub in ("valley", "longterm", "longterm_richards", "aquifer_well"):
        src = os.path.join(work, sub)
        shutil.copytree(os.path.join(ROOT, "examples", sub), src)
        for prj in sorted(f for f in os.listdir(src) if f.endswith(".prj")):
            with open(os.path.join(src, prj)) as f:
                text = re.sub(r"^TOT_TIME (360|720)$", "TOT_TIME 60", f.read(), flags=re.M)
            with open(os.path.join(src, prj), "w") as f:
                f.write(text)
            out.append((sub + "/" + prj, src, "korva", [prj]))
    cal = os.path.join(work, "calibration")
    shutil.copytree(os.path.join(ROOT, "examples", "calibration"), cal)
    with open(os.path.join(cal, "sce.in")) as f:
        sce = f.read().splitlines()
    sce[3] = "12 3 0.01 2 7 0 2"  # few trials: the inputs matter, not the search
    with open(os.path.join(cal, "sce.in"), "w") as f:
        f.write("\n".join(sce) + "\n")
    with open(os.path.join(cal, "mc.in"), "w") as f:
        f.write("plane_sce.prj\ntags.txt\npeak_volume.obs\n2\n0.01 0.5\n0.05 5.0\n")
    out.append(("calibration/sce.in", cal, "korva", ["-c", "sce.in"]))
    out.append(("calibration/mc.in", cal, "korva", ["-m3", "mc.in"]))
    out.append(("outlet", os.path.join(ROOT, "examples", "outlet"), "main", []))
    return out


def e2e_projects(folder):
    out = []
    for p in sorted(os.listdir(folder)):
        with open(os.path.join(folder, p, ".korva_args")) as f:
            args = f.read().split("\n")[:-1]
        out.append(("e2e/" + p, os.path.join(folder, p), "korva", args))
    return out


def run(exe, folder, args, timeout=60):
    try:
        r = subprocess.run([exe] + args, cwd=folder, stdin=subprocess.DEVNULL, capture_output=True,
                           timeout=timeout)
        return r.returncode, (r.stdout + r.stderr).decode("latin-1")
    except subprocess.TimeoutExpired:
        return "hang", ""


def files_of(folder):
    out = {}
    for base, dirs, files in os.walk(folder):
        for f in files:
            p = os.path.join(base, f)
            with open(p, "rb") as h:
                out[os.path.relpath(p, folder)] = hashlib.sha1(h.read()).hexdigest()
    return out


def named_inputs(folder, args, prog):
    """The argument files and every file of the folder that an input names."""
    present = set(files_of(folder)) - {".korva_args"}
    if prog == "main":
        return present
    todo = [a for a in args if a in present]
    found = set(todo)
    while todo:
        with open(os.path.join(folder, todo.pop()), "rb") as f:
            text = f.read().decode("latin-1")
        for rel in present - found:
            if re.search(r"(?<![\w.])" + re.escape(os.path.basename(rel)) + r"(?![\w.])", text):
                found.add(rel)
                todo.append(rel)
    return found


def mutations(folder, inputs):
    """Every (file, label, how) of the inputs; how is None (empty), 'dir', or text."""
    for rel in sorted(inputs):
        with open(os.path.join(folder, rel), "rb") as f:
            text = f.read().decode("latin-1")
        yield rel, "empty", ""
        yield rel, "folder", "dir"
        yield rel, "cut", text[: len(text) // 2]
        lines = text.split("\n")
        picks = sorted(set(range(min(len(lines), LINES_PER_FILE // 2))) |
                       set(range(0, len(lines), max(1, len(lines) // (LINES_PER_FILE // 2)))))
        for k in picks:
            if not lines[k].strip():
                continue
            yield rel, "line %d deleted" % (k + 1), "\n".join(lines[:k] + lines[k + 1:])
            yield rel, "line %d doubled" % (k + 1), "\n".join(lines[:k + 1] + lines[k:])
            for m in list(NUMBER.finditer(lines[k]))[:TOKENS_PER_LINE]:
                for v in VALUES:
                    line = lines[k][: m.start()] + v + lines[k][m.end():]
                    yield rel, "line %d %s->%s" % (k + 1, m.group(), v), "\n".join(lines[:k] + [line] + lines[k + 1:])


def run_case(case, exe_of, work):
    name, folder, prog, args, rel, label, how, baseline = case
    d = tempfile.mkdtemp(dir=work)
    try:
        shutil.copytree(folder, d, dirs_exist_ok=True, symlinks=True)
        p = os.path.join(d, rel)
        os.remove(p)
        if how == "dir":
            os.mkdir(p)
        else:
            with open(p, "wb") as f:
                f.write(how.encode("latin-1"))
        status, text = run(exe_of[prog], d, args)
        after = files_of(d)
        problems = []
        if status not in (0, 1):
            problems.append("crash" if status != "hang" else "hang")
        if status != "hang" and any(f.endswith(".part") for f in after):  # a killed run leaves them
            problems.append("staged file left")
        if status == 1:
            if any(after.get(f) != h for f, h in baseline.items() if f != rel and os.path.basename(f) not in LOGS):
                problems.append("result changed")
            line = label.split()[1] if label.startswith("line ") else None
            card = ""
            if line and rel.endswith((".prj", ".in")):
                with open(os.path.join(folder, rel), encoding="latin-1") as f:
                    words = (f.read().split("\n")[int(line) - 1].split() or [""])
                card = words[0]
            if os.path.basename(rel) not in text and not (card and card.upper() in text.upper()):
                problems.append("unnamed")
        if status == 0:
            for f in after:
                if os.path.basename(f) in LOGS or f == rel or f.endswith(".log"):
                    continue
                q = os.path.join(d, f)
                if after[f] != baseline.get(f) and os.path.getsize(q) < 1 << 24:
                    with open(q, "rb") as h:
                        data = h.read()
                    if prog == "main":  # the date and time words are labels, copied as they are
                        data = b"\n".join(l.split()[-1] for l in data.splitlines() if l.split())
                    if b"\0" not in data[:4096] and NONFINITE.search(data):
                        problems.append("non-finite output " + f)
                        break
        return name, rel, label, status, problems, text[-300:]
    finally:
        shutil.rmtree(d, ignore_errors=True)


def concurrent_runs(korva, work):
    """Two runs at once: the second is refused naming the file held; the first ends well."""
    d = os.path.join(work, "together")
    shutil.copytree(os.path.join(ROOT, "examples", "valley"), d)
    with open(os.path.join(d, "valley.prj")) as f:
        prj = f.read().replace("TOT_TIME 360", "TOT_TIME 1440")  # long enough to be caught
    with open(os.path.join(d, "valley.prj"), "w") as f:
        f.write(prj)
    first = subprocess.Popen([korva, "valley.prj"], cwd=d, stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while not os.path.exists(os.path.join(d, "valley.otl.part")) and first.poll() is None:
        pass
    status, text = run(korva, d, ["valley.prj"])
    ok = status == 1 and "valley.sum" in text and "another run" in text and first.wait() == 0
    return [] if ok else ["two runs at once: second status %s, first %s\n%s" % (status, first.returncode, text[-300:])]


def disk_cases(korva, main, work, projects):
    """Full disk and read-only folder on a small tmpfs; None when none can be mounted."""
    mnt = os.path.join(work, "mnt")
    os.mkdir(mnt)
    if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", mnt], capture_output=True).returncode:
        return None
    failures = []
    try:
        for name, folder, prog, args in projects:
            for kind in ("full", "read-only"):
                d = os.path.join(mnt, "p")
                shutil.copytree(folder, d)
                exe = main if prog == "main" else korva
                if run(exe, d, args)[0] != 0:
                    failures.append("%s %s: the good run fails" % (name, kind))
                before = files_of(d)
                if kind == "full":
                    fd = os.open(os.path.join(mnt, "filler"), os.O_WRONLY | os.O_CREAT)
                    try:
                        while True:
                            os.write(fd, b"\0" * 4096)
                    except OSError:
                        os.close(fd)
                else:
                    subprocess.run(["mount", "-o", "remount,ro", mnt], check=True)
                status, text = run(exe, d, args)
                after = files_of(d)
                changed = [f for f, h in before.items() if after.get(f) != h and os.path.basename(f) not in LOGS]
                left = [f for f in after if f.endswith(".part")]
                if status != 1 or changed or left or not re.search(r"\w+\.\w+", text):
                    failures.append("%s %s: status %s changed %s left %s\n%s" % (name, kind, status, changed, left, text[-300:]))
                if kind == "read-only":
                    subprocess.run(["mount", "-o", "remount,rw", mnt], check=True)
                shutil.rmtree(d)
                if os.path.exists(os.path.join(mnt, "filler")):
                    os.remove(os.path.join(mnt, "filler"))
    finally:
        subprocess.run(["umount", mnt])
    return failures


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--korva", required=True)
    ap.add_argument("--main", required=True)
    ap.add_argument("--sample", type=int, default=0, help="cases to run (0: all)")
    ap.add_argument("--seed", type=int, default=50)
    ap.add_argument("--jobs", type=int, default=3)
    ap.add_argument("--e2e-projects", help="folder filled by KORVA_PROJECT_EXPORT")
    ap.add_argument("--strict", action="store_true")
    ap.add_argument("--report", help="file for every failing case")
    a = ap.parse_args()
    exe_of = {"korva": os.path.abspath(a.korva), "main": os.path.abspath(a.main)}
    work = tempfile.mkdtemp(prefix="korva_campaign_")
    try:
        projects = examples(work) + (e2e_projects(a.e2e_projects) if a.e2e_projects else [])
        cases, skipped = [], 0
        for name, folder, prog, args in projects:
            d = os.path.join(work, "base", name.replace("/", "_"))
            shutil.copytree(folder, d, symlinks=True)
            inputs = named_inputs(d, args, prog)
            status, _ = run(exe_of[prog], d, args)
            if status != 0:
                skipped += 1
                continue
            baseline = {f: h for f, h in files_of(d).items() if f not in inputs}
            cases += [(name, d, prog, args, rel, label, how, baseline) for rel, label, how in mutations(d, inputs)]
        total = len(cases)
        if a.sample and a.sample < total:
            cases = random.Random(a.seed).sample(cases, a.sample)
        with cf.ThreadPoolExecutor(a.jobs) as pool:
            results = list(pool.map(lambda c: run_case(c, exe_of, work), cases))
        enforced = {"crash", "staged file left", "result changed"}
        failing, counts = [], {}
        for name, rel, label, status, problems, tail in results:
            counts["status %s" % status] = counts.get("status %s" % status, 0) + 1
            for p in problems:
                key = p.split(" output ")[0]
                counts[key] = counts.get(key, 0) + 1
            if problems:
                failing.append("%s: %s %s: status %s: %s\n    %s" % (
                    name, rel, label, status, ", ".join(problems), tail.strip().replace("\n", "\n    ")))
        bad = [r for r in results if any(p.split(" output ")[0] in enforced or a.strict for p in r[4])]
        special = concurrent_runs(exe_of["korva"], work)
        disk_projects = [p for p in projects if p[0] in ("valley/valley.prj", "calibration/sce.in",
                                                          "calibration/mc.in", "outlet")]
        disk = disk_cases(exe_of["korva"], exe_of["main"], work, disk_projects)
        print("projects %d (%d skipped: their good run fails), cases %d of %d" % (len(projects), skipped, len(cases), total))
        for k in sorted(counts):
            print("  %-22s %d" % (k, counts[k]))
        print("two runs at once: %s" % ("ok" if not special else special[0]))
        print("full disk and read-only folder: %s" % ("skipped (no tmpfs)" if disk is None else "ok" if not disk else "\n".join(disk)))
        if a.report:
            with open(a.report, "w") as f:
                f.write("\n".join(failing) + "\n")
        for line in [f for f in failing if any(e in f for e in enforced)][:20]:
            print(line)
        failed = len(bad) + len(special) + len(disk or [])
        print("%d passed, %d failed" % (len(cases) + 1 + (0 if disk is None else 1) - failed, failed))
        return 1 if failed else 0
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
