# -*- coding: utf-8 -*-
'''A fake bluetoothd (BlueZ 5.66) for testing the BlueZ backend without a radio.

Usage, from the top of the repository:

    addr=$(dbus-daemon --config-file=tools/bluez/private-bus.conf \
               --print-address --fork --print-pid 3 3>/tmp/fake-bus.pid)
    export DBUS_SYSTEM_BUS_ADDRESS=$addr
    /usr/bin/python3 -m dbusmock --system -t tools/bluez/fake_bluez.py &
    gdbus wait --system --timeout 10 org.bluez
    gdbus call --system -d org.bluez -o / -m org.bluez.Mock.AddLEDevice \
        AA:BB:CC:DD:EE:01 '{"name": "Irisel-1", "rssi": -50, "services": [...]}'
    ... run the code under test against $DBUS_SYSTEM_BUS_ADDRESS ...
    kill %1 "$(cat /tmp/fake-bus.pid)"

Pass -p '{"powered": false}' to start with the adapter switched off, or
-p '{"adapter": false}' for a bluetoothd that has no adapter at all.

There is one adapter, /org/bluez/hci0. A device added with AddLEDevice shows
up on the bus only once a discovery sees it. Its GATT objects are exported on
Connect and removed on disconnection; they are named after attribute handles
the way bluetoothd does it: the first service is service000a, a characteristic
is named after its declaration handle, and each characteristic takes two
handles, three with a notify/indicate descriptor (service000a/char000b,
service000a/char000e, ...). Every signal caused by a method call is sent
before the call's reply. The discovery filter is checked and stored but
never applied: bluetoothd merges the filters of all its clients, so a client
may be told about any device in range and has to do its own filtering.

The org.bluez.Mock methods on "/" (the functions decorated below) add
devices, move them in and out of range, change what they advertise and hold,
make calls fail and report what was written.
'''

import json
import re

import dbus

from dbusmock import OBJECT_MANAGER_IFACE, mockobject

BUS_NAME = 'org.bluez'
MAIN_OBJ = '/'
SYSTEM_BUS = True
IS_OBJECT_MANAGER = True

BLUEZ_MOCK_IFACE = 'org.bluez.Mock'
ADAPTER_IFACE = 'org.bluez.Adapter1'
DEVICE_IFACE = 'org.bluez.Device1'
SERVICE_IFACE = 'org.bluez.GattService1'
CHAR_IFACE = 'org.bluez.GattCharacteristic1'

ADAPTER_PATH = '/org/bluez/hci0'

# Discovery filter keys bluetoothd accepts, with the D-Bus type of each value.
FILTER_TYPES = {
    'UUIDs': dbus.Array,
    'RSSI': dbus.Int16,
    'Pathloss': dbus.UInt16,
    'Transport': dbus.String,
    'DuplicateData': dbus.Boolean,
    'Discoverable': dbus.Boolean,
    'Pattern': dbus.String,
}

# Methods FailNext can make fail, on the adapter, a device or a characteristic.
ADAPTER_FAILABLE = {'StartDiscovery', 'StopDiscovery', 'SetDiscoveryFilter'}
DEVICE_FAILABLE = {'Connect', 'Disconnect'}
CHAR_FAILABLE = {'ReadValue', 'WriteValue', 'StartNotify', 'StopNotify'}

ADDRESS_RE = re.compile(r'^([0-9A-F]{2}:){5}[0-9A-F]{2}$')

# Everything the fake knows, by upper-case address, in the order added.
devices = {}
# (address or '', uuid or '', method) -> [error name, message, calls left]
failures = {}
# The last filter given to SetDiscoveryFilter.
discovery_filter = {}


class Characteristic:
    def __init__(self, desc, service, path):
        self.uuid = str(desc['uuid']).lower()
        self.flags = [str(f) for f in desc.get('flags', [])]
        self.value = bytes.fromhex(desc.get('value', ''))
        self.sequence = []
        self.notify_on_write = bool(desc.get('notifyOnWrite', False))
        self.writes = []
        self.service = service
        self.path = path
        self.exported = False
        self.notifying = False

    @property
    def device(self):
        return self.service.device

    def next_value(self):
        '''The value the device sends for the next read or notification.'''
        if self.sequence:
            self.value = self.sequence.pop(0) if len(self.sequence) > 1 else self.sequence[0]
        return self.value


