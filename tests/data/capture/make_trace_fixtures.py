#!/usr/bin/env python3
"""Writes the trace XML fixtures of the capture tests.

No real tracerpt dump of the USB and HID class providers exists in our test
data, so these are built in tracerpt's event layout (System, EventData,
RenderingInfo, one Event element per event) from the providers' manifests:
../../../../shared/testdata/etw/etw_provider_event_fields.json gives, per event
id and version, the ordered <Data Name=...> fields, and
messages/etw_event_messages_win10_1507.json the RenderingInfo messages. Field
values are those of a real Logitech receiver (046D:C52B, keyboard on MI_00,
mouse on MI_01): the boot keyboard and a 5-button mouse report descriptor, its
device and configuration descriptors, and GET_DESCRIPTOR setup packets.
Not verified against real tracerpt output: how Binary fields are written (taken
as "0x" + hex), UInt8 arrays with a count (one Data element per byte) and
struct-typed members (one Data element per member, e.g. SetupPacket).

Run from this folder: python3 make_trace_fixtures.py
"""
import json
import os

HERE = os.path.dirname(os.path.abspath(__file__))
ETW = os.path.join(HERE, "..", "..", "..", "..", "shared", "testdata", "etw")

FIELDS = json.load(open(os.path.join(ETW, "etw_provider_event_fields.json")))["providers"]
MESSAGES = json.load(open(os.path.join(ETW, "messages", "etw_event_messages_win10_1507.json")))["providers"]
LEVELS = {"Critical": 1, "Error": 2, "Warning": 3, "Informational": 4, "Verbose": 5}

KEYBOARD_RD = ("05010906A101050719E029E71500250175019508810295017508810395057501050819012905"
               "910295017503910395067508150025650507190029658100C0")
MOUSE_RD = ("05010902A1010901A100050919012905150025019505750181029501750381010501093009311581"
            "257F75089502810609381581257F750895018106C0C0")
DEVICE_DESCRIPTOR = "12011002000000086D042BC512240102030 1".replace(" ", "")
CONFIG_DESCRIPTOR = ("09023B00020100A0320904000001030101000921110100012241000705810308000A"
                     "090401000103010200092111010001224A000705820308000A")


def event_def(provider, event_id, version):
    for e in FIELDS[provider]["events"]:
        if e["event_id"] == event_id and e["version"] == version:
            return e
    raise KeyError((provider, event_id, version))


def render(provider, event_id, version, values, time, message=None, level=None):
    spec = event_def(provider, event_id, version)
    guid = FIELDS[provider]["guid"]
    task = FIELDS[provider].get("task_values", {}).get(spec["task"], 0)
    lvl = level if level is not None else LEVELS.get(spec["level"], 4)
    if message is None:
        message = MESSAGES.get(provider, {}).get("messages", {}).get(str(event_id), "")
    out = ['<Event xmlns="http://schemas.microsoft.com/win/2004/08/events/event">',
           '\t<System>',
           f'\t\t<Provider Name="{provider}" Guid="{guid}" />',
           f'\t\t<EventID>{event_id}</EventID>',
           f'\t\t<Version>{version}</Version>',
           f'\t\t<Level>{lvl}</Level>',
           f'\t\t<Task>{task}</Task>',
           '\t\t<Opcode>0</Opcode>',
           '\t\t<Keywords>0x8000000000000000</Keywords>',
           f'\t\t<TimeCreated SystemTime="{time}" />',
           '\t\t<Correlation ActivityID="{00000000-0000-0000-0000-000000000000}" />',
           '\t\t<Execution ProcessID="4" ThreadID="188" ProcessorID="1" KernelTime="15" UserTime="0" />',
           '\t\t<Channel />',
           '\t\t<Computer>BENCH-PC</Computer>',
           '\t</System>',
           '\t<EventData>']
    for field in spec["fields"]:
        name = field["name"]
        if name not in values:
            continue
        value = values[name]
        if isinstance(value, list):
            out += [f'\t\t<Data Name="{name}">{v}</Data>' for v in value]
        else:
            out.append(f'\t\t<Data Name="{name}">{value}</Data>')
    for name, value in values.items():  # members of struct-typed fields
        if not any(f["name"] == name for f in spec["fields"]):
            out.append(f'\t\t<Data Name="{name}">{value}</Data>')
    out += ['\t</EventData>',
            '\t<RenderingInfo Culture="en-US">',
            '\t\t<Level>Information </Level>',
            f'\t\t<Task>{spec["task"]} </Task>',
            f'\t\t<Message>{message} </Message>',
            f'\t\t<Provider>{provider} </Provider>',
            '\t</RenderingInfo>',
            '</Event>']
    return "\n".join(out)


