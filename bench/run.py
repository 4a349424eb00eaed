#!/usr/bin/env python3
"""Measures block2gci on a large block, side by side with four yardsticks.

    bench/run.py                          # generates the default block (about 88 MB) and measures build/block2gci
    bench/run.py BLOCK.xml --runs 7       # measures on an existing block file
    bench/run.py --tool before=/tmp/block2gci-before     # a second build in the same table
    bench/run.py --tie-attributes --tie-comments --utf16  # a generated block in another form
    bench/run.py --shapes all --skip etree   # every named shape, one table each and a summary
    bench/run.py HUGE.xml --no-copy --skip parse-only --skip etree --limit-as-mib 1024
    bench/run.py BLOCK.xml --emulator scripts/wine-run --exe build-windows/block2gci.exe \
        --parse-only build-windows/bench_parse_only.exe \
        --read-once build-windows/bench_read_once.exe      # the Windows build under Wine

Contenders, each run in its own child process on its own copy of the block
(or, with --no-copy, its own symbolic link to it) in one scratch directory:

- "read once": bench_read_once, which reads the file once through a 1 MiB
  buffer and does nothing else;
- "lower bound": bench_lower_bound, the least work a converter must do on
  one thread (read once, check every tag, parse the kept values into
  records, format the GCI text with std::to_chars); it writes the tool's
  bytes on the generated UTF-8 blocks, and its output is checked like a
  tool's (--skip lower-bound leaves it out; a UTF-16 block does);
- "parser-only load": bench_parse_only, which loads the file with the
  parser's default options and does nothing else (--skip parse-only leaves
  it out);
- the tool (--exe) and any further builds given with --tool LABEL=PATH;
- "ElementTree": bench/etree_convert.py, a plain Python converter (--skip
  etree leaves it out).

The runs are interleaved round-robin after one unmeasured round that warms
the caches and takes the reference output: that of ElementTree, or, when
ElementTree is left out, that of the first tool. Every tool's GCI file, and
the lower bound's, must equal the reference byte for byte, in every run. Wall time is the minimum
over the runs, peak RSS the largest ru_maxrss of the child's own rusage
(os.wait4) over the runs, throughput the file size over the minimum time.
MB are 10^6 bytes, MiB 2^20 bytes.

Named shapes (--shapes usual,targets,points,photos or --shapes all) stand
for blocks of different proportions: the runner generates each, measures
every contender on it as on a single block, and ends with a summary table
of the tools on all of them. Generated blocks are kept by their generator
arguments (in --scratch, or else in a folder of the system's temporary
directory), so that a rerun does not make them again.

CPU time is the smallest user + system time of the child over the runs:
on a machine that others share it varies less than the wall time, and it
shows how much of the work a second thread takes on.

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

READ_ONCE = "read once"
LOWER_BOUND = "lower bound"
PARSE_ONLY = "parser-only load"
ETREE = "ElementTree"
TOOL = "block2gci"
SKIPPABLE = {"parse-only": PARSE_ONLY, "etree": ETREE, "lower-bound": LOWER_BOUND}
MIB = 2**20
DASH = "–"  # a figure that needs a contender that was left out
# Named block shapes: the generator's size arguments that differ from its defaults.
SHAPES = {
    "usual": {},  # about 88 MB, mostly tie points
    "targets": {"tie_points": 0, "points": 4000, "measurements": 330},  # many measurements per control point
    "points": {"tie_points": 0, "points": 220000, "measurements": 3},  # many control points
    "photos": {"photos": 120000},  # many photos
}
# The generator arguments that a shape sets; the seed and the form switches apply to every shape.
SHAPE_SIZES = ("photos", "photogroups", "points", "measurements", "tie_points", "tie_measurements")
BLOCK_CACHE = "block2gci-bench-blocks"  # the folder of generated blocks in the temporary directory


class Contender:
    def __init__(self, label, command, is_tool, limit=None, checked=None):
        self.label = label
        self.command = command  # the argument list before the input path
        self.is_tool = is_tool
        self.checked = is_tool if checked is None else checked  # its GCI file must equal the reference
        self.limit = limit  # address-space limit in bytes, or None
        self.input = None
        self.output = None
        self.times = []
        self.rss_list = []
        self.cpu_list = []  # user + system seconds of each run
        self.size = 0
        self.checks = 0
        self.mismatches = 0

    @property
    def time(self):
        return min(self.times)

    @property
    def rss(self):
        return max(self.rss_list)

    @property
    def cpu(self):
        return min(self.cpu_list)


def fail(message):
    print(f"run.py: {message}", file=sys.stderr)
    sys.exit(1)


def parse_arguments():
    parser = argparse.ArgumentParser(
        description="Measures block2gci on a large block against a read-once pass, a parser-only load "
        "and an ElementTree converter.",
        epilog="Without BLOCK, a block is generated into the scratch directory from the generator arguments.",
    )
    parser.add_argument("block", nargs="?", help="an existing block file to measure on")
    parser.add_argument(
        "--shapes",
        metavar="LIST",
        help=f"measure on generated blocks of these named shapes, comma-separated ({','.join(SHAPES)}) or all",
    )
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
    parser.add_argument("--read-once", help="the read-once program (default BUILD_DIR/bench/bench_read_once)")
    parser.add_argument("--parse-only", help="the parser-only program (default BUILD_DIR/bench/bench_parse_only)")
    parser.add_argument(
        "--lower-bound", help="the lower-bound program (default BUILD_DIR/bench/bench_lower_bound)"
    )
    parser.add_argument(
        "--emulator",
        help="a command that runs the yardstick programs and the tools, e.g. scripts/wine-run for a Windows build",
    )
    parser.add_argument(
        "--skip",
        action="append",
        default=[],
        choices=sorted(SKIPPABLE),
        help="leave out the parser-only load or the ElementTree converter, which need many times the "
        "block's size in memory, or the lower bound; repeatable",
    )
    parser.add_argument(
        "--limit-as-mib",
        type=int,
        metavar="N",
        help="run the tools (and the emulator, if any) under an address-space limit of N MiB, "
        "as `ulimit -v` does (Linux only)",
    )
    parser.add_argument(
        "--max-read-once-ratio",
        type=float,
        default=3.0,
        help="target: a tool's wall time at most this many times the read-once pass (default %(default)g)",
    )
    parser.add_argument(
        "--max-bound-ratio",
        type=float,
        default=1.0,
        help="target: a tool's wall time at most this many times the lower bound's (default %(default)g)",
    )
    parser.add_argument(
        "--max-rss-mib",
        type=float,
        default=48.0,
        help="target: a tool's peak RSS at most this many MiB (default %(default)g)",
    )
    parser.add_argument("--scratch", help="scratch directory, kept afterwards (default: a temporary one, removed)")
    parser.add_argument(
        "--no-copy",
        action="store_true",
        help="give every contender a symbolic link to the block instead of a copy of it "
        "(the default when the copies would not fit in the scratch directory)",
    )
    group = parser.add_argument_group("generator arguments (without BLOCK)")
    make_block.add_arguments(group)
    args = parser.parse_args()
    if args.runs < 1:
        parser.error("--runs must be at least 1")
    if args.shapes is not None:
        args.shapes = shapes_from(parser, args)
    if args.utf16 and "lower-bound" not in args.skip:
        print("run.py: the lower bound reads UTF-8 only: left out for --utf16", file=sys.stderr)
        args.skip.append("lower-bound")
    if args.max_read_once_ratio <= 0 or args.max_rss_mib <= 0 or args.max_bound_ratio <= 0:
        parser.error("the targets must be positive")
    if args.limit_as_mib is not None:
        if args.limit_as_mib < 1:
            parser.error("--limit-as-mib must be at least 1")
        if not sys.platform.startswith("linux"):
            parser.error(f"--limit-as-mib works on Linux only, not on {sys.platform}")
        import resource

        hard = resource.getrlimit(resource.RLIMIT_AS)[1]
        if hard != resource.RLIM_INFINITY and hard < args.limit_as_mib * MIB:
            parser.error(
                f"--limit-as-mib {args.limit_as_mib} is above this shell's hard limit of {hard // MIB} MiB"
            )
    return parser, args


def shapes_from(parser, args):
    """The shape names that --shapes lists, in its order; a parser error for a wrong list or a clash."""
    names = list(SHAPES) if args.shapes == "all" else [n.strip() for n in args.shapes.split(",") if n.strip()]
    unknown = [n for n in names if n not in SHAPES]
    if not names or unknown:
        parser.error(f"--shapes wants all or names from {', '.join(SHAPES)}, not {args.shapes!r}")
    if args.block:
        parser.error("--shapes generates its blocks: give no BLOCK with it")
    sized = [k for k in SHAPE_SIZES if getattr(args, k) != make_block.DEFAULTS[k]]
    if sized:
        given = ", ".join("--" + k.replace("_", "-") for k in sized)
        parser.error(f"--shapes sets the block sizes: leave out {given}")
    return list(dict.fromkeys(names))


def executable(path, what):
    path = os.path.abspath(path)
    if not (os.path.isfile(path) and os.access(path, os.X_OK)):
        fail(
            f"the {what} {path} is missing or not executable; build it with\n"
            "  cmake --build BUILD_DIR -j2 --target block2gci bench_parse_only bench_read_once bench_lower_bound"
        )
    return path


def contenders_from(parser, args):
    """The contenders in the order of the tables: yardsticks first, ElementTree last."""
    build = os.path.abspath(args.build_dir)
    skipped = {SKIPPABLE[name] for name in args.skip}
    emulator = [executable(args.emulator, "emulator")] if args.emulator else []
    limit = args.limit_as_mib * MIB if args.limit_as_mib is not None else None
    read_once = executable(args.read_once or os.path.join(build, "bench", "bench_read_once"), "read-once program")
    result = [Contender(READ_ONCE, emulator + [read_once], False)]
    if LOWER_BOUND not in skipped:
        bound = executable(args.lower_bound or os.path.join(build, "bench", "bench_lower_bound"), "lower-bound program")
        result.append(Contender(LOWER_BOUND, emulator + [bound], False, checked=True))
    if PARSE_ONLY not in skipped:
        parse_only = executable(
            args.parse_only or os.path.join(build, "bench", "bench_parse_only"), "parser-only program"
        )
        result.append(Contender(PARSE_ONLY, emulator + [parse_only], False))
    tool = executable(args.exe or os.path.join(build, "block2gci"), "tool")
    result.append(Contender(TOOL, emulator + [tool], True, limit))
    for entry in args.tool:
        label, sep, path = entry.partition("=")
        if not sep or not label or not path:
            parser.error(f"--tool wants LABEL=PATH, not {entry!r}")
        result.append(Contender(label, emulator + [executable(path, "tool")], True, limit))
    if ETREE not in skipped:
        result.append(Contender(ETREE, [sys.executable, os.path.join(HERE, "etree_convert.py")], False))
    labels = [c.label for c in result] + sorted(skipped)
    duplicates = sorted({label for label in labels if labels.count(label) > 1})
    if duplicates:
        parser.error(f"labels must differ, also from the yardsticks': {', '.join(duplicates)}")
    return result


def copies_fit(source, count, scratch):
    """Whether `count` copies of `source` fit in the scratch directory's file system, with room to spare."""
    size = os.path.getsize(source)
    return size * count + 64 * MIB <= shutil.disk_usage(scratch).free