class Service:
    def __init__(self, uuid, device, path):
        self.uuid = str(uuid).lower()
        self.device = device
        self.path = path
        self.chars = []
        self.exported = False


class Device:
    def __init__(self, address, desc):
        self.address = address
        self.desc = desc
        self.path = ADAPTER_PATH + '/dev_' + address.replace(':', '_')
        self.name = desc.get('name')
        self.rssi = int(desc.get('rssi', -60))
        self.uuids = [str(u).lower() for u in desc.get('uuids', [])]
        self.address_type = str(desc.get('addressType', 'random'))
        self.manufacturer_data = {
            int(k, 16) if k.lower().startswith('0x') else int(k): bytes.fromhex(v)
            for k, v in desc.get('manufacturerData', {}).items()}
        self.advertising = bool(desc.get('advertising', True))
        self.exported = False
        self.connected = False
        self.resolved = False
        self.hold_resolution = False
        self.withheld = []

        self.services = []
        handle = 0x000a
        for s in desc.get('services', []):
            service = Service(s['uuid'], self, f'{self.path}/service{handle:04x}')
            handle += 1
            for c in s.get('characteristics', []):
                char = Characteristic(c, service, f'{service.path}/char{handle:04x}')
                handle += 3 if {'notify', 'indicate'} & set(char.flags) else 2
                service.chars.append(char)
            self.services.append(service)

    def all_chars(self):
        return [c for s in self.services for c in s.chars]


#
# Helpers
#

def _bytes(data):
    return dbus.Array([dbus.Byte(b) for b in data], signature='y', variant_level=1)


def _bool(value):
    return dbus.Boolean(value, variant_level=1)


def _error(name, message):
    return dbus.exceptions.DBusException(message, name='org.bluez.Error.' + name)


def _mock_error(message):
    return dbus.exceptions.DBusException(message, name=BLUEZ_MOCK_IFACE + '.Error')


def _adapter():
    return mockobject.objects[ADAPTER_PATH]


def _adapter_prop(name):
    return _adapter().props[ADAPTER_IFACE][name]


def _changed(path, iface, props, invalidated=()):
    '''Update properties of an exported object and emit PropertiesChanged.'''
    obj = mockobject.objects[path]
    obj.props[iface].update(props)
    for name in invalidated:
        obj.props[iface].pop(name, None)
    obj.EmitSignal(dbus.PROPERTIES_IFACE, 'PropertiesChanged', 'sa{sv}as',
                   [iface, dbus.Dictionary(props, signature='sv'),
                    dbus.Array(list(invalidated), signature='s')])


def _export(path, iface, props, methods):
    root = mockobject.objects['/']
    root.AddObject(path, iface, props, methods)
    root.EmitSignal(OBJECT_MANAGER_IFACE, 'InterfacesAdded', 'oa{sa{sv}}',
                    [dbus.ObjectPath(path), {iface: props}])


def _unexport(path, iface):
    root = mockobject.objects['/']
    root.RemoveObject(path)
    root.EmitSignal(OBJECT_MANAGER_IFACE, 'InterfacesRemoved', 'oas',
                    [dbus.ObjectPath(path), dbus.Array([iface], signature='s')])


def _check_failure(address, uuid, method):
    '''Raise the error FailNext asked for, if any is left for this call.'''
    key = (address, uuid, method)
    entry = failures.get(key)
    if entry is None:
        return
    entry[2] -= 1
    if entry[2] <= 0:
        del failures[key]
    raise dbus.exceptions.DBusException(entry[1], name=entry[0])


def _device(address):
    dev = devices.get(str(address).upper())
    if dev is None:
        raise _mock_error(f'No device {address}')
    return dev


def _char(dev, uuid):
    for char in dev.all_chars():
        if char.uuid == str(uuid).lower():
            return char
    raise _mock_error(f'No characteristic {uuid} on {dev.address}')


def _manufacturer_data(dev):
    return dbus.Dictionary({dbus.UInt16(k): _bytes(v) for k, v in dev.manufacturer_data.items()},
                           signature='qv', variant_level=1)


