#!/usr/bin/env python3
"""Measures block2gci on a large block, side by side with two yardsticks.

    bench/run.py                          # generates the default block (about 88 MB) and measures build/block2gci
    bench/run.py BLOCK.xml --runs 7       # measures on an existing block file
    bench/run.py --tool before=/tmp/block2gci-before     # a second build in the same table
    bench/run.py BLOCK.xml --emulator scripts/wine-run --exe build-windows/block2gci.exe \
        --parse-only build-windows/bench_parse_only.exe    # the Windows build under Wine

Contenders, each run in its own child process on its own copy of the block in
one scratch directory:

- "parser-only load": bench_parse_only, which loads the file with the
  parser's default options and does nothing else;
- the tool (--exe) and any further builds given with --tool LABEL=PATH;
- "ElementTree": bench/etree_convert.py, a plain Python converter.

The runs are interleaved round-robin after one unmeasured round that warms
the caches and takes the ElementTree output as the reference: every tool's
GCI file must equal it byte for byte, in every run. Wall time is the minimum
over the runs, peak RSS the largest ru_maxrss of the child's own rusage
(os.wait4) over the runs, throughput the file size over the minimum time.
MB are 10^6 bytes.

Exit status: 0 when every contender ran and every output matched (whether
or not the targets were met), 1 on a mismatch or a failed contender, 2 on a
wrong command line.
"""

import argparse
import datetime
import hashlib
import os
import platform
import re
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
REPO = os.path.dirname(HERE)
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
import make_block  # noqa: E402

PARSE_ONLY = "parser-only load"
ETREE = "ElementTree"

# Targets on the default block: (description, figure of a tool, comparison, limit).
TARGETS = [
    ("tool wall time / parser-only load", lambda tool, base, etree: tool.time / base.time, "<=", 0.35),
    ("tool peak RSS / file size", lambda tool, base, etree: tool.rss / tool.size, "<=", 3.6),
    ("ElementTree wall time / tool wall time", lambda tool, base, etree: etree.time / tool.time, ">=", 35.0),
]


class Contender:
    def __init__(self, label, command, is_tool):
        self.label = label
        self.command = command  # the argument list before the input path
        self.is_tool = is_tool
        self.input = None
        self.output = None
        self.times = []
        self.rss_list = []
        self.size = 0
        self.mismatches = 0

    @property
    def time(self):
        return min(self.times)

    @property
    def rss(self):
        return max(self.rss_list)


def fail(message):
    print(f"run.py: {message}", file=sys.stderr)
    sys.exit(1)


def parse_arguments():
    parser = argparse.ArgumentParser(
        description="Measures block2gci on a large block against a parser-only load and an ElementTree converter.",
        epilog="Without BLOCK, a block is generated into the scratch directory from the generator arguments.",
    )
    parser.add_argument("block", nargs="?", help="an existing block file to measure on")
    parser.add_argument("--runs", type=int, default=5, help="measured runs per contender (default %(default)s)")
    parser.add_argument(
        "--build-dir", default=os.path.join(REPO, "build"), help="where the default binaries are (default build/)"
    )
    parser.add_argument("--exe", help="the tool to measure, labelled block2gci (default BUILD_DIR/block2gci)")
    parser.add_argument(
        "--tool",
        action="append",
        default=[],
        metavar="LABEL=PATH",
        help="one more build of the tool to measure beside it; repeatable",
    )
    parser.add_argument(
        "--parse-only", help="the parser-only program (default BUILD_DIR/bench/bench_parse_only)"
    )
    parser.add_argument(
        "--emulator",
        help="a command that runs the parser-only program and the tools, e.g. scripts/wine-run for a Windows build",
    )
    parser.add_argument("--scratch", help="scratch directory, kept afterwards (default: a temporary one, removed)")
    group = parser.add_argument_group("generator arguments (without BLOCK)")
    make_block.add_arguments(group)
    args = parser.parse_args()
    if args.runs < 1:
        parser.error("--runs must be at least 1")
    return parser, args


def executable(path, what):
    path = os.path.abspath(path)
    if not (os.path.isfile(path) and os.access(path, os.X_OK)):
        fail(f"the {what} {path} is missing or not executable; build it with\n"
             "  cmake --build BUILD_DIR -j2 --target block2gci bench_parse_only")
    return path