def prepare_inputs(contenders, source, scratch, link):
    """Gives every contender its own input path in `scratch`: a copy of `source`, or a link to it.

    The tools write their output beside the path they are given, so a link
    of its own per contender keeps the outputs apart while every contender
    reads the one source file.
    """
    real = os.path.realpath(source)
    for number, contender in enumerate(contenders):
        slug = re.sub(r"[^A-Za-z0-9_-]+", "_", contender.label).strip("_") or "tool"
        contender.input = os.path.join(scratch, f"{number}-{slug}.xml")
        contender.output = os.path.join(scratch, f"{number}-{slug}.gci")
        taken = os.path.realpath(contender.input) == real and not os.path.islink(contender.input)
        if contender.input == source or taken:
            fail(f"the block {source} lies where the runner puts its inputs; choose another --scratch")
        if os.path.lexists(contender.input):
            os.remove(contender.input)  # left by an earlier run in the same --scratch
        if link:
            os.symlink(real, contender.input)
        else:
            shutil.copyfile(source, contender.input)
        contender.size = os.path.getsize(contender.input)


def digest_of(path):
    """The SHA-256 of the file, read in chunks so that the runner stays small (see launch_floor)."""
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(MIB), b""):
            digest.update(chunk)
    return digest.hexdigest()


