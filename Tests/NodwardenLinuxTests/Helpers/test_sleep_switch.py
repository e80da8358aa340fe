"""The system sleep switch helper: its listing, its systemctl calls and its suspend request."""

import os
import shutil
import subprocess
import tempfile
import unittest

from helper_fixture import (
    LOGIND,
    NOBODY,
    RealPolkit,
    PATIENCE,
    SLEEP_SWITCH,
    SLEEP_UNITS,
    UNREACHABLE_BUS,
    PrivateBusTestCase,
    calls,
)

FAKE_SYSTEMCTL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "fake-systemctl")


class FakeSystemctl:
    """A `systemctl` that records each call's arguments; the only program on PATH."""

    def __init__(self):
        self._folder = tempfile.TemporaryDirectory(prefix="stayloom-systemctl-")
        self.bin = os.path.join(self._folder.name, "bin")
        os.mkdir(self.bin)
        os.symlink(FAKE_SYSTEMCTL, os.path.join(self.bin, "systemctl"))
        self.log = os.path.join(self._folder.name, "calls")

    def configure(self, settings):
        """Its FAKE_SYSTEMCTL_* settings for the next calls, read from a file beside it: the sleep
        switch hands systemctl none of the caller's other variables."""
        with open(os.path.join(self.bin, "systemctl.settings"), "w", encoding="utf-8") as file:
            file.writelines(f"{name}='{value}'\n" for name, value in settings.items())

    def calls(self):
        """Each call's arguments, in order."""
        if not os.path.exists(self.log):
            return []
        with open(self.log, encoding="utf-8") as file:
            text = file.read()
        return [chunk.strip("\n").split("\n") for chunk in text.split("--\n") if chunk.strip("\n")]

    def cleanup(self):
        self._folder.cleanup()


def place(root, where, unit, target):
    """Puts a unit link (or, with no target, a real unit file) below a fixture root."""
    folder = os.path.join(root, where, "systemd", "system")
    os.makedirs(folder, exist_ok=True)
    if target is None:
        with open(os.path.join(folder, unit), "w", encoding="utf-8") as file:
            file.write("[Unit]\nDescription=Local override\n")
    else:
        os.symlink(target, os.path.join(folder, unit))


def record(root, *units):
    """Writes the sleep switch's record of its own masks below a fixture root."""
    folder = os.path.join(root, "run", "stayloom")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "sleep-switch-masks"), "w", encoding="utf-8") as file:
        file.writelines(unit + "\n" for unit in units)


def links(root, where):
    folder = os.path.join(root, where, "systemd", "system")
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


def status_lines(output):
    return output.splitlines()[1:]