def contenders_from(parser, args):
    build = os.path.abspath(args.build_dir)
    parse_only = executable(args.parse_only or os.path.join(build, "bench", "bench_parse_only"), "parser-only program")
    emulator = [executable(args.emulator, "emulator")] if args.emulator else []
    result = [Contender(PARSE_ONLY, emulator + [parse_only], False)]
    tool = executable(args.exe or os.path.join(build, "block2gci"), "tool")
    result.append(Contender("block2gci", emulator + [tool], True))
    for entry in args.tool:
        label, sep, path = entry.partition("=")
        if not sep or not label or not path:
            parser.error(f"--tool wants LABEL=PATH, not {entry!r}")
        result.append(Contender(label, emulator + [executable(path, "tool")], True))
    result.append(Contender(ETREE, [sys.executable, os.path.join(HERE, "etree_convert.py")], False))
    labels = [c.label for c in result]
    duplicates = sorted({label for label in labels if labels.count(label) > 1})
    if duplicates:
        parser.error(f"labels must differ: {', '.join(duplicates)}")
    return result


def prepare_inputs(contenders, source, scratch):
    """Gives every contender its own copy of `source` in `scratch`."""
    for number, contender in enumerate(contenders):
        slug = re.sub(r"[^A-Za-z0-9_-]+", "_", contender.label).strip("_") or "tool"
        contender.input = os.path.join(scratch, f"{number}-{slug}.xml")
        contender.output = os.path.join(scratch, f"{number}-{slug}.gci")
        shutil.copyfile(source, contender.input)
        contender.size = os.path.getsize(contender.input)