def _device_props(dev):
    props = {
        'Address': dbus.String(dev.address, variant_level=1),
        'AddressType': dbus.String(dev.address_type, variant_level=1),
        'Alias': dbus.String(dev.name if dev.name is not None else dev.address.replace(':', '-'),
                             variant_level=1),
        'Paired': _bool(False),
        'Bonded': _bool(False),
        'Trusted': _bool(False),
        'Blocked': _bool(False),
        'LegacyPairing': _bool(False),
        'Connected': _bool(dev.connected),
        'ServicesResolved': _bool(dev.resolved),
        'RSSI': dbus.Int16(dev.rssi, variant_level=1),
        'UUIDs': dbus.Array(dev.uuids, signature='s', variant_level=1),
        'ManufacturerData': _manufacturer_data(dev),
        'Adapter': dbus.ObjectPath(ADAPTER_PATH, variant_level=1),
    }
    if dev.name is not None:
        props['Name'] = dbus.String(dev.name, variant_level=1)
    return props


def _see(dev):
    '''A discovery receives an advertisement of the device.'''
    if dev.exported:
        _changed(dev.path, DEVICE_IFACE, {
            'RSSI': dbus.Int16(dev.rssi, variant_level=1),
            'ManufacturerData': _manufacturer_data(dev),
        })
    else:
        _export(dev.path, DEVICE_IFACE, _device_props(dev), DEVICE_METHODS)
        dev.exported = True


def _export_char(char):
    char.notifying = False
    _export(char.path, CHAR_IFACE, {
        'UUID': dbus.String(char.uuid, variant_level=1),
        'Service': dbus.ObjectPath(char.service.path, variant_level=1),
        'Value': _bytes(b''),
        'Notifying': _bool(False),
        'Flags': dbus.Array(char.flags, signature='s', variant_level=1),
    }, CHAR_METHODS)
    char.exported = True


def _resolve(dev, withheld_uuids):
    '''Export the GATT objects (but the withheld ones) and set ServicesResolved.'''
    withheld_uuids = {str(u).lower() for u in withheld_uuids}
    for service in dev.services:
        if not service.exported:
            _export(service.path, SERVICE_IFACE, {
                'UUID': dbus.String(service.uuid, variant_level=1),
                'Primary': _bool(True),
                'Device': dbus.ObjectPath(dev.path, variant_level=1),
                'Includes': dbus.Array([], signature='o', variant_level=1),
            }, [])
            service.exported = True
        for char in service.chars:
            if char.exported or char in dev.withheld:
                continue
            if char.uuid in withheld_uuids:
                dev.withheld.append(char)
            else:
                _export_char(char)
    if not dev.resolved:
        dev.resolved = True
        _changed(dev.path, DEVICE_IFACE, {'ServicesResolved': _bool(True)})


def _drop_link(dev):
    '''The connection is gone: remove the GATT objects, then clear the flags.'''
    if not dev.connected:
        return
    for service in dev.services:
        for char in service.chars:
            if char.exported:
                _unexport(char.path, CHAR_IFACE)
                char.exported = False
            char.notifying = False
        if service.exported:
            _unexport(service.path, SERVICE_IFACE)
            service.exported = False
    dev.withheld = []
    dev.connected = False
    dev.resolved = False
    _changed(dev.path, DEVICE_IFACE, {
        'ServicesResolved': _bool(False),
        'Connected': _bool(False),
    })


def _send_notification(char, value):
    _changed(char.path, CHAR_IFACE, {'Value': _bytes(value)})


#
# org.bluez.Adapter1
#

def StartDiscovery(adapter):
    _check_failure('', '', 'StartDiscovery')
    if not _adapter_prop('Powered'):
        raise _error('NotReady', 'Resource Not Ready')
    if _adapter_prop('Discovering'):
        raise _error('InProgress', 'Operation already in progress')
    _changed(adapter.path, ADAPTER_IFACE, {'Discovering': _bool(True)})
    for dev in devices.values():
        if dev.advertising:
            _see(dev)


def StopDiscovery(adapter):
    _check_failure('', '', 'StopDiscovery')
    if not _adapter_prop('Discovering'):
        raise _error('Failed', 'No discovery started')
    _changed(adapter.path, ADAPTER_IFACE, {'Discovering': _bool(False)})
    # As bluetoothd does: what the discovery found no longer has a signal strength.
    for dev in devices.values():
        if dev.exported and 'RSSI' in mockobject.objects[dev.path].props[DEVICE_IFACE]:
            _changed(dev.path, DEVICE_IFACE, {}, ['RSSI'])


