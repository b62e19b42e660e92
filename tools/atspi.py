"""What a screen reader does, for the checks: finds a program's widget by its accessible name on the
accessibility bus (AT-SPI over D-Bus) and performs one of its actions. It calls gdbus rather than a
D-Bus module, so that any Python runs it."""

import re
import subprocess

ROOT = "/org/a11y/atspi/accessible/root"
REGISTRY = "org.a11y.atspi.Registry"


class AtspiError(Exception):
    pass


def _strings(text):
    """The string values of gdbus's printed answer, in order (quoted '…' or "…", escapes undone)."""
    found = re.findall(r"'((?:[^'\\]|\\.)*)'|\"((?:[^\"\\]|\\.)*)\"", text)
    return [re.sub(r"\\(.)", r"\1", single or double) for single, double in found]


def _call(bus, destination, path, method, *arguments, timeout=5):
    command = ["gdbus", "call", *bus, "--dest", destination, "--object-path", path, "--method", method,
               "--timeout", str(timeout), *arguments]
    result = subprocess.run(command, capture_output=True, text=True, timeout=timeout + 5)
    if result.returncode != 0:
        raise AtspiError(f"{method} on {destination} {path}: {result.stderr.strip()}")
    return result.stdout


def address(env):
    """The accessibility bus's address, from org.a11y.Bus on the session bus of `env`."""
    result = subprocess.run(["gdbus", "call", "--address", env["DBUS_SESSION_BUS_ADDRESS"], "--dest", "org.a11y.Bus",
                             "--object-path", "/org/a11y/bus", "--method", "org.a11y.Bus.GetAddress"],
                            capture_output=True, text=True, timeout=10)
    if result.returncode != 0:
        raise AtspiError(f"no accessibility bus: {result.stderr.strip()}")
    return _strings(result.stdout)[0]


class Bus:
    def __init__(self, bus_address):
        self.bus = ["--address", bus_address]

    def children(self, node):
        text = _call(self.bus, *node, "org.a11y.atspi.Accessible.GetChildren")
        return re.findall(r"\('([^']*)', (?:objectpath )?'([^']*)'\)", text)

    def name(self, node):
        text = _call(self.bus, *node, "org.freedesktop.DBus.Properties.Get", "org.a11y.atspi.Accessible", "Name")
        return _strings(text)[0]

    def applications(self):
        """The programs registered with the accessibility bus's registry."""
        return self.children((REGISTRY, ROOT))

    def find(self, name):
        """The first widget of any registered program whose accessible name is `name`, or None (also
        while the registry is not up yet)."""
        try:
            pending = self.applications()
        except AtspiError:
            return None
        while pending:
            node = pending.pop(0)
            try:
                if self.name(node) == name:
                    return node
                pending.extend(self.children(node))
            except AtspiError:
                continue  # gone meanwhile, or not an accessible object
        return None

    def do_action(self, node, action):
        """Performs the widget's action named `action` ("Press" for a button)."""
        names = _strings(_call(self.bus, *node, "org.a11y.atspi.Action.GetActions"))
        # Each action is (name, description, key binding).
        for index in range(0, len(names) - len(names) % 3, 3):
            if names[index] == action:
                done = _call(self.bus, *node, "org.a11y.atspi.Action.DoAction", str(index // 3))
                if "true" not in done:
                    raise AtspiError(f"{action} was refused")
                return
        raise AtspiError(f"no action {action} among {names}")
