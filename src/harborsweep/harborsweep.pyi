"""Type stubs for the harborsweep extension module."""

import argparse as argparse
import configparser as configparser
import getpass as getpass
import os as os
import pprint as pprint
import sys as sys
from typing import Any

import requests as requests

pp: pprint.PrettyPrinter

def get_quorvane_cid(controller_ip: str, username: str, password: str) -> Any: ...
def filter_results(results: Any, filters: list[str] | tuple[str, ...]) -> Any: ...
def quorvane_api(
    controller_ip: str, username: str, password: str, config_dir: str, config_file: str
) -> Any: ...
def get_default_config_dir() -> str: ...
def main() -> None: ...

# Private, for the test suite only; not part of the module's interface.
# _layout: the native layout of a value and its line end, or None when the
# value is left to pprint. _write_result: writes a value as `main` writes
# each result.
def _layout(value: Any, /) -> str | None: ...
def _write_result(value: Any, /) -> None: ...
