"""The keep-awake helper against a mocked logind and mocked desktop session services."""

import os
import signal
import tempfile
import unittest

from helper_fixture import (
    CAFFEINATE,
    LOGIND,
    UNREACHABLE_BUS,
    PrivateBusTestCase,
    calls,
    eventually,
    inhibitors,
)

SLEEP_LOCK = ("sleep:idle", "Stayloom", "block")
LID_LOCK = ("handle-lid-switch", "Stayloom", "block")
READY = "holding until SIGTERM or SIGINT"


class UnitRoot:
    """A fixture tree standing in for /: mask links are made and removed below it."""

    def __init__(self):
        self._folder = tempfile.TemporaryDirectory(prefix="stayloom-units-")
        self.path = self._folder.name

    def mask(self, unit, where="run"):
        folder = os.path.join(self.path, where, "systemd", "system")
        os.makedirs(folder, exist_ok=True)
        os.symlink("/dev/null", os.path.join(folder, unit))

    def unmask(self, unit, where="run"):
        os.unlink(os.path.join(self.path, where, "systemd", "system", unit))

    def cleanup(self):
        self._folder.cleanup()


class CaffeinateTests(PrivateBusTestCase):
    def setUp(self):
        super().setUp()
        self.units = UnitRoot()
        self.addCleanup(self.units.cleanup)

    def start_caffeinate(self, *arguments, **overrides):
        overrides.setdefault("STAYLOOM_UNIT_ROOT", self.units.path)
        return self.start_helper([CAFFEINATE, *arguments], **overrides)

    def test_holds_the_logind_sleep_lock_until_asked_to_stop(self):
        for arguments, stop in [("-dimsu", signal.SIGTERM), ("-ims", signal.SIGINT)]:
            with self.subTest(arguments=arguments, stop=stop), self.fresh_services():
                logind, _ = self.start_logind()
                helper = self.start_caffeinate(arguments)
                self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
                self.assertEqual(inhibitors(logind), [SLEEP_LOCK])
                self.assertIn("caffeinate: holding logind lock sleep:idle (block)", helper.stdout)
                # The launch-time orphan check finds it by this command name.
                with open(f"/proc/{helper.process.pid}/comm", encoding="utf-8") as comm:
                    self.assertEqual(comm.read().strip(), "caffeinate")

                self.assertEqual(helper.stop(stop), 0, helper.stderr)
                self.assertTrue(eventually(lambda: inhibitors(logind) == []))
                self.assertIn("caffeinate: released all locks", helper.stdout)

    def test_a_killed_helper_leaves_no_lock_behind(self):
        logind, _ = self.start_logind()
        helper = self.start_caffeinate("-dimsu")
        self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
        self.assertEqual(helper.stop(signal.SIGKILL), -signal.SIGKILL)
        self.assertTrue(eventually(lambda: inhibitors(logind) == []))

    def test_refusal_by_logind_prints_the_error_and_exits_1(self):
        self.refusing_logind("Inhibit", "ssss", "h")
        helper = self.start_caffeinate("-ims")
        self.assertEqual(helper.finish(), 1)
        self.assertFalse(any(READY in line for line in helper.stdout))
        self.assertTrue(
            any("refused" in line and "AccessDenied" in line for line in helper.stderr),
            helper.stderr,
        )

    def test_without_logind_or_system_bus_it_warns_once_and_holds(self):
        # An empty private system bus is a machine without logind; an unreachable address is a
        # container without any system bus.
        for case, overrides in [
            ("no logind", {}),
            ("no system bus", {"DBUS_SYSTEM_BUS_ADDRESS": UNREACHABLE_BUS}),
        ]:
            with self.subTest(case=case), self.fresh_services():
                helper = self.start_caffeinate("-dimsu", **overrides)
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
        helper = self.start_caffeinate("-ims")
        self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
        self.assertEqual(helper.stop(), 0)
        warnings = [line for line in helper.stderr if "warning" in line]
        self.assertEqual(len(warnings), 1, helper.stderr)
        self.assertIn("Spawn", warnings[0])

    def test_other_arguments_get_the_usage_and_exit_2(self):
        invalid = [[], ["-d"], ["-dims"], ["-i"], ["-dimsu", "-ims"], ["-ims", "60"], ["dimsu"]]
        for arguments in invalid:
            with self.subTest(arguments=arguments):
                result = self.run_helper([CAFFEINATE, *arguments])
                self.assertEqual(result.returncode, 2)
                self.assertIn("usage: caffeinate", result.stderr)

    def test_lid_switch_lock_follows_the_sleep_target_mask(self):
        logind, _ = self.start_logind()
        helper = self.start_caffeinate("-dimsu")
        self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
        self.assertEqual(inhibitors(logind), [SLEEP_LOCK])

        self.units.mask("suspend.target")
        self.assertTrue(eventually(lambda: inhibitors(logind) == sorted([SLEEP_LOCK, LID_LOCK])))

        self.units.unmask("suspend.target")
        self.assertTrue(eventually(lambda: inhibitors(logind) == [SLEEP_LOCK]))
        self.assertEqual(helper.stop(), 0)
        self.assertTrue(eventually(lambda: inhibitors(logind) == []))

    def test_a_mask_present_at_start_takes_the_lid_switch_lock_at_once(self):
        for where in ["run", "etc"]:
            with self.subTest(where=where), self.fresh_services():
                self.units.mask("sleep.target", where)
                logind, _ = self.start_logind()
                helper = self.start_caffeinate("-ims")
                self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
                self.assertEqual(inhibitors(logind), sorted([SLEEP_LOCK, LID_LOCK]))
                self.assertEqual(helper.stop(), 0)
                self.assertTrue(eventually(lambda: inhibitors(logind) == []))
                self.units.unmask("sleep.target", where)

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
        helper = self.start_caffeinate("-ims")
        self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)

        def lid_attempts():
            return [args for args in calls(logind, "Inhibit") if args[0] == "handle-lid-switch"]

        self.assertTrue(eventually(lambda: len(lid_attempts()) >= 3))
        self.assertEqual(helper.stop(), 0)
        refusals = [line for line in helper.stderr if "handle-lid-switch" in line]
        self.assertEqual(len(refusals), 1, helper.stderr)

    def test_masks_of_other_units_do_not_take_the_lid_switch_lock(self):
        self.units.mask("sleep.target.bak")
        self.units.mask("systemd-suspend.service")
        logind, _ = self.start_logind()
        helper = self.start_caffeinate("-ims")
        self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
        self.assertEqual(inhibitors(logind), [SLEEP_LOCK])


