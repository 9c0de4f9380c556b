#!/usr/bin/env python3
"""The conformance runner's use of answers kept by another build's run, with a stand-in for
Wine that counts its runs: kept answers stand for the Windows side only when they are for the
same program and time zone, and only a clean run's answers are kept."""
import os
import stat
import subprocess
import sys
import tempfile
import unittest

RUNNER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "run_conformance.py")


class KeptWineAnswersTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory(prefix="conformance-runner-")
        self.root = self.dir.name
        bin_dir = os.path.join(self.root, "bin")
        os.mkdir(bin_dir)
        self.runs = os.path.join(self.root, "wine-runs")
        # "Wine" prints the program file's text, so a program's answers are its content.
        self.write(os.path.join(bin_dir, "wine"),
                   f'#!/bin/sh\necho run >> "{self.runs}"\ncat "$1"\n'
                   'exit "${FAKE_WINE_STATUS:-0}"\n', executable=True)
        self.prefix = os.path.join(self.root, "prefix")
        os.makedirs(os.path.join(self.prefix, "drive_c"))
        for made in ("system.reg", "conformance-null-graphics"):
            self.write(os.path.join(self.prefix, made), "")
        self.native = os.path.join(self.root, "native")
        self.write(self.native, "#!/bin/sh\necho 'check: 1'\n", executable=True)
        self.program = os.path.join(self.root, "area.exe")
        self.write(self.program, "check: 1\n")
        self.table = os.path.join(self.root, "table.txt")
        self.write(self.table, "")
        self.kept = os.path.join(self.root, "kept", "area.json")
        self.env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"])

    def tearDown(self):
        self.dir.cleanup()

    def write(self, path, text, executable=False):
        with open(path, "w", encoding="utf-8") as out:
            out.write(text)
        if executable:
            os.chmod(path, os.stat(path).st_mode | stat.S_IXUSR)

    def run_area(self, *answers, status=0, tz="Europe/Berlin"):
        env = dict(self.env, FAKE_WINE_STATUS=str(status))
        done = subprocess.run([sys.executable, RUNNER, "--area", "area", "--native", self.native,
                               "--windows", self.program, "--table", self.table,
                               "--wine-prefix", self.prefix, "--tz", tz, *answers],
                              env=env, capture_output=True, text=True, timeout=60)
        return done.returncode, done.stdout

    def wine_runs(self):
        if not os.path.exists(self.runs):
            return 0
        with open(self.runs, encoding="utf-8") as runs:
            return len(runs.readlines())

    def test_answers_of_the_same_program_stand_in_for_wine(self):
        self.assertEqual(self.run_area("--keep-wine-answers", self.kept)[0], 0)
        self.assertEqual(self.wine_runs(), 1)
        status, output = self.run_area("--wine-answers-from", self.kept)
        self.assertEqual(status, 0, output)
        self.assertEqual(self.wine_runs(), 1)
        self.assertIn("answers are those its run in", output)

    def test_a_changed_program_or_time_zone_runs_wine_again(self):
        self.run_area("--keep-wine-answers", self.kept)
        self.run_area("--wine-answers-from", self.kept, tz="Asia/Tokyo")
        self.assertEqual(self.wine_runs(), 2)
        # Same size, other bytes: what the kept answers were for is the content.
        self.write(self.program, "check: 2\n")
        status, output = self.run_area("--wine-answers-from", self.kept)
        self.assertEqual(self.wine_runs(), 3)
        self.assertEqual(status, 1)
        self.assertIn("DIFFERS check", output)

    def test_a_failed_or_half_written_run_leaves_nothing_to_take(self):
        self.assertEqual(self.run_area("--keep-wine-answers", self.kept, status=3)[0], 1)
        self.assertFalse(os.path.exists(self.kept))
        os.makedirs(os.path.dirname(self.kept))
        self.write(self.kept, '{"key": ')
        self.assertEqual(self.run_area("--wine-answers-from", self.kept)[0], 0)
        self.assertEqual(self.wine_runs(), 2)


if __name__ == "__main__":
    unittest.main()