def runner_address_space():
    """The runner's own address space in bytes (VmSize), or None where /proc does not tell."""
    try:
        with open("/proc/self/status") as f:
            for line in f:
                if line.startswith("VmSize:"):
                    return int(line.split()[1]) * 1024
    except (OSError, ValueError, IndexError):
        pass
    return None


def limit_needs_fork(limit):
    """Whether `limit` is too close to the runner's own size to be set on the runner for a moment (see spawn)."""
    own = runner_address_space()
    return own is None or own + 256 * MIB > limit


def spawn(command, log, cwd, limit):
    """Starts `command`, under an address space of `limit` bytes when a limit is given.

    The limit is set on the runner itself for the moment of the start, and
    the child inherits it, rather than in a preexec_fn: a preexec_fn makes
    subprocess fork the runner instead of vforking it, which costs about 10
    ms a start on a virtual machine, counted against the limited tools
    alone, and lowers their peak RSS floor (see launch_floor). Only the soft
    limit is lowered, so that the runner can lift it again; the tool never
    raises its own. A limit too close to the runner's own size would leave
    the runner itself no room, so it is set in a preexec_fn then, and the
    report says so.
    """
    if limit is None:
        return subprocess.Popen(command, stdout=log, stderr=log, cwd=cwd)
    import resource

    if limit_needs_fork(limit):

        def apply():
            resource.setrlimit(resource.RLIMIT_AS, (limit, limit))

        return subprocess.Popen(command, stdout=log, stderr=log, cwd=cwd, preexec_fn=apply)
    saved = resource.getrlimit(resource.RLIMIT_AS)
    resource.setrlimit(resource.RLIMIT_AS, (limit, saved[1]))
    try:
        return subprocess.Popen(command, stdout=log, stderr=log, cwd=cwd)
    finally:
        resource.setrlimit(resource.RLIMIT_AS, saved)


