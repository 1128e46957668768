"""Builds of this repository as a maker would run them: a separate build
directory, the tests left out, cache variables on the command line.

    configure(build_dir, cache_vars=None, env=None) -> subprocess.CompletedProcess
    configure_and_build(build_dir, cache_vars=None, target="zvwebsetup", env=None) -> Path
    read_cache(build_dir) -> {name: value}
    version_strings(pe) -> {key: value}
"""
import os
import subprocess
from pathlib import Path

from zvtest.env import REPO


def _run(command, env):
    environ = dict(os.environ)
    environ.update(env or {})
    return subprocess.run([str(part) for part in command], env=environ, stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)


def configure(build_dir, cache_vars=None, env=None):
    """`cmake -S REPO -B build_dir -DZV_BUILD_TESTS=OFF -Dname=value...`;
    the caller checks returncode and stdout (stderr is merged into it)."""
    defines = ["-D%s=%s" % item for item in {"ZV_BUILD_TESTS": "OFF", **(cache_vars or {})}.items()]
    return _run(["cmake", "-S", REPO, "-B", build_dir, *defines], env)


def configure_and_build(build_dir, cache_vars=None, target="zvwebsetup", env=None):
    """Configures, then builds `target`; returns the path of target.exe at
    the top of build_dir. `env`: extra environment variables for both."""
    for result in (configure(build_dir, cache_vars, env),
                   _run(["cmake", "--build", build_dir, "--target", target,
                         "--parallel", str(os.cpu_count() or 1)], env)):
        if result.returncode != 0:
            raise RuntimeError("%s failed (%d):\n%s" % (" ".join(map(str, result.args)),
                                                        result.returncode, result.stdout))
    return Path(build_dir) / (target + ".exe")


def read_cache(build_dir):
    """CMakeCache.txt as {name: value}, types dropped."""
    values = {}
    for line in (Path(build_dir) / "CMakeCache.txt").read_text().splitlines():
        name, sep, value = line.partition("=")
        if sep and not line.startswith(("#", "//")):
            values[name.partition(":")[0]] = value
    return values


def version_strings(pe):
    """The StringFileInfo of a pefile.PE's version resource, as {key: value}."""
    return {key.decode(): value.decode()
            for info in pe.FileInfo[0] if info.Key == b"StringFileInfo"
            for table in info.StringTable for key, value in table.entries.items()}
