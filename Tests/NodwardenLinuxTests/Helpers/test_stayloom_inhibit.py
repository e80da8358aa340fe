"""The keep-awake helper against the real systemd-logind, and against mocks only where the real
one cannot serve: a refusal of the lid-switch lock alone, a logind whose activation fails, and the
desktop session's inhibitors."""

import ctypes
import os
import select
import shutil
import signal
import subprocess
import tempfile
import unittest

import dbus

from helper_fixture import (
    INHIBIT,
    LOGIND,
    NOBODY,
    PATIENCE,
    UNREACHABLE_BUS,
    HelperProcess,
    PrivateBusTestCase,
    RealLogind,
    calls,
    eventually,
    has_ended,
    inhibitors,
)

# Keeping the display on is logind's idle lock too; letting it sleep leaves logind free to idle.
WHAT = {"-dimsu": "sleep:idle", "-ims": "sleep"}
SLEEP_LOCK = ("sleep:idle", "Stayloom", "block")
SLEEP_ONLY_LOCK = ("sleep", "Stayloom", "block")
LID_LOCK = ("handle-lid-switch", "Stayloom", "block")
READY = "holding until SIGTERM or SIGINT"
WHY = {
    "-dimsu": "Agents are working; keeping the computer and its display awake",
    "-ims": "Agents are working; keeping the computer awake",
}
LID_WHY = "Sleep is switched off; closing the lid must not retry suspend"


