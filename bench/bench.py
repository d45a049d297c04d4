#!/usr/bin/env python3
"""Measures a batch run: models per second, system calls per model and peak
resident memory. It generates its models with the project's own model
generator in a scratch directory (on /dev/shm when there is one) and runs
the release build there with no terminal. A run with no models is timed
against a C program that does nothing, built with the system's cc. The
largest tag count the format
stores is converted for real, under a 600 MB address-space limit, as a
sparse model of 2 GiB (its tag file takes 2 GiB of the scratch space for a
moment).

    python3 bench/bench.py                  # build into build-bench, 20,000 models
    python3 bench/bench.py --build build    # use an existing build folder
"""
import argparse
import os
import platform
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CLAIMED_TAGS = 2_000_000_000
LARGEST_TAGS = 19_173_960
ADDRESS_SPACE_LIMIT = 600_000 * 1024


def build(folder):
    subprocess.run(["cmake", "-S", ROOT, "-B", folder,
                    "-DCMAKE_BUILD_TYPE=Release"], check=True,
                   stdout=subprocess.DEVNULL)
    subprocess.run(["cmake", "--build", folder, "-j2", "--target",
                    "tagbatch", "modelgen"], check=True,
                   stdout=subprocess.DEVNULL)


def spawn(command, directory, address_space=None):
    """Starts `command` in `directory` as the program is run in a script:
    a new session, no terminal, standard input empty, output discarded;
    with `address_space` bytes at most, when given."""
    def limit():
        if address_space is not None:
            resource.setrlimit(resource.RLIMIT_AS,
                               (address_space, address_space))
    return subprocess.Popen(command, cwd=directory, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True,
                            preexec_fn=limit)


def timed_run(program, directory):
    start = time.perf_counter()
    if spawn([program], directory).wait() != 0:
        sys.exit("bench: the program failed")
    return time.perf_counter() - start


def peak_memory_kib(program, directory, address_space=None):
    """Peak resident memory of one run in KiB, from GNU time when there is
    one. Without it the figure comes from the forked child, whose peak
    includes what the benchmark itself had before the exec."""
    gnu_time = "/usr/bin/time"
    if os.access(gnu_time, os.X_OK):
        with tempfile.NamedTemporaryFile("r") as report:
            if spawn([gnu_time, "-f", "%M", "-o", report.name, program],
                     directory, address_space).wait() != 0:
                sys.exit("bench: the program failed")
            return int(report.read().split()[-1])
    process = spawn([program], directory, address_space)
    _, status, usage = os.wait4(process.pid, 0)
    process.returncode = status
    if status != 0:
        sys.exit("bench: the program failed")
    return usage.ru_maxrss


def system_calls(program, directory):
    """All system calls of one run, counted by strace, or None without it."""
    strace = shutil.which("strace")
    if strace is None:
        return None
    with tempfile.NamedTemporaryFile("r") as report:
        spawn([strace, "-c", "-f", "-o", report.name, program],
              directory).wait()
        for line in report:
            fields = line.split()
            if fields and fields[-1] == "total":
                return int(fields[3])
    return None


def null_program(directory):
    """A C program that does nothing, built with the system's cc: the floor
    that a start of the program is measured against."""
    source = os.path.join(directory, "null.c")
    binary = os.path.join(directory, "null")
    with open(source, "w") as out:
        out.write("int main(void) { return 0; }\n")
    subprocess.run(["cc", "-O2", "-o", binary, source], check=True)
    return binary


def startup_ratio(program, null, directory, pairs=40):
    """The median time of a run with no models over that of the null
    program, from `pairs` runs of each taken in turn."""
    timed_run(program, directory)
    timed_run(null, directory)
    ours, floor = [], []
    for _ in range(pairs):
        ours.append(timed_run(program, directory))
        floor.append(timed_run(null, directory))
    return statistics.median(ours) / statistics.median(floor), \
        statistics.median(ours), statistics.median(floor)


