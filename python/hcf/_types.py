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

    def __str__(self) -> str:
        return self.name


class Observer(enum.IntEnum):
    """A CIE standard observer (C++ hcf::HCFStdObserver). Arguments also take 2, 10, "2" or "10°"."""

    TWO_DEGREE = 0
    TEN_DEGREE = 1

    def __str__(self) -> str:
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

    def __init__(self, code: int, message: str, domain: str = "com.halverninc", reason: str = "",
                 suggestion: str = "") -> None:
        super().__init__(code, message)
        self.code = code
        self.message = message
        self.domain = domain
        self.reason = reason
        self.suggestion = suggestion

    def __str__(self) -> str:
        return f"{self.message} ({self.domain} {self.code})"

    @staticmethod
    def _from_kit(domain: str, code: int, message: str, reason: str, suggestion: str,
                  argument: bool = False) -> "Error":
        kind: typing.Type[Error] = Error
        if domain == "NSURLErrorDomain":
            kind = TransportError
        elif argument:
            kind = ArgumentError
        return kind(code, message, domain, reason, suggestion)


class TransportError(Error):
    """The network failed: no connection, a name that does not resolve, a time-out, a lost
    connection (the URL-loading domain)."""


class ArgumentError(Error, ValueError):
    """The kit refused what a call was given (samples past the tables' wavelengths, a dictionary
    that does not read): a ValueError that also carries the kit's code and message."""


@dataclasses.dataclass(frozen=True)
class Discovered:
    """An instrument one discovery pass found (C++ hcf::HPeripheralWRSSI)."""

    name: str
    serial: typing.Optional[str]  # from the advertised name, when it carries one
    identifier: str  # the platform's identifier of the peripheral
    rssi: typing.Optional[int]  # dBm
    service: typing.Optional[str]  # the instrument service it advertised
