"""The scanner's stand-ins on a sandbox machine: the kernel driver that serves
the scanner's devices and the service "Norvane Portiva", both built by the
test suite (tests/scanner/standin). Installs, starts, switches, stops and
removes them, reads the driver's request record, and runs the channel's
operations through scanner_probe.exe."""

import os
import shutil
import struct
import time
from collections import namedtuple

from sandbox import TEST_BIN

DRIVER = "PortivaStandin"
DRIVER_KEY = r"HKLM\System\CurrentControlSet\Services\PortivaStandin"
SERVICE = "Norvane Portiva"
SERVICE_KEY = r"HKLM\System\CurrentControlSet\Services\Norvane Portiva"
# Where the stand-ins and the probe lie on the machine.
FOLDER = "C:\\standin"
RECORD = "C:\\portiva-requests.bin"
PROBE_LOG = "C:\\probe.log"
DEVICE_NAME_KEY = r"HKLM\Software\Tessival\Norvane\Portiva"

# How the driver answers: flags of its "Behaviour" value.
ECHO = 0x00
REFUSE_TEXT = 0x01
SILENT_READBACK = 0x02
REFUSE_54X = 0x04
REFUSE_READBACK = 0x08
REFUSE_SETTING = 0x10
PEND_READBACK = 0x20
REFUSE_ALL = REFUSE_TEXT | REFUSE_54X | REFUSE_READBACK | REFUSE_SETTING

# The driver's devices, as it numbers them in its record.
PORTIVA_DEV, QDX, PV95, PVXK95 = 1, 2, 3, 4

# Record kinds.
OPEN, CONTROL, CLOSE = 1, 2, 3

# Service states as the service manager numbers them.
STOPPED, START_PENDING, STOP_PENDING, RUNNING, CONTINUE_PENDING, PAUSE_PENDING, PAUSED = range(1, 8)
# The probe's answer when the service manager cannot tell.
UNKNOWN = 0

Request = namedtuple("Request", "kind device handle code input_length output_length access options share "
                                "attributes data")


def _copy_in(box, name):
    target = box.host_path(f"{FOLDER}\\{name}")
    os.makedirs(os.path.dirname(target), exist_ok=True)
    shutil.copyfile(os.path.join(TEST_BIN, name), target)
    return f"{FOLDER}\\{name}"


def create_service(box, name, kind, path):
    """Registers a service. On a loaded machine the service manager of a
    fresh prefix has now and then refused the first registration: it gets
    one more try after a second; a second refusal fails the test with what
    Wine said."""
    args = ("sc", "create", name, "type=", kind, "start=", "demand", "binPath=", path)
    if box.wine(*args, check=False).code != 0:
        time.sleep(1)
        box.wine(*args)


def sc_start(box, name):
    """Starts a service or driver. Under load Wine's service manager has now
    and then given up on a start (sc says nothing and exits 1) whose process
    then came up all the same, or never came up: the state decides, and one
    still stopped after a while gets one more try."""
    if box.wine("sc", "start", name, check=False).code == 0:
        return
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        if service_state(box, name) not in (UNKNOWN, STOPPED):
            return
        time.sleep(0.25)
    box.wine("sc", "start", name)


# --- the driver ---------------------------------------------------------------
def install_driver(box, behaviour=ECHO):
    """Installs and starts the driver; the machine's server stays up from now on."""
    box.keep_server()
    path = _copy_in(box, "portiva_standin.sys")
    create_service(box, DRIVER, "kernel", path)
    set_behaviour(box, behaviour)
    start_driver(box)


def set_behaviour(box, behaviour):
    """The driver reads it on every request: no restart needed."""
    box.reg_add(DRIVER_KEY, "Behaviour", str(behaviour), kind="REG_DWORD")


def start_driver(box):
    sc_start(box, DRIVER)


def stop_driver(box):
    """Removes the devices: the only way to make them absent, as Wine lets
    every open of a loaded driver's device succeed."""
    box.wine("sc", "stop", DRIVER)


