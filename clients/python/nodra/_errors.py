"""The errors nodra raises, the same on every route."""

import builtins


class Error(Exception):
    """Anything this package raises on purpose."""


class DataError(Error):
    """The file or server could not answer as asked: the file cannot be read, is missing, ..."""

    def __init__(self, message, reason="", place="", status=None):
        super().__init__(message)
        self.message = message
        self.reason = reason
        self.place = place
        self.status = status

    def __str__(self):
        return self.message + (" (reason: %s)" % self.reason if self.reason else "")


class UsageError(Error, ValueError):
    """A request that cannot be carried out as given: an unknown channel, a bad slice, ..."""

    def __init__(self, message, status=None):
        super().__init__(message)
        self.message = message
        self.status = status


class ConnectionError(Error, builtins.ConnectionError):
    """The server cannot be reached, or did not answer in time."""
