#pragma once

#include <QString>

// The serial port settings the login window keeps with it. Nothing opens the
// port; the values are only held.
struct SerialPortSettings {
    enum class Parity { None, Odd, Even, Mark, Space };
    enum class Handshaking { None, XonXoff, RtsCts, RtsCtsXonXoff };

    int commPort = 1;
    int baudRate = 9600;
    Parity parity = Parity::None;
    int dataBits = 8;
    int stopBits = 1;
    Handshaking handshaking = Handshaking::None;
    int receiveThreshold = 0; // 0: no receive notifications
    int sendThreshold = 0;
    int inBufferSize = 1024; // bytes
    int outBufferSize = 512; // bytes
    QString parityReplace = QStringLiteral("?");
    bool dtrEnable = true;
    bool portOpen = false;
};