def run_once(contender, scratch):
    """Runs the contender once; returns (wall seconds, peak RSS bytes, GCI digest or None, CPU seconds)."""
    if os.path.exists(contender.output):
        os.remove(contender.output)  # a failing run must not pass on an earlier output
    log_path = os.path.join(scratch, "last-run.log")
    command = contender.command + [contender.input]
    with open(log_path, "wb") as log:
        start = time.perf_counter()
        try:
            child = spawn(command, log, scratch, contender.limit)
        except (OSError, subprocess.SubprocessError) as e:
            fail(f"{contender.label} could not be started: {e}\n  " + " ".join(command))
        _, status, usage = os.wait4(child.pid, 0)
        elapsed = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)  # reaped here, not by Popen
    if child.returncode != 0:
        with open(log_path, "rb") as log:
            text = log.read().decode(errors="replace").strip()
        limited = f" under an address-space limit of {contender.limit // MIB} MiB" if contender.limit else ""
        fail(
            f"{contender.label} failed{limited} with exit status {child.returncode}:\n  "
            + " ".join(command)
            + "\n"
            + text
        )
    digest = None
    if contender.checked or contender.label == ETREE:
        if not os.path.exists(contender.output):
            fail(f"{contender.label} wrote no {os.path.basename(contender.output)} (a block without control points?)")
        digest = digest_of(contender.output)
    # ru_maxrss is in KiB on Linux, in bytes on macOS.
    rss = usage.ru_maxrss if sys.platform == "darwin" else usage.ru_maxrss * 1024
    return elapsed, rss, digest, usage.ru_utime + usage.ru_stime