class SleepSwitchCommandTests(PrivateBusTestCase):
    def setUp(self):
        super().setUp()
        self.systemctl = FakeSystemctl()
        self.addCleanup(self.systemctl.cleanup)
        self.root = tempfile.TemporaryDirectory(prefix="stayloom-units-")
        self.addCleanup(self.root.cleanup)

    def switch(self, *arguments, prefix=(), **overrides):
        overrides.setdefault("PATH", self.systemctl.bin)
        overrides.setdefault("STAYLOOM_UNIT_ROOT", self.root.name)
        settings = {"FAKE_SYSTEMCTL_LOG": self.systemctl.log}
        settings.update(
            (name, overrides.pop(name)) for name in list(overrides) if name.startswith("FAKE_")
        )
        self.systemctl.configure(settings)
        return self.run_helper([*prefix, SLEEP_SWITCH, *arguments], **overrides)

    def test_disable_and_enable_mask_and_unmask_exactly_the_sleep_targets_for_this_boot(self):
        for command, verb in [("disable", "mask"), ("enable", "unmask")]:
            with self.subTest(command=command):
                result = self.switch(command)
                self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(
            self.systemctl.calls(),
            [
                ["mask", "--runtime", "--no-ask-password", *SLEEP_UNITS],
                ["unmask", "--runtime", "--no-ask-password", *SLEEP_UNITS],
            ],
        )

    def test_disable_and_enable_succeed_only_when_the_links_then_agree(self):
        # (name, links, environment, commands, their exit statuses, SleepDisabled after each,
        #  the links left in /run and /etc at the end)
        cases = [
            (
                "systemctl claims success but masks nothing",
                [],
                {"FAKE_SYSTEMCTL_IGNORE": "1"},
                ["disable"],
                [1],
                [0],
                ([], []),
            ),
            (
                "a real unit file in /etc hides the runtime mask: nothing is left masked",
                [("etc", "sleep.target", None)],
                {},
                ["disable"],
                [1],
                [0],
                ([], ["sleep.target"]),
            ),
            (
                "an administrator's own mask is neither reported nor removed",
                [("etc", "suspend.target", "/dev/null")],
                {},
                ["disable", "enable"],
                [0, 0],
                [1, 0],
                ([], ["suspend.target"]),
            ),
            (
                "an administrator's runtime mask is neither reported nor removed",
                [("run", "hibernate.target", "/dev/null")],
                {},
                ["disable", "enable"],
                [0, 0],
                [1, 0],
                (["hibernate.target"], []),
            ),
        ]
        for name, placed, overrides, commands, statuses, disabled, left in cases:
            with self.subTest(name), tempfile.TemporaryDirectory(prefix="stayloom-units-") as root:
                for where, unit, target in placed:
                    place(root, where, unit, target)
                for command, status, expected in zip(commands, statuses, disabled):
                    result = self.switch(command, STAYLOOM_UNIT_ROOT=root, **overrides)
                    self.assertEqual(result.returncode, status, (command, result.stderr))
                    if status:
                        self.assertIn("stayloom-sleep-switch: sleep is still", result.stderr)
                    listing = self.switch("status", STAYLOOM_UNIT_ROOT=root).stdout
                    self.assertEqual(status_lines(listing)[0], f" SleepDisabled\t\t{expected}")
                self.assertEqual((links(root, "run"), links(root, "etc")), left)

    def test_a_failed_systemctl_is_a_failure_that_never_looks_like_a_pkexec_status(self):
        # pkexec itself exits 126 (dismissed) and 127 (denied); the helper must not echo them.
        # Its own masks are in place, so enable has something to undo.
        for unit in SLEEP_UNITS:
            place(self.root.name, "run", unit, "/dev/null")
        record(self.root.name, *SLEEP_UNITS)
        for overrides in [
            {"FAKE_SYSTEMCTL_STATUS": "1"},
            {"FAKE_SYSTEMCTL_STATUS": "126"},
            {"FAKE_SYSTEMCTL_STATUS": "127"},
            {"FAKE_SYSTEMCTL_SIGNAL": "KILL"},
        ]:
            for command in ["disable", "enable"]:
                with self.subTest(command=command, **overrides):
                    # disable has nothing left to mask unless one of them is free again.
                    os.unlink(os.path.join(self.root.name, "run/systemd/system/sleep.target"))
                    result = self.switch(command, **overrides)
                    self.assertEqual(result.returncode, 1)
                    self.assertIn("systemctl", result.stderr)
                    place(self.root.name, "run", "sleep.target", "/dev/null")

    def test_a_missing_systemctl_is_a_failure(self):
        empty = os.path.join(self.root.name, "empty-bin")
        os.mkdir(empty)
        result = self.switch("disable", PATH=empty)
        self.assertEqual(result.returncode, 1)
        self.assertIn("cannot run systemctl", result.stderr)

    def test_systemctl_gets_none_of_the_callers_variables_but_its_bus_and_unit_root(self):
        seen = os.path.join(self.root.name, "systemctl.env")
        result = self.switch(
            "disable",
            STAYLOOM_PLANTED_SECRET="sk-secret",
            DBUS_SYSTEM_BUS_ADDRESS=UNREACHABLE_BUS,
            FAKE_SYSTEMCTL_ENV_LOG=seen,
        )
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(seen, encoding="utf-8") as file:
            names = {line.split("=", 1)[0] for line in file.read().splitlines()}
        # The shell running the fake adds PWD of its own.
        names -= {"PWD"}
        allowed = {"PATH", "LANG", "LANGUAGE", "DBUS_SYSTEM_BUS_ADDRESS", "STAYLOOM_UNIT_ROOT"}
        self.assertEqual({name for name in names if not name.startswith("LC_")} - allowed, set())
        self.assertTrue({"PATH", "DBUS_SYSTEM_BUS_ADDRESS", "STAYLOOM_UNIT_ROOT"} <= names, names)

    def test_its_record_folder_is_made_0755_even_under_the_callers_umask_000(self):
        # pkexec hands the caller's umask to the helper it runs as root.
        result = self.switch("disable", prefix=["/bin/sh", "-c", 'umask 000 && exec "$@"', "sh"])
        self.assertEqual(result.returncode, 0, result.stderr)
        folder = os.path.join(self.root.name, "run", "stayloom")
        self.assertEqual(os.lstat(folder).st_mode & 0o7777, 0o755)
        record = os.path.join(folder, "sleep-switch-masks")
        self.assertEqual(os.lstat(record).st_mode & 0o7777, 0o644)

    def test_a_record_or_folder_it_did_not_make_is_refused_and_never_blocks(self):
        folder = os.path.join(self.root.name, "run", "stayloom")
        masks = os.path.join(folder, "sleep-switch-masks")
        nobody = os.path.join(self.root.name, "nobody")

        def open_to_all_with_another_users_fifo():
            os.chmod(self.root.name, 0o755)
            os.chmod(os.path.dirname(folder), 0o755)
            os.chmod(folder, 0o777)
            subprocess.run([*NOBODY, "/bin/sh", "-c", 'rm "$0" && mkfifo "$0"', masks],
                           check=True, timeout=PATIENCE)

        def linked_folder():
            os.rename(folder, nobody)
            os.symlink(nobody, folder)

        # (name, what is done to a folder holding a good record, words of the refusal)
        def replaced(make):
            return lambda: (os.unlink(masks), make())

        cases = [
            (
                "open to everyone, another user's FIFO in it",
                open_to_all_with_another_users_fifo,
                "writable by group or others",
            ),
            ("a FIFO as record", replaced(lambda: os.mkfifo(masks)), "not a regular file"),
            (
                "a link to /dev/zero as record",
                replaced(lambda: os.symlink("/dev/zero", masks)),
                "it is a link",
            ),
            ("another user's record", lambda: os.chown(masks, 65534, 65534), "owned by user 65534"),
            ("a link as folder", linked_folder, "it is a link"),
        ]
        for name, plant, refusal in cases:
            with self.subTest(name):
                shutil.rmtree(os.path.join(self.root.name, "run"), ignore_errors=True)
                shutil.rmtree(nobody, ignore_errors=True)
                for unit in SLEEP_UNITS:
                    place(self.root.name, "run", unit, "/dev/null")
                record(self.root.name, *SLEEP_UNITS)
                os.chmod(folder, 0o755)
                plant()
                for command in ["status", "disable", "enable"]:
                    result = self.switch(command)
                    self.assertEqual(result.returncode, 1, (command, result.stdout))
                    self.assertIn(f"stayloom-sleep-switch: refusing {folder}", result.stderr)
                    self.assertIn(refusal, result.stderr)
                self.assertEqual(links(self.root.name, "run"), sorted(SLEEP_UNITS))
        self.assertEqual(self.systemctl.calls(), [])

    def test_enable_without_its_record_never_reports_the_masks_gone(self):
        # The record taken away: nothing tells its masks from an administrator's, so they stay,
        # and the caller hears that sleep is still off.
        self.assertEqual(self.switch("disable").returncode, 0)
        os.unlink(os.path.join(self.root.name, "run", "stayloom", "sleep-switch-masks"))
        result = self.switch("enable")
        self.assertEqual(result.returncode, 1)
        self.assertIn("stayloom-sleep-switch: sleep is still masked: sleep.target", result.stderr)
        self.assertEqual(links(self.root.name, "run"), sorted(SLEEP_UNITS))

    def test_only_its_own_subcommands_are_accepted(self):
        for arguments in [
            [],
            ["mask"],
            ["Status"],
            ["--help"],
            ["disable", "sshd.service"],
            ["enable", "--now"],
            ["status", "extra"],
            [""],
        ]:
            with self.subTest(arguments=arguments):
                result = self.switch(*arguments)
                self.assertEqual(result.returncode, 2)
                self.assertIn("usage: stayloom-sleep-switch", result.stderr)
        self.assertEqual(self.systemctl.calls(), [])

    def test_status_reads_the_unit_links(self):
        # (links to place as (folder, unit, target or None for a real file), units in the switch's
        #  record, SleepDisabled, the listed state of each unit that differs from "unmasked")
        ours = "masked-runtime by this switch"
        cases = [
            ("nothing masked", [], [], 0, {}),
            (
                "its own runtime mask",
                [("run", "suspend.target", "/dev/null")],
                ["suspend.target"],
                1,
                {"suspend.target": ours},
            ),
            (
                "someone else's runtime mask",
                [("run", "suspend.target", "/dev/null")],
                [],
                0,
                {"suspend.target": "masked-runtime"},
            ),
            (
                "persistent mask by an administrator",
                [("etc", "hibernate.target", "/dev/null")],
                [],
                0,
                {"hibernate.target": "masked"},
            ),
            (
                "all five its own",
                [("run", unit, "/dev/null") for unit in SLEEP_UNITS],
                SLEEP_UNITS,
                1,
                {unit: ours for unit in SLEEP_UNITS},
            ),
            (
                "a record whose masks are gone",
                [],
                ["sleep.target", "suspend.target"],
                0,
                {},
            ),
            (
                "a record naming other units",
                [("run", "systemd-suspend.service", "/dev/null")],
                ["systemd-suspend.service"],
                0,
                {},
            ),
            (
                "a real unit file in /etc hides a runtime mask",
                [("etc", "sleep.target", None), ("run", "sleep.target", "/dev/null")],
                [],
                0,
                {},
            ),
            (
                "a link to a real unit is no mask",
                [("run", "sleep.target", "/lib/systemd/system/sleep.target")],
                ["sleep.target"],
                0,
                {},
            ),
            (
                "other units do not count",
                [
                    ("run", "systemd-suspend.service", "/dev/null"),
                    ("etc", "sleep.target.wants", "/dev/null"),
                ],
                [],
                0,
                {},
            ),
        ]
        for name, placed, recorded, disabled, states in cases:
            with self.subTest(name):
                with tempfile.TemporaryDirectory(prefix="stayloom-units-") as root:
                    for where, unit, target in placed:
                        place(root, where, unit, target)
                    if recorded:
                        record(root, *recorded)
                    result = self.switch("status", STAYLOOM_UNIT_ROOT=root)
                self.assertEqual(result.returncode, 0, result.stderr)
                lines = status_lines(result.stdout)
                self.assertEqual(lines[0], f" SleepDisabled\t\t{disabled}")
                expected = [f" {unit}\t\t{states.get(unit, 'unmasked')}" for unit in SLEEP_UNITS]
                self.assertEqual(lines[1:], expected)
        self.assertEqual(self.systemctl.calls(), [])

    def test_with_administrator_rights_the_callers_environment_is_dropped(self):
        # pkexec sets PKEXEC_UID; then no test root (or search path) the caller chose may count.
        # Only the read-only listing runs here: a real switch would change this machine.
        for unit in SLEEP_UNITS:
            place(self.root.name, "run", unit, "/dev/null")
        record(self.root.name, *SLEEP_UNITS)
        as_caller = self.switch("status")
        self.assertEqual(status_lines(as_caller.stdout)[0], " SleepDisabled\t\t1")
        elevated = self.switch("status", PKEXEC_UID=str(os.getuid()))
        machine = self.switch("status", STAYLOOM_UNIT_ROOT="/")
        self.assertEqual(elevated.returncode, 0, elevated.stderr)
        self.assertEqual(elevated.stdout, machine.stdout)

    def test_suspend_asks_mocked_logind_without_interaction(self):
        # Mocked: the real logind would try to suspend this machine.
        _, logind_mock = self.start_logind()
        result = self.switch("suspend")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(calls(logind_mock, "Suspend"), [[False]])
        self.assertEqual(self.systemctl.calls(), [])

    def test_suspend_failures_exit_1_with_mocked_logind(self):
        cases = [
            ("logind refuses", {}, True),
            ("no logind", {}, False),
            ("no system bus", {"DBUS_SYSTEM_BUS_ADDRESS": UNREACHABLE_BUS}, False),
        ]
        for name, overrides, refusing in cases:
            with self.subTest(name), self.fresh_services():
                if refusing:
                    self.refusing_logind("Suspend", "b", "")
                result = self.switch("suspend", **overrides)
                self.assertEqual(result.returncode, 1)
                self.assertIn("stayloom-sleep-switch:", result.stderr)
                if refusing:
                    self.assertIn("AccessDenied", result.stderr)


