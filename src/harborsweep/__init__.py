"""harborsweep: runs a directory of check files against a Quorvane Controller.

The tool itself is the extension module ``harborsweep.harborsweep``; importing
this package does nothing else.
"""
