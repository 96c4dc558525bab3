#pragma once

class QSerialPort;
class QString;

namespace corvane {

// True when the open line has been hung up: the device was unplugged or the other end of a
// pseudo-terminal closed. Qt reports that as an endless series of read errors on this
// platform rather than as a resource error.
bool serialLineHungUp(const QSerialPort &port);

// True when the open line takes bytes now without the write having to wait. Where the platform
// cannot tell, true: its writes never block.
bool serialLineWritable(const QSerialPort &port);

// True when this user may not open the port's device for reading and writing. Qt reports that
// and a port another program holds as the same permission error.
bool serialPortAccessDenied(const QString &portName);

// What a page says when a port would not open because this user may not open it; empty when
// that is not why (a port another program holds, one that is gone).
QString serialPortAccessDeniedMessage(const QString &portName);

} // namespace corvane