def hid_event(path, vid, pid, rd, time, version=2, length=None):
    values = {"DeviceStartStatus": "0", "VendorID": str(vid), "ProductID": str(pid),
              "VersionNumber": "1298", "DeviceInstancePath": path,
              "DeviceDescription": "USB Input Device", "DeviceServiceName": "HidUsb",
              "DeviceUpperFilters": "", "DeviceLowerFilters": "", "CollectionCount": "1",
              "ReportDescriptorLength": str(length if length is not None else len(rd) // 2),
              "ReportDescriptor": "0x" + rd}
    if version == 0:
        values = {"DeviceObject": "0xFFFFC00D1E2A3060", "VendorID": str(vid), "ProductID": str(pid),
                  "VersionNumber": "1298", "ReportDescriptorLength": str(len(rd) // 2),
                  "ReportDescriptor": "0x" + rd}
    return render("Microsoft-Windows-Input-HIDCLASS", 3, version, values, time)


def write(name, events):
    with open(os.path.join(HERE, name), "w", encoding="utf-8", newline="\r\n") as f:
        f.write('<?xml version="1.0" encoding="UTF-8"?>\n<Events>\n')
        f.write("\n".join(events))
        f.write("\n</Events>\n")


HIDCLASS = "Microsoft-Windows-Input-HIDCLASS"
KBD = r"USB\VID_046D&amp;PID_C52B&amp;MI_00\7&amp;2F1A3C5B&amp;0&amp;0000"
MOUSE = r"USB\VID_046D&amp;PID_C52B&amp;MI_01\7&amp;2F1A3C5B&amp;0&amp;0001"
OTHER = r"USB\VID_1532&amp;PID_0084&amp;MI_00\7&amp;11111111&amp;0&amp;0000"

write("hid_descriptor_capture.xml", [
    render(HIDCLASS, 1, 0, {}, "2024-05-01T10:00:00.100000000Z", message=""),
    # A first start of the keyboard interface with a stale descriptor, replaced below.
    hid_event(KBD, 1133, 50475, KEYBOARD_RD[:20], "2024-05-01T10:00:01.000000000Z"),
    hid_event(OTHER, 0x1532, 0x0084, MOUSE_RD, "2024-05-01T10:00:01.100000000Z"),
    hid_event(MOUSE, 1133, 50475, MOUSE_RD, "2024-05-01T10:00:01.200000000Z", length=0),
    hid_event(KBD, 1133, 50475, KEYBOARD_RD, "2024-05-01T10:00:01.300000000Z"),
    # Version 0 has no instance path: not usable for a capture.
    hid_event("", 1133, 50475, KEYBOARD_RD, "2024-05-01T10:00:01.400000000Z", version=0),
    render(HIDCLASS, 2, 0, {}, "2024-05-01T10:00:01.500000000Z", message=""),
])

HUB3 = "Microsoft-Windows-USB-USBHUB3"
PORT = "Microsoft-Windows-USB-USBPORT"
XHCI = "Microsoft-Windows-USB-USBXHCI"
config_bytes = ["0x" + CONFIG_DESCRIPTOR[i:i + 2] for i in range(0, len(CONFIG_DESCRIPTOR), 2)]
get_config_data = ["0x" + CONFIG_DESCRIPTOR[i:i + 2] for i in range(0, 18, 2)]
write("usb_enumeration_capture.xml", [
    render(HUB3, 60, 0, {"fid_UsbDevice": "0xFFFFC00D1F0C8D30", "fid_PortNumber": "3"},
           "2024-05-01T18:00:00.250000000+08:00"),
    render(HUB3, 43, 0, {"fid_HubDevice": "0xFFFFC00D1E9A5B40", "fid_UsbDevice": "0xFFFFC00D1F0C8D30",
                         "fid_PortNumber": "3", "fid_DeviceDescription": "USB Composite Device",
                         "fid_DeviceInterfacePath": r"\??\USB#VID_046D&amp;PID_C52B#5&amp;1a2b3c&amp;0&amp;3#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",
                         "fid_DeviceDescriptor": "0x" + DEVICE_DESCRIPTOR[:8],
                         "fid_ConfigurationDescriptorLength": str(len(config_bytes)),
                         "fid_ConfigurationDescriptor": config_bytes,
                         "fid_PdoName": r"\Device\USBPDO-7"},
           "2024-05-01T18:00:00.400000000+08:00"),
    render(PORT, 68, 0, {"fid_USBPORT_HC": "0", "fid_URB_Ptr": "0xFFFFC00D20A1B010",
                         "SetupPacket": "80 06 00 02 00 00 FF 00",
                         "fid_URB_TransferDataLength": str(len(get_config_data)),
                         "fid_URB_TransferData": get_config_data},
           "2024-05-01T18:00:00.450000000+08:00"),
    render(XHCI, 8, 0, {"fid_UcxController": "0xFFFFC00D1D3E2010", "fid_UsbDevice": "0xFFFFC00D1F0C8D30",
                        "fid_SlotId": "4", "fid_USB_Device_Descriptor": "0x" + DEVICE_DESCRIPTOR},
           "2024-05-01T18:00:00.500000000+08:00", message="USB Device Create"),
    hid_event(KBD, 1133, 50475, KEYBOARD_RD, "2024-05-01T18:00:01.000000000+08:00"),
    render(HIDCLASS, 2, 0, {}, "2024-05-01T18:00:01.250000000+08:00", message=""),
    render(HUB3, 61, 0, {"fid_HubDevice": "0xFFFFC00D1E9A5B40", "fid_UsbDevice": "0xFFFFC00D1F0C8D30",
                         "fid_PortNumber": "3", "fid_NtStatus": "0"},
           "2024-05-01T18:00:01.500000000+08:00", message="Completion of USB Device\n\t\tEnumeration"),
])
