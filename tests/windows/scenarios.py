#!/usr/bin/env python3
"""End-to-end scenarios, written once, run on the Linux device and under Wine.

Each scenario is a list of steps a person takes. It runs against the Linux programs (through
cedevice) and against the .exe programs (through scenario_device.exe), each in a fresh device
home. What a person sees afterwards must be the same bytes on both: the listener's log with
its times taken out, the final "clientPushList", and the launcher's \\startsync.txt after one
launcher run.

  scenarios.py LINUX_BUILD WINDOWS_BUILD WINEPREFIX [SCENARIO...]
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

PATIENCE_S = 60  # Wine's first start in a prefix is slow
LISTENER_READY = "CP: Init waiting PIM notification messages..."
FOLDER_NUMBERS = {"contact": 10, "task": 13, "appointment": 9}
ABSENT = "(absent)"
SOURCE_FLAGS = {"contacts": 1, "calendar": 2, "tasks": 3}

# A step is (verb, arguments...). "wait" steps wait until the log holds COUNT lines that end
# with TEXT: every change is followed by the line that shows it was handled, so that the next
# step never races it and both platforms log the same order.
SCENARIOS = {
    "startup_then_close": [("start",), ("close",)],
    "note_and_text_in_notes": [
        ("start",),
        # The .txt first: its refusal is logged before the note's creation, in event order.
        ("write", "My Documents/Notes/plain.txt", "not a note"),
        ("write", "My Documents/Notes/shopping.pwi", "milk"),
        ("wait", "CP note: It is a new item inserted", 1),
        ("close",),
    ],
    "briefcase_file_through_a_temporary_name": [
        ("start",),
        ("write", "My Documents/Briefcase/report.tmp", "draft"),
        ("wait", "CP Briefcase: It is a new item inserted", 1),
        ("rename", "My Documents/Briefcase/report.tmp", "My Documents/Briefcase/report.doc"),
        ("wait", "CP Briefcase: It is a renaming...", 1),
        ("close",),
    ],
    "change_while_stopped_seen_at_next_start": [
        ("start",),
        ("close",),
        # Nothing changed: a folder summary that reads differently each time would show here.
        ("start",),
        ("close",),
        ("write", "My Documents/Notes/while-away.pwi", "written while stopped"),
        ("start",),
        ("close",),
    ],
    "contact_added": [
        ("start",),
        ("add", "contact", "Ann Example"),
        ("wait", "CP: Item is 1", 1),
        ("close",),
    ],
    "task_changed_while_tasks_suspended_then_resumed": [
        ("start",),
        ("add", "task", "Report"),
        ("wait", "CP: Item is 1", 1),
        # A sync now, so that what the list holds at the end comes from the suspended change.
        ("launch",),
        ("suspend", "tasks"),
        ("wait", "CP PIM WM_COMMAND setFlag 3", 1),
        ("change", "Report", "Report, final"),
        ("wait", "CP: Item is 1", 2),
        ("resume", "tasks"),
        ("wait", "CP PIM WM_COMMAND resetFlag 3", 1),
        ("close",),
    ],
    "picture_added_then_deleted": [
        ("start",),
        # An extension in capitals is still a picture's.
        ("write", "My Documents/My Pictures/Beach.JPG", "not really a JPEG"),
        ("wait", "CP Picture: It is a new item inserted", 1),
        ("delete", "My Documents/My Pictures/Beach.JPG"),
        ("wait", "CP Picture: The item is really deleting...", 1),
        ("close",),
    ],
}


class Failure(Exception):
    pass


def wait_until(condition, what):
    deadline = time.monotonic() + PATIENCE_S
    while not condition():
        if time.monotonic() > deadline:
            raise Failure("gave up waiting for " + what)
        time.sleep(0.05)


class Device:
    """One platform's device in a fresh home; subclasses say how each step is done there."""

    name = ""

    def __init__(self, home):
        self.home = home
        self.fs = os.path.join(home, "fs")
        self.listener = None
        self.ids = {}

    def log_lines(self):
        try:
            with open(os.path.join(self.fs, "notlstnr.txt"), "rb") as log:
                return log.read().decode("utf-8", "replace").splitlines()
        except FileNotFoundError:
            return []

    def wait_for_log(self, text, count):
        wait_until(lambda: sum(line.endswith(text) for line in self.log_lines()) >= count,
                   "%d log line(s) ending %r" % (count, text))

    def run(self, argv, absent=lambda done: False):
        """The program's output; ABSENT when `absent` says its failure means the value is."""
        done = subprocess.run(argv, env=self.env, capture_output=True)
        if done.returncode != 0 and absent(done):
            return ABSENT
        if done.returncode != 0:
            raise Failure("%s ended with %d: %s" % (" ".join(argv), done.returncode,
                                                    done.stderr.decode(errors="replace")))
        return done.stdout.decode(errors="replace").replace("\r", "").strip()

    def step(self, verb, *args):
        if verb == "start":
            ready_before = sum(line.endswith(LISTENER_READY) for line in self.log_lines())
            self.listener = subprocess.Popen(self.listener_argv(), env=self.env,
                                             stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.wait_for_log(LISTENER_READY, ready_before + 1)
        elif verb == "close":
            self.send_close()
            try:
                code = self.listener.wait(PATIENCE_S)
            except subprocess.TimeoutExpired:
                raise Failure("the listener did not end after WM_CLOSE")
            if code != 0:
                raise Failure("the listener ended with %d after WM_CLOSE" % code)
            self.listener = None
        elif verb == "write":
            with open(os.path.join(self.fs, args[0]), "w") as file:
                file.write(args[1])
        elif verb == "rename":
            os.rename(os.path.join(self.fs, args[0]), os.path.join(self.fs, args[1]))
        elif verb == "delete":
            os.remove(os.path.join(self.fs, args[0]))
        elif verb == "wait":
            self.wait_for_log(*args)
        elif verb == "add":
            self.ids[args[1]] = self.pim_add(*args)
        elif verb == "change":
            self.pim_change(self.ids[args[0]], args[1])
        elif verb == "launch":
            self.run(self.launcher_argv())
        elif verb in ("suspend", "resume"):
            self.send_control(verb, args[0])
        else:
            raise Failure("no such step: " + verb)

    def stop(self):
        if self.listener is not None:
            self.listener.kill()
            self.listener.wait()

    def outcome(self, steps):
        """What a person sees after the steps: the log, the list, then the launcher's record."""
        self.init()
        try:
            for step in steps:
                self.step(*step)
        except Failure as failure:
            raise Failure("on %s, at %r: %s\nits log ends:\n  %s" % (
                self.name, step, failure, "\n  ".join(self.log_lines()[-8:])))
        finally:
            self.stop()
        push_list = self.client_push_list()
        self.run(self.launcher_argv())
        with open(os.path.join(self.fs, "startsync.txt"), "rb") as record:
            launcher = record.read()
        with open(os.path.join(self.fs, "notlstnr.txt"), "rb") as log:
            return {"log": without_times(log.read()), "clientPushList": push_list,
                    "launcher output": without_times(launcher)}


class LinuxDevice(Device):
    name = "Linux"

    def __init__(self, home, build):
        super().__init__(home)
        self.build = build
        self.env = dict(os.environ, CE_DEVICE_HOME=home)

    def cedevice(self, *args):
        return self.run([os.path.join(self.build, "apps/cedevice/cedevice")] + list(args))

    def init(self):
        self.cedevice("init")

    def listener_argv(self):
        return [os.path.join(self.build, "apps/notlstnr/notlstnr")]

    def launcher_argv(self):
        return [os.path.join(self.fs, "Program Files/Quillbex/startsync.exe")]

    def send_close(self):
        self.cedevice("send", "close")

    def send_control(self, verb, source):
        self.cedevice("send", verb, source)

    def pim_add(self, kind, subject):
        return self.cedevice("pim", "add", kind, subject).split()[-1]

    def pim_change(self, item, subject):
        self.cedevice("pim", "change", item, subject)

    def client_push_list(self):
        argv = [os.path.join(self.build, "apps/cedevice/cedevice"), "reg", "get",
                "Software\\Quillbex\\SyncclientPIM", "clientPushList"]
        return self.run(argv, absent=lambda done: b"no value" in done.stderr)


class WineDevice(Device):
    name = "Windows"

    def __init__(self, home, build, prefix):
        super().__init__(home)
        self.build = build
        self.env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=",
                        CE_DEVICE_HOME="Z:" + home.replace("/", "\\"))
        self.env["WINEPATH"] = ""

    def exe(self, path):
        return ["wine", os.path.join(self.build, path)]

    def helper(self, *args):
        return self.run(self.exe("tests/windows/scenario_device.exe") + list(args))

    def init(self):
        self.helper("init")

    def listener_argv(self):
        return self.exe("apps/notlstnr/notlstnr.exe")

    def launcher_argv(self):
        return self.exe("apps/startsync/startsync.exe")

    def send_close(self):
        self.helper("send", "close")

    def send_control(self, verb, source):
        self.helper("send", verb, str(SOURCE_FLAGS[source]))

    def pim_add(self, kind, subject):
        return self.helper("pim", "add", str(FOLDER_NUMBERS[kind]), subject).split()[-1]

    def pim_change(self, item, subject):
        self.helper("pim", "change", item, subject)

    def client_push_list(self):
        return self.run(self.exe("tests/windows/scenario_device.exe") + ["get", "clientPushList"],
                        absent=lambda done: done.returncode == 3)