def machine():
    cpu = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as info:
            for line in info:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return f"{cpu}, {os.cpu_count()} cores, {platform.system()} {platform.release()}"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--models", type=int, default=20000)
    parser.add_argument("--runs", type=int, default=5,
                        help="timed runs after the warm-up")
    parser.add_argument("--build", help="an existing build folder to use")
    args = parser.parse_args()

    folder = os.path.abspath(args.build or os.path.join(ROOT, "build-bench"))
    if args.build is None:
        build(folder)
    program = os.path.join(folder, "tagbatch")
    modelgen = os.path.join(folder, "tests", "modelgen")

    scratch_base = "/dev/shm" if os.path.isdir("/dev/shm") else None
    with tempfile.TemporaryDirectory(prefix="tagbatch-bench.",
                                     dir=scratch_base) as scratch:
        many, one, none, claim, largest, empty = (
            os.path.join(scratch, name) for name in
            ("many", "one", "none", "claim", "largest", "empty"))
        for directory in (many, one, none, claim, largest, empty):
            os.mkdir(directory)
        subprocess.run([modelgen, "batch", many, str(args.models)], check=True)
        subprocess.run([modelgen, "batch", one, "1"], check=True)
        subprocess.run([modelgen, "large", none, "0"], check=True)
        subprocess.run([modelgen, "claim", claim, str(CLAIMED_TAGS)],
                       check=True)
        subprocess.run([modelgen, "large", largest, str(LARGEST_TAGS)],
                       check=True)

        # The first run writes new tag files; every later one replaces them.
        first_calls = system_calls(program, many)
        timed_run(program, many)  # Warm-up.
        times = [timed_run(program, many) for _ in range(args.runs)]
        rate = args.models / statistics.median(times)

        calls = system_calls(program, many)
        startup = system_calls(program, empty)
        ratio, empty_run, null_run = startup_ratio(
            program, null_program(scratch), empty)
        memory = {name: peak_memory_kib(program, directory)
                  for name, directory in (("one", one), ("many", many),
                                          ("none", none), ("claim", claim))}
        start = time.perf_counter()
        memory["largest"] = peak_memory_kib(program, largest,
                                            ADDRESS_SPACE_LIMIT)
        largest_seconds = time.perf_counter() - start
        tag_file = os.path.join(largest, "large.tag")
        if os.path.getsize(tag_file) != 16 + 112 * LARGEST_TAGS:
            sys.exit("bench: the largest model was not converted completely")
        os.unlink(tag_file)

    print(f"machine: {machine()}")
    print(f"models: {args.models} (1 to 7 frames, 0 to 4 tags) in "
          f"{scratch_base or tempfile.gettempdir()}")
    print(f"speed: {rate:,.0f} models/s (median of {args.runs} runs after a "
          f"warm-up; {', '.join(f'{t * 1000:.0f} ms' for t in times)})")
    print(f"start: a run with no models takes {ratio:.2f} times as long as "
          f"a C program that does nothing ({empty_run * 1000:.2f} ms against "
          f"{null_run * 1000:.2f} ms, medians of 40 runs each, in turn)")
    if calls is None or first_calls is None or startup is None:
        print("system calls: not counted (strace is not installed)")
    else:
        print(f"system calls: {(calls - startup) / args.models:.2f} per model "
              f"over existing tag files ({calls} in all), "
              f"{(first_calls - startup) / args.models:.2f} over new ones "
              f"({first_calls}); {startup} for a run with no models")
    print(f"peak resident memory: 1 model {memory['one']} KiB, "
          f"{args.models} models {memory['many']} KiB, "
          f"a model with no tags {memory['none']} KiB, "
          f"a model claiming {CLAIMED_TAGS:,} tags {memory['claim']} KiB")
    print(f"largest tag count: {LARGEST_TAGS:,} tags (2 GiB) converted "
          f"completely in {largest_seconds:.1f} s under a "
          f"{ADDRESS_SPACE_LIMIT // 1024:,} KiB address-space limit, "
          f"peak resident memory {memory['largest']} KiB")


if __name__ == "__main__":
    main()
