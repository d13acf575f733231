"""The example jobs of examples/, delivered to a recording server."""
import os
import shutil

from smtpservers import RecordingServer

EXAMPLES = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../examples")


def deliver_example(prog, name):
    """Runs examples/NAME in a copy of the examples folder (its paths are
    relative) and returns the one mail that arrived."""
    for f in os.listdir(EXAMPLES):
        if f != "plonEmail.dat":
            shutil.copy(os.path.join(EXAMPLES, f), prog.dir)
    with RecordingServer() as server:
        prog.settings(Host="127.0.0.1", Port=server.port, Timeout=10)
        r = prog.run(name, "/NOERROR")
    assert r.returncode == 0, r.stderr
    assert len(server.received) == 1
    return server.received[0]
