# The default configuration directory: "config" beside the module's file.
import os
import shutil
import subprocess
import sys

import pytest

import harborsweep.harborsweep as hs


@pytest.fixture
def package(tmp_path, monkeypatch):
    """A package directory that the module's file appears to live in."""
    directory = tmp_path / "harborsweep"
    directory.mkdir()
    monkeypatch.setattr(hs, "__file__", str(directory / "harborsweep.cpython.so"))
    return directory


def missing(path):
    return f"Default config directory not found: {path}"


def test_a_directory_named_config_beside_the_module(package):
    (package / "config").mkdir()
    found = hs.get_default_config_dir()
    assert found == os.path.join(str(package), "config")
    assert type(found) is str and not found.endswith(os.sep)


def test_the_path_is_neither_resolved_nor_normalised(tmp_path, monkeypatch):
    (tmp_path / "real" / "config").mkdir(parents=True)
    (tmp_path / "link").symlink_to(tmp_path / "real")
    module_file = f"{tmp_path}/link/./harborsweep.so"
    monkeypatch.setattr(hs, "__file__", module_file)
    assert hs.get_default_config_dir() == f"{tmp_path}/link/./config"


def test_a_link_to_a_directory_counts_and_the_link_path_is_returned(package, tmp_path):
    (tmp_path / "elsewhere").mkdir()
    (package / "config").symlink_to(tmp_path / "elsewhere")
    assert hs.get_default_config_dir() == str(package / "config")


@pytest.mark.parametrize(
    "make",
    [
        lambda config, tmp: None,
        lambda config, tmp: config.write_text("[default]\n"),
        lambda config, tmp: config.symlink_to(tmp / "nowhere"),
        lambda config, tmp: (config.symlink_to(tmp / "file"), (tmp / "file").write_text("")),
    ],
    ids=["missing", "regular file", "dangling link", "link to a file"],
)
def test_anything_but_a_directory_is_not_found(package, tmp_path, make):
    make(package / "config", tmp_path)
    with pytest.raises(FileNotFoundError) as raised:
        hs.get_default_config_dir()
    error = raised.value
    assert error.args == (missing(package / "config"),)
    assert str(error) == missing(package / "config")
    assert error.errno is None and error.filename is None


def test_a_module_file_without_directory_part_is_looked_up_from_the_working_directory(tmp_path, monkeypatch):
    monkeypatch.setattr(hs, "__file__", "harborsweep.so")
    monkeypatch.chdir(tmp_path)
    with pytest.raises(FileNotFoundError) as raised:
        hs.get_default_config_dir()
    assert str(raised.value) == missing("config")
    (tmp_path / "config").mkdir()
    assert hs.get_default_config_dir() == "config"


def test_the_module_file_is_read_at_every_call(tmp_path, monkeypatch):
    for name in ("one", "two"):
        (tmp_path / name / "config").mkdir(parents=True)
    monkeypatch.setattr(hs, "__file__", str(tmp_path / "one" / "m.so"))
    assert hs.get_default_config_dir() == str(tmp_path / "one" / "config")
    monkeypatch.setattr(hs, "__file__", str(tmp_path / "two" / "m.so"))
    assert hs.get_default_config_dir() == str(tmp_path / "two" / "config")
    monkeypatch.delattr(hs, "__file__")
    with pytest.raises(NameError):
        hs.get_default_config_dir()


def test_the_installed_module_looks_beside_its_own_file(tmp_path):
    # A copy of the installed package, imported in a child from where this
    # test put it: the module's own __file__, as the import set it, decides.
    site = tmp_path / "site"
    shutil.copytree(os.path.dirname(hs.__file__), site / "harborsweep",
                    ignore=shutil.ignore_patterns("__pycache__"))
    module_file = site / "harborsweep" / os.path.basename(hs.__file__)
    beside = site / "harborsweep" / "config"
    program = (
        "import os, sys\n"
        "from harborsweep import harborsweep as hs\n"
        "print(hs.__file__)\n"
        "for make in (False, True):\n"
        "    if make:\n"
        "        os.mkdir(sys.argv[1])\n"
        "    try:\n"
        "        print(hs.get_default_config_dir())\n"
        "    except FileNotFoundError as error:\n"
        "        print(error)\n"
    )
    environment = dict(os.environ, PYTHONPATH=str(site))
    done = subprocess.run([sys.executable, "-c", program, str(beside)], cwd=tmp_path, env=environment,
                          capture_output=True, text=True, check=True)
    assert done.stdout.splitlines() == [str(module_file), missing(beside), str(beside)]


def test_nothing_is_created(package):
    with pytest.raises(FileNotFoundError):
        hs.get_default_config_dir()
    assert list(package.iterdir()) == []