def SetDiscoveryFilter(_adapter_obj, new_filter):
    _check_failure('', '', 'SetDiscoveryFilter')
    invalid = _error('InvalidArguments', 'Invalid arguments in method call')
    for key, value in new_filter.items():
        if not isinstance(value, FILTER_TYPES.get(key, ())):
            raise invalid
    if 'UUIDs' in new_filter and new_filter['UUIDs'].signature != 's':
        raise invalid
    if new_filter.get('Transport', 'auto') not in ('auto', 'bredr', 'le'):
        raise invalid
    if 'RSSI' in new_filter and 'Pathloss' in new_filter:
        raise invalid
    discovery_filter.clear()
    discovery_filter.update(new_filter)


def GetDiscoveryFilters(_adapter_obj):
    return dbus.Array(list(FILTER_TYPES), signature='s')


def RemoveDevice(_adapter_obj, path):
    dev = next((d for d in devices.values() if d.exported and d.path == path), None)
    if dev is None:
        raise _error('DoesNotExist', 'Does Not Exist')
    _drop_link(dev)
    _unexport(dev.path, DEVICE_IFACE)
    dev.exported = False


ADAPTER_METHODS = [
    ('StartDiscovery', '', '', StartDiscovery),
    ('StopDiscovery', '', '', StopDiscovery),
    ('SetDiscoveryFilter', 'a{sv}', '', SetDiscoveryFilter),
    ('GetDiscoveryFilters', '', 'as', GetDiscoveryFilters),
    ('RemoveDevice', 'o', '', RemoveDevice),
]


#
# org.bluez.Device1
#

def _device_of(obj):
    return next(d for d in devices.values() if d.path == obj.path)


def Connect(obj):
    dev = _device_of(obj)
    _check_failure(dev.address, '', 'Connect')
    if dev.connected:
        return
    if not _adapter_prop('Powered'):
        raise _error('NotReady', 'Resource Not Ready')
    if not dev.advertising:
        raise _error('Failed', 'le-connection-abort-by-local')
    dev.connected = True
    _changed(dev.path, DEVICE_IFACE, {'Connected': _bool(True)})
    if not dev.hold_resolution:
        _resolve(dev, [])


def Disconnect(obj):
    dev = _device_of(obj)
    _check_failure(dev.address, '', 'Disconnect')
    if not dev.connected:
        raise _error('NotConnected', 'Not Connected')
    _drop_link(dev)


DEVICE_METHODS = [
    ('Connect', '', '', Connect),
    ('Disconnect', '', '', Disconnect),
]


#
# org.bluez.GattCharacteristic1
#

def _char_of(obj):
    return next(c for d in devices.values() for c in d.all_chars() if c.path == obj.path)


def ReadValue(obj, _options):
    char = _char_of(obj)
    _check_failure(char.device.address, char.uuid, 'ReadValue')
    if 'read' not in char.flags:
        raise _error('NotPermitted', 'Read not permitted')
    if not char.device.connected:
        raise _error('NotConnected', 'Not Connected')
    value = char.next_value()
    _changed(char.path, CHAR_IFACE, {'Value': _bytes(value)})
    return dbus.Array(value, signature='y')


def WriteValue(obj, value, options):
    char = _char_of(obj)
    _check_failure(char.device.address, char.uuid, 'WriteValue')
    kind = options.get('type')
    if kind is None:
        kind = 'request' if 'write' in char.flags else 'command'
    elif kind not in ('request', 'command', 'reliable'):
        raise _error('InvalidArguments', 'Invalid arguments in method call')
    if ('write-without-response' if kind == 'command' else 'write') not in char.flags:
        raise _error('NotPermitted', 'Write not permitted')
    if not char.device.connected:
        raise _error('NotConnected', 'Not Connected')
    char.writes.append(bytes(value))
    if char.notify_on_write and char.notifying:
        _send_notification(char, char.next_value())


def StartNotify(obj):
    char = _char_of(obj)
    _check_failure(char.device.address, char.uuid, 'StartNotify')
    if not {'notify', 'indicate'} & set(char.flags):
        raise _error('NotSupported', 'Operation is not supported')
    if not char.device.connected:
        raise _error('NotConnected', 'Not Connected')
    if char.notifying:
        return
    char.notifying = True
    _changed(char.path, CHAR_IFACE, {'Notifying': _bool(True)})


def StopNotify(obj):
    char = _char_of(obj)
    _check_failure(char.device.address, char.uuid, 'StopNotify')
    if not char.notifying:
        raise _error('Failed', 'No notify session started')
    char.notifying = False
    _changed(char.path, CHAR_IFACE, {'Notifying': _bool(False)})


