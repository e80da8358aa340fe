"""The keep-awake helper against real desktop daemons from Debian's packages, each on private
buses and a private Xvfb: gnome-session's inhibited actions, and xfce4-power-manager's idle
suspend, with a python3-dbusmock logind that only records the `Suspend` it is asked for."""

import os
import shutil
import subprocess
import tempfile
import time
import unittest

import dbus
import dbus.bus
import dbusmock

from helper_fixture import (
    end_process,
    INHIBIT,
    PATIENCE,
    SYSTEM_BUS_CONFIG,
    HelperProcess,
    PrivateBusTestCase,
    eventually,
)
from test_stayloom_inhibit import READY, start_xvfb

GNOME_SESSION = "/usr/libexec/gnome-session-binary"
XFCONFD = "/usr/lib/x86_64-linux-gnu/xfce4/xfconf/xfconfd"
POWER_MANAGER = "xfce4-power-manager"
# xfce4-power-manager's shortest idle suspend, in minutes, and the wait that outlasts it.
IDLE_MINUTES = 1
OUTLASTED = IDLE_MINUTES * 60 + 15

# Suspend after a minute on mains, without locking the screen first (which would ask a person
# when no locker runs) and without touching the display.
POWER_MANAGER_CHANNEL = f"""<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-power-manager" version="1.0">
  <property name="xfce4-power-manager" type="empty">
    <property name="inactivity-on-ac" type="uint" value="{IDLE_MINUTES}"/>
    <property name="inactivity-sleep-mode-on-ac" type="uint" value="1"/>
    <property name="lock-screen-suspend-hibernate" type="bool" value="false"/>
    <property name="dpms-enabled" type="bool" value="false"/>
  </property>
</channel>
"""


def read_report(folder, helper):
    path = os.path.join(folder, "stayloom", f"inhibit-{helper.process.pid}.state")
    try:
        with open(path, encoding="utf-8") as file:
            return file.read().splitlines()
    except FileNotFoundError:
        return []


