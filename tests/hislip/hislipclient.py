"""A HiSLIP client of the tests' own, message by message, for what
pyvisa-py does not do: locks, status queries, device clear step by step,
and clients that misbehave."""
import collections
import socket
import struct

HEADER = struct.Struct(">2sBBIQ")
(INITIALIZE, INITIALIZE_RESPONSE, FATAL_ERROR, ERROR, ASYNC_LOCK, ASYNC_LOCK_RESPONSE, DATA,
 DATA_END, DEVICE_CLEAR_COMPLETE, DEVICE_CLEAR_ACKNOWLEDGE, ASYNC_REMOTE_LOCAL_CONTROL,
 ASYNC_REMOTE_LOCAL_RESPONSE, TRIGGER, INTERRUPTED, ASYNC_INTERRUPTED,
 ASYNC_MAXIMUM_MESSAGE_SIZE, ASYNC_MAXIMUM_MESSAGE_SIZE_RESPONSE, ASYNC_INITIALIZE,
 ASYNC_INITIALIZE_RESPONSE, ASYNC_DEVICE_CLEAR, ASYNC_SERVICE_REQUEST, ASYNC_STATUS_QUERY,
 ASYNC_STATUS_RESPONSE, ASYNC_DEVICE_CLEAR_ACKNOWLEDGE, ASYNC_LOCK_INFO,
 ASYNC_LOCK_INFO_RESPONSE) = range(26)
FIRST_MESSAGE_ID = 0xffffff00
RMT_DELIVERED = 1
VENDOR = ord("t") << 8 | ord("s")

Message = collections.namedtuple("Message", "type control parameter payload")


class Connection:
    """One TCP connection: messages out and in."""

    def __init__(self, port, timeout=5):
        self.socket = socket.create_connection(("127.0.0.1", port), timeout)

    def send(self, kind, control=0, parameter=0, payload=b""):
        self.socket.sendall(HEADER.pack(b"HS", kind, control, parameter, len(payload)) + payload)

    def receive(self):
        prologue, kind, control, parameter, length = HEADER.unpack(self.exactly(HEADER.size))
        if prologue != b"HS":
            raise ValueError(f"not a HiSLIP header: {prologue!r}")
        return Message(kind, control, parameter, self.exactly(length))

    def exactly(self, count):
        data = b""
        while len(data) < count:
            piece = self.socket.recv(count - len(data))
            if not piece:
                raise ConnectionError("closed by the server")
            data += piece
        return data

    def is_closed(self, timeout_s=15):
        """Whether the server closes it within the time, after whatever it
        still sends."""
        self.socket.settimeout(timeout_s)
        try:
            while self.socket.recv(65536):
                pass
        except ConnectionResetError:
            pass
        except TimeoutError:
            return False
        return True

    def close(self):
        self.socket.close()


class Session:
    """Both connections, initialized, in synchronized mode."""

    def __init__(self, port, version=0x0100, sub_address=b"hislip0"):
        self.sync = Connection(port)
        self.sync.send(INITIALIZE, 0, version << 16 | VENDOR, sub_address)
        response = self.sync.receive()
        if response.type != INITIALIZE_RESPONSE:
            raise ConnectionError(f"not initialized: {response}")
        self.version, self.id = response.parameter >> 16, response.parameter & 0xffff
        self.async_ = Connection(port)
        self.async_.send(ASYNC_INITIALIZE, 0, self.id)
        self.vendor = self.async_.receive()
        self.next_id = FIRST_MESSAGE_ID
        self.last_id = None

    def write(self, text, kind=DATA_END, rmt=False):
        """Sends a message; the MessageID it carried."""
        self.last_id = self.next_id
        self.next_id = (self.next_id + 2) & 0xffffffff
        self.sync.send(kind, RMT_DELIVERED if rmt else 0, self.last_id, text.encode())
        return self.last_id

    def read(self):
        """The messages of one answer, up to its DataEnd."""
        messages = [self.sync.receive()]
        while messages[-1].type == DATA:
            messages.append(self.sync.receive())
        return messages

    def query(self, text):
        self.write(text, rmt=True)
        messages = self.read()
        if {message.parameter for message in messages} != {self.last_id}:
            raise ValueError(f"answer to another message: {messages}")
        return b"".join(message.payload for message in messages).decode().rstrip("\n")

    def ask(self, kind, control=0, parameter=0, payload=b""):
        """An asynchronous request and its response."""
        self.async_.send(kind, control, parameter, payload)
        return self.async_.receive()

    def status(self, rmt=False):
        return self.ask(ASYNC_STATUS_QUERY, RMT_DELIVERED if rmt else 0, self.last_id or 0).control

    def lock(self, timeout_ms, key=b""):
        return self.ask(ASYNC_LOCK, 1, timeout_ms, key).control

    def unlock(self):
        last = self.last_id if self.last_id is not None else FIRST_MESSAGE_ID - 2
        return self.ask(ASYNC_LOCK, 0, last).control

    def lock_info(self):
        info = self.ask(ASYNC_LOCK_INFO)
        return info.control, info.parameter

    def close(self):
        self.sync.close()
        self.async_.close()
