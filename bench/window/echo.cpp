// quillfern-bench-echo PORT: the floor of the window benchmark. A bare Qt
// program that answers every character read from the serial port with the
// station's poll burst "bcde", and does nothing else.

#include <QCoreApplication>
#include <QSerialPort>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: quillfern-bench-echo PORT\n");
        return 2;
    }
    QSerialPort port(QString::fromLocal8Bit(argv[1]));
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "cannot open %s: %s\n", argv[1], qPrintable(port.errorString()));
        return 1;
    }
    const QByteArray burst("bcde");
    QObject::connect(&port, &QSerialPort::readyRead, [&] {
        const QByteArray read = port.readAll();
        for (qsizetype i = 0; i < read.size(); ++i)
            port.write(burst);
    });
    QObject::connect(&port, &QSerialPort::errorOccurred, [&](QSerialPort::SerialPortError error) {
        if (error == QSerialPort::ResourceError)
            QCoreApplication::exit(0); // the device hung up: the run is over
    });
    return QCoreApplication::exec();
}
