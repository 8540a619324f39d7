#!/usr/bin/env python3
"""Reads a shutter controller's state over and over, the way a bench technician would script it
with pyserial, and prints how long each exchange took.

usage: shutter_state.py PORT COUNT [WARMUP]

One exchange writes "#0R" and reads the two-byte answer, the state (0 closed, 1 open) and its
complement, which must add up to 0xFF. The first WARMUP exchanges are not timed. Each timed
exchange runs from just before the write to just after the check, so the interpreter's start-up,
the import and the opening of the port are not in the figures, as they are not in those of the
program it is compared with.

Output, for the benchmark that runs it:
    failures=N state=S            (S: the state of the last good answer, -1 if none)
    samples_ns=T1 T2 ...          (one per good timed exchange, in nanoseconds)
Exits 1 when an exchange failed.
"""

import sys
import time

import serial

# A dead line must not hold the benchmark for COUNT times the read time-out.
GIVE_UP_AFTER = 5


def main(argv):
    if len(argv) not in (3, 4):
        print("usage: shutter_state.py PORT COUNT [WARMUP]", file=sys.stderr)
        return 2
    port = argv[1]
    count = int(argv[2])
    warmup = int(argv[3]) if len(argv) == 4 else 0

    samples = []
    failures = 0
    in_a_row = 0
    state = -1
    with serial.Serial(port, 9600, timeout=2) as line:
        for i in range(warmup + count):
            start = time.perf_counter_ns()
            line.write(b"#0R")
            reply = line.read(2)
            good = len(reply) == 2 and (reply[0] + reply[1]) & 0xFF == 0xFF
            end = time.perf_counter_ns()
            if not good:
                failures += 1
                in_a_row += 1
                if in_a_row >= GIVE_UP_AFTER:
                    break
                # A late half of this answer must not be taken for the next one.
                line.reset_input_buffer()
                continue
            in_a_row = 0
            state = reply[0]
            if i >= warmup:
                samples.append(end - start)

    print(f"failures={failures} state={state}")
    print("samples_ns=" + " ".join(str(s) for s in samples))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
