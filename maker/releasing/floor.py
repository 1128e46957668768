"""The installer's floor (ZV_SIGNED_NOT_BEFORE), from the signed packages'
own times.

The installer refuses a package whose stated signing time lies before
the floor, and one whose verified time stamp does (on Windows a stamped
signature is judged as of the stamp's time). The maker's clock and the
time-stamping server's need not agree, so the floor is taken from what
the packages say, as read back from them after signing: the earliest of
every such time. It must lie above every time of the release before,
or that release's packages would pass this installer's floor."""
import calendar
import time

from .common import Failure, utc
from .signatures import signature


def seconds(moment):
    """"YYYY-MM-DDTHH:MM:SSZ" as seconds since 1970."""
    return calendar.timegm(time.strptime(moment, "%Y-%m-%dT%H:%M:%SZ"))


def package_times(name, signed):
    """Every time the installer checks in one signed package (`signed`,
    a signatures.Signature): the time it states and its stamps' times."""
    if signed.signed == "-":
        raise Failure("%s states no signing time" % name)
    if signed.stamped is None:
        raise Failure("%s carries a countersignature whose time cannot be read: not an RFC 3161 "
                      "time stamp" % name)
    return [signed.signed] + signed.stamped


def release_floor(times):
    """The floor for packages that the installer checks at `times`: the
    earliest of them, whole seconds, so that every one is at or after it."""
    return utc(min(seconds(moment) for moment in times))


def check_above(floor, previous_times, previous_version):
    """Refuses a floor that is not above every time of the release before."""
    if not previous_times:
        return
    latest = utc(max(seconds(moment) for moment in previous_times))
    if seconds(floor) <= seconds(latest):
        raise Failure("the floor %s, the earliest time this release's packages were signed or "
                      "time-stamped at, is not above %s, a time release %s's packages were "
                      "signed or stamped at: this release's installer would accept those "
                      "older packages (a rollback). Check this machine's clock and the "
                      "time-stamping server's, and make the release again"
                      % (floor, latest, previous_version))


def previous_times(previous, out):
    """Every time the installer checked in the release before's packages:
    what its manifest lists, and their stamps', read from the packages
    still in OUT."""
    times = []
    for name, _, _, _, signed, _ in previous.files[:-1]:  # the installer is listed last
        if signed != "-":
            times.append(signed)
        if (out / name).is_file():
            times += signature(out / name).stamped or []
    return times