def remove_driver(box):
    box.wine("sc", "stop", DRIVER, check=False)
    box.wine("sc", "delete", DRIVER)


def requests(box, timeout=10):
    """The requests the driver received since the last call, oldest first.
    Wine hands a close to the driver after CloseHandle has returned, so this
    waits until every handle opened so far has been closed again."""
    path = box.host_path(RECORD)
    deadline = time.monotonic() + timeout
    previous = None
    while True:
        found = _parse_record(path)
        opened = sum(1 for r in found if r.kind == OPEN)
        # Balanced and unchanged for a moment: a loaded machine may still be
        # writing the record of a later open.
        if (opened == sum(1 for r in found if r.kind == CLOSE) and found == previous) or \
                time.monotonic() > deadline:
            break
        previous = found
        time.sleep(0.25)
    if os.path.exists(path):
        os.remove(path)
    return found


def recorded(box):
    """The requests the driver has received so far, the record left as it
    is: for a program that still runs."""
    return _parse_record(box.host_path(RECORD))


def _parse_record(path):
    if not os.path.exists(path):
        return []
    with open(path, "rb") as f:
        data = f.read()
    found = []
    at = 0
    while at + 40 <= len(data):
        fields = struct.unpack_from("<10I", data, at)
        at += 40
        kept = min(fields[4], 256) if fields[0] == CONTROL else 0
        found.append(Request(*fields, data[at:at + kept]))
        at += kept
    return found


def set_device_name(box, data, kind="REG_SZ"):
    """The 9x device choice; None removes the value."""
    if data is None:
        box.wine("reg", "delete", DEVICE_NAME_KEY, "/v", "DeviceName", "/f", check=False)
    else:
        box.reg_add(DEVICE_NAME_KEY, "DeviceName", data, kind=kind)


# --- the service ----------------------------------------------------------------
def install_service(box):
    box.keep_server()
    path = _copy_in(box, "portiva_service.exe")
    create_service(box, SERVICE, "own", path)


def remove_service(box):
    box.wine("sc", "stop", SERVICE, check=False)
    box.wine("sc", "delete", SERVICE)


def start_service(box, state=RUNNING):
    set_service_report(box, state)
    sc_start(box, SERVICE)
    wait_service_state(box, state)


def set_service_state(box, state):
    """The running service follows its "ReportState" value; stopped ends it."""
    set_service_report(box, state)
    wait_service_state(box, state)


def set_service_report(box, state):
    box.reg_add(SERVICE_KEY, "ReportState", str(state), kind="REG_DWORD")


def service_state(box, name=SERVICE):
    return int(run_probe(box, "state", name).output[0].split("=")[1])


def wait_service_state(box, state, timeout=20):
    deadline = time.monotonic() + timeout
    while True:
        now = service_state(box)
        if now == state:
            return
        if time.monotonic() > deadline:
            raise AssertionError(f"service state {now}, expected {state}")
        time.sleep(0.05)


# --- the probe --------------------------------------------------------------------
ProbeRun = namedtuple("ProbeRun", "output trace")


def run_probe(box, *commands, probes=None):
    """Runs the channel's operations (see scanner_probe.cpp); returns the
    printed results and the trace lines they wrote."""
    log = box.host_path(PROBE_LOG)
    if os.path.exists(log):
        os.remove(log)
    if not box.exists(f"{FOLDER}\\scanner_probe.exe"):
        _copy_in(box, "scanner_probe.exe")
    env = {"RAVLOKFIX_TEST_PROBES": probes} if probes else None
    res = box.wine(f"{FOLDER}\\scanner_probe.exe", PROBE_LOG, *commands, env=env)
    trace = []
    if os.path.exists(log):
        with open(log, "rb") as f:
            trace = f.read().decode("latin-1").split("\r\n")[:-1]
    return ProbeRun(res.stdout.replace("\r\n", "\n").splitlines(), trace)
