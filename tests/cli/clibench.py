"""pravikctl run as a person runs it, against simulated devices that pravik-sim serves on
pseudo-terminals. Shared by the command-line tests.

The binaries and the report schema come from the environment CTest sets: PRAVIKCTL, PRAVIK_SIM,
REPORT_SCHEMA.
"""
import json
import os
import pty
import select
import shutil
import signal
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

import jsonschema

PRAVIKCTL = os.environ["PRAVIKCTL"]
PRAVIK_SIM = os.environ["PRAVIK_SIM"]
with open(os.environ["REPORT_SCHEMA"], encoding="utf-8") as schema_file:
    SCHEMA = json.load(schema_file)


class Bench:
    """A folder of ports (COM1-COM96 pointing nowhere, so nothing reaches this machine's own
    serial devices), its own lock folder and configuration, and pravik-sim serving the devices
    named as "kind=COMn" there."""

    def __init__(self, *devices, sim_args=()):
        self.dir = tempfile.mkdtemp(prefix="pravikctl-test-")
        self.ports = os.path.join(self.dir, "ports")
        os.mkdir(self.ports)
        for number in range(1, 97):
            os.symlink("/nonexistent/pravik-test-port", os.path.join(self.ports, f"COM{number}"))
        self.env = dict(os.environ, PRAVIK_PORT_DIR=self.ports,
                        PRAVIK_LOCK_DIR=self._folder("locks"),
                        XDG_CONFIG_HOME=self._folder("config"))
        self.sim = None
        if devices:
            self.sim = subprocess.Popen([PRAVIK_SIM, "--port-dir", self.ports, *sim_args, *devices],
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                        env=self.env, text=True)
            for line in self.sim.stdout:
                if line.startswith("Running"):
                    break
            else:
                raise RuntimeError("pravik-sim did not start: " + self.sim.stderr.read())

    def _folder(self, name):
        path = os.path.join(self.dir, name)
        os.mkdir(path)
        return path

    def path(self, name):
        return os.path.join(self.dir, name)

    def run(self, *args, stdin=subprocess.DEVNULL, timeout=120):
        return subprocess.run([PRAVIKCTL, *args], env=self.env, capture_output=True, text=True,
                              stdin=stdin, timeout=timeout)

    def start(self, *args):
        return subprocess.Popen([PRAVIKCTL, *args], env=self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, stdin=subprocess.DEVNULL, text=True)

    def run_on_terminal(self, *args, answer=None, timeout=120):
        """Runs pravikctl with a pseudo-terminal as stdin and stdout; answers a question with
        answer. Returns (exit status, what it wrote)."""
        pid, master = pty.fork()
        if pid == 0:
            os.execve(PRAVIKCTL, [PRAVIKCTL, *args], {**self.env, "TERM": "xterm"})
        output = b""
        answered = answer is None
        while True:
            ready, _, _ = select.select([master], [], [], timeout)
            if not ready:
                os.kill(pid, signal.SIGKILL)
                break
            try:
                chunk = os.read(master, 4096)
            except OSError:
                break
            if not chunk:
                break
            output += chunk
            if not answered and b"[y/N]" in output:
                os.write(master, answer.encode() + b"\n")
                answered = True
        _, status = os.waitpid(pid, 0)
        os.close(master)
        return os.waitstatus_to_exitcode(status), output.decode("utf-8", "replace")

    def unplug(self):
        """Stops the simulated devices at once, as pulling the adapter would."""
        if self.sim:
            self.sim.kill()
            self.sim.wait()
            self.sim = None

    def close(self):
        self.unplug()
        shutil.rmtree(self.dir, ignore_errors=True)


class BenchTest(unittest.TestCase):
    """A test with benches that are closed when it ends."""

    def bench(self, *devices, **options):
        bench = Bench(*devices, **options)
        self.addCleanup(bench.close)
        return bench

    def report(self, path, exit_status):
        """The JSON report at path, valid against the schema and naming exit_status."""
        with open(path, encoding="utf-8") as report_file:
            report = json.load(report_file)
        jsonschema.validate(report, SCHEMA)
        self.assertEqual(report["exit_status"], exit_status)
        return report

    def junit(self, path):
        """(cases, failures) of the JUnit file at path."""
        suite = ElementTree.parse(path).getroot().find("testsuite")
        self.assertEqual(int(suite.get("tests")), len(suite.findall("testcase")))
        return suite.findall("testcase"), int(suite.get("failures"))

    def assertExit(self, result, status):
        self.assertEqual(result.returncode, status, result.stdout + result.stderr)


def main():
    unittest.main(verbosity=2)
