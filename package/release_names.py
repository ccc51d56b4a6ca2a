"""How the release check names what it quotes from a release in its lines: certificates' names as
OpenSSL's compat form writes them, and any quoted name cut to a length a line can hold. Below both
the signature's judge and the revocation judge, which name the same certificates alike."""

# A name quoted from a release in a refusal line is cut to this many characters.
NAME_CAP = 80


def shortened(name):
    return name if len(name) <= NAME_CAP else name[:NAME_CAP - 3] + "..."


def subject(certificate):
    """The certificate's subject as OpenSSL's compat form writes it, e.g. /CN=name."""
    return written(certificate.subject)


def written(name):
    """A name as OpenSSL's compat form writes it."""
    try:
        parts = [f"{attribute['type'].native}={str(attribute['value'].native)}"
                 for rdn in name.chosen for attribute in rdn]
    except (ValueError, TypeError, KeyError):
        return "(an unreadable name)"
    short = {"common_name": "CN", "organization_name": "O", "country_name": "C",
             "organizational_unit_name": "OU", "locality_name": "L",
             "state_or_province_name": "ST"}
    return shortened("".join("/" + short.get(name, name) + "=" + value
                             for name, _, value in (part.partition("=") for part in parts)))