TIME_OF_LINE = re.compile(rb"^\d\d:\d\d:\d\d GMT [+-]\d+:\d\d ", re.MULTILINE)
DATE_AND_TIME = re.compile(rb"\d{4}-\d\d-\d\d \d\d[.:]\d\d[.:]\d\d")


def without_times(text):
    return DATE_AND_TIME.sub(b"<time>", TIME_OF_LINE.sub(b"", text))


def differences(linux, windows):
    found = []
    for what in linux:
        if linux[what] != windows[what]:
            found.append("%s differs:\n  Linux:   %r\n  Windows: %r" % (what, linux[what],
                                                                     windows[what]))
    return found


def main(argv):
    if len(argv) < 4:
        print(__doc__)
        return 2
    linux_build, windows_build, prefix = (os.path.abspath(path) for path in argv[1:4])
    chosen = argv[4:] or list(SCENARIOS)
    unknown = [name for name in chosen if name not in SCENARIOS]
    if unknown:
        print("no such scenario: %s (there are: %s)" % (", ".join(unknown), ", ".join(SCENARIOS)))
        return 2
    subprocess.run([os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                 "prepare_wine_prefix.sh"), prefix], check=True)
    failed = 0
    for name in chosen:
        homes = [tempfile.mkdtemp(prefix="scenario-"), tempfile.mkdtemp(prefix="scenario-")]
        try:
            outcomes = []
            for device in (LinuxDevice(homes[0], linux_build),
                           WineDevice(homes[1], windows_build, prefix)):
                outcomes.append(device.outcome(SCENARIOS[name]))
            problems = differences(*outcomes)
        except Failure as failure:
            problems = [str(failure)]
        finally:
            for home in homes:
                shutil.rmtree(home, ignore_errors=True)
        if problems:
            failed += 1
            print("FAIL %s\n%s" % (name, "\n".join(problems)))
        else:
            print("same on both: %s (log %d lines, clientPushList %s)" % (
                name, outcomes[0]["log"].count(b"\n"), outcomes[0]["clientPushList"]))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