def launch_floor(scratch):
    """The peak RSS that a child launched by this runner reports when it does nothing.

    Linux carries the high-water mark of the memory a child had before its
    exec over into its ru_maxrss. subprocess vforks the runner, so that
    mark is the runner's own peak: a child reports the larger of that peak
    and its own, so figures at this floor say only that the child stayed
    below it. Larger figures are the child's own.
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


class Reference:
    """The output every tool must write: its digest, its source and where a copy of it lies."""

    def __init__(self, digest, label, path):
        self.digest = digest
        self.label = label
        self.path = path

    @property
    def description(self):
        if self.label == ETREE:
            return "the ElementTree output"
        return f"the warm-up output of {self.label} (ElementTree left out)"


def check_output(contender, digest, reference, scratch):
    contender.checks += 1
    if digest == reference.digest:
        return
    contender.mismatches += 1
    if contender.mismatches == 1:
        kept = os.path.join(scratch, f"MISMATCH-{os.path.basename(contender.output)}")
        shutil.copyfile(contender.output, kept)
        loud(
            f"MISMATCH: the GCI file of {contender.label} differs from {reference.description}.\n"
            f"Kept as {kept}; compare it with {reference.path}."
        )


def measure(contenders, runs, scratch):
    """Runs the warm-up round and the measured rounds; returns the reference."""
    labels = [c.label for c in contenders]
    source = ETREE if ETREE in labels else next(c.label for c in contenders if c.is_tool)
    print(f"warm-up round, taking the reference output from {source} ...", file=sys.stderr)
    # The reference first, so that a failing converter stops the run early.
    order = sorted(contenders, key=lambda c: c.label != source)
    digests = {c.label: run_once(c, scratch)[2] for c in order}
    kept = os.path.join(scratch, "reference.gci")
    shutil.copyfile(next(c for c in contenders if c.label == source).output, kept)
    reference = Reference(digests[source], source, kept)
    for contender in contenders:
        if contender.checked and contender.label != source:
            check_output(contender, digests[contender.label], reference, scratch)
    for run in range(1, runs + 1):
        figures = []
        for contender in contenders:  # round-robin: noise hits every contender alike
            elapsed, rss, digest, cpu = run_once(contender, scratch)
            contender.times.append(elapsed)
            contender.rss_list.append(rss)
            contender.cpu_list.append(cpu)
            if contender.checked:
                check_output(contender, digest, reference, scratch)
            figures.append(f"{contender.label} {elapsed:.3f} s")
        print(f"run {run}/{runs}: " + ", ".join(figures), file=sys.stderr)
    return reference


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


def ratio(numerator, denominator):
    return f"{numerator / denominator:.2f}" if denominator else DASH


def bound_rss_limit(bound):
    """A tool's peak RSS target in MiB: 1.5 × the lower bound's, plus 16 MiB for what Qt Core costs at start."""
    return 1.5 * bound.rss / MIB + 16.0


def output_result(c):
    if c.checks == 0:
        return "is the reference"
    if c.mismatches == 0:
        return "PASS"
    return f"MISMATCH in {c.mismatches} of {c.checks} runs"


def report(contenders, args, source, reference, inputs, floor):
    by_label = {c.label: c for c in contenders}
    read_once = by_label[READ_ONCE]
    parse_only = by_label.get(PARSE_ONLY)
    etree = by_label.get(ETREE)
    bound = by_label.get(LOWER_BOUND)
    size = read_once.size
    runs = args.runs
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    print(f"Block: {source}, {size} bytes ({size / 1e6:.1f} MB); {runs} runs each; {now}")
    print(f"Machine: {machine()}")
    print()
    print(
        f"| contender | min wall s | min CPU s | MB/s | peak RSS MiB | time / {LOWER_BOUND} | time / {READ_ONCE} "
        f"| time / {PARSE_ONLY} |"
    )
    print("|---|---:|---:|---:|---:|---:|---:|---:|")
    for c in contenders:
        against_parse = ratio(c.time, parse_only.time) if parse_only else DASH
        against_bound = ratio(c.time, bound.time) if bound else DASH
        print(
            f"| {c.label} | {c.time:.3f} | {c.cpu:.3f} | {size / 1e6 / c.time:.1f} | {c.rss / MIB:.1f} | {against_bound} | "
            f"{ratio(c.time, read_once.time)} | {against_parse} |"
        )
    print()
    limit_rss = args.max_rss_mib
    limit_read = args.max_read_once_ratio
    print("| target | contender | figure | limit | result |")
    print("|---|---|---:|---:|---|")
    for c in contenders:
        if c.label == LOWER_BOUND:
            print(f"| GCI output equals {reference.description} | {c.label} | | | {output_result(c)} |")
        if not c.is_tool:
            continue
        rows = [
            (f"tool wall time / {LOWER_BOUND}", c.time / bound.time if bound else None, "<=", args.max_bound_ratio),
            (
                f"tool peak RSS MiB, limit 1.5 × {LOWER_BOUND}'s + 16",
                c.rss / MIB if bound else None,
                "<=",
                bound_rss_limit(bound) if bound else 0.0,
            ),
            (f"tool wall time / {READ_ONCE}", c.time / read_once.time, "<=", limit_read),
            ("tool peak RSS MiB", c.rss / MIB, "<=", limit_rss),
            (f"{ETREE} wall time / tool wall time", etree.time / c.time if etree else None, ">=", 35.0),
        ]
        for description, value, comparison, limit in rows:
            if value is None:
                print(f"| {description} | {c.label} | {DASH} | {comparison} {limit:.4g} | {DASH} |")
                continue
            met = value <= limit if comparison == "<=" else value >= limit
            print(f"| {description} | {c.label} | {value:.2f} | {comparison} {limit:.4g} | {'PASS' if met else 'FAIL'} |")
        print(f"| GCI output equals {reference.description} | {c.label} | | | {output_result(c)} |")
    print()
    for c in contenders:
        limited = ""
        if c.limit is not None:
            limited = f" (under an address-space limit of {c.limit // MIB} MiB"
            if limit_needs_fork(c.limit):
                limited += ", set in a forked child: its times include the fork, some ms a start"
            limited += ")"
        print(f"- {c.label}: {' '.join(c.command)}{limited}")
    for name in args.skip:
        print(f"- {SKIPPABLE[name]}: left out (--skip {name})")
    print(f"- reference output: {reference.description}")
    print(f"- inputs: {inputs}")
    print("- MB/s in 10^6 bytes per second; peak RSS in MiB of 2^20 bytes")
    if floor is not None:
        print(
            f"- peak RSS floor: {floor / MIB:.1f} MiB, what a child that does nothing reports "
            "(the runner's own peak); a figure at the floor only says the child stayed below it"
        )
    sys.stdout.flush()


def generated_name(options):
    parts = [f"{k}={v}" for k, v in options.items() if k not in make_block.SWITCHES]
    parts += [k.replace("_", "-") for k in make_block.SWITCHES if options[k]]
    return "generated block (" + ", ".join(parts) + ")"


def generated_block(options, directory):
    """The path of the block that make_block.py writes for `options`, kept in `directory`.

    The file name holds the arguments and a digest of the generator, so that
    a later run with the same arguments finds the block again and a changed
    generator makes a new one. It is written under another name and renamed
    when complete, so that an interrupted run leaves no partial block behind
    to be taken for a whole one.
    """
    with open(os.path.join(HERE, "make_block.py"), "rb") as f:
        generator_digest = hashlib.sha256(f.read()).hexdigest()[:12]
    parts = []
    for key, value in options.items():
        if key not in make_block.SWITCHES:
            parts.append(f"{key}{value}".replace("_", "-"))
        elif value:
            parts.append(key.replace("_", "-"))
    path = os.path.join(directory, f"block_{'_'.join(parts)}_{generator_digest}.xml")
    if os.path.isfile(path):
        print(f"reusing {path}", file=sys.stderr)
        return path
    os.makedirs(directory, exist_ok=True)
    partial = f"{path}.{os.getpid()}.part"
    print(f"generating {path} with {options} ...", file=sys.stderr)
    # In a child, so that the runner stays small: see launch_floor.
    generator = [sys.executable, os.path.join(HERE, "make_block.py"), partial] + make_block.command_line(options)
    try:
        if subprocess.run(generator, stdout=subprocess.DEVNULL).returncode != 0:
            fail("the generator failed")
        os.replace(partial, path)
    finally:
        if os.path.exists(partial):
            os.remove(partial)
    return path


def measure_block(parser, args, source, shown, scratch):
    """Measures every contender on the block `source` and prints its tables; returns the contenders."""
    contenders = contenders_from(parser, args)
    link = args.no_copy
    if not link and not copies_fit(source, len(contenders), scratch):
        print(
            f"run.py: {len(contenders)} copies of {source} would not fit in {scratch}; "
            "every contender reads it through a link of its own instead",
            file=sys.stderr,
        )
        link = True
    prepare_inputs(contenders, source, scratch, link)
    inputs = (
        f"a symbolic link per contender in {scratch} to {source}"
        if link
        else f"a copy of the block per contender in {scratch}"
    )
    reference = measure(contenders, args.runs, scratch)
    report(contenders, args, shown, reference, inputs, launch_floor(scratch))
    if any(c.mismatches for c in contenders):
        loud(f"MISMATCH: at least one tool wrote a GCI file that differs from {reference.description}.")
    return contenders


def report_summary(measured, runs):
    """The tools on every shape: `measured` holds (shape, contenders) in the order they ran."""
    print(f"## Summary: {runs} runs each")
    print()
    print(
        f"| shape | MB | {READ_ONCE} s | contender | min wall s | min CPU s | peak RSS MiB | time / {LOWER_BOUND} "
        f"| time / {READ_ONCE} |"
    )
    print("|---|---:|---:|---|---:|---:|---:|---:|---:|")
    for shape, contenders in measured:
        read_once = next(c for c in contenders if c.label == READ_ONCE)
        bound = next((c for c in contenders if c.label == LOWER_BOUND), None)
        first = f"| {shape} | {read_once.size / 1e6:.1f} | {read_once.time:.3f} "
        for c in (c for c in contenders if c.is_tool or c is bound):
            against_bound = ratio(c.time, bound.time) if bound else DASH
            print(
                f"{first}| {c.label} | {c.time:.3f} | {c.cpu:.3f} | {c.rss / MIB:.1f} | {against_bound} | "
                f"{ratio(c.time, read_once.time)} |"
            )
            first = "| | | "
    print()
    sys.stdout.flush()


def main():
    parser, args = parse_arguments()
    contenders_from(parser, args)  # checks the programs before any block is generated
    scratch = os.path.abspath(args.scratch) if args.scratch else tempfile.mkdtemp(prefix="block2gci-bench-")
    os.makedirs(scratch, exist_ok=True)
    blocks_dir = scratch if args.scratch else os.path.join(tempfile.gettempdir(), BLOCK_CACHE)
    measured = []  # (shape or None, contenders), in the order measured
    try:
        if args.block:
            source = os.path.abspath(args.block)
            if not os.path.isfile(source):
                fail(f"no such block file: {source}")
            measured.append((None, measure_block(parser, args, source, source, scratch)))
        else:
            base = make_block.options_from(args)
            for shape in args.shapes or [None]:
                options = {**base, **SHAPES[shape]} if shape else base
                source = generated_block(options, blocks_dir)
                shown = source if args.scratch else generated_name(options)
                if shape:
                    print(f"## Shape {shape}")
                    print()
                measured.append((shape, measure_block(parser, args, source, shown, scratch)))
                print()
        if args.shapes:
            report_summary(measured, args.runs)
        return 1 if any(c.mismatches for _, contenders in measured for c in contenders) else 0
    finally:
        if args.scratch:
            pass
        elif any(c.mismatches for _, contenders in measured for c in contenders):
            print(f"run.py: the scratch directory {scratch} is kept for a look at the mismatch", file=sys.stderr)
        else:
            shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