CHAR_METHODS = [
    ('ReadValue', 'a{sv}', 'ay', ReadValue),
    ('WriteValue', 'aya{sv}', '', WriteValue),
    ('StartNotify', '', '', StartNotify),
    ('StopNotify', '', '', StopNotify),
]


#
# org.bluez.Mock, on "/": test controls
#

@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='ss', out_signature='o')
def AddLEDevice(_root, address, description):
    '''Add a device in range (not yet seen) and return its object path.

    description is JSON, every key optional but the uuids of services and
    characteristics:
      {"name": "Irisel-1" or null, "rssi": -50, "addressType": "random",
       "uuids": ["..."], "manufacturerData": {"2620": "3c0a01"},
       "advertising": true,
       "services": [{"uuid": "...", "characteristics": [
           {"uuid": "...", "flags": ["read", "write", "notify"],
            "value": "0102", "notifyOnWrite": false}]}]}
    manufacturerData maps a company id (decimal) to hex bytes. When the
    adapter is discovering and the device advertises, it is seen at once.
    '''
    address = str(address).upper()
    if not ADDRESS_RE.match(address):
        raise _mock_error(f'Bad address {address}')
    if address in devices:
        raise _mock_error(f'Device {address} already added')
    try:
        dev = Device(address, json.loads(description))
    except (ValueError, KeyError, TypeError, AttributeError) as e:
        raise _mock_error(f'Bad description: {e}') from e
    devices[address] = dev
    if dev.advertising and _adapter_prop('Discovering'):
        _see(dev)
    return dbus.ObjectPath(dev.path)


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='sb', out_signature='')
def SetAdvertising(_root, address, on):
    '''Move the device in or out of range.'''
    dev = _device(address)
    dev.advertising = bool(on)
    if dev.advertising and _adapter_prop('Discovering'):
        _see(dev)


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='', out_signature='')
def ExpireTemporary(_root):
    '''What bluetoothd does 30 s after a discovery stops: it forgets every device it found
    that is neither connected nor paired. A call on a forgotten object fails with
    org.freedesktop.DBus.Error.UnknownObject.'''
    for dev in devices.values():
        if dev.exported and not dev.connected:
            _unexport(dev.path, DEVICE_IFACE)
            dev.exported = False


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='ss', out_signature='o')
def RotateAddress(_root, old, new):
    '''The device takes a new private address: it stops advertising under the old one (whose
    object bluetoothd keeps until it expires) and advertises the same name, data and GATT
    table under the new one. Returns the new object path.'''
    dev = _device(old)
    new = str(new).upper()
    if not ADDRESS_RE.match(new) or new in devices:
        raise _mock_error(f'Bad or used address {new}')
    if dev.connected:
        _drop_link(dev)
    dev.advertising = False
    moved = Device(new, dev.desc)
    moved.rssi = dev.rssi
    for before, after in zip(dev.all_chars(), moved.all_chars()):
        after.value = before.value
        after.sequence = list(before.sequence)
    devices[new] = moved
    if _adapter_prop('Discovering'):
        _see(moved)
    return dbus.ObjectPath(moved.path)


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='sn', out_signature='')
def SetRSSI(_root, address, rssi):
    dev = _device(address)
    dev.rssi = int(rssi)
    if dev.exported:
        _changed(dev.path, DEVICE_IFACE, {'RSSI': dbus.Int16(dev.rssi, variant_level=1)})


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='sqay', out_signature='')
def SetManufacturerData(_root, address, company, data):
    dev = _device(address)
    dev.manufacturer_data[int(company)] = bytes(data)
    if dev.exported:
        _changed(dev.path, DEVICE_IFACE, {'ManufacturerData': _manufacturer_data(dev)})


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='ssay', out_signature='')
def SetValue(_root, address, uuid, value):
    '''Set the value the device holds for a characteristic; no signal.'''
    char = _char(_device(address), uuid)
    char.value = bytes(value)
    char.sequence = []


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='ssaay', out_signature='')
def SetValueSequence(_root, address, uuid, values):
    '''Successive reads (and notifications on write) take these values; the last one repeats.'''
    char = _char(_device(address), uuid)
    char.sequence = [bytes(v) for v in values]


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='ssay', out_signature='b')
def Notify(_root, address, uuid, value):
    '''The device sends a value; returns whether a notification went out.'''
    char = _char(_device(address), uuid)
    char.value = bytes(value)
    char.sequence = []
    if char.exported and char.notifying and char.device.connected:
        _send_notification(char, char.value)
        return True
    return False


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='ssay', out_signature='b')
def ChangeValue(_root, address, uuid, value):
    '''The cached Value changes without a notification, as when another client
    reads the characteristic; returns whether the change went out.'''
    char = _char(_device(address), uuid)
    char.value = bytes(value)
    char.sequence = []
    if char.exported and char.device.connected:
        _send_notification(char, char.value)
        return True
    return False


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='s', out_signature='')
def DropLink(_root, address):
    '''The device went away: like Disconnect, but never an error.'''
    _drop_link(_device(address))


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='sssssi', out_signature='')
def FailNext(_root, address, uuid, method, error_name, message, times):
    '''Make the next `times` calls of `method` fail with the given error.

    address "" is the adapter, uuid "" the device itself.
    '''
    address, uuid, method = str(address).upper(), str(uuid).lower(), str(method)
    if not address:
        allowed = ADAPTER_FAILABLE
    else:
        dev = _device(address)
        if uuid:
            _char(dev, uuid)
            allowed = CHAR_FAILABLE
        else:
            allowed = DEVICE_FAILABLE
    if method not in allowed:
        raise _mock_error(f'{method} cannot be made to fail there')
    if times > 0:
        failures[(address, uuid, method)] = [str(error_name), str(message), int(times)]
    else:
        failures.pop((address, uuid, method), None)


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='sb', out_signature='')
def HoldServiceResolution(_root, address, hold):
    '''While held, Connect stops after Connected=True; see ResolveServices.'''
    _device(address).hold_resolution = bool(hold)


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='sas', out_signature='')
def ResolveServices(_root, address, withheld_uuids):
    '''Finish a held service resolution, keeping some characteristics back.'''
    dev = _device(address)
    if not dev.connected:
        raise _mock_error(f'{dev.address} is not connected')
    _resolve(dev, withheld_uuids)


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='s', out_signature='')
def ExportWithheld(_root, address):
    '''The characteristics kept back by ResolveServices show up late.'''
    dev = _device(address)
    for char in dev.withheld:
        _export_char(char)
    dev.withheld = []


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='ss', out_signature='aay')
def Writes(_root, address, uuid):
    '''Every value written to the characteristic so far, over all connections.'''
    char = _char(_device(address), uuid)
    return dbus.Array([dbus.Array(w, signature='y') for w in char.writes], signature='ay')


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='b', out_signature='')
def SetPowered(_root, on):
    '''Switch the adapter; off drops every connection and stops discovery.'''
    on = bool(on)
    if on == bool(_adapter_prop('Powered')):
        return
    changes = {'Powered': _bool(on)}
    if not on:
        for dev in devices.values():
            _drop_link(dev)
        if _adapter_prop('Discovering'):
            changes['Discovering'] = _bool(False)
    _changed(ADAPTER_PATH, ADAPTER_IFACE, changes)