class SessionInhibitorTests(PrivateBusTestCase):
    """The desktop's own inhibitor, stacked on the logind lock."""

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
                helper = self.start_helper([CAFFEINATE, arguments])
                self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)

                inhibit = calls(gnome, "Inhibit")
                self.assertEqual(len(inhibit), 1)
                self.assertEqual(inhibit[0][0], "Stayloom")
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
                helper = self.start_helper([CAFFEINATE, arguments])
                self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)

                self.assertEqual(len(calls(power, "Inhibit")), 1)
                expected = 1 if wants_screen_saver else 0
                self.assertEqual(len(calls(screen_saver, "Inhibit")), expected)

                self.assertEqual(helper.stop(), 0)
                self.assertEqual(calls(power, "UnInhibit"), [[5]])
                self.assertEqual(calls(screen_saver, "UnInhibit"), [[9]] * expected)

    def test_a_missing_session_bus_still_holds_the_logind_lock(self):
        logind, _ = self.start_logind()
        helper = self.start_helper([CAFFEINATE, "-dimsu"], DBUS_SESSION_BUS_ADDRESS=UNREACHABLE_BUS)
        self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
        self.assertEqual(inhibitors(logind), [SLEEP_LOCK])
        self.assertEqual(helper.stop(), 0)
        self.assertFalse(any("warning" in line for line in helper.stderr), helper.stderr)


if __name__ == "__main__":
    unittest.main()
