"""harborsweep: runs a directory of check files against a Quorvane Controller.

The tool itself is the extension module ``harborsweep.harborsweep``; importing
this package only reads the installed version.
"""

from importlib.metadata import version

# Written once, in pyproject.toml; read back from the installed metadata.
__version__ = version(__name__)
del version
