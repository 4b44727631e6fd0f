// A program made of the engine libraries alone: what it needs at run time is
// what a run without a display needs (see tst_engine_links).
#include "session/endpointkind.h"

#include <cstdio>

int main()
{
    std::puts(qPrintable(kindLabel(EndpointKind::TcpServer)));
    return 0;
}
