// A program made of the engine libraries alone: what it needs at run time is
// what a run without a display needs (see tst_engine_links).
#include "endpoints/endpointcontroller.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    EndpointController controller;
    std::puts(qPrintable(kindLabel(EndpointKind::TcpServer)));
    return controller.endpoints().size();
}