def run_once(contender, scratch):
    """Runs the contender once; returns (wall seconds, peak RSS bytes, GCI digest or None)."""
    if os.path.exists(contender.output):
        os.remove(contender.output)  # a failing run must not pass on an earlier output
    log_path = os.path.join(scratch, "last-run.log")
    with open(log_path, "wb") as log:
        start = time.perf_counter()
        child = subprocess.Popen(contender.command + [contender.input], stdout=log, stderr=log, cwd=scratch)
        _, status, usage = os.wait4(child.pid, 0)
        elapsed = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)  # reaped here, not by Popen
    if child.returncode != 0:
        with open(log_path, "rb") as log:
            text = log.read().decode(errors="replace").strip()
        fail(f"{contender.label} failed with exit status {child.returncode}:\n  " + " ".join(child.args) + "\n" + text)
    digest = None
    if contender.is_tool or contender.label == ETREE:
        if not os.path.exists(contender.output):
            fail(f"{contender.label} wrote no {os.path.basename(contender.output)} (a block without control points?)")
        with open(contender.output, "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
    return elapsed, usage.ru_maxrss * 1024, digest  # ru_maxrss is in KiB on Linux


def launch_floor(scratch):
    """The peak RSS that a child launched by this runner reports when it does nothing.

    Linux carries the high-water mark of the runner, whose memory the child
    shares until its exec, over into the child's ru_maxrss: a child reports
    the larger of that mark and its own peak, so figures at this floor say
    only that the child stayed below it. Larger figures are the child's own.
    """
    true = shutil.which("true")
    if not true:
        return None
    nothing = Contender("nothing", [true], False)
    nothing.input = nothing.output = os.path.join(scratch, "nothing")
    return run_once(nothing, scratch)[1]


def loud(message):
    bar = "!" * 72
    print(f"\n{bar}\n{message}\n{bar}\n", file=sys.stderr)


def check_output(contender, digest, reference, scratch):
    if digest == reference:
        return
    contender.mismatches += 1
    if contender.mismatches == 1:
        kept = os.path.join(scratch, f"MISMATCH-{os.path.basename(contender.output)}")
        shutil.copyfile(contender.output, kept)
        loud(
            f"MISMATCH: the GCI file of {contender.label} differs from the ElementTree output.\n"
            f"Kept as {kept}; compare it with reference.gci beside it."
        )


def measure(contenders, runs, scratch):
    etree = contenders[-1]
    print(f"warm-up round, taking the reference output from {ETREE} ...", file=sys.stderr)
    digests = {c.label: run_once(c, scratch)[2] for c in reversed(contenders)}
    reference = digests[ETREE]
    shutil.copyfile(etree.output, os.path.join(scratch, "reference.gci"))
    for contender in contenders:
        if contender.is_tool:
            check_output(contender, digests[contender.label], reference, scratch)
    for run in range(1, runs + 1):
        figures = []
        for contender in contenders:  # round-robin: noise hits every contender alike
            elapsed, rss, digest = run_once(contender, scratch)
            contender.times.append(elapsed)
            contender.rss_list.append(rss)
            if digest is not None:
                check_output(contender, digest, reference, scratch)
            figures.append(f"{contender.label} {elapsed:.3f} s")
        print(f"run {run}/{runs}: " + ", ".join(figures), file=sys.stderr)


def machine():
    model = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return f"{model}, {os.cpu_count()} cores, {platform.system()} {platform.release()}, Python {platform.python_version()}"


def report(contenders, runs, source, floor):
    base = contenders[0]
    etree = contenders[-1]
    size = base.size
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    print(f"Block: {source}, {size} bytes ({size / 1e6:.1f} MB); {runs} runs each; {now}")
    print(f"Machine: {machine()}")
    print()
    print("| contender | min wall s | MB/s | peak RSS MB | RSS / file size | time / parser-only load |")
    print("|---|---:|---:|---:|---:|---:|")
    for c in contenders:
        print(
            f"| {c.label} | {c.time:.3f} | {size / 1e6 / c.time:.1f} | {c.rss / 1e6:.1f} | "
            f"{c.rss / size:.2f} | {c.time / base.time:.2f} |"
        )
    print()
    print("| target | contender | figure | limit | result |")
    print("|---|---|---:|---:|---|")
    for c in contenders:
        if not c.is_tool:
            continue
        for description, figure, comparison, limit in TARGETS:
            value = figure(c, base, etree)
            met = value <= limit if comparison == "<=" else value >= limit
            print(f"| {description} | {c.label} | {value:.2f} | {comparison} {limit:g} | {'PASS' if met else 'FAIL'} |")
        output = "matches" if c.mismatches == 0 else f"MISMATCH in {c.mismatches} of {runs + 1} runs"
        print(f"| GCI output equals the ElementTree output | {c.label} | | | {'PASS' if not c.mismatches else output} |")
    print()
    for c in contenders:
        print(f"- {c.label}: {' '.join(c.command)}")
    if floor is not None:
        print(f"- peak RSS floor: {floor / 1e6:.1f} MB, what a child that does nothing reports "
              "(the runner's own peak); a figure at the floor only says the child stayed below it")
    sys.stdout.flush()


def main():
    parser, args = parse_arguments()
    contenders = contenders_from(parser, args)
    scratch = os.path.abspath(args.scratch) if args.scratch else tempfile.mkdtemp(prefix="block2gci-bench-")
    os.makedirs(scratch, exist_ok=True)
    try:
        if args.block:
            source = os.path.abspath(args.block)
            if not os.path.isfile(source):
                fail(f"no such block file: {source}")
        else:
            source = os.path.join(scratch, "generated.xml")
            options = make_block.options_from(args)
            print(f"generating {source} with {options} ...", file=sys.stderr)
            # In a child, so that the runner stays small: see launch_floor.
            generator = [sys.executable, os.path.join(HERE, "make_block.py"), source]
            for key, value in options.items():
                generator += ["--" + key.replace("_", "-"), str(value)]
            if subprocess.run(generator, stdout=subprocess.DEVNULL).returncode != 0:
                fail("the generator failed")
        prepare_inputs(contenders, source, scratch)
        measure(contenders, args.runs, scratch)
        shown = source if args.block or args.scratch else "generated block (" + ", ".join(
            f"{k}={v}" for k, v in make_block.options_from(args).items()
        ) + ")"
        report(contenders, args.runs, shown, launch_floor(scratch))
        if any(c.mismatches for c in contenders):
            loud("MISMATCH: at least one tool wrote a GCI file that differs from the ElementTree output.")
            return 1
        return 0
    finally:
        if args.scratch:
            pass
        elif any(c.mismatches for c in contenders):
            print(f"run.py: the scratch directory {scratch} is kept for a look at the mismatch", file=sys.stderr)
        else:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
