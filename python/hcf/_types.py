"""The enumerations and exceptions of the hcf module (pure Python, loaded before the extension)."""

import dataclasses
import enum
import typing


class Illuminant(enum.IntEnum):
    """A CIE illuminant (C++ hcf::HCFIlluminant). Arguments also take the name ("D65")."""

    D50 = 0
    D65 = 1
    A = 2
    B = 3
    C = 4
    F2 = 5
    F7 = 6
    F11 = 7

    def __str__(self):
        return self.name


class Observer(enum.IntEnum):
    """A CIE standard observer (C++ hcf::HCFStdObserver). Arguments also take 2, 10, "2" or "10°"."""

    TWO_DEGREE = 0
    TEN_DEGREE = 1

    def __str__(self):
        return "10°" if self is Observer.TEN_DEGREE else "2°"


class DeltaE(enum.IntEnum):
    """A colour-difference formula (C++ hcf::HCFDeltaEMethod). Arguments also take names such as
    "CIEDE2000", "cmc21", "cmc11", "cie94", "cie94_textiles"."""

    CIEDE2000 = 0
    CMC21 = 1
    CMC11 = 2
    CIE94_GRAPHIC_ARTS = 3
    CIE94_TEXTILES = 4


class Error(Exception):
    """A failure the kit reported (C++ hcf::HCFError): `code` and `message` are the kit's, `domain`
    is "com.halverninc" for the kit's own errors and "NSURLErrorDomain" for transport failures."""

    def __init__(self, code, message, domain="com.halverninc", reason="", suggestion=""):
        super().__init__(code, message)
        self.code = code
        self.message = message
        self.domain = domain
        self.reason = reason
        self.suggestion = suggestion

    def __str__(self):
        return f"{self.message} ({self.domain} {self.code})"

    @staticmethod
    def _from_kit(domain, code, message, reason, suggestion):
        kind = TransportError if domain == "NSURLErrorDomain" else Error
        return kind(code, message, domain, reason, suggestion)


class TransportError(Error):
    """The network failed: no connection, a name that does not resolve, a time-out, a lost
    connection (the URL-loading domain)."""


@dataclasses.dataclass(frozen=True)
class Discovered:
    """An instrument one discovery pass found (C++ hcf::HPeripheralWRSSI)."""

    name: str
    serial: typing.Optional[str]  # from the advertised name, when it carries one
    identifier: str  # the platform's identifier of the peripheral
    rssi: typing.Optional[int]  # dBm
    service: typing.Optional[str]  # the instrument service it advertised
