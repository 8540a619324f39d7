"""pravikctl's tool commands against simulated devices: what they print, their exit status, their
report, and what they leave in the files and devices they were given."""
import fcntl
import glob
import os
import signal

import clibench

NOTE = "goes on to its end"  # what Ctrl-C during a motor transfer is answered with


class ToolsTest(clibench.BenchTest):

    def tool(self, bench, status, *args):
        """Runs a tool command with a report; returns its output and its one step."""
        path = bench.path("report.json")
        result = bench.run("--report", path, *args)
        self.assertExit(result, status)
        steps = self.report(path, status)["steps"]
        self.assertEqual(len(steps), 1)
        return result, steps[0]

    def started(self, bench, marker, *args):
        """pravikctl started with a report, once it has printed a line with marker."""
        process = bench.start("--report", bench.path("stopped.json"), *args)
        self.addCleanup(process.kill)
        for line in process.stdout:
            if marker in line:
                return process
        self.fail(f"{args} ended without printing {marker!r}: {process.stderr.read()}")

    def interrupted(self, bench, process):
        """Ctrl-C to process; returns the rest of its output and its one step, checking that it
        exited 130."""
        process.send_signal(signal.SIGINT)
        out, err = process.communicate(timeout=60)
        self.assertEqual(process.returncode, 130, out + err)
        return out + err, self.report(bench.path("stopped.json"), 130)["steps"][0]

    def step_passed(self, step, name, value):
        self.assertEqual((step["name"], step["result"], step["value"], step["error"]),
                         (name, "passed", value, None))

    def test_omega_settings_go_to_a_file_and_back_and_ctrl_c_leaves_the_file_alone(self):
        bench = self.bench("omega=COM4", sim_args=("--pace",))

        def save(path):
            result, step = self.tool(bench, 0, "omega", "save", path, "--port", "COM4")
            self.step_passed(step, "omega-save", path)
            self.assertIn("Getting Temperature Setpoint 1 ...", result.stdout)
            with open(path, encoding="latin-1", newline="") as saved:
                return saved.read()

        first = bench.path("first.txt")
        original = save(first)
        lines = original.split("\r\n")
        self.assertEqual((lines[0], lines[-1], len(lines)),
                         ("Reg\tValue\t\tDescription", "End of file", 2 + 37))
        self.assertRegex(lines[2], r"^0x02\t0x[0-9A-F]{6}\tTemperature Setpoint 2$")
        # A built-in configuration changes what a save finds; the first file brings it all back.
        for source, same in ((("--config", "RTD (Heat+Cool) Filterwheel"), False),
                             (("--file", first), True)):
            with self.subTest(source=source):
                result, step = self.tool(bench, 0, "omega", "reset", *source, "--port", "COM4")
                self.step_passed(step, "omega-reset", f"{source[1]} written, controller restarted")
                self.assertIn("Resetting Controller", result.stdout)
                self.assertEqual(save(bench.path("again.txt")) == original, same)

        # Held by another program: nothing to talk to.
        held = os.open(os.path.join(bench.ports, "COM4"), os.O_RDWR | os.O_NOCTTY | os.O_NONBLOCK)
        fcntl.flock(held, fcntl.LOCK_EX)
        result, step = self.tool(bench, 2, "omega", "save", first, "--port", "COM4")
        os.close(held)
        self.assertEqual(step["failure_kind"], "busy")
        self.assertIn("in use", step["error"])

        # Ctrl-C half-way through a save at the line's pace: it stops before the next register,
        # and the file saved earlier stays as it was.
        earlier = original.replace("0x", "0X")
        with open(first, "w", encoding="latin-1", newline="") as file:
            file.write(earlier)
        process = self.started(bench, "Getting", "omega", "save", first, "--port", "COM4")
        _, step = self.interrupted(bench, process)
        self.assertEqual((step["result"], step["error"]), ("failed", "Cancelled."))
        with open(first, encoding="latin-1", newline="") as kept:
            self.assertEqual(kept.read(), earlier)
        self.assertEqual(save(first), original, "the port is free again")

    def test_threshold_is_read_stored_and_searched_for_and_a_search_stops_at_ctrl_c(self):
        bench = self.bench("shutter30=COM5", sim_args=("--light", str(0x1003)))

        def thresholds():
            result, step = self.tool(bench, 0, "threshold", "get", "--port", "COM5")
            self.assertIn("Saved Threshold: ", result.stdout)
            return step["value"]

        for args, value, found in ((("set", "0x0A00"), "0x0A00 saved", "0x0A00"),
                                   (("set", "A01"), "0x0A01 saved", "0x0A01"),
                                   (("search",), "0x1003", "0x1003")):
            with self.subTest(args=args):
                result, step = self.tool(bench, 0, "threshold", *args, "--port", "COM5")
                self.step_passed(step, "threshold-" + args[0], value)
                self.assertEqual(thresholds(), f"saved {found}, active {found}")
        self.assertIn("Threshold setting was found (0x1003)", result.stdout)

        # In much more light the last phase of a search goes a long way, one count at a time.
        bench = self.bench("shutter30=COM5", sim_args=("--light", str(0x3000)))
        before = thresholds()
        process = self.started(bench, "1 count steps", "threshold", "search", "--port", "COM5")
        result, step = self.tool(bench, 2, "threshold", "get", "--port", "COM5")
        self.assertEqual(step["failure_kind"], "busy")
        _, step = self.interrupted(bench, process)
        self.assertEqual((step["result"], step["error"]), ("failed", "Cancelled."))
        self.assertEqual(thresholds(), before, "the saved threshold reloaded, the port free")

    def test_motor_program_is_backed_up_and_loaded_only_when_agreed_and_always_whole(self):
        bench = self.bench("motor=COM3", sim_args=("--pace",))
        old = bench.path("old.sms")
        result, step = self.tool(bench, 0, "motor", "backup", old, "--port", "COM3")
        with open(old, "rb") as backup:
            stored = backup.read()
        self.step_passed(step, "motor-backup", f"{old} ({len(stored)} bytes)")
        self.assertIn("Backing up current program...", result.stdout)

        folder = bench.path("fw")
        os.mkdir(folder)
        program = os.path.join(folder, "new.smx")
        with open(program, "wb") as new:
            new.write(bytes(range(1, 200)))
        question = f"Load {program} into the motor on COM3? [y/N]"
        # Not agreed: nothing is loaded, nor backed up beside the file.
        status, output = bench.run_on_terminal("motor", "load", program, "--port", "COM3",
                                               answer="n")
        self.assertEqual(status, 1, output)
        self.assertIn(question, output)
        result = bench.run("motor", "load", program, "--port", "COM3")
        self.assertExit(result, 64)
        self.assertIn("--yes", result.stderr)
        self.assertEqual(os.listdir(folder), ["new.smx"])

        result, step = self.tool(bench, 0, "motor", "load", program, "--port", "COM3", "--yes")
        self.assertIn("Download complete!", result.stdout)
        [backup] = glob.glob(os.path.join(folder, "Backup *.sms"))
        self.step_passed(step, "motor-load",
                         f"199 bytes loaded, the old program backed up to {backup}")
        with open(backup, "rb") as saved:
            self.assertEqual(saved.read(), stored)
        os.remove(backup)  # a backup's name tells the second: the next load may come within it

        # Ctrl-C in the middle of a download: it is said to go on, and it does.
        with open(program, "wb") as new:
            new.write(bytes(range(200, 255)) * 20)
        process = self.started(bench, "Downloading", "motor", "load", program, "--port", "COM3",
                               "--yes")
        output, step = self.interrupted(bench, process)
        self.assertIn("Download complete!", output)
        self.assertEqual(output.count(NOTE), 1)
        self.assertEqual(step["result"], "passed")
        copy = bench.path("copy.sms")
        self.tool(bench, 0, "motor", "backup", copy, "--port", "COM3")
        with open(copy, "rb") as loaded:
            self.assertEqual(loaded.read(), bytes(range(200, 255)) * 20)

    def test_bad_input_is_refused_before_any_port_is_opened(self):
        bench = self.bench()  # every port leads nowhere: a command that got that far would say 2
        fifo, folder, present = bench.path("fifo"), bench.path("folder"), bench.path("present")
        os.mkfifo(fifo)
        os.mkdir(folder)
        open(present, "w", encoding="ascii").close()
        missing = bench.path("missing")
        # The arguments, the one named in the error, and whether a report says why.
        cases = [*[(("omega", "reset", "--file", path), "--file", True)
                   for path in (missing, fifo, folder)],
                 *[(("motor", "load", path, "--yes"), "file", True) for path in (missing, fifo)],
                 (("motor", "backup", present), "file", True),
                 (("omega", "save", os.path.join(missing, "x.txt")), "file", True),
                 (("omega", "save", fifo), "file", True),
                 *[(("threshold", "set", value), "value", False)
                   for value in ("0x1000", "0x03FF", "0x0G00", "")]]
        for args, argument, reported in cases:
            with self.subTest(args=args):
                report = bench.path("refused.json")
                result = bench.run("--report", report, *args, "--port", "COM7", timeout=30)
                self.assertExit(result, 64)
                self.assertEqual(result.stderr.count("\n"), 1, result.stderr)
                self.assertTrue(result.stderr.startswith(f"pravikctl: {argument}"), result.stderr)
                self.assertEqual(os.path.exists(report), reported)
                if reported:
                    step = self.report(report, 64)["steps"][0]
                    self.assertEqual((step["result"], step["error"]),
                                     ("failed", result.stderr[11:].strip()))
                    os.remove(report)


if __name__ == "__main__":
    clibench.main()
