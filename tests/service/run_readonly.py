#!/usr/bin/env python3
"""Runs deploy_readonly_test.exe under Wine with a ProgramDir that cannot be
written: an immutable folder when we are root (root passes over permission
bits), a folder without write permission otherwise.

    run_readonly.py TEST_EXE WINE_RUN"""
import os
import shutil
import subprocess
import sys
import tempfile


def main():
    test_exe, wine_run = sys.argv[1], sys.argv[2]
    # Beside the test program, in the build tree: a disk file system, where the
    # immutable flag works (it does not on tmpfs).
    folder = tempfile.mkdtemp(prefix="readonly-", dir=os.path.dirname(os.path.abspath(test_exe)))
    immutable = os.geteuid() == 0
    try:
        if immutable:
            subprocess.run(["chattr", "+i", folder], check=True)
        else:
            os.chmod(folder, 0o555)
        try:
            open(os.path.join(folder, "probe"), "w").close()
            sys.exit("run_readonly: could not make a read-only folder")
        except OSError:
            pass
        win = subprocess.run(["winepath", "-w", folder], capture_output=True, check=True).stdout.decode().strip()
        env = dict(os.environ, CORVALEN_READONLY_PROGRAM_DIR=win)
        code = subprocess.run(["bash", wine_run, test_exe], env=env, timeout=120).returncode
    finally:
        if immutable:
            subprocess.run(["chattr", "-i", folder])
        else:
            os.chmod(folder, 0o755)
        shutil.rmtree(folder, ignore_errors=True)
    sys.exit(code)


if __name__ == "__main__":
    main()