REAL_SYSTEMCTL = shutil.which("systemctl", path="/usr/bin:/bin")


@unittest.skipUnless(REAL_SYSTEMCTL, "no systemctl on this machine")
class RealSystemctlTests(unittest.TestCase):
    """The real systemctl, confined with --root to a fixture tree, so the links the helper reads
    are the ones the tool really writes."""

    def setUp(self):
        folder = tempfile.TemporaryDirectory(prefix="stayloom-real-systemctl-")
        self.addCleanup(folder.cleanup)
        self.root = os.path.join(folder.name, "root")
        os.mkdir(self.root)
        self.bin = os.path.join(folder.name, "bin")
        os.mkdir(self.bin)
        wrapper = os.path.join(self.bin, "systemctl")
        with open(wrapper, "w", encoding="utf-8") as file:
            file.write(f'#!/bin/sh\nexec {REAL_SYSTEMCTL} --root="$STAYLOOM_UNIT_ROOT" "$@"\n')
        os.chmod(wrapper, 0o700)

    def switch(self, command):
        env = dict(os.environ, PATH=self.bin, STAYLOOM_UNIT_ROOT=self.root)
        env.pop("PKEXEC_UID", None)
        return subprocess.run(
            [SLEEP_SWITCH, command], env=env, capture_output=True, text=True, timeout=PATIENCE
        )

    def disabled(self):
        return status_lines(self.switch("status").stdout)[0].split()[-1]

    def test_disable_then_enable_round_trip(self):
        self.assertEqual(self.switch("disable").returncode, 0)
        self.assertEqual(self.disabled(), "1")
        runtime = os.path.join(self.root, "run", "systemd", "system")
        self.assertEqual(sorted(os.listdir(runtime)), sorted(SLEEP_UNITS))
        for unit in SLEEP_UNITS:
            self.assertEqual(os.readlink(os.path.join(runtime, unit)), "/dev/null")

        self.assertEqual(self.switch("enable").returncode, 0)
        self.assertEqual(self.disabled(), "0")
        self.assertEqual(os.listdir(runtime), [])

        # An administrator's own masks, in /etc and for this boot, are not the helper's: they are
        # not reported as its own, and they are still there after it restores sleep.
        place(self.root, "etc", "hibernate.target", "/dev/null")
        place(self.root, "run", "hybrid-sleep.target", "/dev/null")
        self.assertEqual(self.disabled(), "0")
        result = self.switch("disable")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.disabled(), "1")
        # hibernate.target is off through /etc already; hybrid-sleep.target's link was there.
        self.assertEqual(
            sorted(os.listdir(runtime)),
            sorted([unit for unit in SLEEP_UNITS if unit != "hibernate.target"]),
        )
        result = self.switch("enable")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.disabled(), "0")
        self.assertEqual(os.listdir(runtime), ["hybrid-sleep.target"])
        self.assertTrue(os.path.islink(os.path.join(self.root, "etc/systemd/system/hibernate.target")))