def start_xvfb(test):
    """A private Xvfb on a free display; stopped when `test` ends. Returns its DISPLAY."""
    reader, writer = os.pipe()
    server = subprocess.Popen(
        ["Xvfb", "-displayfd", str(writer), "-screen", "0", "640x480x24", "-nolisten", "tcp",
         "-noreset"],
        pass_fds=(writer,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
    )
    os.close(writer)
    with os.fdopen(reader) as report:
        number = report.readline().strip()
    test.addCleanup(server.wait, PATIENCE)
    test.addCleanup(server.terminate)
    if not number:
        test.skipTest("BUS UNAVAILABLE: Xvfb did not start")
    return f":{number}"


class _SaverInfo(ctypes.Structure):
    _fields_ = [("window", ctypes.c_ulong), ("state", ctypes.c_int), ("kind", ctypes.c_int),
                ("til_or_since", ctypes.c_ulong), ("idle", ctypes.c_ulong),
                ("event_mask", ctypes.c_ulong)]


class XScreen:
    """Whether an X server's screensaver is on, as the MIT-SCREEN-SAVER extension reports it."""

    _ON = 1

    def __init__(self, display):
        self._x11 = ctypes.CDLL("libX11.so.6")
        self._xss = ctypes.CDLL("libXss.so.1")
        self._x11.XOpenDisplay.restype = ctypes.c_void_p
        self._x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self._x11.XDefaultRootWindow.restype = ctypes.c_ulong
        self._x11.XDefaultRootWindow.argtypes = [ctypes.c_void_p]
        self._x11.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self._xss.XScreenSaverQueryInfo.argtypes = [ctypes.c_void_p, ctypes.c_ulong,
                                                    ctypes.POINTER(_SaverInfo)]
        self._display = self._x11.XOpenDisplay(display.encode())
        if not self._display:
            raise OSError(f"cannot open {display}")

    def saver_on(self):
        info = _SaverInfo()
        self._xss.XScreenSaverQueryInfo(self._display, self._x11.XDefaultRootWindow(self._display),
                                        ctypes.byref(info))
        return info.state == self._ON

    def close(self):
        if self._display:
            self._x11.XCloseDisplay(self._display)
            self._display = None


def _kill_if_running(pid):
    try:
        os.kill(pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


class UnitRoot:
    """A fixture tree standing in for /: mask links are made and removed below it, and the sleep
    switch's record of its own masks beside them."""

    def __init__(self):
        self._folder = tempfile.TemporaryDirectory(prefix="stayloom-units-")
        self.path = self._folder.name

    def mask(self, unit, where="run", ours=True):
        folder = os.path.join(self.path, where, "systemd", "system")
        os.makedirs(folder, exist_ok=True)
        os.symlink("/dev/null", os.path.join(folder, unit))
        if ours:
            record = os.path.join(self.path, "run", "stayloom")
            os.makedirs(record, exist_ok=True)
            with open(os.path.join(record, "sleep-switch-masks"), "a", encoding="utf-8") as file:
                file.write(unit + "\n")

    def unmask(self, unit, where="run"):
        os.unlink(os.path.join(self.path, where, "systemd", "system", unit))

    def cleanup(self):
        self._folder.cleanup()


class RealLogindInhibitTests(unittest.TestCase):
    """The real systemd-logind on a private system bus; no desktop session."""

    @classmethod
    def setUpClass(cls):
        cls.logind = RealLogind.start_or_skip()

    @classmethod
    def tearDownClass(cls):
        cls.logind.stop()

    def setUp(self):
        self.units = UnitRoot()
        self.addCleanup(self.units.cleanup)
        self.helpers = []
        self.addCleanup(lambda: [helper.kill() for helper in self.helpers])

    def start_inhibit(self, *arguments, prefix=(), pass_fds=(), **overrides):
        env = dict(
            os.environ,
            DBUS_SYSTEM_BUS_ADDRESS=self.logind.address,
            DBUS_SESSION_BUS_ADDRESS=UNREACHABLE_BUS,
            STAYLOOM_UNIT_ROOT=self.units.path,
        )
        env.update(overrides)
        helper = HelperProcess([*prefix, INHIBIT, *arguments], env, pass_fds=pass_fds)
        self.helpers.append(helper)
        return helper

    def locks(self):
        """(what, who, mode) of every lock."""
        return sorted((what, who, mode) for what, who, _, mode, _, _ in self.logind.inhibitors())

    def test_holds_the_sleep_lock_as_listed_until_asked_to_stop(self):
        for arguments, stop in [("-dimsu", signal.SIGTERM), ("-ims", signal.SIGINT)]:
            with self.subTest(arguments=arguments, stop=stop):
                helper = self.start_inhibit(arguments)
                self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
                pid = helper.process.pid
                self.assertEqual(
                    self.logind.inhibitors(),
                    [(WHAT[arguments], "Stayloom", WHY[arguments], "block", os.geteuid(), pid)],
                )
                rows = [line.split() for line in self.logind.listing().splitlines()]
                self.assertIn(str(pid), [row[3] for row in rows if row and row[0] == "Stayloom"])
                row = next(row for row in rows if row and row[0] == "Stayloom")
                self.assertEqual((row[5], row[-1]), (WHAT[arguments], "block"))
                # The launch-time orphan check needs the helper to be its own executable.
                self.assertEqual(os.readlink(f"/proc/{pid}/exe"), os.path.realpath(INHIBIT))

                self.assertEqual(helper.stop(stop), 0, helper.stderr)
                self.assertTrue(eventually(lambda: self.logind.inhibitors() == []))
                self.assertIn("No inhibitors.", self.logind.listing())
                self.assertIn("stayloom-inhibit: released all locks", helper.stdout)
                # No desktop session here: only a note, never a warning.
                self.assertFalse(any("warning" in line for line in helper.stderr), helper.stderr)

    def test_the_reason_it_is_given_is_the_one_listed(self):
        # Control characters would break the listing's one line per lock.
        helper = self.start_inhibit("-ims", STAYLOOM_WHY="Claude Code\nis working")
        self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
        self.assertEqual(
            self.logind.inhibitors(),
            [("sleep", "Stayloom", "Claude Code is working", "block", os.geteuid(),
              helper.process.pid)],
        )
        self.assertIn("Claude Code is working", self.logind.listing())
        self.assertEqual(helper.stop(), 0, helper.stderr)

    def test_a_killed_helper_leaves_no_lock_behind(self):
        helper = self.start_inhibit("-dimsu")
        self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
        self.assertEqual(self.locks(), [SLEEP_LOCK])
        self.assertEqual(helper.stop(signal.SIGKILL), -signal.SIGKILL)
        self.assertTrue(eventually(lambda: self.logind.inhibitors() == []))

    def test_the_locks_go_when_the_program_that_started_it_is_killed(self):
        # SIGKILL leaves the program no chance to stop its helper; the helper must notice.
        env = dict(
            os.environ,
            DBUS_SYSTEM_BUS_ADDRESS=self.logind.address,
            DBUS_SESSION_BUS_ADDRESS=UNREACHABLE_BUS,
            STAYLOOM_UNIT_ROOT=self.units.path,
        )
        program = subprocess.Popen(
            ["/bin/sh", "-c", 'STAYLOOM_PARENT_PID=$$ "$0" -ims >/dev/null 2>&1 & echo $!; wait',
             INHIBIT],
            env=env,
            stdout=subprocess.PIPE,
            text=True,
        )
        helper = int(program.stdout.readline())
        self.addCleanup(lambda: _kill_if_running(helper))
        self.assertTrue(eventually(lambda: self.locks() == [SLEEP_ONLY_LOCK]), self.locks())
        program.kill()
        program.wait(timeout=PATIENCE)
        program.stdout.close()
        self.assertTrue(eventually(lambda: self.logind.inhibitors() == []), self.locks())
        self.assertTrue(eventually(lambda: has_ended(helper)), "the helper outlived its program")

    def test_a_helper_whose_program_is_already_gone_takes_no_lock(self):
        # Started by a program that died before the helper could watch it: its parent is someone
        # else already.
        helper = self.start_inhibit("-ims", STAYLOOM_PARENT_PID=str(os.getpid() + 1))
        self.assertEqual(helper.finish(), 1, helper.stdout)
        self.assertIn("stayloom-inhibit: the program that started it has already ended; holding nothing",
                      helper.stderr)
        self.assertEqual(self.logind.inhibitors(), [])

    def test_readiness_is_reported_once_the_lock_is_held(self):
        reader, writer = os.pipe()
        self.addCleanup(os.close, reader)
        helper = self.start_inhibit("-ims", pass_fds=(writer,), STAYLOOM_READY_FD=str(writer))
        os.close(writer)
        readable, _, _ = select.select([reader], [], [], PATIENCE)
        self.assertEqual(readable, [reader], "no readiness report in time")
        with os.fdopen(os.dup(reader), "rb") as report:
            self.assertEqual(report.readline(), b"READY=1\n")
            self.assertEqual(self.locks(), [SLEEP_ONLY_LOCK])
            self.assertEqual(report.read(), b"", "the report is closed once it is made")
        self.assertEqual(helper.stop(), 0, helper.stderr)

    def test_a_refused_lock_exits_1_without_reporting_readiness(self):
        # Without a local session logind asks polkit, and with none on the bus it refuses.
        reader, writer = os.pipe()
        self.addCleanup(os.close, reader)
        helper = self.start_inhibit(
            "-dimsu", prefix=NOBODY, pass_fds=(writer,), STAYLOOM_READY_FD=str(writer)
        )
        os.close(writer)
        self.assertEqual(helper.finish(), 1, helper.stderr)
        with os.fdopen(os.dup(reader), "rb") as report:
            self.assertEqual(report.read(), b"", "a refused helper never says it holds")
        self.assertFalse(any(READY in line for line in helper.stdout))
        self.assertTrue(
            any("logind refused the sleep:idle lock" in line for line in helper.stderr),
            helper.stderr,
        )
        self.assertEqual(self.logind.inhibitors(), [])

    def test_lid_switch_lock_follows_only_the_switchs_own_masks(self):
        helper = self.start_inhibit("-dimsu")
        self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
        self.assertEqual(self.locks(), [SLEEP_LOCK])

        # An administrator's masks, persistent or for this boot: closing the lid stays theirs.
        self.units.mask("hibernate.target", "etc", ours=False)
        self.units.mask("hybrid-sleep.target", "run", ours=False)
        self.units.mask("sleep.target.bak")
        self.assertFalse(eventually(lambda: len(self.locks()) > 1, timeout=2.5), self.locks())

        self.units.mask("suspend.target")
        self.assertTrue(eventually(lambda: self.locks() == sorted([SLEEP_LOCK, LID_LOCK])))
        whys = [why for what, _, why, _, _, _ in self.logind.inhibitors() if what == LID_LOCK[0]]
        self.assertEqual(whys, [LID_WHY])

        self.units.unmask("suspend.target")
        self.assertTrue(eventually(lambda: self.locks() == [SLEEP_LOCK]))
        self.assertEqual(helper.stop(), 0)
        self.assertTrue(eventually(lambda: self.logind.inhibitors() == []))

    def test_an_own_mask_present_at_start_takes_the_lid_switch_lock_at_once(self):
        self.units.mask("sleep.target")
        helper = self.start_inhibit("-ims")
        self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
        self.assertEqual(self.locks(), sorted([SLEEP_ONLY_LOCK, LID_LOCK]))
        self.assertEqual(helper.stop(), 0)
        self.assertTrue(eventually(lambda: self.logind.inhibitors() == []))

    def test_other_arguments_get_the_usage_and_exit_2(self):
        invalid = [[], ["-d"], ["-dims"], ["-i"], ["-dimsu", "-ims"], ["-ims", "60"], ["dimsu"]]
        for arguments in invalid:
            with self.subTest(arguments=arguments):
                result = subprocess.run(
                    [INHIBIT, *arguments], capture_output=True, text=True, timeout=PATIENCE
                )
                self.assertEqual(result.returncode, 2)
                self.assertIn("usage: stayloom-inhibit", result.stderr)
        self.assertEqual(self.logind.inhibitors(), [])


class InhibitWithMockedLogindTests(PrivateBusTestCase):
    """What the real logind cannot show: a refusal of the lid-switch lock alone, a system bus
    without logind, and a logind whose activation fails."""

    def setUp(self):
        super().setUp()
        self.units = UnitRoot()
        self.addCleanup(self.units.cleanup)

    def start_inhibit(self, *arguments, **overrides):
        overrides.setdefault("STAYLOOM_UNIT_ROOT", self.units.path)
        return self.start_helper([INHIBIT, *arguments], **overrides)

    def test_without_logind_or_system_bus_it_warns_once_and_holds(self):
        # An empty private system bus is a machine without logind; an unreachable address is a
        # container without any system bus.
        for case, overrides in [
            ("no logind", {}),
            ("no system bus", {"DBUS_SYSTEM_BUS_ADDRESS": UNREACHABLE_BUS}),
        ]:
            with self.subTest(case=case), self.fresh_services():
                helper = self.start_inhibit("-dimsu", **overrides)
                self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
                self.assertEqual(helper.stop(), 0)
                warnings = [line for line in helper.stderr if "warning" in line]
                self.assertEqual(len(warnings), 1, helper.stderr)
                self.assertIn("holding anyway", warnings[0])

    def test_a_logind_whose_activation_fails_counts_as_no_logind(self):
        # Containers ship logind's activation file but cannot start it: activation fails.
        services = self.get_services_dir(system_bus=True)
        service = os.path.join(services, "org.freedesktop.login1.service")
        with open(service, "w", encoding="utf-8") as file:
            file.write("[D-BUS Service]\nName=org.freedesktop.login1\nExec=/bin/false\n")
        self.addCleanup(os.unlink, service)
        self.system_bus.call_blocking(
            "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
            "ReloadConfig", "", [],
        )
        helper = self.start_inhibit("-ims")
        self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
        self.assertEqual(helper.stop(), 0)
        warnings = [line for line in helper.stderr if "warning" in line]
        self.assertEqual(len(warnings), 1, helper.stderr)
        self.assertIn("Spawn", warnings[0])

    def test_a_refused_lid_switch_lock_is_reported_once_and_the_hold_goes_on(self):
        # Refused only for the lid switch, as polkit does for a caller without a local session.
        inhibit = "\n".join(
            [
                'if args[0] == "handle-lid-switch":',
                '    raise dbus.exceptions.DBusException("Permission denied",'
                ' name="org.freedesktop.DBus.Error.AccessDenied")',
                "import os",
                "reader, writer = os.pipe()",
                "ret = dbus.types.UnixFd(writer)",
            ]
        )
        logind = self.start_mock(*LOGIND, [("Inhibit", "ssss", "h", inhibit)], system_bus=True)
        self.units.mask("suspend.target")
        helper = self.start_inhibit("-ims")
        self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)

        def lid_attempts():
            return [args for args in calls(logind, "Inhibit") if args[0] == "handle-lid-switch"]

        self.assertTrue(eventually(lambda: len(lid_attempts()) >= 3))
        self.assertEqual(helper.stop(), 0)
        refusals = [line for line in helper.stderr if "handle-lid-switch" in line]
        self.assertEqual(len(refusals), 1, helper.stderr)


class SessionInhibitorTestsWithMockedDesktop(PrivateBusTestCase):
    """The desktop's own inhibitor, stacked on the logind lock; the desktop services (and logind
    beside them) are mocks, since no desktop session runs here."""

    GNOME = ("org.gnome.SessionManager", "/org/gnome/SessionManager", "org.gnome.SessionManager")
    POWER_MANAGEMENT = (
        "org.freedesktop.PowerManagement",
        "/org/freedesktop/PowerManagement/Inhibit",
        "org.freedesktop.PowerManagement.Inhibit",
    )
    SCREEN_SAVER = (
        "org.freedesktop.ScreenSaver",
        "/org/freedesktop/ScreenSaver",
        "org.freedesktop.ScreenSaver",
    )

    def start_gnome(self):
        return self.start_mock(
            *self.GNOME,
            [("Inhibit", "susu", "u", "ret = 41"), ("Uninhibit", "u", "", "")],
            system_bus=False,
        )

    def start_freedesktop(self, service, cookie):
        return self.start_mock(
            *service,
            [("Inhibit", "ss", "u", f"ret = {cookie}"), ("UnInhibit", "u", "", "")],
            system_bus=False,
        )

    def test_gnome_session_inhibitor_flags_follow_the_display_posture(self):
        # 4 = suspend, 8 = idle: letting the display sleep means leaving the session free to idle.
        for arguments, flags in [("-dimsu", 12), ("-ims", 4)]:
            with self.subTest(arguments=arguments), self.fresh_services():
                self.start_logind()
                gnome = self.start_gnome()
                # A freedesktop service is present too; GNOME's own inhibitor takes precedence.
                screen_saver = self.start_freedesktop(self.SCREEN_SAVER, 7)
                helper = self.start_helper([INHIBIT, arguments])
                self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)

                inhibit = calls(gnome, "Inhibit")
                self.assertEqual(len(inhibit), 1)
                # The desktop file's id, which GNOME and KDE show with its name and icon.
                self.assertEqual(inhibit[0][0], "org.stayloom.Stayloom")
                self.assertEqual(inhibit[0][2], WHY[arguments])
                self.assertEqual(inhibit[0][1], 0)
                self.assertEqual(inhibit[0][3], flags)
                self.assertEqual(calls(screen_saver, "Inhibit"), [])

                self.assertEqual(helper.stop(), 0)
                self.assertEqual(calls(gnome, "Uninhibit"), [[41]])

    def test_without_gnome_the_freedesktop_inhibitors_are_used(self):
        for arguments, wants_screen_saver in [("-dimsu", True), ("-ims", False)]:
            with self.subTest(arguments=arguments), self.fresh_services():
                self.start_logind()
                power = self.start_freedesktop(self.POWER_MANAGEMENT, 5)
                screen_saver = self.start_freedesktop(self.SCREEN_SAVER, 9)
                helper = self.start_helper([INHIBIT, arguments])
                self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)

                self.assertEqual(calls(power, "Inhibit"), [["org.stayloom.Stayloom", WHY[arguments]]])
                expected = 1 if wants_screen_saver else 0
                self.assertEqual(len(calls(screen_saver, "Inhibit")), expected)

                self.assertEqual(helper.stop(), 0)
                self.assertEqual(calls(power, "UnInhibit"), [[5]])
                self.assertEqual(calls(screen_saver, "UnInhibit"), [[9]] * expected)

    def start_report_folder(self):
        """A runtime folder of our own, where the helper reports what it holds."""
        folder = tempfile.mkdtemp(prefix="stayloom-runtime-")
        os.chmod(folder, 0o700)
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        return folder

    def report(self, folder, helper):
        path = os.path.join(folder, "stayloom", f"inhibit-{helper.process.pid}.state")
        try:
            with open(path, encoding="utf-8") as file:
                return file.read().splitlines()
        except FileNotFoundError:
            return None

    def stop_last_mock(self):
        process, name, bus = self._mocks.pop()
        process.terminate()
        process.wait(timeout=PATIENCE)
        eventually(lambda: not bus.name_has_owner(name))

    def test_a_power_manager_that_appears_restarts_or_drops_the_lock_is_asked_again(self):
        # xfce4-power-manager starts after the session's autostart programs, and restarts.
        self.start_logind()
        runtime = self.start_report_folder()
        helper = self.start_helper([INHIBIT, "-ims"], XDG_RUNTIME_DIR=runtime)
        self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
        held = "lock org.freedesktop.PowerManagement suspend held honoured"

        first = self.start_freedesktop(self.POWER_MANAGEMENT, 5)
        self.assertTrue(eventually(lambda: len(calls(first, "Inhibit")) == 1))
        self.assertTrue(eventually(lambda: held in (self.report(runtime, helper) or [])))
        self.stop_last_mock()
        self.assertTrue(eventually(lambda: held not in self.report(runtime, helper)))

        second = self.start_freedesktop(self.POWER_MANAGEMENT, 6)
        self.assertTrue(eventually(lambda: len(calls(second, "Inhibit")) == 1))
        # The power manager says its last inhibitor went: ours, so it is taken again.
        second.EmitSignal(self.POWER_MANAGEMENT[2], "HasInhibitChanged", "b", [False])
        self.assertTrue(eventually(lambda: len(calls(second, "Inhibit")) == 2))
        self.assertTrue(eventually(lambda: held in self.report(runtime, helper)))

        self.assertEqual(helper.stop(), 0)
        self.assertEqual(calls(second, "UnInhibit"), [[6]])
        self.assertIsNone(self.report(runtime, helper), "the report outlived the hold")
        said = helper.stdout + helper.stderr
        self.assertEqual(sum("appeared on the session bus" in line for line in said), 2, said)
        self.assertEqual(sum("left the session bus" in line for line in said), 1, said)
        self.assertEqual(sum("dropped Stayloom's lock" in line for line in said), 1, said)

    def test_a_service_that_refuses_or_never_answers_leaves_the_logind_lock_and_a_warning(self):
        refuse = ('raise dbus.exceptions.DBusException("not now", '
                  'name="org.freedesktop.DBus.Error.AccessDenied")')
        for case, code, said in [
            ("refuses", refuse, "refused: not now"),
            ("never answers", "import time; time.sleep(8); ret = 1", "did not answer"),
        ]:
            with self.subTest(case=case), self.fresh_services():
                logind, _ = self.start_logind()
                self.start_mock(*self.POWER_MANAGEMENT,
                                [("Inhibit", "ss", "u", code), ("UnInhibit", "u", "", "")],
                                system_bus=False)
                runtime = self.start_report_folder()
                helper = self.start_helper([INHIBIT, "-ims"], XDG_RUNTIME_DIR=runtime)
                # Readiness does not wait for a silent service beyond its short grace.
                self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
                self.assertEqual(inhibitors(logind), [("sleep", "Stayloom", "block")])
                warning = "warning This desktop's idle tool may suspend despite Stayloom's lock"
                self.assertTrue(eventually(
                    lambda: any(line.startswith(warning) for line in self.report(runtime, helper))
                ), self.report(runtime, helper))
                self.assertIn("lock org.freedesktop.PowerManagement suspend free ignored",
                              self.report(runtime, helper))
                self.assertTrue(eventually(lambda: any(said in line for line in helper.stderr)))
                self.assertEqual(helper.stop(), 0)
                self.assertEqual(inhibitors(logind), [])
                complaints = [line for line in helper.stderr if said in line]
                self.assertEqual(len(complaints), 1, helper.stderr)

    def test_an_idle_tool_that_suspends_as_the_user_is_warned_of_before_systemd_257(self):
        folder = tempfile.mkdtemp(prefix="stayloom-idle-tool-")
        self.addCleanup(shutil.rmtree, folder, ignore_errors=True)
        tool = os.path.join(folder, "swayidle")
        shutil.copy("/bin/sleep", tool)
        idle = subprocess.Popen([tool, "60"])
        self.addCleanup(idle.wait)
        self.addCleanup(idle.kill)
        for version, warned in [(None, True), ("252.38-1~deb12u1", True), ("257.1", False)]:
            with self.subTest(version=version), self.fresh_services():
                self.start_logind()
                if version is not None:
                    systemd = self.start_mock("org.freedesktop.systemd1",
                                              "/org/freedesktop/systemd1",
                                              "org.freedesktop.systemd1.Manager", [], True)
                    systemd.AddProperty("org.freedesktop.systemd1.Manager", "Version",
                                        dbus.String(version))
                runtime = self.start_report_folder()
                helper = self.start_helper([INHIBIT, "-dimsu"], XDG_RUNTIME_DIR=runtime)
                self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
                report = self.report(runtime, helper)
                warnings = [line for line in report if line.startswith("warning ")]
                self.assertEqual(len(warnings), int(warned), report)
                if warned:
                    self.assertIn(": swayidle. ", warnings[0])
                logind = "lock org.freedesktop.login1 sleep:idle held " + (
                    "ignored" if warned else "honoured")
                self.assertIn(logind, report)
                self.assertEqual(helper.stop(), 0)

    def test_a_bare_x_server_keeps_its_screen_on_only_while_held(self):
        # No session service on the bus: only the X server's own screensaver would blank.
        if not shutil.which("Xvfb") or not shutil.which("xset"):
            self.skipTest("BUS UNAVAILABLE: needs Xvfb and xset")
        display = start_xvfb(self)
        env = dict(os.environ, DISPLAY=display)

        def xset(*arguments):
            return subprocess.run(["xset", *arguments], env=env, capture_output=True, text=True,
                                  timeout=PATIENCE, check=True).stdout

        def saver_settings():
            lines = xset("q").splitlines()
            return lines[lines.index("Screen Saver:") + 2].split()

        xset("s", "1", "1")
        screen = XScreen(display)
        self.addCleanup(screen.close)
        self.start_logind()
        for arguments, kept_on in [("-dimsu", True), ("-ims", False)]:
            with self.subTest(arguments=arguments):
                helper = self.start_helper([INHIBIT, arguments], DISPLAY=display)
                self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
                # A screen already blank stays so; from a fresh start it must not blank again.
                xset("s", "reset")
                self.assertEqual(eventually(screen.saver_on, timeout=3), not kept_on)
                # The user's own settings are never touched, only suspended.
                self.assertEqual(saver_settings(), ["timeout:", "1", "cycle:", "1"])
                self.assertEqual(helper.stop(), 0)
                # Given back: the screen blanks again (which also proves the rig blanks at all).
                self.assertTrue(eventually(screen.saver_on, timeout=5))
                self.assertEqual(saver_settings(), ["timeout:", "1", "cycle:", "1"])


if __name__ == "__main__":
    unittest.main()
