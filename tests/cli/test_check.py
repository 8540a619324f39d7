"""pravikctl's ports, identify and check commands against simulated benches."""
import fcntl
import json
import os
import re
import signal
import subprocess

import clibench

MULTI_STEPS = ["connect", "identity", "shutter-open", "shutter-close", "filter-start",
               *[f"filter-{n}" for n in range(1, 7)], "filter-back", "light-sensor",
               "temperature", "setpoint", "reset"]


class CheckTest(clibench.BenchTest):
    def test_every_instrument_passes_with_its_report(self):
        for motor, program, controller in [("motor", "current", "omega"),
                                           ("motor-legacy", "legacy", "athena"),
                                           ("motor", "current", "athena")]:
            with self.subTest(motor=motor, controller=controller):
                bench = self.bench(f"{motor}=COM3", f"{controller}=COM4")
                report, junit = bench.path("r.json"), bench.path("r.xml")
                result = bench.run("--report", report, "--junit", junit, "check",
                                   "--instrument", "multi", "--motor", "COM3", "--controller",
                                   "4", "--motor-program", program, "--controller-kind",
                                   controller, "--setpoint", "31.5")
                self.assertExit(result, 0)
                lines = result.stdout.splitlines()
                self.assertEqual([line.split()[:2] for line in lines[1:-1]],
                                 [[step, "PASS"] for step in MULTI_STEPS])
                self.assertRegex(result.stdout, r"31\.5 written, 31\.[05] read back")
                doc = self.report(report, 0)
                self.assertEqual([s["name"] for s in doc["steps"]], MULTI_STEPS)
                self.assertEqual([p["port"] for p in doc["ports"]], ["COM3", "COM4"])
                self.assertRegex(doc["ports"][0]["device"], r"^pts/\d+$")
                self.assertEqual(doc["instrument"]["filters"], 6)
                cases, failures = self.junit(junit)
                self.assertEqual((len(cases), failures), (len(MULTI_STEPS), 0))
        for generation, kind in [("3.0", "shutter30"), ("2.6", "shutter26"),
                                 ("legacy", "shutter-legacy")]:
            with self.subTest(shutter=generation):
                bench = self.bench(f"{kind}=COM5")
                result = bench.run("--report", bench.path("r.json"), "check", "--instrument",
                                   "single", "--port", "COM5", "--shutter-generation", generation,
                                   "--skip", "identity" if generation == "legacy" else "reset",
                                   "--verbose")
                self.assertExit(result, 0)
                if generation == "3.0":
                    # Its binary replies end in no carriage return: shown with their step,
                    # paired with their command and read.
                    self.assertRegex(result.stdout, r"COM5 << \[0x01\]\[0xFE\] \[partial\]  "
                                     r"\+\d+\.\d ms  shutter open\nshutter-open ")
                doc = self.report(bench.path("r.json"), 0)
                results = {s["name"]: s["result"] for s in doc["steps"]}
                self.assertEqual(results["shutter-open"], "passed")
                self.assertEqual(results["filters"], "skipped")

    def test_steps_chosen_and_traffic_shown(self):
        bench = self.bench("motor=COM3", "omega=COM4")
        result = bench.run("check", "--instrument", "multi", "--motor", "COM3", "--controller",
                           "COM4", "--only", "shutter,filters", "--filters", "2", "--verbose")
        self.assertExit(result, 0)
        steps = [line.split()[0] for line in result.stdout.splitlines()
                 if line.split()[1:2] == ["PASS"]]
        self.assertEqual(steps, ["connect", "shutter-open", "shutter-close", "filter-start",
                                 "filter-1", "filter-2", "filter-back"])
        self.assertIn("COM3 >> GOSUB4", result.stdout)
        self.assertIn("COM3 << ", result.stdout)
        self.assertNotIn("\x1b[", result.stdout, "no escapes where stdout is no terminal")
        status, output = bench.run_on_terminal("check", "--instrument", "multi", "--motor",
                                               "COM3", "--controller", "COM4", "--only",
                                               "light-sensor", "--verbose")
        self.assertEqual(status, 0, output)
        self.assertIn("\x1b[34mCOM3 >> ", output)
        self.assertIn("\x1b[32mlight-sensor", output)

    def test_failures_say_why_with_the_right_status(self):
        bench = self.bench("motor=COM3", "omega=COM4")
        check = ["check", "--instrument", "multi", "--motor", "COM3", "--controller"]
        for args, status, words in [
                (["check", "--instrument", "triple", "--port", "COM3"], 64, "--instrument"),
                ([*check, "COM4", "--filters", "9"], 64, "--filters"),
                (["check", "--instrument", "multi", "--motor", "COM3"], 64, "--controller"),
                ([*check, "COMX"], 64, "'COMX' is not a port"),
                ([*check, "COM4", "--only", "coffee"], 64, "--only"),
                (["--report", "/nonexistent/r.json", *check, "COM4"], 64, "--report"),
                (["--report", bench.dir, *check, "COM4"], 64, "not a regular file"),
                ([*check, "COM4", "--trace", "/nonexistent/t.jsonl"], 64, "/nonexistent/t.jsonl"),
                ([*check, "COM200"], 2, "COM200"),
                (["identify", "--port", "COM201"], 2, "COM201")]:
            with self.subTest(args=args):
                result = bench.run(*args)
                self.assertExit(result, status)
                self.assertEqual(len(result.stderr.splitlines()), 1, result.stderr)
                self.assertIn(words, result.stderr)
        # A port someone else holds is never touched: named with its holder, status 2.
        with open(os.path.realpath(bench.ports + "/COM4"), "rb") as held:
            fcntl.flock(held, fcntl.LOCK_EX | fcntl.LOCK_NB)
            result = bench.run("--report", bench.path("busy.json"), *check, "COM4")
            self.assertExit(result, 2)
            self.assertRegex(result.stderr, r"COM4 .* is in use by python3? \(%d\)" % os.getpid())
            self.assertEqual(self.report(bench.path("busy.json"), 2)["steps"][0]["failure_kind"],
                             "busy")
            listed = json.loads(bench.run("ports", "--json").stdout)
            self.assertEqual({p["port"]: p["state"] for p in listed}, {"COM3": "free",
                                                                      "COM4": "busy"})
            self.assertEqual(listed[1]["holder"]["pid"], os.getpid())

    def test_unplugged_and_interrupted_runs_still_report(self):
        for stop in ["unplug", "interrupt"]:
            with self.subTest(stop=stop):
                bench = self.bench("motor=COM3", "omega=COM4")
                report = bench.path("r.json")
                run = bench.start("--report", report, "check", "--instrument", "multi",
                                  "--motor", "COM3", "--controller", "COM4")
                for line in run.stdout:
                    if line.startswith("shutter-open"):
                        break
                if stop == "unplug":
                    bench.unplug()
                else:
                    run.send_signal(signal.SIGINT)
                output = run.stdout.read()
                status = run.wait(timeout=60)
                doc = self.report(report, status)
                results = [s["result"] for s in doc["steps"]]
                self.assertEqual(results[:3], ["passed"] * 3)
                if stop == "unplug":
                    self.assertIn(status, (1, 2), output)
                    self.assertIn("device-gone", [s["failure_kind"] for s in doc["steps"]])
                else:
                    self.assertEqual(status, 130, output)
                    self.assertIn("not-run", results)
                    self.assertIn("(interrupted)", output)
                    # The port was put back: the next run has it.
                    self.assertExit(bench.run("check", "--instrument", "multi", "--motor", "COM3",
                                              "--controller", "COM4", "--only", "shutter"), 0)

    def test_a_recorded_check_gives_the_same_results_against_its_replay(self):
        bench = self.bench("motor=COM3", "omega=COM4")
        trace = bench.path("session.jsonl")
        check = ["check", "--instrument", "multi", "--motor", "COM3", "--controller", "COM4",
                 "--setpoint", "31.5"]
        self.assertExit(bench.run("--report", bench.path("live.json"), *check, "--trace", trace), 0)
        replay = self.bench(f"replay=COM3:{trace}", f"replay=COM4:{trace}", sim_args=["--fast"])
        self.assertExit(replay.run("--report", replay.path("replay.json"), *check), 0)
        steps = [[(s["name"], s["result"], s["value"]) for s in self.report(path, 0)["steps"]]
                 for path in [bench.path("live.json"), replay.path("replay.json")]]
        self.assertEqual(steps[0], steps[1])
        # A damaged or missing trace is one line and a usage error, before any device starts.
        with open(bench.path("damaged.jsonl"), "w", encoding="utf-8") as damaged:
            damaged.write('{"t": "yesterday"}\n')
        for path in [bench.path("damaged.jsonl"), bench.path("missing.jsonl")]:
            result = subprocess.run([clibench.PRAVIK_SIM, "--port-dir", bench.ports,
                                     f"replay=COM5:{path}"], capture_output=True, text=True)
            self.assertEqual((result.returncode, len(result.stderr.splitlines())), (64, 1))

    def test_identify_names_each_kind(self):
        bench = self.bench("motor=COM3", "athena=COM4", "shutter26=COM5")
        result = bench.run("--report", bench.path("r.json"), "identify", "--all")
        self.assertExit(result, 0)
        answered = {}
        port = None
        for line in result.stdout.splitlines():
            if line.startswith("COM"):
                port = line.split()[0]
            elif ": answers" in line:
                answered.setdefault(port, []).append(line.split(":")[0].strip())
        self.assertEqual(answered, {"COM3": ["SmartMotor"], "COM4": ["Athena 16"],
                                    "COM5": ["shutter controller v2.6"]})
        self.assertIn("firmware 2.6.1", result.stdout)
        self.report(bench.path("r.json"), 0)

    def test_no_qt_and_quick_answers(self):
        libraries = subprocess.run(["ldd", clibench.PRAVIKCTL], capture_output=True, text=True)
        self.assertEqual(libraries.returncode, 0)
        self.assertNotIn("libQt", libraries.stdout)
        bench = self.bench()
        version = bench.run("--version")
        self.assertExit(version, 0)
        self.assertRegex(version.stdout, r"^pravikctl \d+\.\d+\.\d+")
        # The man page is made from the same help texts, every command's included.
        with open(os.environ["PRAVIKCTL_MAN"], encoding="utf-8") as page:
            man = page.read()
        for command in [["check"], ["omega", "reset"], ["threshold", "search"], ["motor", "load"]]:
            help_text = bench.run(*command, "--help")
            self.assertExit(help_text, 0)
            self.assertIn('.SS "%s"' % " ".join(command), man)
            for option in set(re.findall(r"--[a-z-]+", help_text.stdout)):
                self.assertIn(option.replace("-", r"\-"), man)


if __name__ == "__main__":
    clibench.main()