@dbus.service.method(BLUEZ_MOCK_IFACE, in_signature='', out_signature='a{sv}')
def DiscoveryFilter(_root):
    '''The last filter given to SetDiscoveryFilter.'''
    return dbus.Dictionary(discovery_filter, signature='sv')


def load(mock, parameters):
    devices.clear()
    failures.clear()
    discovery_filter.clear()
    powered = bool((parameters or {}).get('powered', True))
    if not (parameters or {}).get('adapter', True):
        return
    mock.AddObject(ADAPTER_PATH, ADAPTER_IFACE, {
        'Address': dbus.String('00:1A:7D:DA:71:13', variant_level=1),
        'AddressType': dbus.String('public', variant_level=1),
        'Name': dbus.String('hcf-fake', variant_level=1),
        'Alias': dbus.String('hcf-fake', variant_level=1),
        'Class': dbus.UInt32(0, variant_level=1),
        'Powered': _bool(powered),
        'Discoverable': _bool(False),
        'Pairable': _bool(True),
        'Discovering': _bool(False),
        'UUIDs': dbus.Array([], signature='s', variant_level=1),
        'Roles': dbus.Array(['central'], signature='s', variant_level=1),
        'Modalias': dbus.String('usb:v1D6Bp0246d0542', variant_level=1),
    }, ADAPTER_METHODS)