POLICY = os.path.join(
    os.path.dirname(os.path.abspath(__file__)), "../../../data/polkit/org.stayloom.Stayloom.policy"
)


class RealPolkitActionTests(unittest.TestCase):
    """The shipped polkit action as the real polkitd reads it: pkexec shows its message for the
    installed sleep switch instead of its generic one."""

    @classmethod
    def setUpClass(cls):
        cls.actions = tempfile.TemporaryDirectory(prefix="stayloom-polkit-actions-")
        os.chmod(cls.actions.name, 0o755)  # polkitd reads it as its own unprivileged user
        os.chmod(shutil.copy(POLICY, cls.actions.name), 0o644)

        class Polkit(RealPolkit):
            actions = cls.actions.name

        cls.polkit = Polkit.start_or_skip()

    @classmethod
    def tearDownClass(cls):
        cls.polkit.stop()
        cls.actions.cleanup()

    def test_the_action_names_the_helper_and_keeps_the_authorisation_briefly(self):
        result = subprocess.run(
            ["pkaction", "--verbose", "--action-id", "org.stayloom.Stayloom.sleep-switch"],
            env=self.polkit.environment(),
            capture_output=True,
            text=True,
            timeout=PATIENCE,
        )
        self.assertEqual(result.returncode, 0, result.stderr)
        fields = {}
        for line in result.stdout.splitlines()[1:]:
            key, _, value = line.partition(":")
            fields[key.strip()] = value.strip()
        self.assertEqual(fields["implicit active"], "auth_admin_keep")
        self.assertEqual(fields["implicit any"], "auth_admin")
        self.assertEqual(
            fields["annotation"],
            "org.freedesktop.policykit.exec.path -> /usr/libexec/stayloom/stayloom-sleep-switch",
        )
        # Says what is switched and that it comes back, in words true on Linux.
        message = fields["message"]
        for words in ["masks the systemd sleep targets", "lid closed",
                      "restored when lid-closed mode ends"]:
            self.assertIn(words, message)
        self.assertNotIn("pmset", message)


if __name__ == "__main__":
    unittest.main()