class PrivateBus:
    """A dbus-daemon of our own, of `kind` "system" or "session", with no activatable services."""

    def __init__(self, folder, kind):
        socket = os.path.join(folder, f"{kind}_bus_socket")
        config = os.path.join(folder, f"{kind}.conf")
        with open(config, "w", encoding="utf-8") as file:
            file.write(SYSTEM_BUS_CONFIG.replace("<type>system</type>", f"<type>{kind}</type>")
                       .format(socket=socket))
        self.address = f"unix:path={socket}"
        self.daemon = subprocess.Popen(["dbus-daemon", "--nofork", f"--config-file={config}"],
                                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not eventually(lambda: os.path.exists(socket)):
            raise OSError(f"the private {kind} bus did not come up")
        self.connection = dbus.bus.BusConnection(self.address)

    def stop(self):
        self.connection.close()
        self.daemon.terminate()
        self.daemon.wait(timeout=PATIENCE)


class XfceSession:
    """Xvfb, a session bus with xfconfd and xfce4-power-manager, and a system bus with mocked
    logind (recording `Suspend`), polkit (allowing it) and UPower (on mains)."""

    def __init__(self, test):
        self.folder = tempfile.mkdtemp(prefix="stayloom-xfce-")
        test.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)
        self.processes = []
        test.addCleanup(self.stop)
        self.system = PrivateBus(self.folder, "system")
        self.session = PrivateBus(self.folder, "session")
        runtime = os.path.join(self.folder, "run")
        os.mkdir(runtime, 0o700)
        channel = os.path.join(self.folder, "config", "xfce4", "xfconf", "xfce-perchannel-xml")
        os.makedirs(channel)
        with open(os.path.join(channel, "xfce4-power-manager.xml"), "w", encoding="utf-8") as file:
            file.write(POWER_MANAGER_CHANNEL)
        self.runtime = runtime
        self.display_started = time.monotonic()
        self.env = dict(
            os.environ,
            DISPLAY=start_xvfb(test),
            DBUS_SYSTEM_BUS_ADDRESS=self.system.address,
            DBUS_SESSION_BUS_ADDRESS=self.session.address,
            HOME=self.folder,
            XDG_CONFIG_HOME=os.path.join(self.folder, "config"),
            XDG_RUNTIME_DIR=runtime,
            XDG_CURRENT_DESKTOP="XFCE",
        )
        self.logind = self._mock("logind", "org.freedesktop.login1", "/org/freedesktop/login1")
        polkit = self._mock("polkitd", "org.freedesktop.PolicyKit1",
                            "/org/freedesktop/PolicyKit1/Authority")
        polkit.AllowUnknown(True)
        self._mock("upower", "org.freedesktop.UPower", "/org/freedesktop/UPower",
                   '{"OnBattery": false}')
        self._start([XFCONFD])
        self.power_manager = None

    def _start(self, argv):
        process = subprocess.Popen(argv, env=self.env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.processes.append(process)
        return process

    def _mock(self, template, name, path, parameters=None):
        argv = ["/usr/bin/python3", "-m", "dbusmock", "--system", "--template", template]
        if parameters:
            argv += ["--parameters", parameters]
        self._start(argv)
        if not eventually(lambda: self.system.connection.name_has_owner(name)):
            raise OSError(f"the {template} mock did not start")
        return dbus.Interface(self.system.connection.get_object(name, path), dbusmock.MOCK_IFACE)

    def start_power_manager(self):
        # It asks logind only where /run/systemd/seats shows one runs: a private /run/systemd.
        self.power_manager = self._start(
            ["unshare", "--mount", "--propagation", "private", "sh", "-c",
             "mount -t tmpfs stayloom-seats /run/systemd && mkdir /run/systemd/seats && "
             f"exec {POWER_MANAGER}"])
        if not eventually(lambda: self.session.connection.name_has_owner(
                "org.freedesktop.PowerManagement")):
            raise AssertionError("xfce4-power-manager did not take its name")

    def restart_power_manager(self):
        self.power_manager.terminate()
        self.power_manager.wait(timeout=PATIENCE)
        eventually(lambda: not self.session.connection.name_has_owner(
            "org.freedesktop.PowerManagement"))
        self.start_power_manager()

    def start_helper(self, arguments):
        helper = HelperProcess([INHIBIT, arguments], self.env)
        self.processes.append(helper.process)
        self.helpers = getattr(self, "helpers", []) + [helper]
        return helper

    def suspends(self):
        return len(self.logind.GetMethodCalls("Suspend"))

    def stop(self):
        for helper in getattr(self, "helpers", []):
            helper.kill()
        for process in reversed(self.processes):
            end_process(process)
        self.processes = []
        for bus in (getattr(self, "session", None), getattr(self, "system", None)):
            if bus is not None:
                bus.stop()
        self.session = self.system = None


def _needs(*programs):
    missing = [program for program in programs if not shutil.which(program)]
    if missing or os.geteuid() != 0:
        print(f"BUS UNAVAILABLE: needs root and {', '.join(missing) or 'nothing else'}",
              flush=True)
        raise unittest.SkipTest("BUS UNAVAILABLE")


class XfcePowerManagerTests(unittest.TestCase):
    """xfce4-power-manager ignores logind's locks and suspends through the user's own logind
    call, which systemd before 257 lets past the user's block lock: only its own inhibitor
    holds it, and only if the helper follows it through its starts."""

    def setUp(self):
        _needs("Xvfb", "unshare", POWER_MANAGER, XFCONFD)

    def test_its_idle_suspend_waits_while_held_even_when_it_starts_or_restarts_later(self):
        # The three sessions share one minute of waiting: about 75 seconds in all.
        unguarded, late, restarted = XfceSession(self), XfceSession(self), XfceSession(self)
        unguarded.start_power_manager()

        late_helper = late.start_helper("-ims")
        self.assertTrue(late_helper.wait_for_stdout(READY), late_helper.stderr)
        late.start_power_manager()

        restarted.start_power_manager()
        restarted_helper = restarted.start_helper("-dimsu")
        self.assertTrue(restarted_helper.wait_for_stdout(READY), restarted_helper.stderr)
        restarted.restart_power_manager()

        held = "lock org.freedesktop.PowerManagement suspend held honoured"
        for session, helper in [(late, late_helper), (restarted, restarted_helper)]:
            self.assertTrue(eventually(lambda: held in read_report(session.runtime, helper)),
                            read_report(session.runtime, helper))
            self.assertIn("desktop XFCE", read_report(session.runtime, helper))

        # Without the helper the rig suspends at its minute, which proves that it would.
        self.assertTrue(eventually(lambda: unguarded.suspends() > 0, timeout=OUTLASTED + 30))
        for session in (late, restarted):
            remaining = session.display_started + OUTLASTED - time.monotonic()
            if remaining > 0:
                time.sleep(remaining)
        self.assertEqual(late.suspends(), 0, "suspended though held since before it started")
        self.assertEqual(restarted.suspends(), 0, "suspended though held across its restart")
        for helper in (late_helper, restarted_helper):
            self.assertEqual(helper.stop(), 0, helper.stderr)


class GnomeSessionTests(PrivateBusTestCase):
    """A real gnome-session (its built-in session management, no components) on a private
    session bus and Xvfb; its InhibitedActions is what GNOME's power plugin obeys."""

    def setUp(self):
        super().setUp()
        if not os.path.exists(GNOME_SESSION) or not shutil.which("Xvfb"):
            print("BUS UNAVAILABLE: needs gnome-session-bin and Xvfb", flush=True)
            raise unittest.SkipTest("BUS UNAVAILABLE")
        self.start_logind()
        self.folder = tempfile.mkdtemp(prefix="stayloom-gnome-")
        self.addCleanup(shutil.rmtree, self.folder, ignore_errors=True)
        sessions = os.path.join(self.folder, "gnome-session", "sessions")
        os.makedirs(sessions)
        with open(os.path.join(sessions, "stayloom-test.session"), "w", encoding="utf-8") as file:
            file.write("[GNOME Session]\nName=Stayloom test\nRequiredComponents=\n")
        self.gnome_env = dict(os.environ, DISPLAY=start_xvfb(self), HOME=self.folder,
                              XDG_DATA_DIRS=self.folder + ":/usr/share",
                              XDG_CONFIG_HOME=os.path.join(self.folder, "config"))
        self.gnome = None
        self.addCleanup(self.stop_gnome)

    def start_gnome(self):
        self.gnome = subprocess.Popen(
            [GNOME_SESSION, "--builtin", "--disable-acceleration-check",
             "--session=stayloom-test", "--autostart", os.path.join(self.folder, "autostart")],
            env=self.gnome_env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.assertTrue(eventually(
            lambda: self.session_bus.name_has_owner("org.gnome.SessionManager")))

    def stop_gnome(self):
        if self.gnome is not None and self.gnome.poll() is None:
            self.gnome.terminate()
            self.gnome.wait(timeout=PATIENCE)
        eventually(lambda: not self.session_bus.name_has_owner("org.gnome.SessionManager"))

    def inhibited_actions(self):
        manager = self.session_bus.get_object("org.gnome.SessionManager",
                                              "/org/gnome/SessionManager")
        return int(dbus.Interface(manager, "org.freedesktop.DBus.Properties").Get(
            "org.gnome.SessionManager", "InhibitedActions"))

    def test_inhibited_actions_follow_the_display_setting_and_survive_a_restart(self):
        # 4 = suspend, 8 = idle (the screen blanks and locks when idle).
        self.start_gnome()
        self.assertEqual(self.inhibited_actions(), 0)
        for arguments, flags in [("-ims", 4), ("-dimsu", 12)]:
            with self.subTest(arguments=arguments):
                helper = self.start_helper([INHIBIT, arguments])
                self.assertTrue(helper.wait_for_stdout(READY), helper.stderr)
                self.assertEqual(self.inhibited_actions(), flags)
                self.stop_gnome()
                self.start_gnome()
                self.assertTrue(eventually(lambda: self.inhibited_actions() == flags))
                self.assertEqual(helper.stop(), 0, helper.stderr)
                self.assertTrue(eventually(lambda: self.inhibited_actions() == 0))


if __name__ == "__main__":
    unittest.main()
