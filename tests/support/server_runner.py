"""What the runners of the delivery tests share: a server script started on the Linux side with a fresh
folder, the Win32 test program run under Wine once the server has said it is ready, and the server and its
folder gone again on every way out (the server stops when its standard input closes)."""
import os
import select
import shutil
import signal
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))


def windows_path(path):
    """The Windows name of a Linux path under Wine's Z: drive."""
    return "Z:" + path.replace("/", "\\")


def run_beside(name, server_script, environment, start_limit, test_limit):
    """Runs the test program of sys.argv[1:] beside `server_script` FOLDER. `environment(first_line, folder)`
    gives the variables that tell the test where the server is, from the server's first line of output, or
    raises RuntimeError when that line says the server did not start. Returns the exit status."""
    if len(sys.argv) < 2:
        print("usage: %s TEST.exe [ARGUMENTS...]" % name, file=sys.stderr)
        return 2
    folder = tempfile.mkdtemp(prefix="tarvel-%s-" % name)
    server = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, server_script), folder],
                              stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
    try:
        ready, _, _ = select.select([server.stdout], [], [], start_limit)
        line = server.stdout.readline() if ready else ""
        env = dict(os.environ, **environment(line, folder))
        command = [os.path.join(ROOT, "scripts", "wine-run.sh")] + sys.argv[1:]
        # A group of its own: past the limit, the Wine process goes too, not only the script that started it.
        test = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, start_new_session=True)
        try:
            return test.wait(test_limit)
        except subprocess.TimeoutExpired:
            os.killpg(test.pid, signal.SIGKILL)
            test.wait()
            raise
    except (RuntimeError, subprocess.TimeoutExpired) as error:
        print("%s: %s" % (name, error), file=sys.stderr)
        return 1
    finally:
        server.stdin.close()
        try:
            server.wait(10)
        except subprocess.TimeoutExpired:
            server.kill()
            server.wait()
        shutil.rmtree(folder, ignore_errors=True)
