// A program that opens a port the way the programs do and keeps it until it is killed, so a
// test can see what a program that dies while holding the line leaves behind.
#include "SerialPort.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 2;
    TComPort port;
    port.setPortName(QString::fromLocal8Bit(argv[1]));
    try {
        port.open();
    } catch (const EComPort &error) {
        std::fprintf(stderr, "%s\n", error.what());
        return 1;
    }
    std::puts("open");
    std::fflush(stdout);
    return app.exec();
}
